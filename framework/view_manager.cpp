#include "framework/view_manager.h"

#include "storage/field_values.h"

#include <algorithm>
#include <cstring>

#include "lang/types.h"
#include "storage/driver.h"

namespace korawin::framework {

namespace {

bool IsTextType(uint8_t type) { return lang::ResultTypeOf(type) == lang::kText; }

std::string_view Clip(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

}  // namespace

void ViewManager::Init(storage::View& view, RelationManager& primary) {
  View = &view;
  Primary = &primary;
  Opened = false;
  Order.clear();
  current_ = 0;
  filterRefused_ = false;
}

void ViewManager::Kill() {
  Close();
  if (DisposeOrder) Order.clear();
  current_ = 0;
}

const storage::FieldDescriptor* ViewManager::PrimaryField(int field) const {
  const storage::FileDescriptor& fd = PrimaryFile();
  if (field < 0 || static_cast<size_t>(field) >= fd.fields.size()) return nullptr;
  return &fd.fields[static_cast<size_t>(field)];
}

lang::Variable ViewManager::FieldVariable(int field) const {
  const storage::FieldDescriptor* f = PrimaryField(field);
  if (!f) return lang::Variable();
  return lang::Variable::Field(f->type, PrimaryFile().record + f->offset, f->size,
                               f->decimalPlaces);
}

std::string ViewManager::ComponentName(int field) const {
  const storage::FieldDescriptor* f = PrimaryField(field);
  if (!f) return {};
  bool upper = false;
  if (Order.empty()) return f->label;
  int key = CurrentOrder().MainKey;
  const storage::FileDescriptor& fd = PrimaryFile();
  if (key >= 1 && static_cast<size_t>(key) <= fd.keys.size()) {
    upper = (fd.keys[static_cast<size_t>(key) - 1].attributes & storage::kKeyNoCase) &&
            IsTextType(f->type);
  }
  return upper ? std::string("UPPER(").append(f->label).append(")") : f->label;
}

int ViewManager::AddSortOrder(int key) {
  std::unique_ptr<SortOrder> order = NewSortOrder();
  order->MainKey = key;
  Order.push_back(std::move(order));
  current_ = Order.size() - 1;
  SortOrder& o = CurrentOrder();
  const storage::FileDescriptor& fd = PrimaryFile();
  if (key >= 1 && static_cast<size_t>(key) <= fd.keys.size()) {
    for (int32_t c : fd.keys[static_cast<size_t>(key) - 1].components) {
      int field = std::abs(c) - 1;
      if (!o.Order.empty()) o.Order += ",";
      if (c < 0) o.Order += "-";
      o.Order += ComponentName(field);
      if (o.FreeElement < 0) o.FreeElement = field;
    }
  }
  return CurrentOrderNumber();
}

void ViewManager::AppendOrder(std::string_view items) {
  if (Order.empty() || items.empty()) return;
  SortOrder& o = CurrentOrder();
  if (!o.Order.empty()) o.Order += ",";
  o.Order += items;
}

namespace {

// The component that follows field in key; -1 when field is the last or not a component.
int NextComponent(const storage::FileDescriptor& fd, int key, int field) {
  if (key < 1 || static_cast<size_t>(key) > fd.keys.size()) return -1;
  const auto& comps = fd.keys[static_cast<size_t>(key) - 1].components;
  for (size_t i = 0; i < comps.size(); ++i)
    if (std::abs(comps[i]) - 1 == field) return i + 1 < comps.size() ? std::abs(comps[i + 1]) - 1 : -1;
  return -1;
}

}  // namespace

void ViewManager::AddRange(int field, const lang::Variable& value, uint8_t limit) {
  if (Order.empty()) return;
  SortOrder& o = CurrentOrder();
  o.RangeList.push_back({field, value});
  o.LimitType = limit;
  o.FreeElement = NextComponent(PrimaryFile(), o.MainKey, field);
}

void ViewManager::AddRange(int field, const lang::Variable& low, const lang::Variable& high) {
  if (Order.empty()) return;
  SortOrder& o = CurrentOrder();
  o.RangeList.push_back({field, low});
  o.RangeList.push_back({field, high});
  o.LimitType = RangePair;
  o.FreeElement = field;  // a bounded component still moves under the locator and thumb
}

bool ViewManager::SetOrder(int n) {
  if (n < 1 || static_cast<size_t>(n) > Order.size() || static_cast<size_t>(n - 1) == current_)
    return false;
  current_ = static_cast<size_t>(n - 1);
  return true;
}

void ViewManager::SetFilter(std::string_view expression, std::string_view id) {
  if (Order.empty()) return;
  std::vector<FilterEntry>& list = CurrentOrder().Filter;
  std::string key(id.substr(0, 30));
  auto it = std::lower_bound(list.begin(), list.end(), key,
                             [](const FilterEntry& e, const std::string& k) { return e.Id < k; });
  bool found = it != list.end() && it->Id == key;
  if (Clip(expression).empty()) {
    if (found) list.erase(it);
    return;
  }
  if (found) {
    it->Filter.assign(expression);
  } else {
    list.insert(it, FilterEntry{key, std::string(expression)});
  }
}

std::string ViewManager::ValueText(const lang::Variable& var, bool upper) const {
  lang::Value v = lang::ReadVariable(var, var.address);
  std::string scratch;
  if (v.type == lang::kText) {
    // Quotes inside the value are written as they are: such a value gives a text the view
    // refuses, and the list then runs unfiltered after "View Open Error".
    std::string quoted = "'";
    quoted.append(Clip(v.s)).append("'");
    return upper ? std::string("UPPER(").append(quoted).append(")") : quoted;
  }
  return std::string(lang::ValueToText(v, &scratch));
}

std::string ViewManager::FilterText() const {
  if (Order.empty()) return {};
  const SortOrder& o = CurrentOrder();
  std::string out;
  auto add = [&](const std::string& term) {
    if (!out.empty()) out += " AND ";
    out += term;
  };
  auto equality = [&](const RangeItem& r) {
    std::string name = ComponentName(r.Field);
    add(name + " = " + ValueText(r.Value, name.find("UPPER(") != std::string::npos));
  };
  switch (o.LimitType) {
    case RangeValue: case RangeFile: case RangeSingle:
      for (const RangeItem& r : o.RangeList) equality(r);
      break;
    case RangePair: {
      size_t n = o.RangeList.size();
      for (size_t i = 0; i + 2 < n; ++i) equality(o.RangeList[i]);
      if (n >= 2) {
        std::string name = ComponentName(o.RangeList[n - 2].Field);
        bool upper = name.find("UPPER(") != std::string::npos;
        add(name + " >= " + ValueText(o.RangeList[n - 2].Value, upper) + " AND " + name +
            " <= " + ValueText(o.RangeList[n - 1].Value, upper));
      }
      break;
    }
    default:
      break;
  }
  for (const FilterEntry& f : o.Filter) add(std::string("(").append(f.Filter).append(")"));
  if (out.size() > kMaxFilterText) out.resize(kMaxFilterText);
  return out;
}

int ViewManager::ViewCall(uint8_t op, storage::DriverArgs& args) {
  return storage::CallView(op, *View, args);
}

Level ViewManager::ApplyFilter() {
  filterRefused_ = false;
  if (!Opened) return LevelBenign;
  storage::DriverArgs a;
  a.number = storage::kViewPropertyFilter;
  a.text = FilterText();
  int rc = ViewCall(storage::kOpSetProperty, a);
  if (rc == 0) return LevelBenign;
  // The evaluator's own text names what is wrong with the filter.
  if (int lc = lang::ErrorCode()) storage::SetDriverError(rc, lc, lang::ErrorText());
  filterRefused_ = true;
  (void)Primary->Me->ThrowError(ViewOpenError);  // shown; the view goes on unfiltered
  storage::DriverArgs clear;
  clear.number = storage::kViewPropertyFilter;
  ViewCall(storage::kOpSetProperty, clear);
  return LevelNotify;
}

Level ViewManager::ApplyOrder() {
  if (!Opened || Order.empty()) return LevelBenign;
  storage::DriverArgs a;
  a.number = storage::kViewPropertyOrder;
  a.text = CurrentOrder().Order;
  if (ViewCall(storage::kOpSetProperty, a) == 0) return LevelBenign;
  (void)Primary->Me->ThrowError(ViewOpenError);  // shown; the view goes on unfiltered
  return LevelNotify;
}

Level ViewManager::Open() {
  if (Opened) return LevelBenign;
  if (Level l = Primary->Me->UseFile()) return l;
  storage::DriverArgs a;
  if (ViewCall(storage::kOpOpen, a) != 0) {
    (void)Primary->Me->ThrowError(ViewOpenError);  // shown; the view goes on unfiltered
    return LevelNotify;
  }
  if (PageSize > 0) {
    storage::DriverArgs b;
    b.number = PageSize;
    b.length = PagesBehind + PagesAhead;
    ViewCall(storage::kOpBuffer, b);  // the engine buffers as it sees fit
  }
  Opened = true;
  (void)ApplyOrder();  // a refused order or filter was reported; the view runs without
  (void)ApplyFilter();
  return LevelBenign;
}

void ViewManager::Close() {
  if (!Opened) return;
  storage::DriverArgs a;
  ViewCall(storage::kOpClose, a);
  Opened = false;
}

Level ViewManager::Reset() {
  if (!Opened) {
    if (Level l = Open()) return l;
  }
  storage::DriverArgs a;
  a.number = 0;
  return ViewCall(storage::kOpSetView, a) == 0 ? LevelBenign : LevelNotify;
}

namespace {

Level ReadLevel(int rc, FileManager& fm) {
  if (rc == 0) return LevelBenign;
  if (rc == storage::kErrRecordNotAvailable) return LevelNotify;
  (void)fm.ThrowError(RecordRetrievalError);  // shown; the fatal level follows
  return LevelFatal;
}

}  // namespace

Level ViewManager::Next() {
  storage::DriverArgs a;
  return ReadLevel(ViewCall(storage::kOpNext, a), *Primary->Me);
}

Level ViewManager::Previous() {
  storage::DriverArgs a;
  return ReadLevel(ViewCall(storage::kOpPrevious, a), *Primary->Me);
}

void ViewManager::CopyRangeValues() {
  if (Order.empty()) return;
  const SortOrder& o = CurrentOrder();
  size_t n = o.RangeList.size();
  if (o.LimitType == RangePair) n = n >= 2 ? n - 2 : 0;
  else if (o.LimitType == RangeNone) n = 0;
  for (size_t i = 0; i < n; ++i) {
    const RangeItem& r = o.RangeList[i];
    lang::Variable target = FieldVariable(r.Field);
    if (target.type == 0) continue;
    if (!lang::StoreVariable(target, lang::ReadVariable(r.Value, r.Value.address)) &&
        target.type == r.Value.type && target.size == r.Value.size) {
      std::memmove(const_cast<void*>(target.address), r.Value.address, target.size);
    }
  }
}

Level ViewManager::PrimeRecord(bool keep) {
  if (!keep) {
    for (int k = 0; k < View->FileCount(); ++k) {
      storage::ClearRecord(View->File(k));
    }
  }
  CopyRangeValues();
  return Primary->Me->PrimeRecord(true);
}

std::string ViewManager::Position() {
  storage::DriverArgs a;
  if (!Opened || ViewCall(storage::kOpPositionFile, a) != 0) return {};
  return std::move(a.result);
}

bool ViewManager::ResetTo(const std::string& pos) {
  storage::DriverArgs a;
  a.text = pos;
  return Opened && ViewCall(storage::kOpResetFile, a) == 0;
}

bool ViewManager::Reget(const std::string& pos) {
  storage::DriverArgs a;
  a.text = pos;
  return Opened && ViewCall(storage::kOpRegetFile, a) == 0;
}

Level ViewManager::SetFromBuffer(int items) {
  if (!Opened) {
    if (Level l = Open()) return l;
  }
  CopyRangeValues();
  storage::DriverArgs a;
  a.number = items;
  return ViewCall(storage::kOpSetView, a) == 0 ? LevelBenign : LevelNotify;
}

void ViewManager::Flush() {
  storage::DriverArgs a;
  if (Opened) ViewCall(storage::kOpFlush, a);
}

int ViewManager::FreeItems() const {
  if (Order.empty()) return 0;
  const SortOrder& o = CurrentOrder();
  const storage::FileDescriptor& fd = PrimaryFile();
  if (o.MainKey < 1 || static_cast<size_t>(o.MainKey) > fd.keys.size()) return 1;
  const auto& comps = fd.keys[static_cast<size_t>(o.MainKey) - 1].components;
  for (size_t i = 0; i < comps.size(); ++i)
    if (std::abs(comps[i]) - 1 == o.FreeElement) return static_cast<int>(i) + 1;
  return static_cast<int>(comps.size());
}

bool ViewManager::FreeVariable(lang::Variable* out) const {
  if (Order.empty() || CurrentOrder().FreeElement < 0) return false;
  *out = FieldVariable(CurrentOrder().FreeElement);
  return out->type != 0;
}

}  // namespace korawin::framework
