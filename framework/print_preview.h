// The print preview: shows a report's laid-out pages, PagesAcross by PagesDown at a time at a
// zoom of the zoom table, lets the user move through them, and ends with whether the user chose
// to print. The pages are drawn into image files by the installed page renderer, one file for
// each screenful shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/popup.h"
#include "framework/window_manager.h"
#include "ui/report/page.h"

namespace korawin::framework {

class INIClass;

// One row of the zoom table.
struct ZoomEntry {
  int16_t Percentile = 0;  // -2 tile pages, -1 page width, else the percentage
  std::string MenuText;
  std::string StatusText;
};

// The zoom rows, in the order of the table.
const std::vector<ZoomEntry>& StandardZooms();
inline constexpr int16_t kZoomTile = -2;
inline constexpr int16_t kZoomPageWidth = -1;

// The INI section of the preview window's place.
inline constexpr std::string_view kPreviewIniSection = "_PreviewWindow_";

// A page image of the screen as it is shown.
struct PreviewImage {
  double AspectRatio = 0;
  int32_t ImageFEQ = 0;
  int32_t BorderFEQ = 0;
  int32_t ImageWidth = 0, ImageHeight = 0;  // pixels
  int32_t XPos = 0, YPos = 0, Width = 0, Height = 0;
  std::string FileName;
  bool CentreOnX = true, CentreOnY = true;
  int32_t Neighbour = 0;
  int32_t PageNo = 0;  // the first page it shows
  int16_t ZoomState = 0;
};

class PrintPreview : public WindowManager {
 public:
  PrintPreview();
  ~PrintPreview() override;

  // The pages to show (the report manager hands over its kept pages).
  void SetPages(const ui::report::Document* pages) { ImageQueue = pages; }
  // Places the window as section "_PreviewWindow_" of ini remembers it, and remembers it there.
  void SetINIManager(INIClass* ini) { INIMgr = ini; }

  // Shows the pages from firstPage, across by down at a time, at zoom (a percentage, or
  // kZoomTile, kZoomPageWidth); returns PrintOK: 1 when the user chose to print, 0 when the
  // user left without printing.
  uint8_t Display(int16_t zoom, int32_t firstPage, uint16_t across, uint16_t down);
  // The same from page 1, one page, at InitZoom.
  uint8_t Display();
  // The jump and display dialogs; true when the user chose OK.
  bool AskPage();
  bool AskThumbnails();

  Level Init() override;
  Level Kill() override;
  void Open() override;
  Level TakeAccepted() override;
  Level TakeNewSelection() override;
  Level TakeWindowEvent() override;
  Level TakeFieldEvent() override;

  // Fields, in the order of the design.
  bool AllowUserZoom = true;
  int32_t CurrentPage = 1;
  int32_t FirstPage = 1;
  const ui::report::Document* ImageQueue = nullptr;
  INIClass* INIMgr = nullptr;
  int16_t InitZoom = kZoomPageWidth;
  bool Maximize = false;
  void* PageManager = nullptr;  // the page renderer draws the pages
  uint16_t PagesAcross = 1;
  uint16_t PagesDown = 1;
  PopupClass* PopupMgr = nullptr;
  ui::Window* PreviewWindow = nullptr;
  uint8_t PrintOK = 0;
  struct {
    bool Set = false;
    int16_t XPos = 0, YPos = 0;
    uint16_t Width = 0, Height = 0;
  } SaveSize;
  uint16_t ThumbnailsPresent = 0;
  uint16_t UserPercentile = 0;  // a zoom of the user's own; 0: none
  bool WindowPosSet = false;
  bool WindowSizeSet = false;
  int16_t WinHeight = 0, WinWidth = 0, WinXPos = 0, WinYPos = 0;
  std::vector<ZoomEntry> ZoomQueue;
  uint8_t ZoomIndex = 0;  // row of ZoomQueue in force, from 0
  std::string ZoomList;   // its menu text (16 characters)

  // The image shown now (for tests and the status bar).
  const PreviewImage& Shown() const { return shown_; }

 protected:
  // The number of pages.
  int32_t PageCount() const;
  // A choice of page: shown already, it is only selected; else it becomes the first one shown.
  void ChoosePage(int32_t page);
  // Draws the pages of the screen and shows them.
  void Redraw();
  void SetZoom(size_t index);
  // A zoom of the user's own (a percentage): its row follows the table's.
  void SetUserZoom(uint16_t percent);
  void ShowStatus();
  void SavePdf();

 private:
  void PlaceWindow();
  void FillZoomList();
  double ImageDpi(int pageWidth, int pageHeight, double gridWidth, double gridHeight) const;
  std::string NewImageName();
  int16_t startZoom_ = 0;
  double lastDpi_ = 96;
  PopupClass ownPopup_;
  PreviewImage shown_;
  std::string folder_;  // the image files
  int images_ = 0;
};

}  // namespace korawin::framework
