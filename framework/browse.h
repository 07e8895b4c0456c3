// The browse list: a view manager shown in a list control. It keeps exactly one page of rows
// (ListQueue), scrolls by reading records at one end and dropping rows at the other, reloads
// the page around the current row after a change, positions by the thumb through a step
// object and by a locator, and passes insert, change and delete requests to its update
// procedure.
//
// Everything here runs on the procedure's thread under the runtime lock: the view engine is
// read here, and the GUI thread only receives the formatted rows to paint.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "framework/popup.h"
#include "framework/view_manager.h"
#include "lang/types.h"
#include "ui/runtime/event.h"
#include "ui/runtime/state.h"

namespace korawin::ui {
class Window;
}

namespace korawin::framework {

class LocatorClass;
class StepClass;
class ToolbarClass;
class ToolbarTarget;
class WindowManager;

// Fetch directions.
enum FillDirection : uint8_t { FillBackward = 1, FillForward = 2 };
// ResetQueue modes: reload the page around the highlighted row, or fill it from where the
// view now stands (after a locate).
enum ResetMode : uint8_t { ResetReload = 1, ResetKeep = 2 };

// One row of the page: the cells as the list shows them and the view position of its record.
struct BrowseRow {
  ui::ListRow Cells;
  std::string ViewPosition;  // at most 512 bytes
};

// A record field copied into the rows: into list column Column (from 0), or hidden (-1).
struct BrowseField {
  lang::Variable Field;
  int Column = -1;
};

// A sort order of a browse: an order entry with its locator, reset fields and step object.
struct BrowseSortOrder : SortOrder {
  LocatorClass* Locator = nullptr;
  std::vector<lang::Variable> Resets;
  StepClass* Thumb = nullptr;
};

class BrowseClass : public ViewManager {
 public:
  BrowseClass();
  ~BrowseClass() override;

  // Shows the view over primary in list control listControl of window's window, and joins
  // window's browses. window may be nullptr: the browse then keeps its page without showing
  // it (SetPageRows gives its height).
  void Init(int listControl, storage::View& view, RelationManager& primary,
            WindowManager* window);
  void Kill() override;

  // Copies field into the next list column (or into column; -1 keeps it hidden).
  void AddField(const lang::Variable& field, int column = -2);
  // The primary record's field (index from 0) in the next column.
  void AddField(int primaryField, int column = -2);
  // Column pictures taken from a list format ("80L(2)@s20@..."), for a browse without window.
  bool SetFormat(std::string_view listFormat);
  // The current sort order's locator, reset field and step object.
  void AddLocator(LocatorClass& locator);
  void AddResetField(const lang::Variable& field);
  void AddStep(StepClass& step);
  // The toolbar and its list target serving this browse.
  void AddToolbarTarget(ToolbarClass& toolbar, ToolbarTarget& target);

  // Rows of the page when no window shows it.
  void SetPageRows(int rows) { pageRows_ = rows > 0 ? rows : 1; }
  // Rows the page holds at most: what the list control shows.
  int PageRows() const;

  // Reloads the page (ResetReload) or fills it from the view's position (ResetKeep). Every
  // reload of the browse comes through here, so a list can add what it shows beside the page.
  virtual Level ResetQueue(uint8_t mode);
  // Reads ItemsToFill records on (FillForward) or back (FillBackward) into the page.
  void Fetch(uint8_t direction);
  // Makes the highlighted row's record current; 5 when the page is empty or it is gone.
  Level UpdateBuffer();
  // Scroll events: ScrollUp, ScrollDown, PageUp, PageDown, ScrollTop, ScrollBottom.
  void TakeScroll(ui::EventKind kind);
  // A thumb dragged to position (0 to 100).
  void TakeThumb(int position);
  // A key pressed in the list: alert keys and the locator. True when taken.
  bool TakeKey(int key);
  // Fills the page around the record whose key values the buffer holds: the first items
  // order items (0: up to the free component).
  void Locate(int items = 0);
  // Runs the update procedure for request and resets the list from its answer; returns the
  // response.
  uint8_t Ask(uint8_t request);
  // Makes sort order n current and reloads when it changed.
  bool SetSort(int n);
  // Reloads when the order, range, filter or a reset field changed since the last load, when
  // the page height changed or a deferred load can run now; always when force.
  void ResetSort(bool force);
  // True when ResetSort would reload.
  bool NeedRefresh();
  // Handles the current event of the window (the window manager passes every event on).
  void TakeEvent();
  // Sends the page, the highlight and the thumb to the list control.
  void UpdateWindow();

  // The page.
  const std::deque<BrowseRow>& Rows() const { return ListQueue; }
  bool HasRows() const { return !ListQueue.empty(); }
  ui::Window* UiWindow() const;
  BrowseSortOrder& CurrentSort() { return static_cast<BrowseSortOrder&>(CurrentOrder()); }
  // The thumb last sent (0 to 100; -1: no scroll bar).
  int Thumb() const { return thumb_; }
  // The number of items of the current order text.
  int OrderItems() const;

  // Fields, in the order of the design.
  bool ActiveInvisible = false;
  bool AllowUnfilled = false;
  uint8_t ArrowAction = 0;
  uint16_t AskProcedure = 0;
  int32_t ChangeControl = 0;
  int32_t CurrentChoice = 0;
  ui::EventKind CurrentEvent = ui::EventKind::None;
  int32_t DeleteControl = 0;
  void* EditList = nullptr;  // edit in place is not built: requests need AskProcedure
  uint8_t EnterAction = 0;
  std::vector<BrowseField> Fields;
  uint8_t FocusLossAction = 0;
  bool HasThumb = true;
  bool HideSelect = false;
  int32_t InsertControl = 0;
  int32_t ItemsToFill = 0;
  int32_t LastChoice = 0;
  uint8_t LastItems = 0;
  int32_t ListControl = 0;
  std::deque<BrowseRow> ListQueue;
  bool Loaded = false;
  bool LoadPending = false;
  bool RetainRow = false;
  int32_t PrintControl = 0;
  uint16_t PrintProcedure = 0;
  PopupClass* Popup = nullptr;
  bool QuickScan = true;
  uint8_t RecordStatus = 0;
  int32_t SelectControl = 0;
  bool Selecting = false;
  bool StartAtCurrent = false;
  uint8_t TabAction = 0;
  ToolbarClass* Toolbar = nullptr;
  ToolbarTarget* ToolbarItem = nullptr;
  WindowManager* Window = nullptr;

 protected:
  std::unique_ptr<SortOrder> NewSortOrder() override {
    return std::make_unique<BrowseSortOrder>();
  }
  // Formats the record in the buffers into a row.
  BrowseRow MakeRow(std::string position) const;
  // Sets the thumb after a load or a scroll.
  void UpdateThumb();
  // Reads the first and last values of the free component for the step object.
  void ResetThumbLimits();
  // The alert keys and popup items of the buttons the browse has.
  void PrepareControls();
  void ClearPrimary();
  void ResetFromAnswer(uint8_t request, uint8_t response);
  void TakeNavigation(int vcr);
  void ShowPopup();
  // What the reload decision compares: the view (order and filter text), which starts the
  // list afresh when it changes, and the reset fields, which reload it where it stands.
  std::string ViewState();
  std::string ResetState();

 private:
  int pageRows_ = 10;
  int thumb_ = -1;
  bool fillRanOut_ = false;
  std::string loadedView_;
  std::string loadedResets_;
  bool prepared_ = false;
  std::vector<std::string> pictures_;  // per column
  PopupClass ownPopup_;
};

}  // namespace korawin::framework
