// A file system for tests that sits over another one (normally the POSIX one) and counts,
// fails, shortens or drops what the engine asks of it.
//
// Write points are the operations that change what is on disk: PWrite, Truncate, Sync,
// Unlink, Rename and SyncDirectory. They are numbered from 1 in the order they happen since the
// object was made (or Reset). A crash at point k lets points 1..k-1 happen; point k and every
// later write, truncate, sync, unlink and rename are dropped and reported as success, as if the
// machine had stopped there. A torn crash applies a prefix of the k-th write first. With
// drop-unsynced on, the crash also undoes every write and truncate that was not followed by a
// Sync of its file, the way a power cut loses what sat in the cache. With lose-entries on, it
// also undoes every create, rename and removal of a name that no SyncDirectory of its folder
// followed: the file created is gone, the renamed one has its old name, the removed one is back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/file.h"

namespace korawin::test {

// The operations that can be counted and failed.
enum class FaultOp {
  kOpen, kRead, kWrite, kTruncate, kSync, kSize, kLock, kUnlink, kRename, kSyncDirectory
};
inline constexpr int kFaultOpCount = 10;

class FaultFileSystem final : public platform::FileSystem {
 public:
  explicit FaultFileSystem(platform::FileSystem& base = platform::PosixFileSystem());
  FaultFileSystem(const FaultFileSystem&) = delete;
  FaultFileSystem& operator=(const FaultFileSystem&) = delete;

  // Forgets counts, planned faults and the crash (files opened so far keep their paths).
  void Reset();

  // Calls of op seen so far (failed ones included), and write points so far.
  int Count(FaultOp op) const;
  // Calls of op on the paths that the filter accepts.
  int FilteredCount(FaultOp op) const;
  int WritePoints() const;

  // The nth call of op from now on (1 = the next one) and the times-1 calls after it fail
  // with errno err; times < 0 fails every call from the nth on. Only calls on paths that the
  // filter accepts count (see SetPathFilter). Several plans may be armed at once.
  void FailNth(FaultOp op, int nth, int err, int times = 1);
  // The nth PWrite from now on writes only its first bytes and reports that; the retry of the
  // rest then moves nothing (a short write with no system error).
  void ShortWriteNth(int nth, size_t bytes);
  // The nth PRead from now on stops at end of file (returns 0 bytes).
  void ShortReadNth(int nth);
  // Only paths for which filter returns true are subject to FailNth, ShortWriteNth and
  // ShortReadNth (crashes always apply to every file). nullptr: every path.
  void SetPathFilter(std::function<bool(const std::string&)> filter);

  // Crash at write point k (k <= 0: never). torn: the k-th write, when it is a PWrite of more
  // than one byte, applies its first half before the crash.
  void CrashAt(int k, bool torn = false);
  void SetDropUnsynced(bool on);
  void SetLoseEntries(bool on);
  bool crashed() const;
  // Called once, at the moment of the crash (a harness may end the process there).
  void SetOnCrash(std::function<void()> onCrash);
  // Keeps a description of every write point ("PWrite 512 at 85 of /x/a.DAT").
  void SetRecordPoints(bool on);
  std::vector<std::string> PointNames() const;
  // Removes the files that were created after the crash (the dead program never made them).
  void DiscardCreatedAfterCrash();

  // FileSystem.
  int Open(const std::string& path, int flags, int perms) override;
  int Close(int fd) override;
  long long PRead(int fd, void* buf, size_t n, uint64_t pos) override;
  long long PWrite(int fd, const void* buf, size_t n, uint64_t pos) override;
  int Truncate(int fd, uint64_t size) override;
  int Sync(int fd) override;
  long long Size(int fd) override;
  int Lock(int fd, int cmd, short type, uint64_t start, uint64_t len, bool* conflict) override;
  int Unlink(const std::string& path) override;
  int Rename(const std::string& from, const std::string& to) override;
  int SyncDirectory(const std::string& folder) override;
  int ListDirectory(const std::string& folder, std::vector<std::string>* names) override;
  int Status(const std::string& path, bool* isFolder) override;

 private:
  struct Plan {
    FaultOp op;
    int at;        // call number of op (counted over filtered paths) that starts the fault
    int err;
    int times;     // < 0: forever
    size_t bytes;  // short write
    enum Kind { kFail, kShortWrite, kShortRead } kind;
  };
  // What a write or truncate changed, to undo it when the crash drops unsynced data.
  struct Undo {
    uint64_t pos;
    std::string old;     // bytes that stood at pos (those below the old size)
    uint64_t oldSize;
  };

  std::string PathOf(int fd) const;
  // Counts a call of op on path; returns the plan that fires for it, if any.
  const Plan* Tick(FaultOp op, const std::string& path);
  // Counts a write point; true when it is the crash point (the crash has then happened).
  bool PointLocked(bool* isCrashPoint, const std::string& what);
  void CrashLocked();
  void RememberUndoLocked(int fd, uint64_t pos, size_t n);
  // A name changed in a folder that was not flushed since; what undoes it.
  struct EntryChange {
    enum Kind { kCreate, kRename, kRemove } kind;
    std::string path;      // the name created or removed; the old name of a rename
    std::string to;        // the new name of a rename
    bool replaced = false;  // a rename over a file, or a removal: the file's bytes follow
    std::string bytes;
  };
  void RememberEntryLocked(EntryChange change);
  void LoseEntriesLocked();

  platform::FileSystem& base_;
  mutable std::mutex mu_;
  int counts_[kFaultOpCount] = {};
  int filteredCounts_[kFaultOpCount] = {};
  int points_ = 0;
  std::vector<Plan> plans_;
  std::function<bool(const std::string&)> filter_;
  int crashAt_ = 0;
  bool torn_ = false;
  bool crashed_ = false;
  bool dropUnsynced_ = false;
  bool loseEntries_ = false;
  std::vector<EntryChange> entries_;
  std::function<void()> onCrash_;
  std::map<int, std::string> paths_;
  std::map<std::string, std::vector<Undo>> unsynced_;
  std::set<std::string> createdAfterCrash_;
  bool recordPoints_ = false;
  std::vector<std::string> pointNames_;
};

// Installs a file system for the life of the object and restores the previous one after.
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(platform::FileSystem& fs) : old_(platform::SetFileSystem(&fs)) {}
  ~ScopedFileSystem() { platform::SetFileSystem(old_); }
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  platform::FileSystem* old_;
};

}  // namespace korawin::test
