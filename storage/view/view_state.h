// The working state of an open view: order and filter, the read pipeline (access along a key
// or in record order, joins materialised per enclosing record, filter, in-memory order), the
// pending start of the sequence and the current record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lang/expression.h"
#include "storage/driver.h"
#include "storage/view/view.h"
#include "storage/view/view_fields.h"

namespace korawin::storage {

class ViewState {
 public:
  explicit ViewState(View& view);
  ViewState(const ViewState&) = delete;
  ViewState& operator=(const ViewState&) = delete;

  Code SetProperty(const DriverArgs& args);
  Code SetView(int64_t items);
  Code ResetViewFile(int64_t index);
  Code Step(bool forward);
  Code Skip(int64_t count);
  Code Position(std::string* out);
  Code Reget(std::string_view position);
  Code Reset(std::string_view position);
  Code Records(int64_t* out);
  void Watch() { watch_ = true; }
  Code Flush();
  // PUT, DELETE, HOLD and RELEASE on the primary file's current record.
  Code ApplyToPrimary(uint8_t op, DriverArgs& args);

 private:
  enum class Path { kRecord, kKey, kSorted };
  enum class Start {
    kNone,     // go on from the current record
    kSet,      // SETview with setCount_ items
    kReset,    // RESET to a position: both directions yield that record first
    kResume,   // back onto the current record after a rebuild: the next read leaves it
    kAtEnd,    // past one end (endForward_): that direction gives 33, the other starts over
    kBetween,  // sorted rows: NEXT yields betweenNext_, PREVIOUS the row before it
  };

  struct JoinStage {
    const ViewJoin* decl = nullptr;
    FileDescriptor* file = nullptr;
    int parent = 0;                // file number of the enclosing file in the view
    std::vector<int> children;     // join numbers of the nested joins
    std::unique_ptr<lang::Expression> expression;
    size_t slot = 0;               // bytes of one stored record with its memos
    std::string arena;             // records of the current expansion
    std::vector<std::string> positions;
    size_t count = 0;
  };

  Code Build();
  Code BuildSorted();
  Code ApplyStart(bool forward);
  Code StepSequence(bool forward);
  Code StepSorted(bool forward);
  Code PrimaryRead(uint8_t op, bool inPart = false);
  uint32_t FilterPrefix();
  Code ReadWhole();
  bool Passes();

  Code ExpandJoins();
  Code Expand(std::vector<int> todo);
  Code FetchMatches(int join);
  void Append(JoinStage& stage);
  void LoadMatch(int join, int32_t match);
  void ClearJoin(int join);
  void LoadCombo(int64_t combo);
  int64_t FindCombo(const std::vector<std::string_view>& joined) const;

  Code CurrentPosition(bool fileForm, std::string* out);
  Code PrimaryPositionAs(char tag, int key, std::string_view text, bool wantKey,
                        std::string* out);
  int64_t FindRow(std::string_view position) const;
  int CompareRowTo(uint32_t row, const view_detail::CapturedValue* values, size_t n) const;
  void SaveBuffers(std::vector<std::string>* out) const;
  void RestoreBuffers(const std::vector<std::string>& saved);

  View& view_;
  FileDescriptor& primary_;
  DriverArgs args_;  // reused for every driver call of the read path

  std::string orderText_;
  std::vector<view_detail::OrderItem> items_;
  std::string filterText_;
  bool skipMemo_ = false;  // reads pass over the memo
  bool MemoUnused() const;
  // Records are first read up to the last byte the filter reads (0: whole), while that pays:
  // of the last reads so read, most were passed over.
  uint32_t prefix_ = 0;
  uint32_t prefixReads_ = 0;
  uint32_t prefixPasses_ = 0;
  std::unique_ptr<lang::Expression> filter_;
  uint8_t option_ = 0;

  bool dirty_ = true;
  Path path_ = Path::kRecord;
  int key_ = 0;
  std::vector<JoinStage> joins_;  // join j is file j + 1 of the view
  std::vector<int> topJoins_;

  // Sequence over the primary file (record and key paths).
  bool live_ = false;          // the primary's sequence has been started
  bool havePrimary_ = false;   // the primary's current record is the view's current record
  std::vector<int32_t> combos_;  // per combination, one match number per join (-1: none)
  std::vector<int32_t> current_;
  int64_t comboCount_ = 0;
  int64_t combo_ = 0;
  std::vector<std::string> resetJoined_;  // joined positions a pending RESET must land on

  // Sorted rows (order stage).
  std::vector<std::string> rowPosition_;
  std::vector<view_detail::CapturedValue> rowValues_;  // items_.size() per row
  std::vector<uint32_t> sorted_;
  int64_t cur_ = -1;

  Start start_ = Start::kSet;
  size_t setCount_ = 0;
  std::vector<view_detail::CapturedValue> setValues_;
  std::string setKeyBytes_;    // the captured bytes of the first setCount_ key components
  std::string startPosition_;  // kReset, kResume
  std::vector<view_detail::CapturedValue> resumeValues_;
  bool endForward_ = true;
  int64_t betweenNext_ = 0;

  bool watch_ = false;
};

}  // namespace korawin::storage
