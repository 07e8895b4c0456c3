// The count a list shows beside its page: the number of records its view yields now. Counting
// a filtered view reads every record, which on a large database takes far longer than a page,
// so the count runs on a thread of its own, over a private declaration of the list's file and
// private copies of the names its filter reads. The list's page, highlight and events never
// wait for it, nor do other windows; the result is posted to the list's thread, which shows it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/files.h"
#include "lang/types.h"

namespace korawin::framework {
class BrowseClass;
}

namespace korawin::app {

// A name the filter reads and how the counting thread sees it: rebased into its own copy of
// the primary record, or a copy of the value taken when the count started.
struct CountedName {
  std::string name;
  lang::Variable var;    // address is nullptr: set by the counting thread
  int64_t recordOffset = -1;  // >= 0: within the primary record
  std::string value;     // otherwise the value's bytes
};

// What one count reads: everything is copied, nothing points into shared buffers.
struct CountJob {
  uint64_t generation = 0;
  int key = 0;                 // the order's key (from 1); 0: record order
  std::string filter;          // the order's filters, without the range terms
  std::vector<int> rangeFields;            // key components fixed by the range (from 0)
  std::vector<std::string> rangeValues;    // their values as text
  std::vector<CountedName> names;
};

class ViewCount {
 public:
  ViewCount() = default;
  ViewCount(const ViewCount&) = delete;
  ViewCount& operator=(const ViewCount&) = delete;
  ~ViewCount();

  // Counts the views of browse (whose primary file is file) into control of its window.
  void Init(LexiconFile file, framework::BrowseClass& browse, int control);
  // Stops the counting thread; a count under way is dropped.
  void Kill();
  // Counts the browse's view as it stands now; a count under way is dropped. On the list's
  // thread, right after a reload.
  void Start();
  // Shows a count that has arrived since; true when it showed one. On the list's thread.
  bool Show();
  // The count shown last; -1 while none.
  int64_t Shown() const { return shown_; }

 private:
  void Run();
  int64_t Count(const CountJob& job, DeclaredFile& file, bool* cancelled);
  bool Cancelled(uint64_t generation) const { return latest_.load() != generation; }

  LexiconFile file_ = LexiconFile::kSlovo;
  framework::BrowseClass* browse_ = nullptr;
  int control_ = 0;
  int thread_ = 0;  // the list's procedure thread
  int64_t shown_ = -1;
  std::string lastKey_;  // what the last count counted: a different one blanks the field

  std::atomic<uint64_t> latest_{0};  // generation of the newest count asked for
  std::mutex mu_;
  std::condition_variable cv_;
  std::unique_ptr<CountJob> pending_;
  bool stop_ = false;
  bool busy_ = false;  // a count is queued or running
  uint64_t doneGeneration_ = 0;
  uint64_t shownGeneration_ = 0;
  int64_t doneCount_ = -1;
  std::thread worker_;
};

// Waits until no count of any list is queued or running; false on timeout. For tests and
// benchmarks, which then let the lists take the posted results.
bool WaitForCounts(std::chrono::milliseconds timeout);

}  // namespace korawin::app
