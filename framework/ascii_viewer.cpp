#include "framework/ascii_viewer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "framework/framework_reports.h"
#include "framework/framework_windows.h"
#include "framework/print_preview.h"
#include "lang/charset.h"
#include "platform/codepage.h"
#include "storage/text/text_driver.h"
#include "ui/message_box.h"
#include "ui/report/page_builder.h"
#include "ui/report/renderer.h"
#include "ui/report/report_json.h"
#include "ui/runtime/command.h"
#include "ui/runtime/runtime.h"
#include "ui/runtime/window.h"

namespace korawin::framework {

namespace {

// Bytes of one record: a line of 255 characters; in UTF-8 up to four bytes each.
constexpr uint32_t kAnsiRecord = kAsciiLineWidth;
constexpr uint32_t kUtf8Record = kAsciiLineWidth * 4;

std::string ClipRight(std::string_view s) {
  size_t end = s.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string() : std::string(s.substr(0, end + 1));
}

std::string Number(int64_t v) { return std::to_string(v); }

// Runs a modal dialog's loop: fn(event) returns true to end it. Ends on a close too.
template <typename Fn>
void DialogLoop(ui::Window& d, Fn fn) {
  while (!d.Closed()) {
    const ui::Event& ev = d.Accept();
    if (ev.kind == ui::EventKind::None) return;
    if (ev.kind == ui::EventKind::CloseWindow || ev.kind == ui::EventKind::CloseDown) return;
    if (fn(ev)) return;
  }
}

// The bytes at the end of s that begin a UTF-8 sequence s does not complete.
size_t IncompleteTail(std::string_view s) {
  for (size_t k = 1; k <= 3 && k <= s.size(); ++k) {
    unsigned char c = static_cast<unsigned char>(s[s.size() - k]);
    if (c < 0x80) return 0;
    if (c >= 0xC0) {
      size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      return length > k ? k : 0;
    }
  }
  return 0;
}

// The file's text is taken as UTF-8 when the whole of it is valid UTF-8 with a character
// beyond ASCII.
bool FileIsUtf8(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<char> block(1 << 20);
  std::string text;
  bool beyondAscii = false;
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    size_t got = static_cast<size_t>(in.gcount());
    if (got == 0) break;
    text.append(block.data(), got);
    // A sequence cut by the block's end is finished by the next block.
    size_t tail = in ? IncompleteTail(text) : 0;
    std::string_view whole(text.data(), text.size() - tail);
    if (!IsValidUtf8(whole)) return false;
    if (!beyondAscii)
      beyondAscii = std::any_of(whole.begin(), whole.end(),
                                [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    text.erase(0, text.size() - tail);
  }
  return beyondAscii;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  while (p < end) {
    // Eight ASCII bytes at a time.
    if (end - p >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      if ((w & 0x8080808080808080ull) == 0) {
        p += 8;
        continue;
      }
    }
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int need;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      need = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      need = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (end - p <= need) return false;
    for (int k = 1; k <= need; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[k] & 0x3F);
    }
    if ((need == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (need == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    p += need + 1;
  }
  return true;
}

// ---- The file side ----------------------------------------------------------------------------

AsciiFileClass::AsciiFileClass() { Line = &line_; }

AsciiFileClass::~AsciiFileClass() { Close(); }

bool AsciiFileClass::Init(std::string* fileName, ErrorClass* errors) {
  ErrorMgr = errors;
  return OpenFile(fileName);
}

void AsciiFileClass::Kill() { Close(); }

void AsciiFileClass::Close() {
  if (open_ && fd_) (void)storage::CallDriver(storage::kOpClose, *fd_);  // read only
  open_ = false;
  AsciiFile = nullptr;
  IndexQueue.clear();
  FileSize = 0;
  atEnd_ = false;
  next_ = 0;
}

bool AsciiFileClass::OpenFile(std::string* fileName) {
  Close();
  std::error_code ec;
  const std::filesystem::path before = std::filesystem::current_path(ec);
  bool ok = false;
  while (true) {
    if (fileName->find_first_not_of(' ') == std::string::npos) {
      ui::FileDialogRequest request;
      request.title = "Select an Ascii File";
      request.mask = "Text files|*.Txt|All files|*.*";
      std::string chosen = ui::Runtime::FileDialog(request);
      if (chosen.empty()) break;
      *fileName = chosen;
    }
    ok = Open(*fileName);
    break;
  }
  if (!before.empty()) std::filesystem::current_path(before, ec);
  return ok;
}

bool AsciiFileClass::Open(const std::string& name) {
  utf8_ = FileIsUtf8(name);
  const uint32_t size = utf8_ ? kUtf8Record : kAnsiRecord;
  fd_ = std::make_unique<storage::FileDescriptor>();
  storage::FileDescriptor& fd = *fd_;
  fd.driver = &storage::TextDriverEntry;
  fd.name = name;
  fd.label = "ASCIIFILE";
  fd.recordSize = size;
  storage::FieldDescriptor field;
  field.type = storage::kTypeString;
  field.label = "ASC:LINE";
  field.size = size;
  fd.fields.push_back(field);
  record_.assign(size, ' ');
  fd.record = record_.data();
  storage::DriverArgs open;
  open.mode = storage::kOpenReadOnly | storage::kShareDenyNone;
  if (storage::CallDriver(storage::kOpOpen, fd, open) != 0) {
    if (ErrorMgr) {
      ErrorMgr->SetFile(platform::Utf8ToCp1251Lossy(name));
      (void)ErrorMgr->Throw(FileLoadError);  // shown; the open fails
    }
    fd_.reset();
    return false;
  }
  // Lines end with LF, a CR before it is dropped: files of either convention read alike.
  for (const char* option : {"ENDOFRECORD=1,10", "QUICKSCAN=ON", "FILEBUFFERS=128"}) {
    storage::DriverArgs send;
    send.text = option;
    (void)storage::CallDriver(storage::kOpSend, fd, send);  // options the driver always takes
  }
  std::error_code ec;
  FileSize = static_cast<int64_t>(std::filesystem::file_size(name, ec));
  if (ec) FileSize = 0;
  if (ErrorMgr) ErrorMgr->SetFile(platform::Utf8ToCp1251Lossy(name));
  AsciiFile = &fd;
  name_ = name;
  open_ = true;
  atEnd_ = false;
  next_ = 0;
  IndexQueue.clear();
  // A byte-order mark is not text.
  if (utf8_) {
    char bom[3] = {};
    std::ifstream in(name, std::ios::binary);
    if (in.read(bom, 3) && std::memcmp(bom, "\xEF\xBB\xBF", 3) == 0) next_ = 3;
  }
  return true;
}

int64_t AsciiFileClass::IndexTo(int64_t n) {
  if (!open_) return 0;
  storage::FileDescriptor& fd = *fd_;
  if (!atEnd_ && static_cast<int64_t>(IndexQueue.size()) < n) {
    storage::DriverArgs set;
    set.number = next_ + 1;
    if (next_ >= FileSize || storage::CallDriver(storage::kOpSetFilePtr, fd, set) != 0) {
      atEnd_ = true;
    }
    bool lastWasFull = !IndexQueue.empty() && IndexQueue.back().Length == fd.recordSize &&
                       next_ > 0;
    while (!atEnd_ && static_cast<int64_t>(IndexQueue.size()) < n) {
      if (storage::CallDriver(storage::kOpNext, fd) != 0) {
        atEnd_ = true;
        break;
      }
      storage::DriverArgs bytes, where;
      // Both answer for the record NEXT just read; they cannot fail after it.
      (void)storage::CallDriver(storage::kOpBytes, fd, bytes);
      (void)storage::CallDriver(storage::kOpPointerFile, fd, where);
      AsciiIndexEntry e;
      e.Offset = where.value - 1;
      e.Length = static_cast<uint16_t>(bytes.value);
      next_ = e.Offset + e.Length;
      // A line that filled a record exactly leaves its CR LF as a record of its own: it
      // belongs to that line, it is no line of the file.
      bool strayEnd = lastWasFull && e.Length == 2 && record_[0] == '\r' &&
                      std::all_of(record_.begin() + 1, record_.end(), [](char c) { return c == ' '; });
      lastWasFull = e.Length == fd.recordSize;
      if (strayEnd) continue;
      IndexQueue.push_back(e);
    }
  }
  return std::min<int64_t>(n, static_cast<int64_t>(IndexQueue.size()));
}

int64_t AsciiFileClass::LinesInFile() {
  IndexTo(INT64_MAX);
  return static_cast<int64_t>(IndexQueue.size());
}

bool AsciiFileClass::GetLine(int64_t n, std::string* out) {
  out->clear();
  if (n < 1 || IndexTo(n) < n) return false;
  const AsciiIndexEntry& e = IndexQueue[static_cast<size_t>(n - 1)];
  storage::DriverArgs get;
  get.number = e.Offset + 1;
  if (storage::CallDriver(storage::kOpGetFilePtr, *fd_, get) != 0) return false;
  std::string text = ClipRight(std::string_view(record_.data(), record_.size()));
  if (!text.empty() && text.back() == '\r') text.pop_back();
  if (utf8_) text = platform::Utf8ToCp1251Lossy(text);
  if (text.size() > kAsciiLineWidth) text.resize(kAsciiLineWidth);
  line_ = text;
  *out = std::move(text);
  return true;
}

// ---- The search side --------------------------------------------------------------------------

int64_t AsciiSearchClass::Next() {
  std::string what = ClipRight(Find.What);
  if (what.empty() || LineCounter == 0 || !FileMgr) return 0;
  auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(lang::UpperChar(static_cast<unsigned char>(c)));
    return s;
  };
  if (!Find.MatchCase) what = upper(what);
  const bool down = Find.Direction != "Up";
  std::string line;
  for (int64_t n = LineCounter + (down ? 1 : -1); n >= 1; n += down ? 1 : -1) {
    if (!FileMgr->GetLine(n, &line)) break;
    if (line.size() > 256) line.resize(256);
    if (!Find.MatchCase) line = upper(line);
    if (line.find(what) != std::string::npos) {
      LineCounter = n;
      return n;
    }
  }
  return 0;
}

void AsciiSearchClass::Ask(AsciiViewer& viewer) {
  namespace F = ids::AsciiFind;
  std::unique_ptr<ui::Window> d = ui::Window::Open(F::kModule, F::kWindow);
  if (!d) return;
  char what[32];
  std::memset(what, ' ', sizeof what);
  std::memcpy(what, Find.What.data(), std::min(Find.What.size(), sizeof what));
  uint8_t matchCase = Find.MatchCase;
  int32_t direction = Find.Direction == "Up" ? 1 : 2;
  d->Use(F::FindText, lang::Variable::String(what, sizeof what));
  d->Use(F::MatchCase, lang::Variable::Of(&matchCase));
  d->Use(F::Direction, lang::Variable::Of(&direction));
  d->Display();
  d->Select(F::FindText);
  if (viewer.Selected() > 0) LineCounter = viewer.Selected();
  DialogLoop(*d, [&](const ui::Event& ev) {
    if (ev.kind != ui::EventKind::Accepted) return false;
    if (ev.control == F::Cancel) return true;
    if (ev.control != F::Next) return false;
    d->Update();
    Find.What = ClipRight(std::string_view(what, sizeof what));
    Find.MatchCase = matchCase ? 1 : 0;
    Find.Direction = direction == 1 ? "Up" : "Down";
    if (LineCounter == 0) LineCounter = viewer.Selected() > 0 ? viewer.Selected() : 1;
    if (int64_t found = Next()) {
      viewer.SelectLine(found);
      viewer.Window()->Flush();
    } else {
      ui::Runtime::Beep(ui::Sound::Exclamation);
    }
    return false;
  });
}

// ---- The print side ---------------------------------------------------------------------------

void AsciiPrintClass::Ask(int64_t selected) {
  namespace O = ids::AsciiPrintOptions;
  std::unique_ptr<ui::Window> d = ui::Window::Open(O::kModule, O::kWindow);
  if (!d || !FileMgr) return;
  d->Flush();
  int64_t lines = FileMgr->LinesInFile();
  d->SetCaption("Print Options");
  d->SetRange(O::FirstLine, 1, std::max<int64_t>(1, lines));
  d->SetRange(O::LastLine, 1, std::max<int64_t>(1, lines));
  d->SetValue(O::FirstLine, 1);
  d->SetText(O::FirstLine, "1");
  d->SetValue(O::LastLine, static_cast<int>(lines));
  d->SetText(O::LastLine, Number(lines));
  d->SetValue(O::Range, 1);
  d->SetValue(O::Preview, PrintPreview ? 1 : 0);
  if (selected < 1) d->Disable(O::Selection);
  int64_t first = 0, last = 0;
  DialogLoop(*d, [&](const ui::Event& ev) {
    if (ev.kind != ui::EventKind::Accepted) return false;
    if (ev.control == O::Cancel) return true;
    if (ev.control == O::PrintSetup) {
      AskPrinter = true;
      return false;
    }
    if (ev.control != O::Print) return false;
    switch (d->Value(O::Range)) {
      case 2:
        first = last = selected;
        break;
      case 3: {
        first = d->Value(O::FirstLine);
        last = d->Value(O::LastLine);
        if (!(last >= 1 && last <= lines && first >= 1 && first <= last)) {
          if (ErrorClass* e = FileMgr->ErrorMgr) {
            // Set directly: the blank after "first line" belongs to the message.
            e->FieldName = "first line ";
            e->MessageText = "1 and " + Number(lines);
            (void)e->TakeError(RangeErrorBetween);  // shown; the dialog stays
          }
          d->Select(O::FirstLine);
          first = last = 0;
          return false;
        }
        break;
      }
      default:
        first = 1;
        last = lines;
        break;
    }
    PrintPreview = d->Value(O::Preview) ? 1 : 0;
    return true;
  });
  d->Close();
  if (first >= 1 && last >= first) PrintLines(first, last);
}

bool AsciiPrintClass::PrintLines(int64_t first, int64_t last) {
  namespace P = ids::AsciiPrinting;
  const ui::report::ReportDesc* desc = ui::report::FindReportDesc("abascii", "P42$REPORT");
  if (!desc || !FileMgr) return false;
  std::unique_ptr<ui::Window> w = ui::Window::Open(P::kModule, P::kWindow);
  if (!w) return false;
  w->SetCaption(w->Caption() + " line " + Number(first) + " to " + Number(last));
  w->SetRange(P::Progress, 0, static_cast<double>(last - first + 1));
  w->SetValue(P::Progress, 0);
  w->Flush();

  ui::report::PageRenderer* renderer = ui::report::CurrentPageRenderer();
  std::unique_ptr<ui::report::TextMetrics> metrics;
  if (renderer) metrics = renderer->NewMetrics();
  else metrics = std::make_unique<ui::report::FixedMetrics>();
  ui::report::PageList pages;
  ui::report::PageBuilder builder;
  char line[kAsciiLineWidth];
  builder.Open(*desc, metrics.get(), &pages, platform::Utf8ToCp1251Lossy(FileMgr->Name()));
  builder.Use("Ascii:Line", lang::Variable::String(line, sizeof line));
  auto shown = std::chrono::steady_clock::now();
  std::string text;
  for (int64_t n = first; n <= last; ++n) {
    FileMgr->GetLine(n, &text);
    std::memset(line, ' ', sizeof line);
    std::memcpy(line, text.data(), std::min(text.size(), sizeof line));
    builder.Print(1);
    auto now = std::chrono::steady_clock::now();
    if (now - shown > std::chrono::milliseconds(100) || n == last) {
      shown = now;
      w->SetValue(P::Progress, static_cast<int>(n - first + 1));
      w->Flush();
      ui::RuntimeLock::Yield();
    }
  }
  builder.Close();
  w->Close();

  bool print = true;
  if (PrintPreview) {
    framework::PrintPreview preview;
    preview.SetPages(&pages.Doc());
    preview.SetINIManager(INIMgr);
    print = preview.Display() == 1;
  }
  if (!print) return false;
  std::string why = "there is no printer";
  int printed = renderer ? renderer->Print(pages.Doc(), AskPrinter, &why) : -1;
  if (printed < 0) {
    ui::MessageBoxRequest box;
    box.caption = "Print Error";
    box.text = "The lines could not be printed: " + why + ".";
    box.icon = ui::Icon::Exclamation;
    ui::Messages().ShowMessage(box);
  }
  return printed > 0;
}

// ---- The viewer -------------------------------------------------------------------------------

AsciiViewer::AsciiViewer() { DisplayQueue = &shown_; }

AsciiViewer::~AsciiViewer() = default;

bool AsciiViewer::Init(ui::Window& window, int32_t listBox, std::string* fileName,
                       ErrorClass& errors, uint32_t features) {
  RegisterFrameworkReports();
  window_ = &window;
  ListBox = listBox;
  fileName_ = fileName;
  if (!file_.Init(fileName, &errors)) return false;
  LBPreserve.ImmState = window.Flag(listBox, ui::kFlagImmediate) ? 1 : 0;
  LBPreserve.VScrollState = window.Flag(listBox, ui::kFlagVScroll) ? 1 : 0;
  LBPreserve.HScrollState = window.Flag(listBox, ui::kFlagHScroll) ? 1 : 0;
  LBPreserve.VScrollPos = window.State(listBox).thumb;
  window.SetFlag(listBox, ui::kFlagImmediate, true);
  Searcher = nullptr;
  Printer = nullptr;
  if (features & AsciiSearch) {
    search_.Init(file_);
    Searcher = &search_;
  }
  if (features & AsciiPrint) {
    print_.Init(file_);
    Printer = &print_;
  }
  Popup = &popup_;
  popup_.Init(&window);
  popup_.Clear();
  popup_.AddMenu("~&Find|~&Print|-|&Move{&Top|Page &Up|Page &Down|Bottom}|-|&Goto");
  // Beyond the menu of the design: another file without leaving the window.
  popup_.AddMenu("-|&Open...");
  popup_.SetItemEnable("Find", Searcher != nullptr);
  popup_.SetItemEnable("Print", Printer != nullptr);
  TopLine = 1;
  selected_ = 0;
  // The list learns how many rows it shows once it is on the screen, and again whenever its
  // size changes; the page follows on the next tick.
  if (window.Timer() == 0) window.SetTimer(25);
  Display();
  return true;
}

void AsciiViewer::Kill() {
  if (window_ && !window_->Closed()) {
    window_->SetFlag(ListBox, ui::kFlagImmediate, LBPreserve.ImmState != 0);
    window_->SetThumb(ListBox, LBPreserve.VScrollPos);
  }
  popup_.Kill();
  file_.Kill();
}

void AsciiViewer::Display() {
  if (!window_) return;
  ListBoxItems = std::max(1, window_->VisibleRows(ListBox));
  file_.IndexTo(TopLine + ListBoxItems - 1);
  shown_.clear();
  std::vector<ui::ListRow> rows;
  std::string text;
  for (int64_t n = TopLine; n < TopLine + ListBoxItems; ++n) {
    if (!file_.GetLine(n, &text)) break;
    shown_.push_back(text);
    rows.push_back({{text}});
  }
  window_->SetRows(ListBox, std::move(rows));
  int64_t row = selected_ - TopLine + 1;
  window_->SetValue(ListBox, row >= 1 && row <= static_cast<int64_t>(shown_.size())
                                 ? static_cast<int>(row)
                                 : 0);
  UpdateThumb();
}

void AsciiViewer::UpdateThumb() {
  int position = 0;
  if (file_.FullyIndexed()) {
    int64_t span = file_.LinesKnown() - ListBoxItems;
    position = span > 0 ? static_cast<int>((TopLine - 1) * 100 / span) : 0;
  } else if (file_.FileSize > 0 && TopLine <= file_.LinesKnown()) {
    // Not indexed to the end yet: the thumb tells how far into the file's bytes the page is.
    position = static_cast<int>(file_.IndexQueue[static_cast<size_t>(TopLine - 1)].Offset * 100 /
                                file_.FileSize);
  }
  window_->SetThumb(ListBox, std::clamp(position, 0, 100));
}

void AsciiViewer::SetTop(int64_t top) {
  ListBoxItems = std::max(1, window_->VisibleRows(ListBox));
  if (top < 1) top = 1;
  // No page runs past the last line: the last page ends with it.
  int64_t known = file_.IndexTo(top + ListBoxItems - 1);
  if (known < top + ListBoxItems - 1) top = std::max<int64_t>(1, known - ListBoxItems + 1);
  TopLine = top;
  Display();
}

void AsciiViewer::SelectLine(int64_t n) {
  if (n < 1 || file_.IndexTo(n) < n) return;
  selected_ = n;
  if (n < TopLine || n >= TopLine + ListBoxItems) SetTop(n - ListBoxItems / 2);
  else Display();
}

void AsciiViewer::Top() { SetTop(1); }

void AsciiViewer::Bottom() {
  int64_t lines = file_.LinesInFile();
  SetTop(lines - ListBoxItems + 1);
}

void AsciiViewer::PageUp() { SetTop(TopLine - ListBoxItems); }

void AsciiViewer::PageDown() { SetTop(TopLine + ListBoxItems); }

void AsciiViewer::AskGoto() {
  namespace G = ids::AsciiGoto;
  int64_t lines = file_.LinesInFile();
  std::unique_ptr<ui::Window> d = ui::Window::Open(G::kModule, G::kWindow);
  if (!d) return;
  int64_t start = selected_ > 0 ? selected_ : TopLine;
  d->SetRange(G::LineNo, 1, static_cast<double>(std::max<int64_t>(1, lines)));
  d->SetValue(G::LineNo, static_cast<int>(start));
  d->SetText(G::LineNo, Number(start));
  d->Select(G::LineNo);
  int64_t chosen = 0;
  DialogLoop(*d, [&](const ui::Event& ev) {
    if (ev.kind != ui::EventKind::Accepted) return false;
    if (ev.control == G::Cancel) return true;
    if (ev.control != G::Go) return false;
    chosen = std::clamp<int64_t>(d->Value(G::LineNo), 1, std::max<int64_t>(1, lines));
    return true;
  });
  d->Close();
  if (chosen > 0) SelectLine(chosen);
}

void AsciiViewer::AskOpen() {
  std::string name;
  if (!file_.OpenFile(&name)) {
    // The file shown before stays.
    if (fileName_ && !fileName_->empty()) file_.OpenFile(fileName_);
    Display();
    return;
  }
  if (fileName_) *fileName_ = name;
  TopLine = 1;
  selected_ = 0;
  search_.LineCounter = 0;
  Display();
}

void AsciiViewer::ShowPopup() {
  std::string item = popup_.Ask();
  if (item == "Find" && Searcher) Searcher->Ask(*this);
  else if (item == "Print" && Printer) Printer->Ask(selected_);
  else if (item == "Top") Top();
  else if (item == "PageUp") PageUp();
  else if (item == "PageDown") PageDown();
  else if (item == "Bottom") Bottom();
  else if (item == "Goto") AskGoto();
  else if (item == "Open...") AskOpen();
}

bool AsciiViewer::TakeEvent() {
  if (!window_) return false;
  const ui::Event& ev = window_->CurrentEvent();
  switch (ev.kind) {
    case ui::EventKind::Sized: case ui::EventKind::Maximized: case ui::EventKind::Restored:
    case ui::EventKind::GainFocus:
      Display();
      return true;
    case ui::EventKind::Timer:
      if (window_->VisibleRows(ListBox) != ListBoxItems) Display();
      return true;
    default:
      break;
  }
  if (ev.control != ListBox) return false;
  switch (ev.kind) {
    case ui::EventKind::ScrollUp:
      if (TopLine > 1) {
        SetTop(TopLine - 1);
        if (selected_ >= TopLine + ListBoxItems) SelectLine(TopLine);
      }
      return true;
    case ui::EventKind::ScrollDown:
      if (file_.IndexTo(TopLine + ListBoxItems) >= TopLine + ListBoxItems) {
        SetTop(TopLine + 1);
        if (selected_ < TopLine) SelectLine(TopLine + ListBoxItems - 1);
      }
      return true;
    case ui::EventKind::PageUp: PageUp(); return true;
    case ui::EventKind::PageDown: PageDown(); return true;
    case ui::EventKind::ScrollTop: Top(); return true;
    case ui::EventKind::ScrollBottom: Bottom(); return true;
    case ui::EventKind::ScrollDrag: {
      int64_t lines = file_.LinesInFile();
      int64_t span = std::max<int64_t>(0, lines - ListBoxItems);
      SetTop(1 + span * std::clamp(ev.value, 0, 100) / 100);
      return true;
    }
    case ui::EventKind::NewSelection: case ui::EventKind::Accepted: {
      int row = window_->Value(ListBox);
      if (row >= 1) selected_ = TopLine + row - 1;
      return true;
    }
    case ui::EventKind::MouseDown:
      if (ev.key == ui::kMouseRight) ShowPopup();
      return true;
    default:
      return false;
  }
}

}  // namespace korawin::framework
