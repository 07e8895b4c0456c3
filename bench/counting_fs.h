// A file system for the benchmarks that passes everything to the POSIX one and counts the
// flushes (of files and of folders) the engine asks for.
#pragma once

#include <atomic>

#include "platform/file.h"

namespace korawin::bench {

class CountingFileSystem final : public platform::FileSystem {
 public:
  CountingFileSystem() : base_(platform::PosixFileSystem()) {}
  // Flushes so far.
  long flushes() const { return flushes_; }

  int Open(const std::string& path, int flags, int perms) override {
    return base_.Open(path, flags, perms);
  }
  int Close(int fd) override { return base_.Close(fd); }
  long long PRead(int fd, void* buf, size_t n, uint64_t pos) override {
    return base_.PRead(fd, buf, n, pos);
  }
  long long PWrite(int fd, const void* buf, size_t n, uint64_t pos) override {
    return base_.PWrite(fd, buf, n, pos);
  }
  int Truncate(int fd, uint64_t size) override { return base_.Truncate(fd, size); }
  int Sync(int fd) override {
    ++flushes_;
    return base_.Sync(fd);
  }
  long long Size(int fd) override { return base_.Size(fd); }
  int Lock(int fd, int cmd, short type, uint64_t start, uint64_t len, bool* conflict) override {
    return base_.Lock(fd, cmd, type, start, len, conflict);
  }
  int Unlink(const std::string& path) override { return base_.Unlink(path); }
  int Rename(const std::string& from, const std::string& to) override {
    return base_.Rename(from, to);
  }
  int SyncDirectory(const std::string& folder) override {
    ++flushes_;
    return base_.SyncDirectory(folder);
  }
  int ListDirectory(const std::string& folder, std::vector<std::string>* names) override {
    return base_.ListDirectory(folder, names);
  }
  int Status(const std::string& path, bool* isFolder) override {
    return base_.Status(path, isFolder);
  }
  bool IsLocal(int fd) override { return base_.IsLocal(fd); }
  bool CanMap() const override { return base_.CanMap(); }
  const void* MapRead(int fd, uint64_t len) override { return base_.MapRead(fd, len); }
  void Unmap(const void* addr, uint64_t len) override { base_.Unmap(addr, len); }

 private:
  platform::FileSystem& base_;
  std::atomic<long> flushes_{0};
};

// The counting file system, installed for the whole run at its first use: a file keeps the
// file system that mapped it, so it must outlive every file opened under it.
inline CountingFileSystem& Counter() {
  static CountingFileSystem* fs = [] {
    auto* counting = new CountingFileSystem();
    platform::SetFileSystem(counting);
    return counting;
  }();
  return *fs;
}

// The flushes made during the life of the object.
class Counted {
 public:
  Counted() : start_(Counter().flushes()) {}
  long flushes() const { return Counter().flushes() - start_; }

 private:
  long start_;
};

}  // namespace korawin::bench
