// Fuzz target: arbitrary bytes laid down as the journal of an interrupted transaction, and as
// the marker that names it, beside a sound data file with two keys and a memo. The OPEN of
// the data file recovers the transaction; then the file is walked and changed. Nothing may
// crash, hang or read out of bounds, and a journal that lies is refused or ignored: the
// recovery writes only into the data file's own files and the journal, and removes only the
// marker and the journal. Every file operation goes through a file system that stops the
// run (abort) on anything else, and that keeps the run inside its own folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "fuzz/journal_fuzz_files.h"
#include "fuzz/scratch_folder.h"
#include "platform/file.h"

namespace {

using namespace korawin;
using platform::FileSystem;

// Files grow no larger than this: a journal may name any position below 4 GB.
constexpr uint64_t kMaxFileSize = 1 << 20;

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// The POSIX file system, confined to bare names in the current folder (anything else is
// refused as missing) and watching what the engine changes.
class GuardFileSystem final : public FileSystem {
 public:
  GuardFileSystem() : base_(korawin::platform::PosixFileSystem()) {}

  // Names that may be opened for writing, and names that may be removed.
  std::set<std::string> writable;
  std::set<std::string> removable;

  int Open(const std::string& path, int flags, int perms) override {
    std::string name = Local(path);
    if (name.empty()) return -ENOENT;
    // Trying to open a missing file does no harm; opening any other for writing does.
    bool writes = (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC));
    if (writes && !writable.count(name) && ((flags & O_CREAT) || Exists(name)))
      Violation("opened for writing", name);
    int fd = base_.Open(name, flags, perms);
    if (fd >= 0) {
      std::lock_guard<std::mutex> lock(mu_);
      names_[fd] = name;
    }
    return fd;
  }
  int Close(int fd) override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      names_.erase(fd);
    }
    return base_.Close(fd);
  }
  long long PRead(int fd, void* buf, size_t n, uint64_t pos) override {
    return base_.PRead(fd, buf, n, pos);
  }
  long long PWrite(int fd, const void* buf, size_t n, uint64_t pos) override {
    Written(fd, "written");
    if (pos + n > kMaxFileSize) return -ENOSPC;
    return base_.PWrite(fd, buf, n, pos);
  }
  int Truncate(int fd, uint64_t size) override {
    Written(fd, "cut");
    if (size > kMaxFileSize) return -ENOSPC;
    return base_.Truncate(fd, size);
  }
  int Sync(int fd) override { return base_.Sync(fd); }
  long long Size(int fd) override { return base_.Size(fd); }
  int Lock(int fd, int cmd, short type, uint64_t start, uint64_t len, bool* conflict) override {
    return base_.Lock(fd, cmd, type, start, len, conflict);
  }
  int Unlink(const std::string& path) override {
    std::string name = Local(path);
    if (name.empty()) return -ENOENT;
    if (!removable.count(name) && Exists(name)) Violation("removed", name);
    return base_.Unlink(name);
  }
  int Rename(const std::string& from, const std::string& to) override {
    Violation("renamed", from + " to " + to);
    return -EACCES;
  }
  int SyncDirectory(const std::string& folder) override { return base_.SyncDirectory(folder); }
  int ListDirectory(const std::string& folder, std::vector<std::string>* names) override {
    return base_.ListDirectory(folder, names);
  }
  int Status(const std::string& path, bool* isFolder) override {
    std::string name = Local(path);
    if (name.empty()) return -ENOENT;
    return base_.Status(name, isFolder);
  }

 private:
  // The bare name of a file in the current folder ("./" prefixes allowed), else "".
  static std::string Local(std::string path) {
    while (path.starts_with("./")) path.erase(0, 2);
    if (path.empty() || path == "." || path == ".." || path.find('/') != std::string::npos ||
        path.find('\0') != std::string::npos)
      return {};
    return path;
  }
  void Written(int fd, const char* what) {
    std::string name;
    {
      std::lock_guard<std::mutex> lock(mu_);
      auto it = names_.find(fd);
      if (it != names_.end()) name = it->second;
    }
    if (!writable.count(name)) Violation(what, name);
  }
  [[noreturn]] static void Violation(const char* what, const std::string& name) {
    std::fprintf(stderr, "journal_fuzz: the recovery %s %s\n", what, name.c_str());
    std::abort();
  }

  FileSystem& base_;
  std::mutex mu_;
  std::map<int, std::string> names_;
};

GuardFileSystem* gGuard = nullptr;
std::map<std::string, std::string> gFixture;  // name -> bytes of the sound files

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A folder of its own, made the current one: the names in journals and markers are bare.
  std::string dir = fuzz::ScratchFolder("journalfuzz");
  if (dir.empty() || ::chdir(dir.c_str()) != 0) std::abort();
  if (fuzz::MakeJournalFixture() != 0) std::abort();
  for (const char* name : {"j.DAT", "j.K01", "j.K02", "j.MEM"}) gFixture[name] = Read(name);
  // A file of another data file that no transaction of j may touch.
  gFixture["i.DAT"] = gFixture["j.DAT"];
  gGuard = new GuardFileSystem();
  gGuard->writable = {"j.DAT", "j.K01", "j.K02", "j.MEM", fuzz::kJournalName};
  gGuard->removable = {fuzz::kJournalMarker, fuzz::kJournalName};
  platform::SetFileSystem(gGuard);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korawin;
  using namespace korawin::storage;
  std::vector<std::string> parts = fuzz::SplitParts(data, size, 2);
  for (const auto& [name, bytes] : gFixture) Write(name, bytes);
  Write(fuzz::kJournalName, parts[0]);
  Write(fuzz::kJournalMarker, parts[1]);

  fuzz::FuzzFile f(fuzz::kJournalData);
  DriverArgs ignore;
  ignore.text = "IGNORECORRUPTIONS=" + std::string(size % 2 ? "ON" : "OFF");
  if (CallDriver(kOpSend, *f.fd, ignore) != 0) return 0;  // an option the driver always takes
  if (f.Call(kOpOpen) != 0) return 0;  // refused
  // Recovered (or nothing to recover): the marker is gone, so the next OPEN starts clean.
  if (Exists(fuzz::kJournalMarker)) {
    std::fprintf(stderr, "journal_fuzz: OPEN succeeded and left the marker\n");
    std::abort();
  }
  fuzz::WalkAndChange(f);
  f.Call(kOpClose);
  return 0;
}
