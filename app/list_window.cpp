#include "app/list_window.h"

#include <algorithm>

#include "app/dictionary.h"
#include "app/program.h"
#include "framework/ini_window.h"
#include "ui/runtime/runtime.h"
#include "ui/runtime/window.h"

namespace korawin::app {

using framework::Level;
using framework::LevelBenign;

// ---- Fields -----------------------------------------------------------------------------------

int FieldAt(LexiconFile file, std::string_view name) { return FieldNumber(file, name) - 1; }

lang::Variable FieldVar(LexiconFile file, std::string_view name) {
  storage::FileDescriptor& fd = Declared(file).fd();
  int at = FieldAt(file, name);
  if (at < 0) return lang::Variable();
  const storage::FieldDescriptor& f = fd.fields[static_cast<size_t>(at)];
  return lang::Variable::Field(f.type, fd.record + f.offset, f.size, f.decimalPlaces);
}

lang::Variable MemoVar(LexiconFile file, std::string_view name) {
  for (const storage::MemoDescriptor& m : Declared(file).fd().memos) {
    std::string_view label = m.label;
    if (label.substr(label.find(':') + 1) == name)
      return lang::Variable::Field(lang::kTypeMemo, m.buffer, m.size);
  }
  return lang::Variable();
}

std::unique_ptr<storage::View> MakeView(LexiconFile file, const std::vector<std::string>& fields) {
  storage::FileDescriptor& fd = Declared(file).fd();
  storage::ViewDeclaration decl;
  decl.primary = &fd;
  for (const std::string& name : fields) {
    int at = FieldAt(file, name);
    if (at >= 0) {
      decl.project.push_back(at + 1);
      continue;
    }
    for (size_t m = 0; m < fd.memos.size(); ++m) {
      std::string_view label = fd.memos[m].label;
      if (label.substr(label.find(':') + 1) == name)
        decl.project.push_back(static_cast<int>(fd.fields.size() + m + 1));
    }
  }
  return std::make_unique<storage::View>(decl);
}

std::string LexemeHeadOf(std::string_view iverb) {
  size_t paren = iverb.find('(');
  std::string_view head = paren == std::string_view::npos ? iverb : iverb.substr(0, paren);
  while (!head.empty() && head.back() == ' ') head.remove_suffix(1);
  return std::string(head.substr(0, 35));
}

// ---- The browse -------------------------------------------------------------------------------

void ListBrowse::Init(LexiconFile file, int listControl, storage::View& view,
                      framework::WindowManager& window, int countControl) {
  file_ = file;
  BrowseClass::Init(listControl, view, Relate(file), &window);
  counted_ = countControl != 0;
  if (counted_) count_.Init(file, *this, countControl);
}

void ListBrowse::Kill() {
  count_.Kill();
  BrowseClass::Kill();
}

Level ListBrowse::ResetQueue(uint8_t mode) {
  framework::FileManager& fm = *Primary->Me;
  ++depth_;
  std::string record;
  if (depth_ == 1 && mode == framework::ResetReload && HasRows() && UpdateBuffer() == LevelBenign)
    record = fm.FilePosition();
  Level level = BrowseClass::ResetQueue(mode);
  if (!record.empty() && Loaded && !LoadPending) {
    const bool same = HasRows() && UpdateBuffer() == LevelBenign && fm.FilePosition() == record;
    if (!same && fm.TryRegetFile(record) == LevelBenign) Locate(std::max(OrderItems(), 1));
  }
  --depth_;
  if (depth_ == 0 && counted_ && Loaded && !LoadPending) count_.Start();
  return level;
}

void ListBrowse::ChangeSort(int n) {
  framework::FileManager& fm = *Primary->Me;
  std::string record;
  if (HasRows() && UpdateBuffer() == LevelBenign) record = fm.FilePosition();
  if (!SetOrder(n)) return;
  ResetSort(false);
  if (!record.empty() && Loaded && !LoadPending && fm.TryRegetFile(record) == LevelBenign)
    Locate(std::max(OrderItems(), 1));
}

void ListBrowse::LocateBuffer() {
  Flush();
  CurrentEvent = ui::EventKind::Locate;
  Locate(std::max(OrderItems(), 1));
}

// ---- The window -------------------------------------------------------------------------------

Level AppWindow::UseFiles(std::initializer_list<LexiconFile> files) {
  for (LexiconFile f : files) {
    if (Level l = Relate(f).Open()) {
      for (auto it = used_.rbegin(); it != used_.rend(); ++it) (void)Relate(*it).Close();  // 0
      used_.clear();
      return l;
    }
    used_.push_back(f);
  }
  return LevelBenign;
}

bool AppWindow::OpenAppWindow(std::string_view module, std::string_view name) {
  if (!OpenWindow(module, name)) return false;
  section_ = std::string(module);
  framework::FetchWindow(ProgramIni(), section_, *UiWindow());
  // A change another window made shows when the user comes back to this one.
  ResetOnGainFocus = true;
  return true;
}

Level AppWindow::Kill() {
  // A place that cannot be written is only not remembered.
  if (ui::Window* w = UiWindow(); w && !section_.empty() && !Dead)
    (void)framework::UpdateWindow(ProgramIni(), section_, *w);
  Level l = WindowManager::Kill();
  for (auto it = used_.rbegin(); it != used_.rend(); ++it) (void)Relate(*it).Close();  // 0
  used_.clear();
  return l;
}

Level AppWindow::TakeEvent() {
  ui::Window* w = UiWindow();
  if (!w) return framework::LevelFatal;
  const ui::Event ev = w->CurrentEvent();
  // A row whose record is gone keeps the buffer as it is; the next reload drops the row.
  for (ListBrowse* b : kept_)
    if (b->Loaded && b->HasRows()) (void)b->UpdateBuffer();
  SyncLinks();
  if (ev.kind == ui::EventKind::User) {
    // A count arrived.
    for (ListBrowse* b : kept_) b->Counter().Show();
    return LevelBenign;
  }
  // The base's refresh runs below, once the links between the panes have followed the event.
  const bool autoRefresh = AutoRefresh;
  AutoRefresh = false;
  Level level = WindowManager::TakeEvent();
  AutoRefresh = autoRefresh;
  if (level || w->Closed()) return level;
  SyncLinks();
  const bool closing = ev.kind == ui::EventKind::CloseWindow || ev.kind == ui::EventKind::CloseDown;
  if (AutoRefresh && !closing) {
    bool reload = false;
    for (framework::BrowseClass* b : Browses) reload = b->NeedRefresh() || reload;
    if (reload) Reset(false);
  }
  AfterEvent();
  for (ListBrowse* b : kept_) b->Counter().Show();
  return level;
}

// ---- Marks ------------------------------------------------------------------------------------

void ToggleMark() {
  DeclaredFile& slovo = Declared(LexiconFile::kSlovo);
  framework::FileManager& fm = Access(LexiconFile::kSlovo);
  if (fm.TryFetch(KeyNumber(LexiconFile::kSlovo, "K_SLO")) != LevelBenign) return;
  slovo.SetField("METKA", slovo.Field("METKA") == " " ? "*" : " ");
  // The plain write of the design: its error, if any, stays the runtime's current error.
  (void)storage::CallDriver(storage::kOpPut, slovo.fd());
}

bool ClearAllMarks() {
  // A declaration of its own: the pass lets other windows run between records, and they use
  // the program's SLOVO buffer and sequence meanwhile.
  DeclaredFile slovo = DeclareFile(LexiconFile::kSlovo, Declared(LexiconFile::kSlovo).fd().driver,
                                   DatabaseFolder());
  storage::FileDescriptor& fd = slovo.fd();
  storage::DriverArgs open;
  open.mode = storage::kOpenReadWrite | storage::kShareDenyNone;
  if (storage::CallDriver(storage::kOpOpen, fd, open) != 0) return false;
  int rc = storage::CallDriver(storage::kOpSetFile, fd);
  for (int64_t n = 1; rc == 0 && (rc = storage::CallDriver(storage::kOpNext, fd)) == 0; ++n) {
    if (slovo.Field("METKA") == "*") {
      slovo.SetField("METKA", " ");
      // Plain writes, as the design has them: a record another station holds keeps its mark.
      (void)storage::CallDriver(storage::kOpPut, fd);
    }
    if (n % 2000 == 0) ui::RuntimeLock::Yield();
  }
  const bool ok = rc == storage::kErrRecordNotAvailable && storage::CallDriver(storage::kOpClose, fd) == 0;
  return ok;
}

}  // namespace korawin::app
