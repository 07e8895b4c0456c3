// The view manager: drives one view over a primary file. It keeps the sort orders, each with
// its key, its range limits and its named filters, composes them into the one filter text the
// view evaluates per record, opens the view and primes new records with the range values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/relation_manager.h"
#include "lang/types.h"
#include "storage/view/view.h"

namespace korawin::framework {

// The id of an order's standard filter.
inline constexpr std::string_view kStandardFilter = "5 Standard";
// The longest filter text handed to the view.
inline constexpr size_t kMaxFilterText = 5000;

// Kinds of range limit (LimitType).
enum RangeLimit : uint8_t {
  RangeNone = 0,
  RangeValue = 1,   // each pair an equality with a variable
  RangeFile = 2,    // each pair an equality with a field of a related file
  RangePair = 3,    // the last two pairs are the low and high bound of one component
  RangeSingle = 4,  // an equality, written as 1
};

struct FilterEntry {
  std::string Id;      // at most 30 characters
  std::string Filter;  // the expression
};

// A key component of the primary file (field index from 0) and the variable holding its value.
struct RangeItem {
  int Field = -1;
  lang::Variable Value;
};

// One sort order.
struct SortOrder {
  virtual ~SortOrder() = default;
  std::vector<FilterEntry> Filter;  // sorted by Id
  int FreeElement = -1;  // field index of the first component the range leaves free; -1: none
  uint8_t LimitType = RangeNone;
  int MainKey = 0;       // key number (from 1) of the primary file; 0: the view's own order
  std::string Order;     // order text of the view
  std::vector<RangeItem> RangeList;
};

class ViewManager {
 public:
  ViewManager() = default;
  ViewManager(const ViewManager&) = delete;
  ViewManager& operator=(const ViewManager&) = delete;
  virtual ~ViewManager() = default;

  // Binds the manager to a declared view whose primary file is primary's.
  void Init(storage::View& view, RelationManager& primary);
  // Closes the view and drops the orders.
  virtual void Kill();

  // Declares an order along key (from 1; 0 keeps the view's own order) whose text lists the
  // key's components ("-" for descending ones, UPPER() on a case-insensitive key). The new
  // order becomes current; returns its number from 1.
  int AddSortOrder(int key = 0);
  // Appends order items ("SLO:I_VERB") to the current order's text.
  void AppendOrder(std::string_view items);
  // Fixes the current order's next key component (field index from 0) to the value of value.
  void AddRange(int field, const lang::Variable& value, uint8_t limit = RangeValue);
  // Bounds the component field between low and high.
  void AddRange(int field, const lang::Variable& low, const lang::Variable& high);
  // Makes order n (from 1) current; false when there is no such order or it already was.
  bool SetOrder(int n);
  SortOrder& CurrentOrder() { return *Order[current_]; }
  const SortOrder& CurrentOrder() const { return *Order[current_]; }
  int CurrentOrderNumber() const { return static_cast<int>(current_) + 1; }

  // Replaces the filter id of the current order; a blank expression removes it.
  void SetFilter(std::string_view expression, std::string_view id = kStandardFilter);
  // The range terms and filters of the current order as one text (at most 5000 characters).
  std::string FilterText() const;
  // Sets the composed text as the view's filter. A text the view refuses is reported as
  // "View Open Error" and the view runs unfiltered; the result is then 5.
  Level ApplyFilter();
  // Sets the current order's text as the view's order.
  Level ApplyOrder();
  // True when the last ApplyFilter was refused.
  bool FilterRefused() const { return filterRefused_; }

  // Makes the view's files usable and opens the view, applying order and filter.
  virtual Level Open();
  // Closes the view.
  void Close();
  // Opens the view when needed and positions it at the start of the current order.
  virtual Level Reset();
  // Reads the next (previous) record: 0, 5 at the end, 3 after a read error (reported).
  virtual Level Next();
  virtual Level Previous();
  // Clears the view's records (unless keep), puts the range values into their components and
  // primes the primary record (defaults, automatic number).
  virtual Level PrimeRecord(bool keep = false);

  // The position text of the view's current record; empty when there is none.
  std::string Position();
  // The next read starts at the record of pos (NEXT and PREVIOUS yield it first).
  bool ResetTo(const std::string& pos);
  // Reads the record of pos again into the record buffers.
  bool Reget(const std::string& pos);
  // The next NEXT yields the first record not before the values that the first items order
  // items hold in the buffers now; the range components take their range values first.
  Level SetFromBuffer(int items);
  // Discards the view's read-ahead so that the next read sees the files as they are.
  void Flush();
  // The name of a component in range and order texts: the field's label, in UPPER() on a
  // case-insensitive key.
  std::string ComponentName(int field) const;
  // The number of order items up to and including the free component (the locate depth).
  int FreeItems() const;
  // The free component of the current order as a variable of the primary's record buffer.
  bool FreeVariable(lang::Variable* out) const;

  // Fields, in the order of the design.
  bool DisposeOrder = true;
  bool Opened = false;
  std::vector<std::unique_ptr<SortOrder>> Order;
  uint16_t PagesAhead = 0;
  uint16_t PagesBehind = 0;
  uint16_t PageSize = 0;   // 0: the view engine's own buffering
  RelationManager* Primary = nullptr;
  uint16_t Timeout = 0;
  storage::View* View = nullptr;

 protected:
  // A fresh order entry; a browse makes entries that carry its locator and thumb.
  virtual std::unique_ptr<SortOrder> NewSortOrder() { return std::make_unique<SortOrder>(); }
  storage::FileDescriptor& PrimaryFile() const { return *Primary->Me->File; }
  // The field descriptor of a field index of the primary file; nullptr when out of range.
  const storage::FieldDescriptor* PrimaryField(int field) const;
  lang::Variable FieldVariable(int field) const;
  // Puts the range values of the current order into their components.
  void CopyRangeValues();
  int ViewCall(uint8_t op, storage::DriverArgs& args);

 private:
  std::string ValueText(const lang::Variable& var, bool upper) const;
  size_t current_ = 0;
  bool filterRefused_ = false;
};

}  // namespace korawin::framework
