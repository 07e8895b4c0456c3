#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cerrno>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace korawin::platform {

int SystemErrorFromErrno(int err) {
  switch (err) {
    case 0: return 0;
    case ENOENT: return kErrFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return kErrPathNotFound;
    case EMFILE:
    case ENFILE: return kErrTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return kErrAccessDenied;
    case EBADF: return kErrInvalidHandle;
    case ENOMEM: return kErrNotEnoughMemory;
    case EAGAIN:
    case EDEADLK: return kErrLockViolation;
    case ENOSPC:
    case EDQUOT: return kErrDiskFull;
    case EINVAL:
    case ENOSYS:
    case EOPNOTSUPP: return kErrInvalidFunction;
    case EIO: return kErrReadFault;
    default: return 31;  // ERROR_GEN_FAILURE
  }
}

Access AccessOfMode(unsigned mode) {
  switch (mode & 3u) {
    case 0: return Access::kRead;
    case 1: return Access::kWrite;
    default: return Access::kReadWrite;
  }
}

Share ShareOfMode(unsigned mode) {
  switch (mode & 0x70u) {
    case 0x10: return Share::kDenyAll;
    case 0x20: return Share::kDenyWrite;
    case 0x30: return Share::kDenyRead;
    default: return Share::kDenyNone;
  }
}

namespace {

class PosixFs final : public FileSystem {
 public:
  int Open(const std::string& path, int flags, int perms) override {
    int fd;
    do {
      fd = ::open(path.c_str(), flags | O_CLOEXEC, perms);
    } while (fd < 0 && errno == EINTR);
    return fd >= 0 ? fd : -errno;
  }
  int Close(int fd) override { return ::close(fd) == 0 ? 0 : -errno; }
  long long PRead(int fd, void* buf, size_t n, uint64_t pos) override {
    ssize_t r;
    do {
      r = ::pread(fd, buf, n, static_cast<off_t>(pos));
    } while (r < 0 && errno == EINTR);
    return r >= 0 ? r : -errno;
  }
  long long PWrite(int fd, const void* buf, size_t n, uint64_t pos) override {
    ssize_t r;
    do {
      r = ::pwrite(fd, buf, n, static_cast<off_t>(pos));
    } while (r < 0 && errno == EINTR);
    return r >= 0 ? r : -errno;
  }
  int Truncate(int fd, uint64_t size) override {
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : -errno;
  }
  int Sync(int fd) override { return ::fdatasync(fd) == 0 ? 0 : -errno; }
  long long Size(int fd) override {
    struct stat st;
    if (::fstat(fd, &st) != 0) return -errno;
    return st.st_size;
  }
  int Lock(int fd, int cmd, short type, uint64_t start, uint64_t len, bool* conflict) override {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(len);
    int r;
    do {
      r = ::fcntl(fd, cmd, &fl);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return -errno;
    if (conflict) *conflict = fl.l_type != F_UNLCK;
    return 0;
  }
  int Unlink(const std::string& path) override {
    return ::unlink(path.c_str()) == 0 ? 0 : -errno;
  }
  int Rename(const std::string& from, const std::string& to) override {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : -errno;
  }
  int SyncDirectory(const std::string& folder) override {
    int fd;
    do {
      fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -errno;
    int r = ::fsync(fd) == 0 ? 0 : -errno;
    ::close(fd);
    return r;
  }
  int ListDirectory(const std::string& folder, std::vector<std::string>* names) override {
    names->clear();
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(folder.c_str()), ::closedir);
    if (!d) return -errno;
    while (dirent* e = ::readdir(d.get())) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names->push_back(std::move(name));
    }
    return 0;
  }
  int Status(const std::string& path, bool* isFolder) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return -errno;
    *isFolder = S_ISDIR(st.st_mode);
    return 0;
  }
  bool IsLocal(int fd) override {
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
      case 0xEF53:      // ext2, ext3, ext4
      case 0x58465342:  // xfs
      case 0x9123683E:  // btrfs
      case 0x01021994:  // tmpfs
      case 0xF2F52010:  // f2fs
      case 0x2FC12FC1:  // zfs
      case 0x794C7630:  // overlayfs
        return true;
      default:
        return false;
    }
  }
  bool CanMap() const override { return true; }
  const void* MapRead(int fd, uint64_t len) override {
    void* p = ::mmap(nullptr, len, PROT_READ, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : p;
  }
  void Unmap(const void* addr, uint64_t len) override {
    ::munmap(const_cast<void*>(addr), len);
  }
};

FileSystem* g_current = nullptr;

// Reads from the mapping of a file that another process may cut short: a page past the file's
// new end faults (SIGBUS). The handler puts a page of zeros in its place and notes it; the read
// is then done again with pread, which sees the file as it now is. A fault outside such a read
// goes to the handler the program had.
thread_local const unsigned char* tGuardFrom = nullptr;
thread_local const unsigned char* tGuardTo = nullptr;
thread_local volatile sig_atomic_t tFaulted = 0;
struct sigaction gPreviousBus;
uintptr_t gPageSize = 4096;

void OnBusError(int sig, siginfo_t* info, void* context) {
  auto* at = static_cast<const unsigned char*>(info->si_addr);
  if (tGuardFrom && at >= tGuardFrom && at < tGuardTo) {
    void* page = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(at) & ~(gPageSize - 1));
    if (::mmap(page, gPageSize, PROT_READ, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) !=
        MAP_FAILED) {
      tFaulted = 1;
      return;
    }
  }
  // Not a guarded read: the fault happens again under the program's own handler.
  ::sigaction(SIGBUS, &gPreviousBus, nullptr);
}

void InstallBusGuard() {
  static std::once_flag once;
  std::call_once(once, [] {
    gPageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = &OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &gPreviousBus);
  });
}

// Copies n bytes from a mapping of mapLen bytes at map; false when a page was gone.
bool GuardedCopy(void* to, const unsigned char* map, uint64_t mapLen, uint64_t pos, size_t n) {
  tFaulted = 0;
  tGuardFrom = map;
  tGuardTo = map + mapLen;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(to, map + pos, n);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  tGuardFrom = tGuardTo = nullptr;
  return tFaulted == 0;
}

// Sharing modes are emulated with shared locks on bytes far beyond any real data. An open
// marks its access (read, write) and what it denies (read, write); an open is refused when
// what it asks for meets what another open denies, or what it denies meets another's access.
constexpr uint64_t kShareBase = 0x7FFFFFFF00000000ULL;
constexpr uint64_t kAccessReadByte = kShareBase + 0;
constexpr uint64_t kAccessWriteByte = kShareBase + 1;
constexpr uint64_t kDenyReadByte = kShareBase + 2;
constexpr uint64_t kDenyWriteByte = kShareBase + 3;

int DirectoryError(const std::string& path) {
  // ENOENT for a missing folder is "path not found", for a missing file "file not found".
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return kErrFileNotFound;
  bool isFolder = false;
  if (CurrentFileSystem().Status(path.substr(0, slash), &isFolder) != 0 || !isFolder)
    return kErrPathNotFound;
  return kErrFileNotFound;
}

int OpenError(const std::string& path, int negErrno) {
  int err = -negErrno;
  if (err == ENOENT) return DirectoryError(path);
  return SystemErrorFromErrno(err);
}

}  // namespace

FileSystem& PosixFileSystem() {
  static PosixFs fs;
  return fs;
}

FileSystem& CurrentFileSystem() { return g_current ? *g_current : PosixFileSystem(); }

FileSystem* SetFileSystem(FileSystem* fs) {
  FileSystem* old = g_current;
  g_current = fs;
  return old;
}

File::~File() { Close(); }

File::File(File&& other) noexcept { *this = std::move(other); }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    access_ = other.access_;
    private_ = other.private_;
    mapped_ = other.mapped_;
    size_ = other.size_;
    mapFs_ = other.mapFs_;
    map_ = other.map_;
    mapLen_ = other.mapLen_;
    unmapped_ = other.unmapped_;
    other.fd_ = -1;
    other.private_ = false;
    other.mapped_ = false;
    other.map_ = nullptr;
    other.mapLen_ = 0;
  }
  return *this;
}

void File::StartPrivate(Share share) {
  FileSystem& fs = CurrentFileSystem();
  // Only where reads can be mapped: a file system under test sees every call as before.
  if (!fs.CanMap()) return;
  if (share != Share::kDenyAll && share != Share::kDenyWrite) {
    // Others may write the file: where the system's page cache keeps a mapping coherent with
    // their writes (a local file system), it is read through one all the same.
    if (!fs.IsLocal(fd_)) return;
    long long r = fs.Size(fd_);
    if (r < 0) return;
    InstallBusGuard();
    mapped_ = true;
    size_ = static_cast<uint64_t>(r);
    Remap();
    return;
  }
  long long r = fs.Size(fd_);
  if (r < 0) return;
  private_ = true;
  size_ = static_cast<uint64_t>(r);
  Remap();
}

void File::Unmap() {
  if (map_) mapFs_->Unmap(map_, mapLen_);
  map_ = nullptr;
  mapLen_ = 0;
}

void File::ReadWithoutMapping() {
  unmapped_ = true;
  Unmap();
}

void File::Remap() {
  Unmap();
  if ((!private_ && !mapped_) || unmapped_ || size_ == 0) return;
  mapFs_ = &CurrentFileSystem();
  // A file others write may grow: room for it to, without mapping again at each record.
  uint64_t len = private_ ? size_ : size_ + std::max<uint64_t>(size_ / 4, 1u << 20);
  map_ = static_cast<const unsigned char*>(mapFs_->MapRead(fd_, len));
  if (map_) mapLen_ = len;
}

int File::AcquireShareLocks(Share share) {
  FileSystem& fs = CurrentFileSystem();
  const bool wantsRead = access_ != Access::kWrite;
  const bool wantsWrite = access_ != Access::kRead;
  const bool deniesRead = share == Share::kDenyAll || share == Share::kDenyRead;
  const bool deniesWrite = share == Share::kDenyAll || share == Share::kDenyWrite;

  // Take our own marks first, then look for a conflict: two racing opens can then both be
  // refused, but never both admitted.
  auto mark = [&](uint64_t byte) { return fs.Lock(fd_, F_OFD_SETLK, F_RDLCK, byte, 1, nullptr); };
  auto othersHold = [&](uint64_t byte, bool* held) {
    return fs.Lock(fd_, F_OFD_GETLK, F_WRLCK, byte, 1, held);
  };
  struct Mark {
    bool on;
    uint64_t byte;
  };
  const Mark marks[] = {{wantsRead, kAccessReadByte},
                        {wantsWrite, kAccessWriteByte},
                        {deniesRead, kDenyReadByte},
                        {deniesWrite, kDenyWriteByte}};
  for (const Mark& m : marks) {
    if (!m.on) continue;
    int r = mark(m.byte);
    if (r == -EINVAL || r == -ENOLCK || r == -EOPNOTSUPP) return 0;  // no locking here
    if (r < 0) return SystemErrorFromErrno(-r);
  }
  const Mark checks[] = {{wantsRead, kDenyReadByte},
                         {wantsWrite, kDenyWriteByte},
                         {deniesRead, kAccessReadByte},
                         {deniesWrite, kAccessWriteByte}};
  for (const Mark& c : checks) {
    if (!c.on) continue;
    bool held = false;
    int r = othersHold(c.byte, &held);
    if (r < 0) return SystemErrorFromErrno(-r);
    if (held) return kErrSharingViolation;
  }
  return 0;
}

int File::Open(const std::string& path, Access access, Share share) {
  Close();
  FileSystem& fs = CurrentFileSystem();
  // A write-only open still reads: the share marks are read locks.
  int flags = access == Access::kRead ? O_RDONLY : O_RDWR;
  int fd = fs.Open(path, flags, 0);
  if (fd < 0) return OpenError(path, fd);
  fd_ = fd;
  path_ = path;
  access_ = access;
  int err = AcquireShareLocks(share);
  if (err != 0) {
    Close();
    return err;
  }
  StartPrivate(share);
  return 0;
}

int File::Create(const std::string& path, Share share, bool keepBytes) {
  Close();
  FileSystem& fs = CurrentFileSystem();
  // Check the sharing before truncating someone else's open file.
  int fd = fs.Open(path, O_RDWR | O_CREAT, 0666);
  if (fd < 0) return OpenError(path, fd);
  fd_ = fd;
  path_ = path;
  access_ = Access::kReadWrite;
  int err = AcquireShareLocks(share);
  if (err == 0 && !keepBytes) {
    int r = fs.Truncate(fd_, 0);
    if (r < 0) err = SystemErrorFromErrno(-r);
  }
  if (err != 0) {
    Close();
    return err;
  }
  StartPrivate(share);
  return 0;
}

void File::Close() {
  Unmap();
  private_ = false;
  mapped_ = false;
  unmapped_ = false;
  if (fd_ >= 0) {
    CurrentFileSystem().Close(fd_);  // closing drops every lock of this open
    fd_ = -1;
  }
}

int File::ReadAt(uint64_t pos, void* buf, size_t n, size_t* got) {
  *got = 0;
  if (fd_ < 0) return kErrInvalidHandle;
  FileSystem& fs = CurrentFileSystem();
  if (private_) {
    if (pos >= size_) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, size_ - pos));
    // The file grew well past the mapping: map it again rather than read the rest one call at
    // a time.
    if (pos + n > mapLen_ && size_ - mapLen_ >= std::max<uint64_t>(mapLen_ / 8, 1u << 20))
      Remap();
    if (map_ && mapFs_ == &fs && pos + n <= mapLen_) {
      std::memcpy(buf, map_ + pos, n);
      *got = n;
      return 0;
    }
  } else if (mapped_ && (!map_ || mapFs_ == &fs)) {
    if (!map_ && size_ > 0) Remap();
    // size_ is the size last seen: past it, the file may have grown since.
    if (pos + n > size_) {
      long long now = fs.Size(fd_);
      if (now >= 0) size_ = static_cast<uint64_t>(now);
      if (size_ > mapLen_) Remap();
    }
    size_t m = pos >= size_ ? 0 : static_cast<size_t>(std::min<uint64_t>(n, size_ - pos));
    if (m > 0 && map_ && pos + m <= mapLen_) {
      if (GuardedCopy(buf, map_, mapLen_, pos, m)) {
        *got = m;
        return 0;
      }
      // Another process cut the file: its pages past the end are gone from the mapping.
      Unmap();
      long long now = fs.Size(fd_);
      if (now >= 0) size_ = static_cast<uint64_t>(now);
    }
  }
  auto* p = static_cast<unsigned char*>(buf);
  while (*got < n) {
    long long r = fs.PRead(fd_, p + *got, n - *got, pos + *got);
    if (r < 0) return SystemErrorFromErrno(static_cast<int>(-r));
    if (r == 0) break;
    *got += static_cast<size_t>(r);
  }
  return 0;
}

void File::Prefetch(uint64_t pos, size_t n) const {
  if (!map_ || pos >= mapLen_) return;
  n = static_cast<size_t>(std::min<uint64_t>(n, mapLen_ - pos));
  for (size_t off = 0; off < n; off += 64) __builtin_prefetch(map_ + pos + off);
}

int File::WriteAt(uint64_t pos, const void* buf, size_t n) {
  if (fd_ < 0) return kErrInvalidHandle;
  if (access_ == Access::kRead) return kErrAccessDenied;
  FileSystem& fs = CurrentFileSystem();
  auto* p = static_cast<const unsigned char*>(buf);
  size_t done = 0;
  while (done < n) {
    long long r = fs.PWrite(fd_, p + done, n - done, pos + done);
    if (r > 0) {
      done += static_cast<size_t>(r);
      if (private_ || mapped_) size_ = std::max(size_, pos + done);
    }
    if (r < 0) {
      int err = static_cast<int>(-r);
      return err == EIO ? kErrWriteFault : SystemErrorFromErrno(err);
    }
    if (r == 0) return kErrWriteFault;
  }
  return 0;
}

int File::Truncate(uint64_t size) {
  if (fd_ < 0) return kErrInvalidHandle;
  if (access_ == Access::kRead) return kErrAccessDenied;
  // Never leave mapped bytes past the end of the file: reading them would fault.
  if (size < mapLen_) Unmap();
  int r = CurrentFileSystem().Truncate(fd_, size);
  if (private_ || mapped_) {
    if (r == 0) {
      size_ = size;
    } else {
      long long now = CurrentFileSystem().Size(fd_);
      if (now >= 0) size_ = static_cast<uint64_t>(now);
    }
  }
  return r < 0 ? SystemErrorFromErrno(-r) : 0;
}

int File::Sync() {
  if (fd_ < 0) return kErrInvalidHandle;
  int r = CurrentFileSystem().Sync(fd_);
  if (r == -EINVAL || r == -EROFS) return 0;  // special files cannot be synced
  return r < 0 ? (r == -EIO ? kErrWriteFault : SystemErrorFromErrno(-r)) : 0;
}

int File::Size(uint64_t* size) {
  *size = 0;
  if (fd_ < 0) return kErrInvalidHandle;
  if (private_) {
    *size = size_;
    return 0;
  }
  long long r = CurrentFileSystem().Size(fd_);
  if (r < 0) return SystemErrorFromErrno(static_cast<int>(-r));
  *size = static_cast<uint64_t>(r);
  if (mapped_) size_ = *size;
  return 0;
}

int File::TryLock(uint64_t pos, uint64_t len) {
  if (fd_ < 0) return kErrInvalidHandle;
  // A read-only open cannot take a write lock; a read lock still keeps writers out.
  short type = access_ == Access::kRead ? F_RDLCK : F_WRLCK;
  int r = CurrentFileSystem().Lock(fd_, F_OFD_SETLK, type, pos, len, nullptr);
  if (r == -EAGAIN || r == -EACCES) return kErrLockViolation;
  if (r == -EINVAL || r == -ENOLCK || r == -EOPNOTSUPP) return kErrInvalidFunction;
  return r < 0 ? SystemErrorFromErrno(-r) : 0;
}

int File::Unlock(uint64_t pos, uint64_t len) {
  if (fd_ < 0) return kErrInvalidHandle;
  int r = CurrentFileSystem().Lock(fd_, F_OFD_SETLK, F_UNLCK, pos, len, nullptr);
  if (r == -EINVAL || r == -ENOLCK || r == -EOPNOTSUPP) return kErrInvalidFunction;
  return r < 0 ? SystemErrorFromErrno(-r) : 0;
}

int RemoveFile(const std::string& path) {
  int r = CurrentFileSystem().Unlink(path);
  return r < 0 ? OpenError(path, r) : 0;
}

int RenameFile(const std::string& from, const std::string& to) {
  int r = CurrentFileSystem().Rename(from, to);
  return r < 0 ? OpenError(from, r) : 0;
}

int CopyFile(const std::string& from, const std::string& to) {
  File in;
  int err = in.Open(from, Access::kRead, Share::kDenyNone);
  if (err) return err;
  File out;
  err = out.Create(to, Share::kDenyNone);
  if (err) return err;
  std::vector<unsigned char> buf(1 << 16);
  uint64_t pos = 0;
  for (;;) {
    size_t got = 0;
    err = in.ReadAt(pos, buf.data(), buf.size(), &got);
    if (err) return err;
    if (got == 0) break;
    err = out.WriteAt(pos, buf.data(), got);
    if (err) return err;
    pos += got;
  }
  return out.Sync();
}

bool FileExists(const std::string& path) {
  bool isFolder = false;
  return CurrentFileSystem().Status(path, &isFolder) == 0 && !isFolder;
}

namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int SyncFolderOf(const std::string& path) {
  int r = CurrentFileSystem().SyncDirectory(FolderOf(path));
  if (r == -EINVAL || r == -EROFS || r == -EOPNOTSUPP) return 0;
  return r < 0 ? SystemErrorFromErrno(-r) : 0;
}

int CreateUniqueFile(const std::string& folder, const std::string& prefix,
                     const std::string& extension, Share share, File* file, std::string* path) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string base = folder;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    std::string candidate = base.empty() ? name + extension : base + "/" + name + extension;
    int fd = CurrentFileSystem().Open(candidate, O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd == -EEXIST) continue;
    if (fd < 0) return OpenError(candidate, fd);
    int closed = CurrentFileSystem().Close(fd);
    if (closed < 0) return SystemErrorFromErrno(-closed);
    int err = file->Open(candidate, Access::kReadWrite, share);
    if (err) {
      (void)RemoveFile(candidate);  // the open's failure is the one reported
      return err;
    }
    *path = candidate;
    return 0;
  }
  return kErrAccessDenied;
}

int ListFolder(const std::string& folder, std::vector<std::string>* names) {
  int r = CurrentFileSystem().ListDirectory(folder.empty() ? "." : folder, names);
  return r < 0 ? (r == -ENOENT ? kErrPathNotFound : SystemErrorFromErrno(-r)) : 0;
}

int ReadWholeFile(const std::string& path, std::string* text) {
  text->clear();
  File f;
  int err = f.Open(path, Access::kRead, Share::kDenyNone);
  if (err) return err;
  uint64_t size = 0;
  err = f.Size(&size);
  if (err) return err;
  text->resize(static_cast<size_t>(size));
  size_t got = 0;
  err = f.ReadAt(0, text->data(), text->size(), &got);
  text->resize(got);
  return err;
}

}  // namespace korawin::platform
