#include "framework/browse.h"

#include <algorithm>
#include <cstring>

#include "framework/locator.h"
#include "framework/step.h"
#include "framework/toolbar.h"
#include "framework/window_manager.h"
#include "lang/picture.h"
#include "storage/field_values.h"
#include "ui/desc/list_format.h"
#include "ui/runtime/window.h"

namespace korawin::framework {

namespace {

constexpr int kNextColumn = -2;

std::string_view Clip(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

// The bytes of a variable, for telling whether it changed.
void AppendBytes(const lang::Variable& v, std::string* out) {
  if (v.address) out->append(static_cast<const char*>(v.address), v.size);
  out->push_back('\x1F');
}

}  // namespace

BrowseClass::BrowseClass() { Popup = &ownPopup_; }

BrowseClass::~BrowseClass() = default;

ui::Window* BrowseClass::UiWindow() const { return Window ? Window->UiWindow() : nullptr; }

void BrowseClass::Init(int listControl, storage::View& view, RelationManager& primary,
                       WindowManager* window) {
  ViewManager::Init(view, primary);
  ListControl = listControl;
  Window = window;
  ListQueue.clear();
  Fields.clear();
  CurrentChoice = 0;
  Loaded = LoadPending = false;
  loadedView_.clear();
  loadedResets_.clear();
  prepared_ = false;
  thumb_ = -1;
  pictures_.clear();
  if (window) window->AddItem(*this);
  ui::Window* w = UiWindow();
  if (w && w->Has(listControl)) {
    for (const ui::ListColumn& c : w->Describe(listControl)->columns.columns)
      pictures_.push_back(c.picture);
  }
  if (Popup == &ownPopup_) ownPopup_.Init(w);
}

void BrowseClass::Kill() {
  ListQueue.clear();
  Loaded = false;
  if (Popup) Popup->Kill();
  ViewManager::Kill();
}

void BrowseClass::AddField(const lang::Variable& field, int column) {
  if (column == kNextColumn) {
    column = 0;
    for (const BrowseField& f : Fields) column = std::max(column, f.Column + 1);
  }
  Fields.push_back({field, column});
}

void BrowseClass::AddField(int primaryField, int column) {
  AddField(FieldVariable(primaryField), column);
}

bool BrowseClass::SetFormat(std::string_view listFormat) {
  ui::ListFormat format;
  if (!ui::ParseListFormat(listFormat, &format)) return false;
  pictures_.clear();
  for (const ui::ListColumn& c : format.columns) pictures_.push_back(c.picture);
  return true;
}

void BrowseClass::AddLocator(LocatorClass& locator) {
  if (!Order.empty()) CurrentSort().Locator = &locator;
}

void BrowseClass::AddResetField(const lang::Variable& field) {
  if (!Order.empty()) CurrentSort().Resets.push_back(field);
}

void BrowseClass::AddStep(StepClass& step) {
  if (!Order.empty()) CurrentSort().Thumb = &step;
}

void BrowseClass::AddToolbarTarget(ToolbarClass& toolbar, ToolbarTarget& target) {
  Toolbar = &toolbar;
  ToolbarItem = &target;
  target.Control = ListControl;
  if (auto* list = dynamic_cast<ToolbarListboxClass*>(&target)) list->Browse = this;
  toolbar.AddTarget(target);
}

int BrowseClass::PageRows() const {
  ui::Window* w = UiWindow();
  int rows = w ? w->VisibleRows(ListControl) : pageRows_;
  return std::clamp(rows, 1, 255);
}

int BrowseClass::OrderItems() const {
  if (Order.empty() || CurrentOrder().Order.empty()) return 0;
  const std::string& text = CurrentOrder().Order;
  int items = 1, depth = 0;
  for (char c : text) {
    if (c == '(') ++depth;
    else if (c == ')') --depth;
    else if (c == ',' && depth == 0) ++items;
  }
  return items;
}

// ---- Rows -------------------------------------------------------------------------------------

BrowseRow BrowseClass::MakeRow(std::string position) const {
  BrowseRow row;
  row.ViewPosition = std::move(position);
  if (row.ViewPosition.size() > 512) row.ViewPosition.resize(512);
  size_t columns = pictures_.size();
  for (const BrowseField& f : Fields) columns = std::max(columns, static_cast<size_t>(f.Column + 1));
  row.Cells.cells.resize(columns);
  std::string scratch;
  for (const BrowseField& f : Fields) {
    if (f.Column < 0) continue;
    lang::Value v = lang::ReadVariable(f.Field, f.Field.address);
    const std::string& picture =
        static_cast<size_t>(f.Column) < pictures_.size() ? pictures_[static_cast<size_t>(f.Column)]
                                                          : std::string();
    std::string& cell = row.Cells.cells[static_cast<size_t>(f.Column)];
    if (picture.empty()) {
      cell.assign(lang::ValueToText(v, &scratch));
    } else {
      lang::FormatPicture(v, picture, &cell);
    }
  }
  return row;
}

void BrowseClass::ClearPrimary() { storage::ClearRecord(PrimaryFile()); }

Level BrowseClass::UpdateBuffer() {
  if (ListQueue.empty()) return LevelNotify;
  CurrentChoice = std::clamp<int32_t>(CurrentChoice, 1, static_cast<int32_t>(ListQueue.size()));
  return Reget(ListQueue[static_cast<size_t>(CurrentChoice - 1)].ViewPosition) ? LevelBenign
                                                                                : LevelNotify;
}

// ---- Paging -----------------------------------------------------------------------------------

void BrowseClass::Fetch(uint8_t direction) {
  const bool forward = direction == FillForward;
  const bool quick = QuickScan && ItemsToFill > 1;
  if (quick) Primary->SetQuickScan(true, false);
  std::string anchor;
  bool maySkip = false;
  if (!ListQueue.empty()) {
    anchor = forward ? ListQueue.back().ViewPosition : ListQueue.front().ViewPosition;
    ResetTo(anchor);
    maySkip = true;
  }
  fillRanOut_ = false;
  const size_t full = LastItems;
  while (ItemsToFill > 0) {
    Level l = forward ? Next() : Previous();
    if (l != LevelBenign) {
      fillRanOut_ = true;
      break;
    }
    std::string pos = ViewManager::Position();
    if (maySkip) {
      maySkip = false;
      if (pos == anchor) continue;  // the row the view was repositioned on
    }
    if (ListQueue.size() >= full) {
      if (forward) ListQueue.pop_front();
      else ListQueue.pop_back();
    }
    if (forward) ListQueue.push_back(MakeRow(std::move(pos)));
    else ListQueue.push_front(MakeRow(std::move(pos)));
    --ItemsToFill;
  }
  if (quick) Primary->SetQuickScan(false, false);
}

Level BrowseClass::ResetQueue(uint8_t mode) {
  ui::Window* w = UiWindow();
  if (w && !ActiveInvisible && !w->Visible(ListControl)) {
    LoadPending = true;
    return LevelBenign;
  }
  if (!prepared_) PrepareControls();
  Loaded = true;
  LoadPending = false;
  if (w) w->SetBusy(true);
  if (!Opened) (void)Open();  // a view that cannot open was reported: the page stays empty
  LastItems = static_cast<uint8_t>(PageRows());
  if (CurrentChoice == 0) CurrentChoice = 1;

  int offset = 0;
  bool startedEmpty = false;
  std::string remembered;
  if (mode == ResetKeep) {
    if (RetainRow) offset = std::clamp<int>(CurrentChoice - 1, 0, LastItems - 1);
  } else if (!ListQueue.empty()) {
    size_t at = std::min<size_t>(static_cast<size_t>(CurrentChoice), ListQueue.size()) - 1;
    remembered = ListQueue[at].ViewPosition;
    ResetTo(ListQueue.front().ViewPosition);
  } else {
    (void)ViewManager::Reset();  // a failure was reported; the fill then finds nothing
    startedEmpty = true;
  }
  ListQueue.clear();
  ItemsToFill = LastItems - offset;
  Fetch(FillForward);
  // After a locate the record found is the one to highlight; with none at or after the value
  // the page ends the data and its last row is the nearest.
  bool nothingFound = false;
  if (mode == ResetKeep) {
    if (!ListQueue.empty()) remembered = ListQueue.front().ViewPosition;
    else nothingFound = true;
  }

  auto findRemembered = [&] {
    if (remembered.empty()) return;
    for (size_t k = 0; k < ListQueue.size(); ++k) {
      if (ListQueue[k].ViewPosition == remembered) {
        CurrentChoice = static_cast<int32_t>(k) + 1;
        return;
      }
    }
  };
  if (!AllowUnfilled) {
    int missing = LastItems - static_cast<int>(ListQueue.size());
    if (!startedEmpty && (missing > 0 || offset > 0)) {
      ItemsToFill = std::max(missing, offset);
      Fetch(FillBackward);
    }
  }
  findRemembered();
  if (RetainRow && static_cast<int>(ListQueue.size()) < LastItems && !ListQueue.empty()) {
    // Too few records above the highlight: the page fills up from below instead.
    ItemsToFill = LastItems - static_cast<int>(ListQueue.size());
    Fetch(FillForward);
    findRemembered();
  }
  while (ListQueue.size() > LastItems) ListQueue.pop_back();
  if (nothingFound) CurrentChoice = static_cast<int32_t>(ListQueue.size());
  if (CurrentChoice < 1) CurrentChoice = 1;
  if (!ListQueue.empty()) {
    if (CurrentChoice > static_cast<int32_t>(ListQueue.size()))
      CurrentChoice = static_cast<int32_t>(ListQueue.size());
    (void)UpdateBuffer();  // a record gone meanwhile leaves the buffer as it was
  } else {
    ClearPrimary();
  }
  UpdateThumb();
  UpdateWindow();
  if (w) w->SetBusy(false);
  return LevelBenign;
}

void BrowseClass::Locate(int items) {
  if (items <= 0) items = FreeItems();
  if (SetFromBuffer(items) != LevelBenign) return;
  (void)ResetQueue(ResetKeep);  // its failures are reported where they happen
}

// ---- Scrolling --------------------------------------------------------------------------------

void BrowseClass::TakeScroll(ui::EventKind kind) {
  if (ListQueue.empty()) return;
  CurrentEvent = kind;
  const int32_t rows = static_cast<int32_t>(ListQueue.size());
  switch (kind) {
    case ui::EventKind::ScrollUp:
      if (CurrentChoice > 1) {
        --CurrentChoice;
      } else {
        ItemsToFill = 1;
        Fetch(FillBackward);
      }
      break;
    case ui::EventKind::ScrollDown:
      if (CurrentChoice < rows) {
        ++CurrentChoice;
      } else {
        ItemsToFill = 1;
        Fetch(FillForward);
      }
      break;
    case ui::EventKind::PageUp:
      ItemsToFill = LastItems;
      Fetch(FillBackward);
      if (ItemsToFill > 0) CurrentChoice = std::max<int32_t>(1, CurrentChoice - ItemsToFill);
      break;
    case ui::EventKind::PageDown:
      ItemsToFill = LastItems;
      Fetch(FillForward);
      if (ItemsToFill > 0) {
        CurrentChoice = std::min<int32_t>(static_cast<int32_t>(ListQueue.size()),
                                          CurrentChoice + ItemsToFill);
      }
      break;
    case ui::EventKind::ScrollTop: case ui::EventKind::ScrollBottom: {
      const bool top = kind == ui::EventKind::ScrollTop;
      ListQueue.clear();
      (void)ViewManager::Reset();  // a failure was reported; the fill then finds nothing
      // The page is built afresh, at the height the list shows now.
      LastItems = static_cast<uint8_t>(PageRows());
      ItemsToFill = LastItems;
      // Reading back from a reset view starts at the last record.
      Fetch(top ? FillForward : FillBackward);
      CurrentChoice = top ? 1 : static_cast<int32_t>(ListQueue.size());
      // Either end is reached by construction.
      fillRanOut_ = true;
      break;
    }
    default:
      return;
  }
  (void)UpdateBuffer();  // a record gone meanwhile leaves the buffer as it was
  if (!Order.empty() && CurrentSort().Locator) CurrentSort().Locator->Reset();
  UpdateThumb();
  UpdateWindow();
  if (!Order.empty() && CurrentSort().Locator) CurrentSort().Locator->UpdateWindow();
}

void BrowseClass::UpdateThumb() {
  const size_t page = LastItems ? LastItems : static_cast<size_t>(PageRows());
  if (!HasThumb || ListQueue.size() < page) {
    thumb_ = -1;  // the scroll bar shows only while the page is full
    return;
  }
  lang::Variable free;
  if (!Order.empty() && CurrentSort().Thumb && FreeVariable(&free)) {
    std::string scratch;
    lang::Value v = lang::ReadVariable(free, free.address);
    thumb_ = CurrentSort().Thumb->GetPercentile(lang::ValueToText(v, &scratch));
    return;
  }
  thumb_ = 50;
  if (fillRanOut_) {
    const bool down = CurrentEvent == ui::EventKind::ScrollDown ||
                      CurrentEvent == ui::EventKind::PageDown ||
                      CurrentEvent == ui::EventKind::ScrollBottom;
    if (down && CurrentChoice == static_cast<int32_t>(ListQueue.size())) thumb_ = 100;
    else if (!down && CurrentChoice == 1) thumb_ = 0;
  }
}

void BrowseClass::ResetThumbLimits() {
  if (Order.empty() || !CurrentSort().Thumb) return;
  lang::Variable free;
  if (!FreeVariable(&free)) return;
  std::string scratch, first, last;
  auto value = [&] {
    lang::Value v = lang::ReadVariable(free, free.address);
    return std::string(Clip(lang::ValueToText(v, &scratch)));
  };
  if (ViewManager::Reset() == LevelBenign && Next() == LevelBenign) first = value();
  if (ViewManager::Reset() == LevelBenign && Previous() == LevelBenign) last = value();
  CurrentSort().Thumb->SetLimit(first, last);
}

void BrowseClass::TakeThumb(int position) {
  ui::Window* w = UiWindow();
  auto post = [&](ui::EventKind kind) {
    if (w) w->Post(kind, ListControl);
    else TakeScroll(kind);
  };
  if (position <= 1) return post(ui::EventKind::ScrollTop);
  if (position >= 100) return post(ui::EventKind::ScrollBottom);
  lang::Variable free;
  if (!Order.empty() && CurrentSort().Thumb && FreeVariable(&free)) {
    if (HasRows()) (void)UpdateBuffer();  // the thumb reads the free component either way
    std::string value = CurrentSort().Thumb->GetValue(position);
    lang::StoreVariable(free, lang::Value::Text(value));
    CurrentEvent = ui::EventKind::ScrollDrag;
    Locate();
    return;
  }
  if (position < 50) post(ui::EventKind::PageUp);
  else if (position > 50) post(ui::EventKind::PageDown);
}

// ---- Keys, buttons and popup ------------------------------------------------------------------

void BrowseClass::PrepareControls() {
  prepared_ = true;
  ui::Window* w = UiWindow();
  if (!w) return;
  std::vector<int> keys = w->State(ListControl).alertKeys;
  auto addKey = [&](int key) {
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
  };
  if (InsertControl) addKey(ui::KeyFromName("Insert"));
  if (ChangeControl) addKey(ui::KeyFromName("Ctrl+Enter"));
  if (DeleteControl) addKey(ui::KeyFromName("Delete"));
  w->SetAlertKeys(ListControl, keys);
  if (!Popup) return;
  Popup->SetWindow(w);
  struct Item {
    int32_t control;
    const char* text;
    const char* name;
  };
  const Item items[] = {{InsertControl, "&Insert", "!&Insert"},
                        {ChangeControl, "&Change", "!&Change"},
                        {DeleteControl, "&Delete", "!&Delete"},
                        {PrintControl, "&Print", "!&Print"},
                        {Selecting ? SelectControl : 0, "&Select", "!&Select"}};
  for (const Item& i : items) {
    if (!i.control || Popup->Has(i.name)) continue;
    Popup->AddItem(i.text, i.name);
    Popup->AddItemMimic(i.name, i.control);
  }
}

bool BrowseClass::TakeKey(int key) {
  ui::Window* w = UiWindow();
  auto press = [&](int32_t control) {
    if (!control || !w || w->Flag(control, ui::kFlagDisabled) || w->Flag(control, ui::kFlagHidden))
      return false;
    w->Post(ui::EventKind::Accepted, control);
    return true;
  };
  if (key == ui::KeyFromName("Insert") && press(InsertControl)) return true;
  if (key == ui::KeyFromName("Ctrl+Enter") && press(ChangeControl)) return true;
  if (key == ui::KeyFromName("Delete") && press(DeleteControl)) return true;
  if (Order.empty() || !CurrentSort().Locator) return false;
  LocatorClass& locator = *CurrentSort().Locator;
  if (!locator.TakeKey(key)) return false;
  CurrentEvent = ui::EventKind::AlertKey;
  Locate();
  locator.UpdateWindow();
  return true;
}

void BrowseClass::ShowPopup() {
  if (Popup) Popup->Ask();
}

// ---- Requests ---------------------------------------------------------------------------------

uint8_t BrowseClass::Ask(uint8_t request) {
  ui::Window* w = UiWindow();
  uint8_t response = 0;
  int* vcr = Window && Window->VcrRequest ? Window->VcrRequest : &ThreadVcrRequest();
  // Editing in place is not built: without an update procedure a request does nothing.
  if (!AskProcedure || !Window) return RequestCancelled;
  for (;;) {
    *vcr = VcrNone;
    if (request == InsertRecord) {
      (void)PrimeRecord(false);  // a failed numbering was reported; the form shows the record
    } else {
      if (UpdateBuffer() != LevelBenign) return RequestCancelled;
      // Another station's change since this read surfaces when the form saves.
      (void)Primary->Me->Watch();  // unwatched, the save still runs, only without the 89 guard
    }
    GlobalRequest = request;
    response = Window->RunProcedure(AskProcedure, request);
    ResetFromAnswer(request, response);
    const int pending = *vcr;
    if (pending == VcrNone) break;
    if (pending == VcrInsert) {
      request = InsertRecord;
    } else {
      TakeNavigation(pending);
      if (request == InsertRecord) request = ChangeRecord;
    }
  }
  UpdateWindow();
  if (w) w->Select(ListControl);
  return response;
}

void BrowseClass::ResetFromAnswer(uint8_t request, uint8_t response) {
  if (response != RequestCompleted) {
    (void)ResetQueue(ResetReload);  // its failures are reported where they happen
    return;
  }
  Flush();
  if (request == DeleteRecord) {
    if (!ListQueue.empty()) {
      size_t at = std::clamp<size_t>(static_cast<size_t>(std::max(CurrentChoice, 1)), 1,
                                     ListQueue.size()) - 1;
      ListQueue.erase(ListQueue.begin() + static_cast<std::ptrdiff_t>(at));
    }
    (void)ResetQueue(ResetReload);  // its failures are reported where they happen
    return;
  }
  // The record saved is in the buffer: the page fills around it by its whole key.
  CurrentEvent = ui::EventKind::Locate;
  Locate(std::max(OrderItems(), 1));
}

void BrowseClass::TakeNavigation(int vcr) {
  switch (vcr) {
    case VcrForward: TakeScroll(ui::EventKind::ScrollDown); break;
    case VcrBackward: TakeScroll(ui::EventKind::ScrollUp); break;
    case VcrPageForward: TakeScroll(ui::EventKind::PageDown); break;
    case VcrPageBackward: TakeScroll(ui::EventKind::PageUp); break;
    case VcrFirst: TakeScroll(ui::EventKind::ScrollTop); break;
    case VcrLast: TakeScroll(ui::EventKind::ScrollBottom); break;
    default: break;
  }
}

// ---- Reloads ----------------------------------------------------------------------------------

std::string BrowseClass::ViewState() {
  return std::to_string(CurrentOrderNumber()) + '\x1E' + FilterText();
}

std::string BrowseClass::ResetState() {
  std::string state;
  if (!Order.empty())
    for (const lang::Variable& v : CurrentSort().Resets) AppendBytes(v, &state);
  return state;
}

bool BrowseClass::NeedRefresh() {
  if (Order.empty()) return false;
  ui::Window* w = UiWindow();
  if (w && !ActiveInvisible && !w->Visible(ListControl)) return false;
  if (!Loaded || LoadPending) return true;
  if (PageRows() != LastItems) return true;
  return ViewState() != loadedView_ || ResetState() != loadedResets_;
}

bool BrowseClass::SetSort(int n) {
  if (!SetOrder(n)) return false;
  ResetSort(false);
  return true;
}

void BrowseClass::ResetSort(bool force) {
  if (Order.empty()) return;
  ui::Window* w = UiWindow();
  if (w && !ActiveInvisible && !w->Visible(ListControl)) {
    LoadPending = true;
    return;
  }
  std::string state = ViewState();
  const bool fresh = !Loaded || state != loadedView_;
  if (fresh) {
    if (!Opened) {
      if (Open() != LevelBenign) {
        // Reported; the list stays empty rather than asking again at every event.
        loadedView_ = state;
        loadedResets_ = ResetState();
        Loaded = true;
        LoadPending = false;
        ListQueue.clear();
        UpdateWindow();
        return;
      }
    } else {
      (void)ApplyOrder();  // a refused order or filter was reported; the view runs without
      (void)ApplyFilter();
    }
    // The view may have refused the filter; what it runs with now is what was loaded.
    loadedView_ = state;
    ResetThumbLimits();
    if (!Loaded && StartAtCurrent) {
      Locate();
    } else {
      ListQueue.clear();
      CurrentChoice = 1;
      (void)ResetQueue(ResetReload);  // its failures are reported where they happen
    }
    loadedResets_ = ResetState();
    return;
  }
  // A reset field that changed reloads the page around the highlighted row: the view is the
  // same, so the list stays where it is.
  if (force || LoadPending || PageRows() != LastItems || ResetState() != loadedResets_) {
    (void)ResetQueue(ResetReload);  // its failures are reported where they happen
    loadedResets_ = ResetState();
  }
}

// ---- Events -----------------------------------------------------------------------------------

void BrowseClass::TakeEvent() {
  ui::Window* w = UiWindow();
  if (!w) return;
  const ui::Event& ev = w->CurrentEvent();
  if (ev.control == ListControl && ListControl) {
    switch (ev.kind) {
      case ui::EventKind::ScrollUp: case ui::EventKind::ScrollDown:
      case ui::EventKind::PageUp: case ui::EventKind::PageDown:
      case ui::EventKind::ScrollTop: case ui::EventKind::ScrollBottom:
        TakeScroll(ev.kind);
        return;
      case ui::EventKind::ScrollDrag:
        TakeThumb(ev.value);
        return;
      case ui::EventKind::AlertKey:
        TakeKey(ev.key);
        return;
      case ui::EventKind::NewSelection:
        CurrentChoice = w->Value(ListControl);
        CurrentEvent = ev.kind;
        (void)UpdateBuffer();  // a record gone meanwhile leaves the buffer as it was
        UpdateThumb();
        UpdateWindow();
        return;
      case ui::EventKind::MouseDown:
        if (ev.key == ui::kMouseRight) ShowPopup();
        return;
      case ui::EventKind::Accepted:
        // A double click: choose the record when selecting, else change it.
        if (Selecting && SelectControl) w->Post(ui::EventKind::Accepted, SelectControl);
        else if (ChangeControl && !w->Flag(ChangeControl, ui::kFlagDisabled))
          w->Post(ui::EventKind::Accepted, ChangeControl);
        return;
      default:
        return;
    }
  }
  if (ev.kind == ui::EventKind::Accepted && ev.control) {
    if (ev.control == InsertControl) Ask(InsertRecord);
    else if (ev.control == ChangeControl) Ask(ChangeRecord);
    else if (ev.control == DeleteControl) Ask(DeleteRecord);
    else if (ev.control == SelectControl && Window) Window->SetResponse(RequestCompleted);
    else if (ev.control == PrintControl && Window && PrintProcedure) {
      (void)UpdateBuffer();  // the print procedure reads whatever record is current
      Window->RunProcedure(PrintProcedure, 0);
    }
    return;
  }
  if ((ev.kind == ui::EventKind::CloseWindow || ev.kind == ui::EventKind::CloseDown) && Selecting &&
      Window && Window->Response == RequestCompleted) {
    (void)UpdateBuffer();  // the caller receives the record chosen (or the buffer as it was)
  }
}

void BrowseClass::UpdateWindow() {
  ui::Window* w = UiWindow();
  if (!w || !ListControl) return;
  std::vector<ui::ListRow> rows;
  rows.reserve(ListQueue.size());
  for (const BrowseRow& r : ListQueue) rows.push_back(r.Cells);
  w->SetRows(ListControl, std::move(rows));
  w->SetValue(ListControl, ListQueue.empty() ? 0 : CurrentChoice);
  w->SetThumb(ListControl, thumb_);
}

}  // namespace korawin::framework
