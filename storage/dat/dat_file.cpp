#include "storage/dat/dat_file.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "storage/dat/halt.h"
#include "storage/dat/journal.h"

namespace korawin::storage::dat {

namespace {

constexpr int64_t kHeaderLockHundredths = 100;

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string FromNumber(uint32_t n) {
  unsigned char b[4];
  Put32(b, n);
  return std::string(reinterpret_cast<char*>(b), 4);
}

bool IsText(uint8_t type) {
  return type == kTypeString || type == kTypeCString || type == kTypePString;
}

}  // namespace

std::string DataFilePath(const std::string& name) {
  if (name.empty() || name.back() == '/') return std::string();
  return platform::Extension(name).empty() ? name + ".DAT" : name;
}

std::string KeyFilePath(const std::string& dataPath, size_t index, bool isIndex) {
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  size_t n = index + 1;
  std::string ext = isIndex ? ".I" : ".K";
  ext += kDigits[(n / 36) % 36];
  ext += kDigits[n % 36];
  return platform::ReplaceExtension(dataPath, ext);
}

int CheckDeletedChain(DatStream& stream, const DatHeader& h, std::string* fault) {
  auto fail = [&](const std::string& why) {
    if (fault) *fault = why;
    return static_cast<int>(kErrInvalidDataFile);
  };
  if (h.recordLength < kRecordPrefixSize) return fail("record length below 5");
  if (h.deleted > h.records) return fail("deleted count above the record count");
  std::set<uint32_t> seen;
  uint32_t n = h.firstDeleted;
  while (n != 0) {
    if (n > h.records)
      return fail("deleted chain points at record " + std::to_string(n) + " past the count");
    if (!seen.insert(n).second)
      return fail("deleted chain loops at record " + std::to_string(n));
    if (seen.size() > h.deleted)
      return fail("deleted chain longer than the deleted count");
    unsigned char prefix[kRecordPrefixSize];
    uint64_t pos = h.dataOffset + static_cast<uint64_t>(n - 1) * h.recordLength;
    if (stream.Read(pos, prefix, kRecordPrefixSize, kErrInvalidDataFile))
      return fail("record " + std::to_string(n) + " of the deleted chain cannot be read");
    if (!(prefix[0] & kStatusDeleted))
      return fail("deleted chain points at live record " + std::to_string(n));
    n = Get32(prefix + 1);
  }
  if (seen.size() != h.deleted) return fail("deleted chain shorter than the deleted count");
  return 0;
}

DatFile::DatFile(FileDescriptor& file) : file_(file) {
  declaredError_ = LayoutFromDeclaration(file, &declared_);
  // Text bytes of the record, each once even where fields overlay one another.
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
  for (const FieldDescriptor& f : file.fields)
    if (IsText(f.type) && f.size > 0 && f.offset < file.recordSize)
      ranges.push_back({f.offset, std::min(f.offset + f.size, file.recordSize)});
  std::sort(ranges.begin(), ranges.end());
  for (const auto& r : ranges) {
    if (!textRanges_.empty() && r.first <= textRanges_.back().second)
      textRanges_.back().second = std::max(textRanges_.back().second, r.second);
    else
      textRanges_.push_back(r);
  }
}

DatFile::~DatFile() {
  if (stream_.is_open()) Close();
}

DatFile& DatFile::Of(FileDescriptor& file) {
  if (!file.control) file.control = std::make_unique<DatFile>(file);
  return static_cast<DatFile&>(*file.control);
}

// ---- header ----

int DatFile::ReadHeader() {
  unsigned char buf[kHeaderSize];
  int err = stream_.Read(0, buf, kHeaderSize, kErrInvalidDataFile);
  if (err) return err == kErrReadFault ? kErrInvalidDataFile : err;
  DatHeader h;
  err = h.Decode(buf, kHeaderSize);
  if (err) return err;
  // Another station may change counts, never the shape of the file.
  const DatHeader& old = layout_.header;
  if (h.recordLength != old.recordLength || h.dataOffset != old.dataOffset)
    return kErrInvalidDataFile;
  layout_.header = h;
  return CheckSize();
}

int DatFile::CheckSize() {
  const DatHeader& h = layout_.header;
  uint64_t end = h.dataOffset + static_cast<uint64_t>(h.records) * h.recordLength;
  if (end > stream_.Size()) return kErrInvalidDataFile;
  if (h.deleted > h.records || h.firstDeleted > h.records) return kErrInvalidDataFile;
  return 0;
}

int DatFile::WriteHeader(bool stamp) {
  if (readOnly_) return 0;
  DatHeader& h = layout_.header;
  if (stamp) {
    h.changeDate = static_cast<uint32_t>(platform::Today());
    h.changeTime = static_cast<uint32_t>(platform::ClockTime());
  }
  unsigned char buf[kHeaderSize];
  h.Encode(buf);
  int err = stream_.Write(0, buf, kHeaderSize);
  if (err) return err;
  headerDirty_ = false;
  return streaming_ ? 0 : stream_.Sync();
}

int DatFile::LockHeader() {
  if (!shared_ || headerLocked_) return 0;
  int64_t start = platform::MonotonicHundredths();
  for (;;) {
    int err = stream_.file().TryLock(0, 1);
    if (err == 0 || err == platform::kErrInvalidFunction) break;  // no locking: nothing to share
    if (err == platform::kErrInvalidHandle || err == 36) {
      Halt("DOS FILE LOCKING ERROR");
      return kErrAccessDenied;
    }
    if (err != platform::kErrLockViolation) return DriverCodeFromSystem(err);
    if (platform::MonotonicHundredths() - start >= kHeaderLockHundredths) return kErrAccessDenied;
    SleepMs(5);
  }
  headerLocked_ = true;
  return 0;
}

void DatFile::UnlockHeader() {
  if (!headerLocked_) return;
  stream_.file().Unlock(0, 1);
  headerLocked_ = false;
}

int DatFile::RefreshIfShared() {
  if (!shared_) return 0;
  int err = LockHeader();
  if (err) return err;
  err = ReadHeader();
  UnlockHeader();
  return err;
}

bool DatFile::LockedByOther() const {
  return (layout_.header.attributes & kAttrLocked) && !locked_;
}

// ---- records ----

uint64_t DatFile::RecordPos(uint32_t n) const {
  return layout_.header.dataOffset + static_cast<uint64_t>(n - 1) * layout_.header.recordLength;
}

int DatFile::ReadRecordRaw(uint32_t n, std::vector<unsigned char>* raw) {
  raw->resize(layout_.header.recordLength);
  int err = stream_.Read(RecordPos(n), raw->data(), raw->size(), kErrInvalidDataFile);
  return err == kErrReadFault ? kErrInvalidDataFile : err;
}

int DatFile::ReadStatus(uint32_t n, unsigned char prefix[kRecordPrefixSize]) {
  int err = stream_.Read(RecordPos(n), prefix, kRecordPrefixSize, kErrInvalidDataFile);
  return err == kErrReadFault ? kErrInvalidDataFile : err;
}

void DatFile::ToOem(unsigned char* data) const {
  if (!(file_.attributes & kFileOem)) return;
  for (const auto& r : textRanges_)
    platform::AnsiToOemInPlace(reinterpret_cast<char*>(data + r.first), r.second - r.first);
}

void DatFile::ToAnsi(unsigned char* data) const {
  if (!(file_.attributes & kFileOem)) return;
  for (const auto& r : textRanges_)
    platform::OemToAnsiInPlace(reinterpret_cast<char*>(data + r.first), r.second - r.first);
}

int DatFile::LoadRecord(uint32_t n, std::vector<unsigned char>& raw) {
  int err = MemoRead(Get32(raw.data() + 1));
  if (err) return err;
  current_ = n;
  currentStatus_ = raw[0];
  currentLink_ = Get32(raw.data() + 1);
  currentData_.assign(raw.begin() + kRecordPrefixSize, raw.end());
  haveCurrent_ = true;
  std::memcpy(file_.record, raw.data() + kRecordPrefixSize, file_.recordSize);
  ToAnsi(reinterpret_cast<unsigned char*>(file_.record));
  seqPos_ = n;
  seq_ = Seq::kAfter;
  return 0;
}

void DatFile::ForgetCurrent() {
  haveCurrent_ = false;
  current_ = 0;
}

int DatFile::WriteRecord(uint32_t n, uint8_t status, uint32_t link) {
  std::vector<unsigned char> raw(layout_.header.recordLength);
  raw[0] = status;
  Put32(raw.data() + 1, link);
  std::memcpy(raw.data() + kRecordPrefixSize, file_.record, file_.recordSize);
  ToOem(raw.data() + kRecordPrefixSize);
  return stream_.Write(RecordPos(n), raw.data(), raw.size());
}

// ---- whole file ----

int DatFile::Create() {
  if (!(file_.attributes & kFileCreate)) return kErrNoCreateAttribute;
  if (declaredError_) return declaredError_;
  std::string path = DataFilePath(file_.name);
  if (path.empty()) return kErrInvalidFilename;
  if (stream_.is_open()) Close();
  path = platform::ResolveExisting(path);
  DatLayout layout = declared_;
  if (!file_.memos.empty()) {
    std::string memo = platform::ReplaceExtension(path, ".MEM");
    size_t colon = memo.find_last_of("/:");
    memo = colon == std::string::npos ? memo : memo.substr(colon + 1);
    memo.resize(12, ' ');
    layout.header.memoName = memo.substr(0, 12);
  }
  int err = stream_.Create(path);
  if (err) return err;
  path_ = path;
  layout_ = layout;
  readOnly_ = false;
  shared_ = false;
  std::string front = layout.EncodeDescriptions();
  if (!front.empty()) err = stream_.Write(kHeaderSize, front.data(), front.size());
  if (!err) err = KeysCreate();
  if (!err) err = MemoCreate();
  if (!err) err = WriteHeader(true);
  if (!err) err = stream_.Sync();
  stream_.Close();
  ForgetCurrent();
  return err;
}

int DatFile::Open(unsigned mode) {
  std::string path = DataFilePath(file_.name);
  if (path.empty()) return kErrInvalidFilename;
  if (declaredError_) return declaredError_;
  if (!file_.record && file_.recordSize > 0) return kErrInvalidParameters;
  if (stream_.is_open()) Close();
  path = platform::ResolveExisting(path);

  int err = Journal::Instance().RecoverInterrupted(path);
  if (err) return err;
  err = stream_.Open(path, mode);
  if (err) return err;
  path_ = path;
  mode_ = mode;
  readOnly_ = (mode & 0x3) == kOpenReadOnly;
  shared_ = (mode & 0x70) == kShareDenyNone;
  streaming_ = false;
  locked_ = false;
  held_ = watched_ = 0;
  ForgetCurrent();
  seq_ = Seq::kStart;

  auto fail = [&](int code) {
    UnlockHeader();
    stream_.Close();
    return code;
  };
  err = ApplyDriverString();
  if (err) return fail(err);
  err = LockHeader();
  if (err) return fail(err);
  err = ReadLayout(stream_, &layout_);
  if (err) return fail(err == kErrReadFault ? kErrInvalidDataFile : err);
  err = CompareLayouts(layout_, declared_);
  if (err) return fail(err);
  err = CheckSize();
  if (!err) err = CheckDeletedChain(stream_, layout_.header, nullptr);
  if (err) return fail(err);
  UnlockHeader();

  if (LockedByOther()) {
    err = WaitForLock(-1, kErrAccessDenied);
    if (err) return fail(err);
    // Broken as stale: the lock is now ours; an OPEN does not keep it.
    err = Unlock();
    if (err) return fail(err);
  }
  err = MemoOpen();
  if (!err) err = KeysOpen();
  if (err) {
    MemoClose();
    return fail(err);
  }
  return 0;
}

int DatFile::Close() {
  if (!stream_.is_open()) return 0;
  int result = 0;
  if (held_) Release();
  if (locked_) Unlock();
  if (headerDirty_ && !shared_) result = WriteHeader(false);
  Journal::Instance().Leave(stream_);
  KeysClose();
  MemoClose();
  UnlockHeader();
  stream_.Close();
  ForgetCurrent();
  seq_ = Seq::kStart;
  watched_ = 0;
  streaming_ = false;
  return result;
}

int DatFile::Empty() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (readOnly_) return kErrAccessDenied;
  int err = LockHeader();
  if (err) return err;
  if (shared_) err = ReadHeader();
  if (!err && LockedByOther()) err = kErrFileLocked;
  if (!err) {
    DatHeader& h = layout_.header;
    h.records = h.deleted = h.firstDeleted = h.highestWritten = h.lowestWritten = 0;
    err = WriteHeader(true);
  }
  if (!err) err = stream_.Truncate(layout_.header.dataOffset);
  if (!err) err = MemoEmpty();
  if (!err) err = KeysEmpty();
  UnlockHeader();
  ForgetCurrent();
  seq_ = Seq::kStart;
  held_ = watched_ = 0;
  return err;
}

std::vector<std::string> DatFile::AllPaths() const {
  std::string data = platform::ResolveExisting(DataFilePath(file_.name));
  std::vector<std::string> paths{data};
  size_t index = 0;
  for (const KeyDescriptor& k : file_.keys) {
    if (k.attributes & kKeyNotStored) continue;
    paths.push_back(KeyFilePath(data, index++, (k.attributes & kKeyIndex) != 0));
  }
  if (!file_.memos.empty()) paths.push_back(platform::ReplaceExtension(data, ".MEM"));
  return paths;
}

int DatFile::Remove() {
  if (DataFilePath(file_.name).empty()) return kErrInvalidFilename;
  if (stream_.is_open()) return kErrAccessDenied;
  std::vector<std::string> paths = AllPaths();
  int err = platform::RemoveFile(paths[0]);
  if (err) return DriverCodeFromSystem(err);
  for (size_t i = 1; i < paths.size(); ++i) {
    std::string p = platform::ResolveExisting(paths[i]);
    if (platform::FileExists(p)) platform::RemoveFile(p);
  }
  return 0;
}

int DatFile::Rename(const std::string& newName) {
  std::string target = DataFilePath(newName);
  if (DataFilePath(file_.name).empty() || target.empty()) return kErrInvalidFilename;
  if (stream_.is_open()) return kErrAccessDenied;
  std::vector<std::string> paths = AllPaths();
  if (!platform::FileExists(paths[0])) return kErrFileNotFound;
  for (size_t i = 0; i < paths.size(); ++i) {
    std::string from = i == 0 ? paths[0] : platform::ResolveExisting(paths[i]);
    if (i > 0 && !platform::FileExists(from)) continue;
    std::string to = i == 0 ? target : platform::ReplaceExtension(target, platform::Extension(from));
    int err = platform::RenameFile(from, to);
    if (err) return DriverCodeFromSystem(err);
  }
  return 0;
}

int DatFile::Copy(const std::string& newName) {
  std::string target = DataFilePath(newName);
  if (DataFilePath(file_.name).empty() || target.empty()) return kErrInvalidFilename;
  std::vector<std::string> paths = AllPaths();
  if (!platform::FileExists(paths[0])) return kErrFileNotFound;
  for (size_t i = 0; i < paths.size(); ++i) {
    std::string from = i == 0 ? paths[0] : platform::ResolveExisting(paths[i]);
    if (i > 0 && !platform::FileExists(from)) continue;
    std::string to = i == 0 ? target : platform::ReplaceExtension(target, platform::Extension(from));
    int err = platform::CopyFile(from, to);
    if (err) return DriverCodeFromSystem(err);
  }
  return 0;
}

// ---- writing records ----

int DatFile::Add(bool append) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (readOnly_) return kErrAccessDenied;
  int err = LockHeader();
  if (err) return err;
  struct Unlocker {
    DatFile* f;
    ~Unlocker() { f->UnlockHeader(); }
  } unlocker{this};
  if (shared_) {
    err = ReadHeader();
    if (err) return err;
  }
  if (LockedByOther()) return kErrFileLocked;

  DatHeader h = layout_.header;
  uint32_t n = 0;
  uint32_t nextDeleted = 0;
  bool reuse = false;
  if ((h.attributes & kAttrReclaim) && h.firstDeleted != 0) {
    unsigned char prefix[kRecordPrefixSize];
    err = ReadStatus(h.firstDeleted, prefix);
    if (err) return err;
    if (prefix[0] & kStatusDeleted) {
      nextDeleted = Get32(prefix + 1);
      if (nextDeleted > h.records || h.deleted == 0) return kErrInvalidDataFile;
      n = h.firstDeleted;
      reuse = true;
    }
  }
  if (!reuse) {
    if (h.records == UINT32_MAX) return kErrInvalidDataFile;
    n = h.records + 1;
  }
  if (!append) {
    err = KeysCheckUnique();
    if (err) return err;
  }
  uint32_t memo = 0;
  err = MemoWrite(&memo);
  if (err) return err;
  err = WriteRecord(n, kStatusNew, memo);
  if (err) return err;
  if (!append) {
    err = KeysInsert(n);
    if (err) return err;
  }
  if (reuse) {
    h.firstDeleted = nextDeleted;
    h.deleted -= 1;
  } else {
    h.records = n;
  }
  h.highestWritten = std::max(h.highestWritten, n);
  h.lowestWritten = h.lowestWritten == 0 ? n : std::min(h.lowestWritten, n);
  layout_.header = h;
  err = WriteHeader(true);
  if (err) return err;

  current_ = n;
  currentStatus_ = kStatusNew;
  currentLink_ = memo;
  currentData_.assign(file_.record, file_.record + file_.recordSize);
  ToOem(currentData_.data());
  haveCurrent_ = true;
  seqPos_ = n;
  seq_ = Seq::kAfter;
  return 0;
}

int DatFile::Put(uint32_t record) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  uint32_t n = record ? record : current_;
  if (record == 0 && !haveCurrent_) return kErrRecordNotAvailable;
  if (readOnly_) return kErrAccessDenied;
  if (n == 0 || n > layout_.header.records) {
    int err = RefreshIfShared();
    if (err) return err;
    if (n == 0 || n > layout_.header.records) return kErrRecordNotAvailable;
  }
  std::vector<unsigned char> disk;
  int err = ReadRecordRaw(n, &disk);
  if (err) return err;
  if ((disk[0] & kStatusDeleted) && !ignoreStatus_) return kErrRecordNotAvailable;
  if (watched_ == n) {
    if (!std::equal(watchCopy_.begin(), watchCopy_.end(), disk.begin() + kRecordPrefixSize))
      return kErrRecordChanged;
  }
  err = KeysMove(n, disk.data() + kRecordPrefixSize);
  if (err) return err;
  uint32_t memo = Get32(disk.data() + 1);
  err = MemoWrite(&memo);
  if (err) return err;
  uint8_t status = static_cast<uint8_t>(disk[0] | kStatusRevised);
  if (held_ == n) status &= static_cast<uint8_t>(~kStatusHeld);
  err = WriteRecord(n, status, memo);
  if (err) return err;
  if (held_ == n) held_ = 0;
  if (watched_ == n) watched_ = 0;

  DatHeader& h = layout_.header;
  uint32_t highest = std::max(h.highestWritten, n);
  uint32_t lowest = h.lowestWritten == 0 ? n : std::min(h.lowestWritten, n);
  if (maintainHeaderTime_) {
    err = LockHeader();
    if (!err && shared_) err = ReadHeader();
    if (!err) {
      h.highestWritten = std::max(h.highestWritten, n);
      h.lowestWritten = h.lowestWritten == 0 ? n : std::min(h.lowestWritten, n);
      err = WriteHeader(true);
    }
    UnlockHeader();
    if (err) return err;
  } else if (!shared_ && (highest != h.highestWritten || lowest != h.lowestWritten)) {
    // Written with the next header write (or at CLOSE) of this exclusive file.
    h.highestWritten = highest;
    h.lowestWritten = lowest;
    headerDirty_ = true;
  }
  if (n == current_ && haveCurrent_) {
    currentStatus_ = status;
    currentLink_ = memo;
    currentData_.assign(file_.record, file_.record + file_.recordSize);
    ToOem(currentData_.data());
  }
  return 0;
}

int DatFile::Delete() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (!haveCurrent_) return kErrRecordNotAvailable;
  if (readOnly_) return kErrAccessDenied;
  int err = LockHeader();
  if (err) return err;
  struct Unlocker {
    DatFile* f;
    ~Unlocker() { f->UnlockHeader(); }
  } unlocker{this};
  if (shared_) {
    err = ReadHeader();
    if (err) return err;
  }
  uint32_t n = current_;
  std::vector<unsigned char> disk;
  err = ReadRecordRaw(n, &disk);
  if (err) return err;
  if ((disk[0] & kStatusDeleted) && !ignoreStatus_) return kErrRecordNotAvailable;
  err = MemoFree(Get32(disk.data() + 1));
  if (err) return err;
  err = KeysRemove(n, disk.data() + kRecordPrefixSize);
  if (err) return err;
  DatHeader& h = layout_.header;
  unsigned char prefix[kRecordPrefixSize];
  prefix[0] = static_cast<unsigned char>(disk[0] | kStatusDeleted);
  if (held_ == n) prefix[0] &= static_cast<unsigned char>(~kStatusHeld);
  Put32(prefix + 1, h.firstDeleted);
  err = stream_.Write(RecordPos(n), prefix, kRecordPrefixSize);
  if (err) return err;
  if (!(disk[0] & kStatusDeleted)) {
    h.firstDeleted = n;
    h.deleted += 1;
  }
  err = WriteHeader(true);
  if (held_ == n) held_ = 0;
  if (watched_ == n) watched_ = 0;
  ForgetCurrent();
  return err;
}

// ---- reading records ----

int DatFile::Get(int64_t record) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  const DatHeader* h = &layout_.header;
  if (record >= 1 && record > h->records) {
    int err = RefreshIfShared();
    if (err) return err;
  }
  if (record < 1 || record > h->records ||
      (h->records == h->deleted && !ignoreStatus_)) {
    ForgetCurrent();
    return kErrRecordNotFound;
  }
  std::vector<unsigned char> raw;
  int err = ReadRecordRaw(static_cast<uint32_t>(record), &raw);
  if (err) {
    ForgetCurrent();
    return err;
  }
  if ((raw[0] & kStatusDeleted) && !ignoreStatus_) {
    ForgetCurrent();
    return kErrRecordNotFound;
  }
  return LoadRecord(static_cast<uint32_t>(record), raw);
}

int DatFile::SetFile() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  seq_ = Seq::kStart;
  seqPos_ = 0;
  return 0;
}

int DatFile::SetFilePtr(int64_t record) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (record < 1 || record > UINT32_MAX) return kErrRecordNotFound;
  seq_ = Seq::kAt;
  seqPos_ = static_cast<uint32_t>(record);
  return 0;
}

int DatFile::ReadAt(uint32_t n, bool forward) {
  std::vector<unsigned char> raw;
  for (bool refreshed = false;;) {
    uint32_t records = layout_.header.records;
    while (n >= 1 && n <= records) {
      int err = ReadRecordRaw(n, &raw);
      if (err) {
        ForgetCurrent();
        return err;
      }
      if (ignoreStatus_ || !(raw[0] & kStatusDeleted)) return LoadRecord(n, raw);
      n = forward ? n + 1 : n - 1;
    }
    // Another station may have added records since the header was read.
    if (!forward || !shared_ || refreshed || n == 0) break;
    int err = RefreshIfShared();
    if (err) return err;
    refreshed = true;
    if (layout_.header.records < n) break;
  }
  ForgetCurrent();
  if (forward) {
    seq_ = Seq::kAt;
    seqPos_ = n;
  } else {
    seq_ = Seq::kAt;
    seqPos_ = 0;
  }
  return kErrRecordNotAvailable;
}

int DatFile::Next() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  uint32_t n = seq_ == Seq::kStart ? 1 : seq_ == Seq::kAt ? seqPos_ : seqPos_ + 1;
  return ReadAt(n, true);
}

int DatFile::Previous() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  uint32_t n = seq_ == Seq::kStart ? layout_.header.records : seq_ == Seq::kAt ? seqPos_
                                                                             : seqPos_ - 1;
  if (seq_ == Seq::kStart && shared_) {
    int err = RefreshIfShared();
    if (err) return err;
    n = layout_.header.records;
  }
  return ReadAt(n, false);
}

int DatFile::Skip(int64_t count) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  bool forward = count >= 0;
  int64_t left = forward ? count : -count;
  uint32_t n = seq_ == Seq::kStart ? (forward ? 1 : layout_.header.records)
               : seq_ == Seq::kAt  ? seqPos_
                                   : (forward ? seqPos_ + 1 : seqPos_ - 1);
  unsigned char prefix[kRecordPrefixSize];
  while (left > 0) {
    if (n < 1 || n > layout_.header.records) return kErrRecordNotAvailable;
    int err = ReadStatus(n, prefix);
    if (err) return err;
    if (ignoreStatus_ || !(prefix[0] & kStatusDeleted)) --left;
    n = forward ? n + 1 : n - 1;
  }
  seq_ = Seq::kAt;
  seqPos_ = n;
  return 0;
}

int DatFile::Eof(bool* atEnd) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  uint32_t n = seq_ == Seq::kStart ? 1 : seq_ == Seq::kAt ? seqPos_ : seqPos_ + 1;
  unsigned char prefix[kRecordPrefixSize];
  for (; n >= 1 && n <= layout_.header.records; ++n) {
    int err = ReadStatus(n, prefix);
    if (err) return err;
    if (ignoreStatus_ || !(prefix[0] & kStatusDeleted)) {
      *atEnd = false;
      return 0;
    }
  }
  *atEnd = true;
  return 0;
}

int DatFile::Bof(bool* atStart) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  uint32_t n = seq_ == Seq::kStart ? layout_.header.records : seq_ == Seq::kAt ? seqPos_
                                                                             : seqPos_ - 1;
  unsigned char prefix[kRecordPrefixSize];
  for (; n >= 1 && n <= layout_.header.records; --n) {
    int err = ReadStatus(n, prefix);
    if (err) return err;
    if (ignoreStatus_ || !(prefix[0] & kStatusDeleted)) {
      *atStart = false;
      return 0;
    }
  }
  *atStart = true;
  return 0;
}

int64_t DatFile::Records() const {
  return static_cast<int64_t>(layout_.header.records) - layout_.header.deleted;
}

int64_t DatFile::Pointer() const { return haveCurrent_ ? current_ : 0; }

std::string DatFile::Position() const {
  return FromNumber(haveCurrent_ ? current_ : seqPos_);
}

int DatFile::Reset(const std::string& position) {
  if (position.size() != 4) return kErrInvalidParameters;
  return SetFilePtr(Get32(reinterpret_cast<const unsigned char*>(position.data())));
}

int DatFile::Reget(const std::string& position) {
  if (position.size() != 4) return kErrInvalidParameters;
  return Get(Get32(reinterpret_cast<const unsigned char*>(position.data())));
}

// ---- stations ----

int DatFile::Hold(int64_t seconds) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (!haveCurrent_) return kErrRecordNotAvailable;
  if (readOnly_) return kErrAccessDenied;
  uint32_t n = current_;
  if (held_ == n) return 0;
  int64_t start = platform::MonotonicHundredths();
  for (;;) {
    // The header lock makes the test and the setting of the bit one step between stations.
    int err = LockHeader();
    if (err) return err;
    unsigned char status = 0;
    err = stream_.Read(RecordPos(n), &status, 1, kErrInvalidDataFile);
    if (err) {
      UnlockHeader();
      return err == kErrReadFault ? kErrInvalidDataFile : err;
    }
    int64_t waited = platform::MonotonicHundredths() - start;
    bool stale = recoverSeconds_ > 0 && waited >= recoverSeconds_ * 100;
    if (!(status & kStatusHeld) || stale) {
      if (held_) {
        UnlockHeader();
        Release();
        continue;
      }
      status |= kStatusHeld;
      err = stream_.Write(RecordPos(n), &status, 1);
      UnlockHeader();
      if (err) return err;
      held_ = n;
      currentStatus_ = status;
      return 0;
    }
    UnlockHeader();
    bool retry = recoverSeconds_ > 0 || (seconds > 0 && waited < seconds * 100);
    if (!retry) return kErrRecordHeld;
    SleepMs(50);
  }
}

int DatFile::Release() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (!held_) return 0;
  uint32_t n = held_;
  held_ = 0;
  if (n > layout_.header.records && !shared_) return 0;
  unsigned char status = 0;
  int err = stream_.Read(RecordPos(n), &status, 1, kErrInvalidDataFile);
  if (err) return err == kErrReadFault ? kErrInvalidDataFile : err;
  status &= static_cast<unsigned char>(~kStatusHeld);
  return stream_.Write(RecordPos(n), &status, 1);
}

int DatFile::Watch() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (!haveCurrent_) return kErrRecordNotAvailable;
  watched_ = current_;
  watchCopy_ = currentData_;
  return 0;
}

int DatFile::WaitForLock(int64_t seconds, int refusal) {
  // Polls once a second; a lock whose header time stands still for RECOVER seconds is stale.
  int64_t start = platform::MonotonicHundredths();
  int64_t stillSince = start;
  uint32_t date = layout_.header.changeDate, time = layout_.header.changeTime;
  for (;;) {
    int err = LockHeader();
    if (err) return err;
    err = ReadHeader();
    if (err) {
      UnlockHeader();
      return err;
    }
    DatHeader& h = layout_.header;
    int64_t now = platform::MonotonicHundredths();
    if (h.changeDate != date || h.changeTime != time) {
      date = h.changeDate;
      time = h.changeTime;
      stillSince = now;
    }
    bool stale = recoverSeconds_ > 0 && now - stillSince >= recoverSeconds_ * 100;
    if (!(h.attributes & kAttrLocked) || stale) {
      if (readOnly_) {
        UnlockHeader();
        return (h.attributes & kAttrLocked) ? refusal : 0;
      }
      h.attributes |= kAttrLocked;
      err = WriteHeader(true);
      UnlockHeader();
      if (err) return err;
      locked_ = true;
      return 0;
    }
    UnlockHeader();
    bool retry = recoverSeconds_ > 0 || (seconds > 0 && now - start < seconds * 100);
    if (!retry) return refusal;
    SleepMs(1000);
  }
}

int DatFile::Lock(int64_t seconds) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (locked_) return 0;
  if (readOnly_) return kErrAccessDenied;
  return WaitForLock(seconds, kErrFileLocked);
}

int DatFile::Unlock() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (!locked_) return 0;
  int err = LockHeader();
  if (err) return err;
  err = ReadHeader();
  if (!err) {
    layout_.header.attributes &= static_cast<uint16_t>(~kAttrLocked);
    err = WriteHeader(true);
  }
  UnlockHeader();
  if (!err) locked_ = false;
  return err;
}

// ---- batches, options, transactions ----

int DatFile::Stream() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  streaming_ = true;
  return 0;
}

int DatFile::Flush() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  streaming_ = false;
  int err = 0;
  if (headerDirty_ && !readOnly_) {
    err = LockHeader();
    if (!err) {
      // A shared file keeps the other stations' counts; only the time stamp is ours.
      if (shared_) err = ReadHeader();
      if (!err) err = WriteHeader(true);
      UnlockHeader();
    }
  }
  if (!err && !readOnly_) err = stream_.Sync();
  if (!err) err = MemoSync();
  if (!err) err = KeysSync();
  return err;
}

int DatFile::Send(const std::string& option, std::string* answer) {
  std::string text = Upper(option);
  size_t eq = text.find('=');
  bool setting = eq != std::string::npos;
  std::string value = setting ? text.substr(eq + 1) : std::string();
  auto onOff = [](bool on) { return std::string(on ? "ON" : "OFF"); };
  auto is = [&](const char* name) { return text.rfind(name, 0) == 0; };

  if (is("RECOVER")) {
    if (setting) recoverSeconds_ = std::max(0, std::atoi(value.c_str()));
    *answer = std::to_string(recoverSeconds_);
  } else if (is("IGNORESTATUS")) {
    if (setting) {
      bool on = value != "OFF";
      if (on && shared_ && stream_.is_open()) return kErrExclusiveAccess;
      ignoreStatus_ = on;
    }
    *answer = onOff(ignoreStatus_);
  } else if (is("DELETED") || is("HELD")) {
    if (!haveCurrent_) return kErrRecordNotAvailable;
    unsigned char prefix[kRecordPrefixSize];
    int err = ReadStatus(current_, prefix);
    if (err) return err;
    *answer = onOff(prefix[0] & (is("DELETED") ? kStatusDeleted : kStatusHeld));
  } else if (is("IGNORECORRUPTIONS")) {
    if (setting) ignoreCorruptions_ = value == "ON";
    *answer = onOff(ignoreCorruptions_);
  } else if (is("MAINTAINHEADERTIME")) {
    if (setting) maintainHeaderTime_ = value == "ON";
    *answer = onOff(maintainHeaderTime_);
  } else {
    answer->clear();  // an option this driver does not know is ignored
  }
  return 0;
}

int DatFile::ApplyDriverString() {
  const std::string& s = file_.driverString;
  size_t i = 0;
  while ((i = s.find('/', i)) != std::string::npos) {
    ++i;
    std::string option;
    bool quoted = false;
    for (; i < s.size(); ++i) {
      char c = s[i];
      if (c == '"') {
        quoted = !quoted;
        continue;
      }
      if (!quoted && (c == '/' || c == ' ')) break;
      option += c;
    }
    if (option.empty()) continue;
    std::string answer;
    int err = Send(option, &answer);
    if (err) return err;
  }
  return 0;
}

void DatFile::AfterRollback() {
  if (!stream_.is_open()) return;
  ReadHeader();  // a failure shows at the next operation that reads
  ForgetCurrent();
  seq_ = Seq::kStart;
  watched_ = 0;
  if (held_) {
    unsigned char status = 0;
    if (stream_.Read(RecordPos(held_), &status, 1, kErrInvalidDataFile) ||
        !(status & kStatusHeld))
      held_ = 0;
  }
}

int DatFile::Logout() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (readOnly_) return kErrAccessDenied;
  int err = Journal::Instance().Join(stream_, path_, [this] { AfterRollback(); });
  if (!err) err = KeysJoinJournal();
  if (!err) err = MemoJoinJournal();
  return err;
}

}  // namespace korawin::storage::dat
