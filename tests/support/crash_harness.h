// Crash-recovery harness: runs a workload over a folder once to count its write points, then
// once per point k with a simulated crash at k, and after each crash "restarts" (a fresh
// process state, no faults) and checks the folder.
//
// Each run of the workload happens in a forked child, so that nothing of the dead program
// (open files, their locks, the journal of its transaction, cached headers) survives into
// the check, which runs in the parent as the next start of the program would.
//
// The workload marks the ends of its steps with Step(); a step is what must happen whole
// (a transaction, or one statement outside a transaction). After a crash inside step j the
// folder's state must equal the state after step j-1 or after step j. States are texts made
// by the caller's Dump function, which also reports damage it finds.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/support/fault_fs.h"

namespace korawin::test {

// Handed to the workload in the child.
class CrashContext {
 public:
  // Ends a step. Returns false when the run should stop here (runs that build the expected
  // states stop after a given number of steps); the workload then returns at once.
  bool Step();
  const std::string& folder() const { return folder_; }
  FaultFileSystem& fs() { return *fs_; }

 private:
  friend class CrashHarness;
  std::string folder_;
  FaultFileSystem* fs_ = nullptr;
  int stopAfter_ = -1;
  std::vector<int> marks_;
};

struct CrashOptions {
  bool torn = false;          // the crashing write lands half
  bool dropUnsynced = false;  // the crash also loses writes not yet flushed
  bool loseEntries = false;   // and names created, renamed or removed in unflushed folders
  int stride = 1;             // try every stride-th point only
  bool stopAtCrash = true;    // the child ends at the crash instead of running on blind
  // When set, only the points whose description it accepts are tried.
  std::function<bool(const std::string& point)> pointFilter;
};

struct CrashFailure {
  int point = 0;
  int step = 0;
  std::string at;    // the write point, as the file system describes it
  std::string what;
};

struct CrashReport {
  int points = 0;     // write points of one whole run
  int steps = 0;
  int tried = 0;      // crash points tried
  int recovered = 0;  // of which the check passed
  std::vector<CrashFailure> failures;
  // One line for the test log: "points 120, tried 120, recovered 118".
  std::string Summary() const;
  // The failures, a line each: "point 7 (step 2, <write point>): <what the check found>".
  std::string Failures() const;
};

class CrashHarness {
 public:
  // Prepares the folder (files exist, nothing open).
  using Setup = std::function<void(const std::string& folder)>;
  using Workload = std::function<void(CrashContext& ctx)>;
  // The folder's logical state as text; a non-empty *damage fails the point.
  using Dump = std::function<std::string(const std::string& folder, std::string* damage)>;

  // root is a scratch folder the harness owns (the work folder and its copies live inside).
  explicit CrashHarness(std::string root);

  // The folder the workload and the check see.
  std::string folder() const;

  CrashReport Run(const Setup& setup, const Workload& workload, const Dump& dump,
                  const CrashOptions& options = CrashOptions());

 private:
  struct ChildResult {
    bool ok = false;
    int points = 0;
    std::vector<int> marks;
    std::vector<std::string> pointNames;
  };
  ChildResult RunChild(const Workload& workload, int crashAt, int stopAfter,
                       const CrashOptions& options);
  void Restore();

  std::string root_;
};

// Copies a folder tree (regular files and folders) from one path to another, replacing it.
void CopyTree(const std::string& from, const std::string& to);

}  // namespace korawin::test
