#include "tests/support/fault_fs.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace korawin::test {

namespace {

int Index(FaultOp op) { return static_cast<int>(op); }

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The bytes of a file, read around the file system under test.
std::string Slurp(platform::FileSystem& fs, const std::string& path) {
  std::string bytes;
  int fd = fs.Open(path, O_RDONLY, 0);
  if (fd < 0) return bytes;
  char buf[4096];
  for (uint64_t pos = 0;;) {
    long long got = fs.PRead(fd, buf, sizeof buf, pos);
    if (got <= 0) break;
    bytes.append(buf, static_cast<size_t>(got));
    pos += static_cast<uint64_t>(got);
  }
  fs.Close(fd);
  return bytes;
}

void Spill(platform::FileSystem& fs, const std::string& path, const std::string& bytes) {
  int fd = fs.Open(path, O_RDWR | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return;
  if (!bytes.empty()) fs.PWrite(fd, bytes.data(), bytes.size(), 0);
  fs.Close(fd);
}

}  // namespace

FaultFileSystem::FaultFileSystem(platform::FileSystem& base) : base_(base) {}

void FaultFileSystem::Reset() {
  std::lock_guard<std::mutex> lock(mu_);
  std::fill(std::begin(counts_), std::end(counts_), 0);
  std::fill(std::begin(filteredCounts_), std::end(filteredCounts_), 0);
  points_ = 0;
  plans_.clear();
  filter_ = nullptr;
  crashAt_ = 0;
  torn_ = false;
  crashed_ = false;
  dropUnsynced_ = false;
  loseEntries_ = false;
  entries_.clear();
  onCrash_ = nullptr;
  unsynced_.clear();
  createdAfterCrash_.clear();
  pointNames_.clear();
}

int FaultFileSystem::Count(FaultOp op) const {
  std::lock_guard<std::mutex> lock(mu_);
  return counts_[Index(op)];
}

int FaultFileSystem::FilteredCount(FaultOp op) const {
  std::lock_guard<std::mutex> lock(mu_);
  return filteredCounts_[Index(op)];
}

int FaultFileSystem::WritePoints() const {
  std::lock_guard<std::mutex> lock(mu_);
  return points_;
}

void FaultFileSystem::FailNth(FaultOp op, int nth, int err, int times) {
  std::lock_guard<std::mutex> lock(mu_);
  plans_.push_back({op, filteredCounts_[Index(op)] + nth, err, times, 0, Plan::kFail});
}

void FaultFileSystem::ShortWriteNth(int nth, size_t bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  plans_.push_back({FaultOp::kWrite, filteredCounts_[Index(FaultOp::kWrite)] + nth, 0, 1, bytes,
                    Plan::kShortWrite});
}

void FaultFileSystem::ShortReadNth(int nth) {
  std::lock_guard<std::mutex> lock(mu_);
  plans_.push_back(
      {FaultOp::kRead, filteredCounts_[Index(FaultOp::kRead)] + nth, 0, 1, 0, Plan::kShortRead});
}

void FaultFileSystem::SetPathFilter(std::function<bool(const std::string&)> filter) {
  std::lock_guard<std::mutex> lock(mu_);
  filter_ = std::move(filter);
}

void FaultFileSystem::CrashAt(int k, bool torn) {
  std::lock_guard<std::mutex> lock(mu_);
  crashAt_ = k;
  torn_ = torn;
}

void FaultFileSystem::SetDropUnsynced(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  dropUnsynced_ = on;
  if (!on) unsynced_.clear();
}

void FaultFileSystem::SetLoseEntries(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  loseEntries_ = on;
  if (!on) entries_.clear();
}

void FaultFileSystem::RememberEntryLocked(EntryChange change) {
  if (loseEntries_) entries_.push_back(std::move(change));
}

void FaultFileSystem::LoseEntriesLocked() {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    switch (it->kind) {
      case EntryChange::kCreate:
        base_.Unlink(it->path);
        break;
      case EntryChange::kRename:
        base_.Rename(it->to, it->path);
        if (it->replaced) Spill(base_, it->to, it->bytes);
        break;
      case EntryChange::kRemove:
        Spill(base_, it->path, it->bytes);
        break;
    }
  }
  entries_.clear();
}

bool FaultFileSystem::crashed() const {
  std::lock_guard<std::mutex> lock(mu_);
  return crashed_;
}

void FaultFileSystem::SetOnCrash(std::function<void()> onCrash) {
  std::lock_guard<std::mutex> lock(mu_);
  onCrash_ = std::move(onCrash);
}

void FaultFileSystem::DiscardCreatedAfterCrash() {
  std::set<std::string> created;
  {
    std::lock_guard<std::mutex> lock(mu_);
    created.swap(createdAfterCrash_);
  }
  for (const std::string& path : created) base_.Unlink(path);
}

std::string FaultFileSystem::PathOf(int fd) const {
  auto it = paths_.find(fd);
  return it == paths_.end() ? std::string() : it->second;
}

const FaultFileSystem::Plan* FaultFileSystem::Tick(FaultOp op, const std::string& path) {
  ++counts_[Index(op)];
  if (filter_ && !filter_(path)) return nullptr;
  int call = ++filteredCounts_[Index(op)];
  for (const Plan& p : plans_) {
    if (p.op != op || call < p.at) continue;
    if (p.times < 0 || call < p.at + p.times) return &p;
  }
  return nullptr;
}

void FaultFileSystem::SetRecordPoints(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  recordPoints_ = on;
}

std::vector<std::string> FaultFileSystem::PointNames() const {
  std::lock_guard<std::mutex> lock(mu_);
  return pointNames_;
}

bool FaultFileSystem::PointLocked(bool* isCrashPoint, const std::string& what) {
  *isCrashPoint = false;
  if (crashed_) return true;
  ++points_;
  if (recordPoints_) pointNames_.push_back(what);
  if (crashAt_ > 0 && points_ == crashAt_) *isCrashPoint = true;
  return false;
}

void FaultFileSystem::RememberUndoLocked(int fd, uint64_t pos, size_t n) {
  if (!dropUnsynced_) return;
  long long size = base_.Size(fd);
  if (size < 0) return;
  Undo u;
  u.pos = pos;
  u.oldSize = static_cast<uint64_t>(size);
  if (pos < u.oldSize) {
    u.old.resize(static_cast<size_t>(std::min<uint64_t>(n, u.oldSize - pos)));
    long long got = base_.PRead(fd, u.old.data(), u.old.size(), pos);
    u.old.resize(got > 0 ? static_cast<size_t>(got) : 0);
  }
  unsynced_[PathOf(fd)].push_back(std::move(u));
}

void FaultFileSystem::CrashLocked() {
  crashed_ = true;
  if (dropUnsynced_) {
    for (auto& [path, undos] : unsynced_) {
      int fd = base_.Open(path, O_RDWR, 0);
      if (fd < 0) continue;
      for (auto it = undos.rbegin(); it != undos.rend(); ++it) {
        if (!it->old.empty()) base_.PWrite(fd, it->old.data(), it->old.size(), it->pos);
        base_.Truncate(fd, it->oldSize);
      }
      base_.Close(fd);
    }
    unsynced_.clear();
  }
  // Names last: the bytes above were undone under the names they had at the crash.
  if (loseEntries_) LoseEntriesLocked();
}

int FaultFileSystem::Open(const std::string& path, int flags, int perms) {
  bool existed = (flags & O_CREAT) ? PathExists(path) : true;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (const Plan* p = Tick(FaultOp::kOpen, path)) return -p->err;
  }
  int fd = base_.Open(path, flags, perms);
  std::lock_guard<std::mutex> lock(mu_);
  if (fd >= 0) {
    paths_[fd] = path;
    if (crashed_ && !existed) createdAfterCrash_.insert(path);
    if (!crashed_ && !existed) RememberEntryLocked({EntryChange::kCreate, path, {}, false, {}});
  }
  return fd;
}

int FaultFileSystem::Close(int fd) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    paths_.erase(fd);
  }
  return base_.Close(fd);
}

long long FaultFileSystem::PRead(int fd, void* buf, size_t n, uint64_t pos) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (const Plan* p = Tick(FaultOp::kRead, PathOf(fd))) {
      if (p->kind == Plan::kShortRead) return 0;
      return -p->err;
    }
  }
  return base_.PRead(fd, buf, n, pos);
}

long long FaultFileSystem::PWrite(int fd, const void* buf, size_t n, uint64_t pos) {
  std::function<void()> onCrash;
  {
    std::lock_guard<std::mutex> lock(mu_);
    const Plan* p = Tick(FaultOp::kWrite, PathOf(fd));
    bool crashNow = false;
    if (PointLocked(&crashNow, "PWrite " + std::to_string(n) + " at " + std::to_string(pos) +
                                   " of " + PathOf(fd)))
      return static_cast<long long>(n);
    if (crashNow) {
      if (torn_ && n > 1) {
        RememberUndoLocked(fd, pos, n / 2);
        base_.PWrite(fd, buf, n / 2, pos);
      }
      CrashLocked();
      onCrash = onCrash_;
    } else if (p && p->kind == Plan::kFail) {
      return -p->err;
    } else if (p && p->kind == Plan::kShortWrite) {
      size_t part = std::min(p->bytes, n);
      if (part == 0) return 0;
      // The retry of the rest moves nothing either, with no system error.
      plans_.push_back({FaultOp::kWrite, filteredCounts_[Index(FaultOp::kWrite)] + 1, 0, 1, 0,
                        Plan::kShortWrite});
      RememberUndoLocked(fd, pos, part);
      return base_.PWrite(fd, buf, part, pos);
    } else {
      RememberUndoLocked(fd, pos, n);
    }
  }
  if (onCrash) {
    onCrash();
    return static_cast<long long>(n);
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (crashed_) return static_cast<long long>(n);
  }
  return base_.PWrite(fd, buf, n, pos);
}

int FaultFileSystem::Truncate(int fd, uint64_t size) {
  std::function<void()> onCrash;
  {
    std::lock_guard<std::mutex> lock(mu_);
    const Plan* p = Tick(FaultOp::kTruncate, PathOf(fd));
    bool crashNow = false;
    if (PointLocked(&crashNow, "Truncate " + std::to_string(size) + " of " + PathOf(fd))) return 0;
    if (crashNow) {
      CrashLocked();
      onCrash = onCrash_;
    } else if (p) {
      return -p->err;
    } else if (dropUnsynced_) {
      long long old = base_.Size(fd);
      if (old >= 0) {
        Undo u;
        u.pos = size;
        u.oldSize = static_cast<uint64_t>(old);
        if (size < u.oldSize) {
          u.old.resize(static_cast<size_t>(u.oldSize - size));
          long long got = base_.PRead(fd, u.old.data(), u.old.size(), size);
          u.old.resize(got > 0 ? static_cast<size_t>(got) : 0);
        }
        unsynced_[PathOf(fd)].push_back(std::move(u));
      }
    }
    if (!onCrash) return base_.Truncate(fd, size);
  }
  if (onCrash) onCrash();
  return 0;
}

int FaultFileSystem::Sync(int fd) {
  std::function<void()> onCrash;
  {
    std::lock_guard<std::mutex> lock(mu_);
    const Plan* p = Tick(FaultOp::kSync, PathOf(fd));
    bool crashNow = false;
    if (PointLocked(&crashNow, "Sync " + PathOf(fd))) return 0;
    if (crashNow) {
      CrashLocked();
      onCrash = onCrash_;
    } else if (p) {
      return -p->err;
    } else {
      int r = base_.Sync(fd);
      if (r == 0) unsynced_.erase(PathOf(fd));
      return r;
    }
  }
  if (onCrash) onCrash();
  return 0;
}

long long FaultFileSystem::Size(int fd) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (const Plan* p = Tick(FaultOp::kSize, PathOf(fd))) return -p->err;
  }
  return base_.Size(fd);
}

int FaultFileSystem::Lock(int fd, int cmd, short type, uint64_t start, uint64_t len,
                          bool* conflict) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (const Plan* p = Tick(FaultOp::kLock, PathOf(fd))) return -p->err;
  }
  return base_.Lock(fd, cmd, type, start, len, conflict);
}

int FaultFileSystem::Unlink(const std::string& path) {
  std::function<void()> onCrash;
  {
    std::lock_guard<std::mutex> lock(mu_);
    const Plan* p = Tick(FaultOp::kUnlink, path);
    bool crashNow = false;
    if (PointLocked(&crashNow, "Unlink " + path)) return 0;
    if (crashNow) {
      CrashLocked();
      onCrash = onCrash_;
    } else if (p) {
      return -p->err;
    } else {
      std::string bytes = loseEntries_ ? Slurp(base_, path) : std::string();
      int r = base_.Unlink(path);
      if (r == 0) {
        unsynced_.erase(path);
        RememberEntryLocked({EntryChange::kRemove, path, {}, true, std::move(bytes)});
      }
      return r;
    }
  }
  if (onCrash) onCrash();
  return 0;
}

int FaultFileSystem::Rename(const std::string& from, const std::string& to) {
  std::function<void()> onCrash;
  {
    std::lock_guard<std::mutex> lock(mu_);
    const Plan* p = Tick(FaultOp::kRename, from);
    bool crashNow = false;
    if (PointLocked(&crashNow, "Rename " + from + " to " + to)) return 0;
    if (crashNow) {
      CrashLocked();
      onCrash = onCrash_;
    } else if (p) {
      return -p->err;
    } else {
      bool replaced = loseEntries_ && PathExists(to);
      std::string bytes = replaced ? Slurp(base_, to) : std::string();
      int r = base_.Rename(from, to);
      if (r == 0) {
        RememberEntryLocked({EntryChange::kRename, from, to, replaced, std::move(bytes)});
        auto it = unsynced_.find(from);
        if (it != unsynced_.end()) {
          unsynced_[to] = std::move(it->second);
          unsynced_.erase(from);
        }
        for (auto& [fd, path] : paths_)
          if (path == from) path = to;
      }
      return r;
    }
  }
  if (onCrash) onCrash();
  return 0;
}

int FaultFileSystem::SyncDirectory(const std::string& folder) {
  std::function<void()> onCrash;
  {
    std::lock_guard<std::mutex> lock(mu_);
    const Plan* p = Tick(FaultOp::kSyncDirectory, folder);
    bool crashNow = false;
    if (PointLocked(&crashNow, "SyncDirectory " + folder)) return 0;
    if (crashNow) {
      CrashLocked();
      onCrash = onCrash_;
    } else if (p) {
      return -p->err;
    } else {
      int r = base_.SyncDirectory(folder);
      if (r == 0) {
        // The folder's names are on disk now, whatever else waits.
        std::vector<EntryChange> kept;
        for (EntryChange& e : entries_) {
          bool here = FolderOf(e.path) == folder ||
                      (e.kind == EntryChange::kRename && FolderOf(e.to) == folder);
          if (!here) kept.push_back(std::move(e));
        }
        entries_.swap(kept);
      }
      return r;
    }
  }
  if (onCrash) onCrash();
  return 0;
}

int FaultFileSystem::ListDirectory(const std::string& folder, std::vector<std::string>* names) {
  return base_.ListDirectory(folder, names);
}

int FaultFileSystem::Status(const std::string& path, bool* isFolder) {
  return base_.Status(path, isFolder);
}

}  // namespace korawin::test
