// The text viewer: any text file shown line by line in a list of a window, with a popup menu
// (right mouse button) to find text, print a range of lines, move to the top, a page up or
// down, the bottom, or a line number. It reads the file through the text-file driver and never
// changes it. Four classes work together: the file side (the line index, built as far as it is
// needed), the search side, the print side and the viewer that drives the list.
//
// Files are read as Windows-1251, or as UTF-8 when the whole file is valid UTF-8 (a leading
// byte-order mark is passed over); lines end with LF or CR LF. Lines reach the window in
// Windows-1251, a character the code page lacks as "?".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/error_manager.h"
#include "framework/popup.h"
#include "storage/driver.h"

namespace korawin::ui {
class Window;
}

namespace korawin::framework {

class INIClass;

// One line of the index: where it starts in the file and the bytes it takes (terminator
// included).
struct AsciiIndexEntry {
  int64_t Offset = 0;  // from 0
  uint16_t Length = 0;
};

// The characters of a line the viewer shows and prints.
inline constexpr size_t kAsciiLineWidth = 255;

class AsciiFileClass {
 public:
  AsciiFileClass();
  ~AsciiFileClass();
  AsciiFileClass(const AsciiFileClass&) = delete;
  AsciiFileClass& operator=(const AsciiFileClass&) = delete;

  // Opens *fileName (the file system's own encoding); when it is blank the user chooses one
  // first with the open dialog, and *fileName takes the choice. False, after FileLoadError
  // through errors, when the file cannot be opened, or when the user cancelled the dialog.
  bool Init(std::string* fileName, ErrorClass* errors);
  // Closes the file.
  void Kill();
  // Closes any file open before and opens another, as Init.
  bool OpenFile(std::string* fileName);
  bool IsOpen() const { return open_; }

  // Line n (from 1) in Windows-1251, without its terminator and trailing blanks; false when
  // the file has fewer lines.
  bool GetLine(int64_t n, std::string* out);
  // Indexes the file until it knows n lines or it ends; returns the lines known.
  int64_t IndexTo(int64_t n);
  // The number of lines: indexes the whole file.
  int64_t LinesInFile();
  // Lines known so far, and whether the whole file is indexed.
  int64_t LinesKnown() const { return static_cast<int64_t>(IndexQueue.size()); }
  bool FullyIndexed() const { return atEnd_; }
  bool Utf8() const { return utf8_; }
  const std::string& Name() const { return name_; }

  // Fields, in the order of the design.
  storage::FileDescriptor* AsciiFile = nullptr;
  std::string* Line = nullptr;  // the line buffer
  ErrorClass* ErrorMgr = nullptr;
  std::vector<AsciiIndexEntry> IndexQueue;
  int64_t FileSize = 0;

 private:
  bool Open(const std::string& name);
  void Close();
  std::unique_ptr<storage::FileDescriptor> fd_;
  std::vector<char> record_;
  std::string line_;
  std::string name_;
  bool open_ = false;
  bool utf8_ = false;
  bool atEnd_ = false;
  int64_t next_ = 0;  // where indexing goes on, from 0
};

// True when text is valid UTF-8 (ASCII included).
bool IsValidUtf8(std::string_view text);

class AsciiViewer;

class AsciiSearchClass {
 public:
  void Init(AsciiFileClass& file) { FileMgr = &file; }
  // The find dialog over the viewer; each "&Next" finds and shows the next match.
  void Ask(AsciiViewer& viewer);
  // The next line after (Down) or before (Up) LineCounter that holds Find's text; 0 when none.
  // A blank text or LineCounter 0 finds nothing.
  int64_t Next();

  // Fields, in the order of the design.
  AsciiFileClass* FileMgr = nullptr;
  struct {
    std::string What;        // at most 32 characters, Windows-1251
    uint8_t MatchCase = 0;
    std::string Direction = "Down";  // "Up" or "Down"
  } Find;
  int64_t LineCounter = 0;
  void* Translator = nullptr;
};

class AsciiPrintClass {
 public:
  void Init(AsciiFileClass& file) { FileMgr = &file; }
  // The print options dialog; prints the range the user chose (selected: the line selected in
  // the viewer, 0 when none). The INI store places the preview.
  void Ask(int64_t selected);
  // Prints lines first to last through the report P42$REPORT, previewed first when
  // PrintPreview is set. False when nothing went to the printer.
  bool PrintLines(int64_t first, int64_t last);

  // Fields, in the order of the design.
  AsciiFileClass* FileMgr = nullptr;
  void* Translator = nullptr;
  uint8_t PrintPreview = 1;
  // Beyond the design: "Print Setup..." makes the print dialog show before printing.
  bool AskPrinter = false;
  INIClass* INIMgr = nullptr;
};

// Features of a viewer.
enum AsciiFeatures : uint32_t { AsciiSearch = 1, AsciiPrint = 2 };

class AsciiViewer {
 public:
  AsciiViewer();
  ~AsciiViewer();
  AsciiViewer(const AsciiViewer&) = delete;
  AsciiViewer& operator=(const AsciiViewer&) = delete;

  // Over list control listBox of window: opens *fileName (asking for it when blank), saves the
  // list's properties and builds the popup. False when no file is open: the window closes.
  bool Init(ui::Window& window, int32_t listBox, std::string* fileName, ErrorClass& errors,
            uint32_t features = AsciiSearch | AsciiPrint);
  // Puts the list's properties back and closes the file.
  void Kill();
  // Handles the window's current event when it concerns the list (scrolling, keys, the
  // mouse, the popup) or the window's size; true when it did.
  bool TakeEvent();

  // Shows the page from line top (from 1), kept within the file.
  void SetTop(int64_t top);
  // Selects line n and moves the page so that it shows.
  void SelectLine(int64_t n);
  // The line selected (from 1), 0 when none.
  int64_t Selected() const { return selected_; }
  // Shows the page again from TopLine.
  void Display();
  // Moves to the first or last page, a page up or down.
  void Top();
  void Bottom();
  void PageUp();
  void PageDown();
  // The goto dialog.
  void AskGoto();
  // Opens another file, chosen with the open dialog.
  void AskOpen();

  AsciiFileClass& File() { return file_; }
  ui::Window* Window() const { return window_; }

  // Fields, in the order of the design.
  std::vector<std::string>* DisplayQueue = nullptr;
  struct {
    uint8_t ImmState = 0;
    uint8_t HScrollState = 0;
    int32_t HScrollPos = 0;
    uint8_t VScrollState = 0;
    int32_t VScrollPos = 0;
  } LBPreserve;
  int32_t ListBox = 0;
  int32_t ListBoxItems = 0;
  int64_t TopLine = 1;
  PopupClass* Popup = nullptr;
  AsciiSearchClass* Searcher = nullptr;
  void* Translator = nullptr;
  AsciiPrintClass* Printer = nullptr;

 private:
  void ShowPopup();
  void UpdateThumb();
  ui::Window* window_ = nullptr;
  AsciiFileClass file_;
  AsciiSearchClass search_;
  AsciiPrintClass print_;
  PopupClass popup_;
  std::vector<std::string> shown_;
  int64_t selected_ = 0;
  std::string* fileName_ = nullptr;
};

}  // namespace korawin::framework
