// Operating-system file access for the storage engine: positioned reads and writes, size,
// truncation, flush, byte-range locks and Windows-style sharing modes, all over POSIX.
//
// Every function reports failure as a Windows-style system error number (2 file not found,
// 3 path not found, 4 too many open files, 5 access denied, 6 invalid handle, 32 sharing
// violation, 33 lock violation, 112 disk full, ...) so that the drivers can apply their rule
// "below 19 unchanged, else 5". 0 is success.
//
// Locks are open-file-description locks: they belong to the open file, not to the process, so
// two opens of one file inside one program exclude each other just as two stations do.
#pragma once

#include <cstddef>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korawin::platform {

// Windows system error numbers used by the layer.
inline constexpr int kErrFileNotFound = 2;
inline constexpr int kErrPathNotFound = 3;
inline constexpr int kErrTooManyOpenFiles = 4;
inline constexpr int kErrAccessDenied = 5;
inline constexpr int kErrInvalidHandle = 6;
inline constexpr int kErrNotEnoughMemory = 8;
inline constexpr int kErrInvalidFunction = 1;
inline constexpr int kErrWriteFault = 29;
inline constexpr int kErrReadFault = 30;
inline constexpr int kErrSharingViolation = 32;
inline constexpr int kErrLockViolation = 33;
inline constexpr int kErrDiskFull = 112;

// Translates errno into the Windows system error number.
int SystemErrorFromErrno(int err);

// Access: the low two bits of an open mode.
enum class Access { kRead = 0, kWrite = 1, kReadWrite = 2 };

// Sharing: bits 4 to 6 of an open mode. kDenyNone covers both 0x00 and 0x40.
enum class Share { kDenyNone, kDenyAll, kDenyWrite, kDenyRead };

// Splits an open mode of the drivers into access and sharing.
Access AccessOfMode(unsigned mode);
Share ShareOfMode(unsigned mode);

// The operations a File performs on the operating system. Production uses the POSIX one;
// tests substitute their own (fault injection, crash simulation) through SetFileSystem.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens (or with create, creates and truncates) a file; returns a descriptor or -errno.
  virtual int Open(const std::string& path, int flags, int perms) = 0;
  virtual int Close(int fd) = 0;
  // Return bytes moved, or -errno.
  virtual long long PRead(int fd, void* buf, size_t n, uint64_t pos) = 0;
  virtual long long PWrite(int fd, const void* buf, size_t n, uint64_t pos) = 0;
  virtual int Truncate(int fd, uint64_t size) = 0;  // 0 or -errno
  virtual int Sync(int fd) = 0;                      // 0 or -errno
  virtual long long Size(int fd) = 0;                // size or -errno
  // fcntl F_OFD_SETLK / F_OFD_SETLKW / F_OFD_GETLK; 0 or -errno. For GETLK, *conflict is set.
  virtual int Lock(int fd, int cmd, short type, uint64_t start, uint64_t len, bool* conflict) = 0;
  virtual int Unlink(const std::string& path) = 0;
  virtual int Rename(const std::string& from, const std::string& to) = 0;
  // Makes the names created, renamed or removed in a folder last through a power cut; a file
  // system that can't flush a folder answers -EINVAL, and its names are as safe as they get.
  virtual int SyncDirectory(const std::string& folder) = 0;
  // The names in a folder ("." and ".." left out); 0 or -errno.
  virtual int ListDirectory(const std::string& folder, std::vector<std::string>* names) = 0;
  // Whether path names something, and whether that is a folder; 0, or -errno (-ENOENT when
  // nothing has that name).
  virtual int Status(const std::string& path, bool* isFolder) = 0;
  // Whether the file lies on a file system of this machine, whose metadata every process sees
  // at once (not a network share, whose clients may keep it cached for seconds).
  virtual bool IsLocal(int fd) { return false; }
  // Whether the file system can map files for reading (MapRead/Unmap). One that can't is read
  // through PRead only.
  virtual bool CanMap() const { return false; }
  // Maps the first len bytes of the file for reading; nullptr when that fails.
  virtual const void* MapRead(int /*fd*/, uint64_t /*len*/) { return nullptr; }
  virtual void Unmap(const void* /*addr*/, uint64_t /*len*/) {}
};

// The POSIX file system (the default).
FileSystem& PosixFileSystem();
// The file system in force; tests may install another one and must restore the old one.
FileSystem& CurrentFileSystem();
FileSystem* SetFileSystem(FileSystem* fs);

// One open file. Not copyable; movable. Closing releases its locks.
//
// A file opened so that no other open may write it (sharing kDenyAll or kDenyWrite) changes
// only through this object: it then knows its size without asking the system, and where the
// file system can map files, reads are served from a read-only mapping of the file (kept
// coherent with the writes by the system's page cache) instead of one system call each. A file
// others may write is read through a mapping too where it lies on a local file system (whose
// page cache every process shares): a read past the size last seen asks for the size again,
// and a page that another process cut away is read again with a system call.
class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Opens an existing file with the driver's access and sharing. A sharing mode that another
  // open of the same file (in this or another process) denies gives 32 (sharing violation).
  [[nodiscard]] int Open(const std::string& path, Access access, Share share);
  // Creates (or truncates) a file for read and write with the given sharing. With keepBytes an
  // existing file keeps its bytes until they are overwritten: a file about to be rewritten whole
  // keeps its blocks and cached pages instead of giving them up and taking new ones, and the
  // caller cuts it to its new length.
  [[nodiscard]] int Create(const std::string& path, Share share, bool keepBytes = false);
  void Close();
  bool is_open() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  Access access() const { return access_; }

  // Reads up to n bytes at pos; *got receives the count (less than n at the end of the file).
  [[nodiscard]] int ReadAt(uint64_t pos, void* buf, size_t n, size_t* got);
  // Writes n bytes at pos; a short write with no system error gives 29.
  [[nodiscard]] int WriteAt(uint64_t pos, const void* buf, size_t n);
  [[nodiscard]] int Truncate(uint64_t size);
  // From now until the file is closed, reads are system calls, never served from a mapping:
  // for a reader that keeps its own copy of what it reads and wants no second one resident.
  void ReadWithoutMapping();
  // A hint that n bytes at pos will be read soon (a mapped file starts loading them).
  void Prefetch(uint64_t pos, size_t n) const;
  [[nodiscard]] int Sync();
  [[nodiscard]] int Size(uint64_t* size);
  // The size this object last saw without asking the system (0 when it keeps none): the file's
  // size when no other open may write it, else at least what it was then.
  uint64_t size_seen() const { return private_ || mapped_ ? size_ : 0; }

  // Byte-range locks (exclusive). TryLock gives 33 when another open holds an overlapping lock.
  [[nodiscard]] int TryLock(uint64_t pos, uint64_t len);
  [[nodiscard]] int Unlock(uint64_t pos, uint64_t len);

 private:
  int AcquireShareLocks(Share share);
  // After an open: whether the file is ours alone, its size, its mapping.
  void StartPrivate(Share share);
  void Unmap();
  void Remap();

  int fd_ = -1;
  std::string path_;
  Access access_ = Access::kRead;
  bool private_ = false;         // no other open may write: size_ is the file's size
  bool mapped_ = false;          // others may write, and reads go through map_: size_ is the
                                 // size last seen
  uint64_t size_ = 0;
  FileSystem* mapFs_ = nullptr;  // the file system that made map_
  const unsigned char* map_ = nullptr;
  uint64_t mapLen_ = 0;
  bool unmapped_ = false;  // ReadWithoutMapping
};

// Removes, renames and copies whole files (used by REMOVE, RENAME and COPY).
[[nodiscard]] int RemoveFile(const std::string& path);
[[nodiscard]] int RenameFile(const std::string& from, const std::string& to);
[[nodiscard]] int CopyFile(const std::string& from, const std::string& to);
// Whether a regular file (not a folder) has that name.
bool FileExists(const std::string& path);
// Makes the names just created, renamed or removed in the folder of path last through a power
// cut (a file system that can't flush a folder counts as done).
[[nodiscard]] int SyncFolderOf(const std::string& path);
// Creates a new file named folder/prefix + six random characters + extension, read and write
// with the given sharing, and opens it in *file; *path receives its name.
[[nodiscard]] int CreateUniqueFile(const std::string& folder, const std::string& prefix,
                                   const std::string& extension, Share share, File* file,
                                   std::string* path);
// The names of the files in a folder, in no particular order.
[[nodiscard]] int ListFolder(const std::string& folder, std::vector<std::string>* names);
// The whole content of a file.
[[nodiscard]] int ReadWholeFile(const std::string& path, std::string* text);

}  // namespace korawin::platform
