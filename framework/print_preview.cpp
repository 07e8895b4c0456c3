#include "framework/print_preview.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "framework/framework_windows.h"
#include "framework/ini_window.h"
#include "framework/select_file.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "ui/message_box.h"
#include "ui/report/renderer.h"
#include "ui/runtime/window.h"

namespace korawin::framework {

namespace W = ids::PrintPreview;

namespace {

// The zoom menu's items, in the order of the table.
constexpr int kZoomItems[] = {W::ZoomTile, W::ZoomPageWidth, W::Zoom50, W::Zoom75,
                              W::Zoom100,  W::Zoom200,       W::Zoom300};

// Screen pixels per inch at 100%.
constexpr double kScreenDpi = 96;
// Room between pages shown side by side, in thousandths of an inch.
constexpr int kGap = 250;
// The window's place when nothing else says where: most of a 1280 x 800 screen.
constexpr ui::Geometry kDefaultPlace{16, 8, 600, 420};
// Pixels per dialog unit across and down, as the desktop's font gives them about; the part of
// the window the menu, toolbar and status bar take, in pixels.
constexpr double kPixelsAcross = 1.75, kPixelsDown = 1.7;
constexpr int kChromeWidth = 50, kChromeHeight = 110;

std::string Number(long v) { return std::to_string(v); }

}  // namespace

const std::vector<ZoomEntry>& StandardZooms() {
  static const std::vector<ZoomEntry> zooms = {
      {kZoomTile, "Tile pages", "Zoom: Tile Pages"},
      {kZoomPageWidth, "Page Width", "Zoom: Page Width"},
      {50, "50% Zoom", "Zoom: 50%"},
      {75, "75% Zoom", "Zoom: 75%"},
      {100, "100% Zoom", "Zoom: 100%"},
      {200, "200% Zoom", "Zoom: 200%"},
      {300, "300% Zoom", "Zoom: 300%"},
  };
  return zooms;
}

PrintPreview::PrintPreview() { PopupMgr = &ownPopup_; }

PrintPreview::~PrintPreview() {
  if (!folder_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
}

int32_t PrintPreview::PageCount() const {
  return ImageQueue ? static_cast<int32_t>(ImageQueue->pages.size()) : 0;
}

uint8_t PrintPreview::Display() { return Display(InitZoom, 1, 1, 1); }

uint8_t PrintPreview::Display(int16_t zoom, int32_t firstPage, uint16_t across, uint16_t down) {
  startZoom_ = zoom;
  FirstPage = std::max<int32_t>(1, firstPage);
  CurrentPage = FirstPage;
  PagesAcross = std::max<uint16_t>(1, across);
  PagesDown = std::max<uint16_t>(1, down);
  PrintOK = 0;
  Run();
  return PrintOK;
}

Level PrintPreview::Init() {
  if (Level level = WindowManager::Init()) return level;
  PrintOK = 0;
  Inited = 0;
  if (!OpenWindow(W::kModule, W::kWindow)) return LevelFatal;
  PreviewWindow = UiWindow();
  ZoomQueue = StandardZooms();
  if (UserPercentile > 0) {
    ZoomQueue.push_back({static_cast<int16_t>(UserPercentile),
                         Number(UserPercentile) + "% Zoom",
                         "Zoom: " + Number(UserPercentile) + "%"});
  }
  ZoomIndex = 1;
  for (size_t k = 0; k < ZoomQueue.size(); ++k)
    if (ZoomQueue[k].Percentile == startZoom_) ZoomIndex = static_cast<uint8_t>(k);
  if (startZoom_ > 0 && ZoomQueue[ZoomIndex].Percentile != startZoom_) {
    UserPercentile = static_cast<uint16_t>(startZoom_);
    if (ZoomQueue.size() > StandardZooms().size()) ZoomQueue.pop_back();
    ZoomQueue.push_back({startZoom_, Number(startZoom_) + "% Zoom",
                         "Zoom: " + Number(startZoom_) + "%"});
    ZoomIndex = static_cast<uint8_t>(ZoomQueue.size() - 1);
  }
  if (PopupMgr) {
    PopupMgr->Init(PreviewWindow);
    PopupMgr->Clear();
    PopupMgr->AddMenu("&Next Page(s)|&Previous Page(s)|&Jump to a page|&Change Display|-|"
                      "&Print|P&DF...|E&xit");
    PopupMgr->AddItemMimic("NextPage(s)", W::PRTPREV_NEXT);
    PopupMgr->AddItemMimic("PreviousPage(s)", W::PRTPREV_PREVIOUS);
    PopupMgr->AddItemMimic("Jumptoapage", W::PRTPREV_JUMP);
    PopupMgr->AddItemMimic("ChangeDisplay", W::PRTPREV_CHANGEDISPLAY);
    PopupMgr->AddItemMimic("Print", W::PRTPREV_MENUPRINT);
    PopupMgr->AddItemMimic("PDF...", W::PRTPREV_MENUPDF);
    PopupMgr->AddItemMimic("Exit", W::PRTPREV_MENUEXIT);
  }
  PlaceWindow();
  return LevelBenign;
}

Level PrintPreview::Kill() {
  if (PopupMgr) PopupMgr->Kill();
  PreviewWindow = nullptr;
  if (!folder_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
    folder_.clear();
  }
  return WindowManager::Kill();
}

void PrintPreview::PlaceWindow() {
  ui::Window* w = UiWindow();
  ui::Geometry g = kDefaultPlace;
  if (SaveSize.Set) {
    g = {SaveSize.XPos, SaveSize.YPos, SaveSize.Width, SaveSize.Height};
    w->SetGeometry(g);
  } else {
    if (WindowPosSet) {
      g.x = WinXPos;
      g.y = WinYPos;
    }
    if (WindowSizeSet) {
      g.width = WinWidth;
      g.height = WinHeight;
    }
    w->SetGeometry(g);
    if (INIMgr) FetchWindow(*INIMgr, kPreviewIniSection, *w);
  }
  if (Maximize) w->Maximize(true);
}

void PrintPreview::Open() {
  WindowManager::Open();
  ui::Window* w = UiWindow();
  int32_t pages = PageCount();
  if (pages > 1) {
    w->Enable(W::PRTPREV_PAGEPROMPT);
    w->Enable(W::PRTPREV_CURRENTPAGE);
    w->SetRange(W::PRTPREV_CURRENTPAGE, 1, pages);
    w->SetTip(W::PRTPREV_CURRENTPAGE, "Enter a page number from 1 to " + Number(pages));
  } else {
    w->Disable(W::PRTPREV_PAGEPROMPT);
    w->Disable(W::PRTPREV_CURRENTPAGE);
    w->SetRange(W::PRTPREV_CURRENTPAGE, 1, 1);
  }
  FillZoomList();
  // The first page shown must leave no empty places at the end of the screen.
  int32_t screen = PagesAcross * PagesDown;
  while (FirstPage > 1 && FirstPage + screen - 1 > pages) --FirstPage;
  Redraw();
}

void PrintPreview::FillZoomList() {
  ui::Window* w = UiWindow();
  std::vector<ui::ListRow> rows;
  for (const ZoomEntry& z : ZoomQueue) rows.push_back({{z.MenuText}});
  w->SetRows(W::PRTPREV_ZOOMLIST, rows);
  w->SetValue(W::PRTPREV_ZOOMLIST, ZoomIndex + 1);
  ZoomList = ZoomQueue[ZoomIndex].MenuText.substr(0, 16);
  for (size_t k = 0; k < std::size(kZoomItems); ++k)
    w->SetFlag(kZoomItems[k], ui::kFlagChecked, k == ZoomIndex);
}

void PrintPreview::SetZoom(size_t index) {
  if (index >= ZoomQueue.size()) return;
  ZoomIndex = static_cast<uint8_t>(index);
  FillZoomList();
  Redraw();
}

void PrintPreview::SetUserZoom(uint16_t percent) {
  UserPercentile = percent;
  ZoomEntry entry{static_cast<int16_t>(percent), Number(percent) + "% Zoom",
                  "Zoom: " + Number(percent) + "%"};
  // One row of the user's own, after the table's.
  if (ZoomQueue.size() > StandardZooms().size()) ZoomQueue.back() = entry;
  else ZoomQueue.push_back(entry);
  SetZoom(ZoomQueue.size() - 1);
}

void PrintPreview::ChoosePage(int32_t page) {
  int32_t pages = PageCount();
  if (pages < 1) return;
  page = std::clamp<int32_t>(page, 1, pages);
  CurrentPage = page;
  int32_t screen = PagesAcross * PagesDown;
  if (page >= FirstPage && page <= FirstPage + screen - 1) {
    ShowStatus();
    return;
  }
  FirstPage = page;
  while (FirstPage > 1 && FirstPage + screen - 1 > pages) --FirstPage;
  Redraw();
}

double PrintPreview::ImageDpi(int pageWidth, int pageHeight, double gridWidth,
                              double gridHeight) const {
  int16_t zoom = ZoomQueue[ZoomIndex].Percentile;
  if (zoom > 0) return kScreenDpi * zoom / 100.0;
  ui::Window* w = UiWindow();
  const ui::WindowState& s = w->WindowStateNow();
  ui::Geometry g = s.geometry;
  if (s.maximized || g.width <= 0 || g.height <= 0) g = {0, 0, 1280, 660};
  double roomX = std::max(100.0, g.width * kPixelsAcross - kChromeWidth);
  double roomY = std::max(100.0, g.height * kPixelsDown - kChromeHeight);
  double inch = ui::report::kUnitsPerInch;
  double byWidth = roomX / (gridWidth / inch);
  if (zoom == kZoomPageWidth) return byWidth;
  return std::min(byWidth, roomY / (gridHeight / inch));
}

std::string PrintPreview::NewImageName() {
  if (folder_.empty()) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "korawin1-preview-XXXXXX").string();
    if (char* made = ::mkdtemp(tmpl.data())) folder_ = made;
  }
  return platform::JoinPath(folder_, "page-" + Number(++images_) + ".png");
}

void PrintPreview::Redraw() {
  ui::Window* w = UiWindow();
  int32_t pages = PageCount();
  ShowStatus();
  w->SetValue(W::PRTPREV_PAGESACROSS, PagesAcross);
  w->SetText(W::PRTPREV_PAGESACROSS, Number(PagesAcross));
  w->SetValue(W::PRTPREV_PAGESDOWN, PagesDown);
  w->SetText(W::PRTPREV_PAGESDOWN, Number(PagesDown));
  if (pages < 1) {
    w->SetText(W::Pages, "");
    return;
  }
  // The screen as one picture: the pages of the grid side by side, each framed.
  const ui::report::PageFormat& f = ImageQueue->format;
  ui::report::Document screen;
  screen.format = f;
  int across = PagesAcross, down = PagesDown;
  int shownAcross = std::min<int>(across, pages - FirstPage + 1);
  int rowsUsed = std::min<int>(down, (pages - FirstPage + across) / across);
  bool grid = across * down > 1;
  int gap = grid ? kGap : 0;
  screen.format.width = shownAcross * f.width + (shownAcross + 1) * gap;
  screen.format.height = rowsUsed * f.height + (rowsUsed + 1) * gap;
  ui::report::Page& page = screen.pages.emplace_back();
  page.number = FirstPage;
  for (int k = 0; k < across * down; ++k) {
    int index = FirstPage - 1 + k;
    if (index >= pages) break;
    int x0 = gap + (k % across) * (f.width + gap);
    int y0 = gap + (k / across) * (f.height + gap);
    for (ui::report::PageItem it : ImageQueue->pages[static_cast<size_t>(index)].items) {
      it.x += x0;
      it.y += y0;
      it.baseline += y0;
      page.items.push_back(std::move(it));
    }
    ui::report::PageItem frame;
    frame.kind = ui::report::PageItem::Kind::Box;
    frame.x = x0;
    frame.y = y0;
    frame.w = f.width;
    frame.h = f.height;
    frame.pen = 0;
    page.items.push_back(std::move(frame));
  }
  double dpi = ImageDpi(f.width, f.height, screen.format.width, screen.format.height);
  lastDpi_ = dpi;
  shown_.PageNo = FirstPage;
  shown_.ZoomState = ZoomQueue[ZoomIndex].Percentile;
  shown_.ImageFEQ = W::Pages;
  shown_.AspectRatio = static_cast<double>(screen.format.width) / screen.format.height;
  shown_.ImageWidth = static_cast<int32_t>(screen.format.width * dpi / 1000 + 0.5);
  shown_.ImageHeight = static_cast<int32_t>(screen.format.height * dpi / 1000 + 0.5);
  ThumbnailsPresent = static_cast<uint16_t>(std::min(across * down, pages - FirstPage + 1));
  ui::report::PageRenderer* renderer = ui::report::CurrentPageRenderer();
  if (!renderer) {
    w->SetText(W::Pages, "");
    return;
  }
  std::string file = NewImageName();
  std::string why;
  if (!renderer->WritePageImage(screen, 0, dpi, file, &why)) {
    w->SetText(W::Pages, "");
    w->SetStatus(why, 1);
    return;
  }
  std::string old = shown_.FileName;
  shown_.FileName = file;
  w->SetText(W::Pages, file);
  w->Flush();
  // The picture before last is no longer shown.
  if (!old.empty()) {
    std::error_code ec;
    std::filesystem::remove(old, ec);
  }
}

void PrintPreview::ShowStatus() {
  ui::Window* w = UiWindow();
  int32_t pages = PageCount();
  const ZoomEntry& z = ZoomQueue[ZoomIndex];
  std::string zoom = z.StatusText;
  if (z.Percentile > 0) zoom = std::string("Zoom: ").append(Number(z.Percentile)).append("%");
  int32_t last = std::min<int32_t>(pages, FirstPage + PagesAcross * PagesDown - 1);
  std::string where = std::string("Page ").append(Number(FirstPage));
  if (last > FirstPage) where.append("-").append(Number(last));
  where.append(" of ").append(Number(pages));
  w->SetStatus(zoom, 0);
  w->SetStatus(where, 1);
  w->SetValue(W::PRTPREV_CURRENTPAGE, CurrentPage);
  w->SetText(W::PRTPREV_CURRENTPAGE, Number(CurrentPage));
}

Level PrintPreview::TakeAccepted() {
  ui::Window* w = UiWindow();
  const int control = w->Field();
  switch (control) {
    case W::PRTPREV_MENUPRINT: case W::PRTPREV_TBARPRINT:
      PrintOK = 1;
      w->Post(ui::EventKind::CloseWindow);
      return LevelNotify;
    case W::PRTPREV_MENUEXIT: case W::PRTPREV_TBAREXIT:
      PrintOK = 0;
      w->Post(ui::EventKind::CloseWindow);
      return LevelNotify;
    case W::PRTPREV_MENUPDF: case W::PRTPREV_TBARPDF:
      SavePdf();
      return LevelBenign;
    case W::PRTPREV_NEXT:
      ChoosePage(CurrentPage + 1);
      return LevelBenign;
    case W::PRTPREV_PREVIOUS:
      ChoosePage(CurrentPage - 1);
      return LevelBenign;
    case W::PRTPREV_JUMP:
      AskPage();
      return LevelBenign;
    case W::PRTPREV_CHANGEDISPLAY:
      AskThumbnails();
      return LevelBenign;
    case W::PRTPREV_TBARZOOM: {
      if (AllowUserZoom) {
        // Zoom in by a quarter of the page's size on the screen, as a zoom of the user's own.
        int now = static_cast<int>(lastDpi_ * 100 / kScreenDpi + 0.5);
        int next = std::min(400, (now / 25 + 1) * 25);
        SetUserZoom(static_cast<uint16_t>(next <= now ? 25 : next));
      } else {
        SetZoom(ZoomIndex + 1u < ZoomQueue.size() ? ZoomIndex + 1u : 0u);
      }
      return LevelBenign;
    }
    default:
      break;
  }
  for (size_t k = 0; k < std::size(kZoomItems); ++k) {
    if (control == kZoomItems[k]) {
      SetZoom(k);
      return LevelBenign;
    }
  }
  return TakeNewSelection();
}

Level PrintPreview::TakeNewSelection() {
  ui::Window* w = UiWindow();
  const int control = w->Field();
  int32_t pages = PageCount();
  switch (control) {
    case W::PRTPREV_CURRENTPAGE: {
      int32_t page = w->Value(control);
      if (page != CurrentPage) ChoosePage(page);
      break;
    }
    case W::PRTPREV_PAGESACROSS: case W::PRTPREV_PAGESDOWN: {
      bool isAcross = control == W::PRTPREV_PAGESACROSS;
      int value = std::max(1, w->Value(control));
      int other = isAcross ? PagesDown : PagesAcross;
      while (value > 1 && value * other > pages) --value;
      (isAcross ? PagesAcross : PagesDown) = static_cast<uint16_t>(value);
      int32_t screen = PagesAcross * PagesDown;
      while (FirstPage > 1 && FirstPage + screen - 1 > pages) --FirstPage;
      Redraw();
      break;
    }
    case W::PRTPREV_ZOOMLIST: {
      int row = w->Value(control);
      if (row >= 1 && static_cast<size_t>(row - 1) != ZoomIndex) SetZoom(static_cast<size_t>(row - 1));
      break;
    }
    default:
      break;
  }
  return LevelBenign;
}

Level PrintPreview::TakeFieldEvent() {
  ui::Window* w = UiWindow();
  if (w->EventNow() == ui::EventKind::MouseDown && w->Keycode() == ui::kMouseRight &&
      w->Field() == W::Pages && PopupMgr) {
    PopupMgr->Ask();
  }
  return LevelBenign;
}

Level PrintPreview::TakeWindowEvent() {
  ui::Window* w = UiWindow();
  switch (w->EventNow()) {
    case ui::EventKind::Sized: case ui::EventKind::Maximized: case ui::EventKind::Restored:
      if ((Inited & 1) && ZoomQueue[ZoomIndex].Percentile < 0) Redraw();
      break;
    case ui::EventKind::CloseWindow: case ui::EventKind::CloseDown: {
      const ui::WindowState& s = w->WindowStateNow();
      if (s.geometry.width > 0) {
        SaveSize.Set = true;
        SaveSize.XPos = static_cast<int16_t>(s.geometry.x);
        SaveSize.YPos = static_cast<int16_t>(s.geometry.y);
        SaveSize.Width = static_cast<uint16_t>(s.geometry.width);
        SaveSize.Height = static_cast<uint16_t>(s.geometry.height);
      }
      if (INIMgr) UpdateWindow(*INIMgr, kPreviewIniSection, *w);
      break;
    }
    default:
      break;
  }
  return WindowManager::TakeWindowEvent();
}

bool PrintPreview::AskPage() {
  namespace J = ids::PreviewJump;
  int32_t pages = PageCount();
  std::unique_ptr<ui::Window> d = ui::Window::Open(J::kModule, J::kWindow);
  if (!d) return false;
  d->SetRange(J::Page, 1, std::max(1, pages));
  d->SetValue(J::Page, CurrentPage);
  d->SetText(J::Page, Number(CurrentPage));
  d->Select(J::Page);
  bool ok = false;
  while (!d->Closed()) {
    const ui::Event& ev = d->Accept();
    if (ev.kind == ui::EventKind::None) break;
    if (ev.kind == ui::EventKind::CloseWindow || ev.kind == ui::EventKind::CloseDown) break;
    if (ev.kind != ui::EventKind::Accepted) continue;
    if (ev.control == J::OK) {
      int32_t page = std::clamp<int32_t>(d->Value(J::Page), 1, std::max(1, pages));
      ok = true;
      d->Close();
      if (page != CurrentPage) {
        CurrentPage = page;
        // The page spin's choice: shown already, only selected; else the screen moves.
        int32_t chosen = CurrentPage;
        CurrentPage = 0;
        ChoosePage(chosen);
      }
      break;
    }
    if (ev.control == J::Cancel) break;
  }
  return ok;
}

bool PrintPreview::AskThumbnails() {
  namespace S = ids::PreviewDisplay;
  int32_t pages = PageCount();
  std::unique_ptr<ui::Window> d = ui::Window::Open(S::kModule, S::kWindow);
  if (!d) return false;
  d->SetValue(S::Across, PagesAcross);
  d->SetText(S::Across, Number(PagesAcross));
  d->SetValue(S::Down, PagesDown);
  d->SetText(S::Down, Number(PagesDown));
  d->Select(S::Across);
  bool ok = false;
  while (!d->Closed()) {
    const ui::Event& ev = d->Accept();
    if (ev.kind == ui::EventKind::None) break;
    if (ev.kind == ui::EventKind::CloseWindow || ev.kind == ui::EventKind::CloseDown) break;
    if (ev.kind != ui::EventKind::Accepted) continue;
    if (ev.control == S::OK) {
      int across = std::max(1, d->Value(S::Across));
      int down = std::max(1, d->Value(S::Down));
      if (across * down > pages) {
        d->Select(S::Across);
        continue;
      }
      PagesAcross = static_cast<uint16_t>(across);
      PagesDown = static_cast<uint16_t>(down);
      ok = true;
      break;
    }
    if (ev.control == S::Cancel) break;
  }
  d->Close();
  if (ok) {
    CurrentPage = 1;
    FirstPage = 1;
    Redraw();
  }
  return ok;
}

void PrintPreview::SavePdf() {
  ui::report::PageRenderer* renderer = ui::report::CurrentPageRenderer();
  if (!ImageQueue) return;
  SelectFileClass select;
  select.Init();
  select.Flags = SelectFileSave;
  select.WindowTitle = "Save the Report as a PDF File";
  select.DefaultFile = "report.pdf";
  std::string path = select.Ask("PDF files|*.pdf|All files|*.*");
  if (path.empty()) return;
  if (platform::Extension(path).empty()) path += ".pdf";
  std::string why = "there is no page renderer";
  if (renderer && renderer->WritePdf(*ImageQueue, path, &why)) {
    UiWindow()->SetStatus("Saved as " + platform::Utf8ToCp1251Lossy(path), 1);
    return;
  }
  ui::MessageBoxRequest box;
  box.caption = "Report Error";
  box.text = "The report could not be saved: " + why + ".";
  box.icon = ui::Icon::Exclamation;
  ui::Messages().ShowMessage(box);
}

}  // namespace korawin::framework
