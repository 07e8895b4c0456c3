#include "storage/dat/dat_file.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/field_codec.h"
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

}  // namespace

std::string DataFilePath(const std::string& name) {
  if (name.empty() || name.back() == '/') return std::string();
  return platform::Extension(name).empty() ? name + ".DAT" : name;
}

Code CheckDeletedChain(DatStream& stream, const DatHeader& h, std::string* fault) {
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
  for (size_t i = 0; i < file.keys.size(); ++i) {
    if (file.keys[i].attributes & kKeyNotStored) continue;
    Key k;
    k.decl = i;
    k.index = (file.keys[i].attributes & kKeyIndex) != 0;
    int err = k.layout.Init(file, i);
    if (err && !keysError_) keysError_ = err;
    keys_.push_back(std::move(k));
  }
  // Text bytes of the record, each once even where fields overlay one another.
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
  for (const FieldDescriptor& f : file.fields)
    if (platform::IsTextType(f.type) && f.size > 0 && f.offset < file.recordSize)
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
  // The program is ending or the declaration goes away: nothing is left to report a failure to.
  if (stream_.is_open()) (void)Close();
}

DatFile& DatFile::Of(FileDescriptor& file) {
  if (!file.control) file.control = std::make_unique<DatFile>(file);
  return static_cast<DatFile&>(*file.control);
}

// ---- header ----

Code DatFile::ReadHeader() {
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

Code DatFile::CheckSize() {
  const DatHeader& h = layout_.header;
  uint64_t end = h.dataOffset + static_cast<uint64_t>(h.records) * h.recordLength;
  if (end > stream_.Size()) return kErrInvalidDataFile;
  if (h.deleted > h.records || h.firstDeleted > h.records) return kErrInvalidDataFile;
  return 0;
}

Code DatFile::WriteHeader(bool stamp) {
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
  headerDirty_ = stampPending_ = false;
  return streaming_ ? Code(0) : stream_.Sync();
}

Code DatFile::LockHeader() {
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
  KeysHeaderCache(true);
  return 0;
}

void DatFile::UnlockHeader() {
  if (!headerLocked_) return;
  KeysHeaderCache(false);
  stream_.file().Unlock(0, 1);
  headerLocked_ = false;
}

Code DatFile::RefreshIfShared() {
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

Code DatFile::ReadRecordRaw(uint32_t n, std::vector<unsigned char>* raw) {
  raw->resize(layout_.header.recordLength);
  int err = stream_.Read(RecordPos(n), raw->data(), raw->size(), kErrInvalidDataFile);
  return err == kErrReadFault ? kErrInvalidDataFile : err;
}

Code DatFile::ReadStatus(uint32_t n, unsigned char prefix[kRecordPrefixSize]) {
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

Code DatFile::LoadRecord(uint32_t n, std::vector<unsigned char>& raw) {
  current_ = n;
  currentStatus_ = raw[0];
  currentLink_ = Get32(raw.data() + 1);
  // The bytes become the current record's; raw gets the old ones' room to read into next.
  currentData_.swap(raw);
  haveCurrent_ = true;
  std::memcpy(file_.record, currentData_.data() + kRecordPrefixSize, file_.recordSize);
  ToAnsi(reinterpret_cast<unsigned char*>(file_.record));
  seqPos_ = n;
  seq_ = Seq::kAfter;
  // A damaged memo chain is reported, but the record stays current so that a walk can go on.
  return MemoRead(currentLink_);
}

void DatFile::KeepCurrentData() {
  currentData_.assign(kRecordPrefixSize + file_.recordSize, 0);
  currentData_[0] = currentStatus_;
  Put32(currentData_.data() + 1, currentLink_);
  std::memcpy(currentData_.data() + kRecordPrefixSize, file_.record, file_.recordSize);
  ToOem(currentData_.data() + kRecordPrefixSize);
}

void DatFile::ForgetCurrent() {
  noMemo_ = false;  // NOMEMO covers the next record read, not one after a failed read
  haveCurrent_ = false;
  current_ = 0;
}

Code DatFile::WriteRecord(uint32_t n, uint8_t status, uint32_t link,
                         const std::vector<unsigned char>* disk) {
  std::vector<unsigned char>& raw = writeBuf_;
  raw.assign(layout_.header.recordLength, 0);
  raw[0] = status;
  Put32(raw.data() + 1, link);
  std::memcpy(raw.data() + kRecordPrefixSize, file_.record, file_.recordSize);
  ToOem(raw.data() + kRecordPrefixSize);
  // Bytes the file already holds are not written again (nor journaled, nor flushed).
  if (disk && *disk == raw) return 0;
  return stream_.Write(RecordPos(n), raw.data(), raw.size());
}

// ---- whole file ----

Code DatFile::Create() {
  if (!(file_.attributes & kFileCreate)) return kErrNoCreateAttribute;
  if (declaredError_) return declaredError_;
  if (keysError_) return keysError_;
  std::string path = DataFilePath(file_.name);
  if (path.empty()) return kErrInvalidFilename;
  if (stream_.is_open()) {
    Code closed = Close();
    if (closed) return closed;
  }
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

Code DatFile::Open(unsigned mode) {
  std::string path = DataFilePath(file_.name);
  if (path.empty()) return kErrInvalidFilename;
  if (declaredError_) return declaredError_;
  if (keysError_) return keysError_;
  if (!file_.record && file_.recordSize > 0) return kErrInvalidParameters;
  if (stream_.is_open()) {
    Code closed = Close();
    if (closed) return closed;
  }
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
  // The key entry counts are compared with the record count under the same lock.
  err = MemoOpen();
  if (!err && !skipKeysAtOpen_) err = KeysOpen();
  if (err) {
    KeysClose();
    MemoClose();
    return fail(err);
  }
  UnlockHeader();

  if (LockedByOther()) {
    err = WaitForLock(-1, kErrAccessDenied);
    if (err) return fail(err);
    // Broken as stale: the lock is now ours; an OPEN does not keep it.
    err = Unlock();
    if (err) {
      KeysClose();
      MemoClose();
      return fail(err);
    }
  }
  return 0;
}

Code DatFile::Close() {
  if (!stream_.is_open()) return 0;
  int result = 0;
  if (held_) result = Release();
  if (locked_ && !result) result = Unlock();
  if (headerDirty_ && !shared_ && !result) result = WriteHeader(stampPending_);
  Journal::Instance().Leave(stream_);
  KeysClose();
  MemoClose();
  UnlockHeader();
  stream_.Close();
  ForgetCurrent();
  seq_ = Seq::kStart;
  seqKey_ = -1;
  keyPending_ = KeyPending::kNone;
  noMemo_ = false;
  watched_ = 0;
  streaming_ = false;
  return result;
}

Code DatFile::Empty() {
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
  seqKey_ = -1;
  keyPending_ = KeyPending::kNone;
  held_ = watched_ = 0;
  return err;
}

std::vector<std::string> DatFile::AllPaths() const {
  std::string data = platform::ResolveExisting(DataFilePath(file_.name));
  std::vector<std::string> paths{data};
  size_t index = 0;
  for (const KeyDescriptor& k : file_.keys) {
    if (k.attributes & kKeyNotStored) continue;
    paths.push_back(KeyFileName(data, static_cast<int>(++index), (k.attributes & kKeyIndex) != 0));
  }
  if (!file_.memos.empty()) paths.push_back(platform::ReplaceExtension(data, ".MEM"));
  return paths;
}

Code DatFile::Remove() {
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

Code DatFile::Rename(const std::string& newName) {
  if (stream_.is_open()) return kErrAccessDenied;
  return CopyFiles(newName, &platform::RenameFile);
}

Code DatFile::Copy(const std::string& newName) { return CopyFiles(newName, &platform::CopyFile); }

Code DatFile::CopyFiles(const std::string& newName,
                       int (*step)(const std::string&, const std::string&)) {
  std::string target = DataFilePath(newName);
  if (DataFilePath(file_.name).empty() || target.empty()) return kErrInvalidFilename;
  std::vector<std::string> paths = AllPaths();
  if (!platform::FileExists(paths[0])) return kErrFileNotFound;
  // The data file first, then whichever key and memo files exist, under the new name.
  for (size_t i = 0; i < paths.size(); ++i) {
    std::string from = i == 0 ? paths[0] : platform::ResolveExisting(paths[i]);
    if (i > 0 && !platform::FileExists(from)) continue;
    std::string to = i == 0 ? target : platform::ReplaceExtension(target, platform::Extension(from));
    int err = step(from, to);
    if (err) return DriverCodeFromSystem(err);
  }
  return 0;
}

// ---- writing records ----

Code DatFile::Add(bool append) {
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

  const DatHeader before = layout_.header;
  DatHeader h = before;
  uint32_t n = 0;
  bool reuse = false;
  if ((h.attributes & kAttrReclaim) && h.firstDeleted != 0) {
    unsigned char prefix[kRecordPrefixSize];
    err = ReadStatus(h.firstDeleted, prefix);
    if (err) return err;
    if (prefix[0] & kStatusDeleted) {
      uint32_t next = Get32(prefix + 1);
      if (next > h.records || h.deleted == 0) return kErrInvalidDataFile;
      n = h.firstDeleted;
      h.firstDeleted = next;
      h.deleted -= 1;
      reuse = true;
    }
  }
  if (!reuse) {
    if (h.records == UINT32_MAX) return kErrInvalidDataFile;
    n = h.records + 1;
  }
  if (!append) {
    err = KeysCheckUnique(0);
    if (err) return err;
  }
  h.highestWritten = std::max(h.highestWritten, n);
  h.lowestWritten = h.lowestWritten == 0 ? n : std::min(h.lowestWritten, n);
  // A reused record leaves the deleted chain before it is written: a crash in between leaves
  // a deleted record outside the chain, never a chain that runs into a live record.
  if (reuse) {
    layout_.header = h;
    err = WriteHeader(true);
    if (err) {
      layout_.header = before;
      return err;
    }
  }
  // Puts a reused record back on the deleted chain when the add fails after taking it.
  auto undo = [&](int code) {
    if (reuse) {
      unsigned char prefix[kRecordPrefixSize];
      prefix[0] = kStatusDeleted;
      Put32(prefix + 1, h.firstDeleted);  // the link it had on the chain
      if (stream_.Write(RecordPos(n), prefix, kRecordPrefixSize) == 0) {
        layout_.header = before;
        // The add failed already; this write's outcome changes nothing.
        (void)WriteHeader(true);
      }
    }
    return code;
  };
  uint32_t memo = 0;
  err = MemoWrite(&memo);
  if (err) return undo(err);
  err = WriteRecord(n, kStatusNew, memo);
  // The step's own failure is the one reported; a memo that can't be freed only loses blocks.
  if (err) {
    (void)MemoFree(memo);
    return undo(err);
  }
  if (!append) {
    err = KeysInsert(n);
    if (err) {
      (void)MemoFree(memo);
      return undo(err);
    }
  }
  if (!reuse) {
    h.records = n;
    layout_.header = h;
    if (streaming_ && !shared_ && !stream_.observer()) {
      // A batch on a file no other station shares and no transaction watches: the count goes
      // to disk with FLUSH or CLOSE, as the key headers do.
      headerDirty_ = stampPending_ = true;
    } else {
      err = WriteHeader(true);
      if (err) {
        layout_.header = before;
        return err;
      }
    }
  }

  current_ = n;
  currentStatus_ = kStatusNew;
  currentLink_ = memo;
  KeepCurrentData();
  haveCurrent_ = true;
  seqPos_ = n;
  seq_ = Seq::kAfter;
  return 0;
}

Code DatFile::Put(uint32_t record) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  uint32_t n = record ? record : current_;
  if (record == 0 && !haveCurrent_) return kErrRecordNotAvailable;
  if (readOnly_) return kErrAccessDenied;
  if (n == 0 || n > layout_.header.records) {
    int err = RefreshIfShared();
    if (err) return err;
    if (n == 0 || n > layout_.header.records) return kErrRecordNotAvailable;
  }
  // Under the header lock, so that no other station deletes or rewrites the record between
  // the checks below and the write; key pages and free memo blocks are shared as well.
  bool lockHere = shared_ && !headerLocked_;
  if (lockHere) {
    int err = LockHeader();
    if (err) return err;
  }
  struct Unlocker {
    DatFile* f;
    bool on;
    ~Unlocker() {
      if (on) f->UnlockHeader();
    }
  } unlocker{this, lockHere};
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
  // Should the memo or the record not be written, the keys go back to the record on disk.
  auto undoKeys = [&](int code) {
    std::vector<unsigned char> wanted(file_.record, file_.record + file_.recordSize);
    std::vector<char> old = AnsiImage(disk.data() + kRecordPrefixSize);
    std::vector<unsigned char> wantedOnDisk = wanted;
    ToOem(wantedOnDisk.data());
    std::memcpy(file_.record, old.data(), file_.recordSize);
    (void)KeysMove(n, wantedOnDisk.data());  // a failure here leaves what the first one left
    std::memcpy(file_.record, wanted.data(), file_.recordSize);
    return code;
  };
  uint32_t memo = Get32(disk.data() + 1);
  const uint32_t oldMemo = memo;
  // The memo is rewritten in its own chain: keep its text to put back should the record not
  // be written.
  std::string oldText;
  bool restorable = oldMemo == 0 || !HasMemo() || !memo_.is_open() || !file_.memos[0].buffer;
  if (!restorable) {
    const MemoDescriptor& m = file_.memos[0];
    restorable = memo_.Remembered(oldMemo, m.size, &oldText);
    if (!restorable) {
      oldText.assign(m.size, ' ');
      restorable = memo_.Read(oldMemo, oldText.data(), m.size) == 0;
    }
  }
  err = MemoWrite(&memo);
  if (err) return undoKeys(err);
  uint8_t status = static_cast<uint8_t>(disk[0] | kStatusRevised);
  if (held_ == n) status &= static_cast<uint8_t>(~kStatusHeld);
  err = WriteRecord(n, status, memo, &disk);
  if (err) {
    if (memo != oldMemo && oldMemo == 0) {
      (void)MemoFree(memo);  // a memo the record never linked: at worst its blocks are lost
    } else if (memo != 0 && restorable && !oldText.empty()) {
      const MemoDescriptor& m = file_.memos[0];
      uint32_t back = memo;
      // A failure here leaves the new text in the old chain; the record's failure is reported.
      (void)memo_.Write(memo, oldText.data(), oldText.size(), (m.attributes & kMemoBinary) != 0,
                        &back);
    }
    return undoKeys(err);
  }
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
    if (!lockHere) UnlockHeader();
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
    KeepCurrentData();
  }
  return 0;
}

Code DatFile::Delete() {
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
  // Record, keys, header, then the memo: a failed step puts the earlier ones back, so a
  // failure leaves the file as it was and a crash at worst a deleted record off the chain.
  DatHeader& h = layout_.header;
  const DatHeader before = h;
  unsigned char prefix[kRecordPrefixSize];
  prefix[0] = static_cast<unsigned char>(disk[0] | kStatusDeleted);
  if (held_ == n) prefix[0] &= static_cast<unsigned char>(~kStatusHeld);
  Put32(prefix + 1, h.firstDeleted);
  err = stream_.Write(RecordPos(n), prefix, kRecordPrefixSize);
  if (err) return err;
  // Puts the record's status back after a later step failed; that failure is the one reported.
  auto restoreRecord = [&] { (void)stream_.Write(RecordPos(n), disk.data(), kRecordPrefixSize); };
  err = KeysRemove(n, disk.data() + kRecordPrefixSize);
  if (err) {
    restoreRecord();
    return err;
  }
  if (!(disk[0] & kStatusDeleted)) {
    h.firstDeleted = n;
    h.deleted += 1;
  }
  err = WriteHeader(true);
  if (err) {
    h = before;
    // The header write's failure is the one reported; the keys go back as far as they can.
    (void)KeysInsertImage(n, AnsiImage(disk.data() + kRecordPrefixSize).data());
    restoreRecord();
    return err;
  }
  (void)MemoFree(Get32(disk.data() + 1));  // a chain that can't be freed only loses its blocks
  if (held_ == n) held_ = 0;
  if (watched_ == n) watched_ = 0;
  ForgetCurrent();
  return 0;
}

// ---- reading records ----

Code DatFile::Get(int64_t record) {
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
  // One buffer for every read: a walk would otherwise allocate a record's worth per step.
  int err = ReadRecordRaw(static_cast<uint32_t>(record), &readBuf_);
  if (err) {
    ForgetCurrent();
    return err;
  }
  if ((readBuf_[0] & kStatusDeleted) && !ignoreStatus_) {
    ForgetCurrent();
    return kErrRecordNotFound;
  }
  return LoadRecord(static_cast<uint32_t>(record), readBuf_);
}

Code DatFile::SetFile() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  seqKey_ = -1;
  seq_ = Seq::kStart;
  seqPos_ = 0;
  return 0;
}

Code DatFile::SetFilePtr(int64_t record) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (record < 1 || record > UINT32_MAX) return kErrRecordNotFound;
  seqKey_ = -1;
  seq_ = Seq::kAt;
  seqPos_ = static_cast<uint32_t>(record);
  return 0;
}

Code DatFile::ReadAt(uint32_t n, bool forward) {
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

Code DatFile::Next() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (seqKey_ >= 0) return StepKey(true);
  uint32_t n = seq_ == Seq::kStart ? 1 : seq_ == Seq::kAt ? seqPos_ : seqPos_ + 1;
  return ReadAt(n, true);
}

Code DatFile::Previous() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (seqKey_ >= 0) return StepKey(false);
  uint32_t n = seq_ == Seq::kStart ? layout_.header.records : seq_ == Seq::kAt ? seqPos_
                                                                             : seqPos_ - 1;
  if (seq_ == Seq::kStart && shared_) {
    int err = RefreshIfShared();
    if (err) return err;
    n = layout_.header.records;
  }
  return ReadAt(n, false);
}

Code DatFile::Skip(int64_t count) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (seqKey_ >= 0) {
    for (int64_t i = 0; i < (count < 0 ? -count : count); ++i) {
      int err = StepKey(count >= 0);
      if (err) return err;
    }
    return 0;
  }
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

Code DatFile::Eof(bool* atEnd) {
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

Code DatFile::Bof(bool* atStart) {
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

Code DatFile::Reset(const std::string& position) {
  if (position.size() != 4) return kErrInvalidParameters;
  return SetFilePtr(Get32(reinterpret_cast<const unsigned char*>(position.data())));
}

Code DatFile::Reget(const std::string& position) {
  if (position.size() != 4) return kErrInvalidParameters;
  return Get(Get32(reinterpret_cast<const unsigned char*>(position.data())));
}

// ---- stations ----

Code DatFile::Hold(int64_t seconds) {
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
        err = Release();
        if (err) return err;
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

Code DatFile::Release() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (!held_) return 0;
  uint32_t n = held_;
  held_ = 0;
  if (n > layout_.header.records && !shared_) return 0;
  // Under the header lock, so that another station's DELETE can't fall between the read and
  // the write and be undone.
  bool lockHere = !headerLocked_;
  if (lockHere) {
    int err = LockHeader();
    if (err) return err;
  }
  unsigned char status = 0;
  int err = stream_.Read(RecordPos(n), &status, 1, kErrInvalidDataFile);
  if (!err) {
    status &= static_cast<unsigned char>(~kStatusHeld);
    err = stream_.Write(RecordPos(n), &status, 1);
  } else if (err == kErrReadFault) {
    err = kErrInvalidDataFile;
  }
  if (lockHere) UnlockHeader();
  return err;
}

Code DatFile::Watch() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (!haveCurrent_) return kErrRecordNotAvailable;
  watched_ = current_;
  watchCopy_.assign(currentData_.begin() + kRecordPrefixSize, currentData_.end());
  return 0;
}

Code DatFile::WaitForLock(int64_t seconds, int refusal) {
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

Code DatFile::Lock(int64_t seconds) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (locked_) return 0;
  if (readOnly_) return kErrAccessDenied;
  return WaitForLock(seconds, kErrFileLocked);
}

Code DatFile::Unlock() {
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

Code DatFile::Stream() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  streaming_ = true;
  KeysFlushHeaders(false);
  return 0;
}

Code DatFile::Flush() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  streaming_ = false;
  KeysFlushHeaders(true);
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

Code DatFile::Send(const std::string& option, std::string* answer) {
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

Code DatFile::ApplyDriverString() {
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
  (void)ReadHeader();  // a failure shows at the next operation that reads
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

Code DatFile::Logout() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (readOnly_) return kErrAccessDenied;
  // A count put off by a batch goes to disk first, so the journal saves the true header.
  if (headerDirty_ && !shared_) {
    int err = WriteHeader(stampPending_);
    if (err) return err;
  }
  int err = Journal::Instance().Join(stream_, path_, [this] { AfterRollback(); });
  if (!err) err = KeysJoinJournal();
  if (!err) err = MemoJoinJournal();
  return err;
}

}  // namespace korawin::storage::dat

// ---- key files ----

namespace korawin::storage::dat {

namespace {
constexpr uint32_t kLastRecord = 0xFFFFFFFFu;
}  // namespace

std::vector<char> DatFile::AnsiImage(const unsigned char* diskData) const {
  std::vector<char> img(diskData, diskData + file_.recordSize);
  ToAnsi(reinterpret_cast<unsigned char*>(img.data()));
  return img;
}

Code DatFile::KeysCreate() {
  for (size_t i = 0; i < keys_.size(); ++i) {
    Key& k = keys_[i];
    k.path = KeyFileName(path_, static_cast<int>(i + 1), k.index);
    KeyFile kf;
    int err = kf.Create(k.path, k.layout.shape());
    if (err) return err;
  }
  return 0;
}

Code DatFile::KeysOpen() {
  int64_t live = ignoreCorruptions_ ? -1 : Records();
  for (size_t i = 0; i < keys_.size(); ++i) {
    Key& k = keys_[i];
    k.path = KeyFileName(path_, static_cast<int>(i + 1), k.index);
    k.file.reset();
    if (k.index) continue;  // an index is opened when it is used
    auto kf = std::make_unique<KeyFile>();
    int err = kf->Open(k.path, mode_, k.layout.shape(), live);
    if (err) return err;
    kf->set_flush_headers(!streaming_, !shared_);
    k.file = std::move(kf);
  }
  return 0;
}

void DatFile::KeysClose() {
  for (Key& k : keys_) {
    if (k.file) Journal::Instance().Leave(k.file->stream());
    k.file.reset();
  }
  seqKey_ = -1;
  keyPending_ = KeyPending::kNone;
}

Code DatFile::KeysCheckUnique(uint32_t self) {
  for (Key& k : keys_) {
    if (!k.file || k.index || k.layout.dup()) continue;
    if (k.layout.opt() && k.layout.IsBlank(file_.record)) continue;
    std::string value = k.layout.Encode(file_.record);
    bool found = false;
    uint32_t recno = 0;
    int err = k.file->Lookup(reinterpret_cast<const unsigned char*>(value.data()), &found, &recno);
    if (err) return err;
    if (found && recno != self) return kErrDuplicateKey;
  }
  return 0;
}

Code DatFile::KeysInsert(uint32_t record) { return KeysInsertImage(record, file_.record); }

Code DatFile::KeysInsertImage(uint32_t record, const char* image) {
  std::vector<std::pair<Key*, std::string>> done;
  for (Key& k : keys_) {
    if (!k.file || k.index) continue;
    if (k.layout.opt() && k.layout.IsBlank(image)) continue;
    std::string value = k.layout.Encode(image);
    int err = k.file->Insert(reinterpret_cast<const unsigned char*>(value.data()), record);
    if (err) {
      // Take the entries made so far out again, so that no key names a record never added; the
      // insert's failure is the one reported.
      for (auto& [key, v] : done)
        (void)key->file->Remove(reinterpret_cast<const unsigned char*>(v.data()), record);
      return err;
    }
    done.emplace_back(&k, std::move(value));
  }
  return 0;
}

Code DatFile::KeysMove(uint32_t record, const unsigned char* oldData) {
  struct Change {
    Key* key;
    bool oldIn, newIn;
    std::string oldValue, newValue;
  };
  std::vector<char> old = AnsiImage(oldData);
  std::vector<Change> changes;
  for (Key& k : keys_) {
    if (!k.file || k.index) continue;
    Change c{&k, !(k.layout.opt() && k.layout.IsBlank(old.data())),
             !(k.layout.opt() && k.layout.IsBlank(file_.record)), k.layout.Encode(old.data()),
             k.layout.Encode(file_.record)};
    if (c.oldIn == c.newIn && (!c.oldIn || c.oldValue == c.newValue)) continue;
    changes.push_back(std::move(c));
  }
  // Every unique key is checked before any key changes, so a refusal leaves them all as they were.
  for (const Change& c : changes) {
    if (!c.newIn || c.key->layout.dup()) continue;
    bool found = false;
    uint32_t recno = 0;
    int err = c.key->file->Lookup(reinterpret_cast<const unsigned char*>(c.newValue.data()),
                                  &found, &recno);
    if (err) return err;
    if (found && recno != record) return kErrDuplicateKey;
  }
  for (size_t i = 0; i < changes.size(); ++i) {
    Change& c = changes[i];
    KeyFile& kf = *c.key->file;
    int err = 0;
    if (c.oldIn) {
      err = kf.Remove(reinterpret_cast<const unsigned char*>(c.oldValue.data()), record);
      if (err == kErrRecordNotFound) err = 0;  // the entry was missing already
    }
    if (!err && c.newIn)
      err = kf.Insert(reinterpret_cast<const unsigned char*>(c.newValue.data()), record);
    if (err) {
      // Put back what was moved, newest first; the move's failure is the one reported.
      for (size_t j = i + 1; j-- > 0;) {
        Change& u = changes[j];
        if (j < i && u.newIn)
          (void)u.key->file->Remove(reinterpret_cast<const unsigned char*>(u.newValue.data()),
                                    record);
        if (u.oldIn)
          (void)u.key->file->Insert(reinterpret_cast<const unsigned char*>(u.oldValue.data()),
                                    record);
      }
      return err;
    }
  }
  return 0;
}

Code DatFile::KeysRemove(uint32_t record, const unsigned char* data) {
  std::vector<char> img = AnsiImage(data);
  std::vector<std::pair<Key*, std::string>> done;
  for (Key& k : keys_) {
    if (!k.file || k.index) continue;
    if (k.layout.opt() && k.layout.IsBlank(img.data())) continue;
    std::string value = k.layout.Encode(img.data());
    int err = k.file->Remove(reinterpret_cast<const unsigned char*>(value.data()), record);
    if (err == kErrRecordNotFound) continue;  // the entry was missing already
    if (err) {
      // The entries taken out go back; the removal's failure is the one reported.
      for (auto& [key, v] : done)
        (void)key->file->Insert(reinterpret_cast<const unsigned char*>(v.data()), record);
      return err;
    }
    done.emplace_back(&k, std::move(value));
  }
  return 0;
}

Code DatFile::KeysEmpty() {
  for (Key& k : keys_) {
    int err = 0;
    if (k.file) {
      err = k.file->Empty();
    } else if (platform::FileExists(platform::ResolveExisting(k.path))) {
      KeyFile kf;  // an index not in use is emptied too, so it never outlives its data
      err = kf.Create(platform::ResolveExisting(k.path), k.layout.shape());
    }
    if (err) return err;
  }
  return 0;
}

Code DatFile::KeysJoinJournal() {
  for (Key& k : keys_) {
    if (!k.file) continue;
    KeyFile* kf = k.file.get();
    // A header put off by a batch goes to disk first, so the journal saves the true one.
    int err = kf->Flush();
    if (!err) err = Journal::Instance().Join(kf->stream(), path_, [kf] { kf->Invalidate(); });
    if (err) return err;
  }
  return 0;
}

Code DatFile::KeysSync() {
  for (Key& k : keys_) {
    if (!k.file || k.file->stream().read_only()) continue;
    int err = k.file->Flush();
    if (err) return err;
  }
  return 0;
}

void DatFile::KeysHeaderCache(bool on) {
  for (Key& k : keys_) {
    if (!k.file) continue;
    if (on)
      k.file->BeginHeaderCache();
    else
      k.file->EndHeaderCache();
  }
}

void DatFile::KeysFlushHeaders(bool on) {
  // In a batch the key headers of an exclusive file wait for FLUSH (or CLOSE).
  for (Key& k : keys_)
    if (k.file) k.file->set_flush_headers(on, !shared_);
}

// ---- memo file ----

std::string DatFile::MemoPath() const { return MemoFileName(path_); }

Code DatFile::MemoCreate() {
  if (!HasMemo()) return 0;
  MemoFile memo;
  return memo.Create(MemoPath());
}

Code DatFile::MemoOpen() {
  if (!HasMemo()) return 0;
  return memo_.Open(MemoPath(), mode_);
}

void DatFile::MemoClose() {
  if (memo_.is_open()) Journal::Instance().Leave(memo_.stream());
  memo_.Close();
}

Code DatFile::MemoRead(uint32_t firstBlock) {
  if (!HasMemo() || !memo_.is_open()) return 0;
  if (noMemo_) {
    noMemo_ = false;
    memo_.ForgetRead();
    return 0;
  }
  const MemoDescriptor& m = file_.memos[0];
  if (!m.buffer) return 0;
  return memo_.Read(firstBlock, m.buffer, m.size);
}

Code DatFile::MemoWrite(uint32_t* firstBlock) {
  if (!HasMemo() || !memo_.is_open()) return 0;
  const MemoDescriptor& m = file_.memos[0];
  if (!m.buffer) return 0;
  if (shared_) {
    int err = memo_.Reload();  // another station may have taken free blocks
    if (err) return err;
  }
  return memo_.Write(*firstBlock, m.buffer, m.size, (m.attributes & kMemoBinary) != 0,
                     firstBlock);
}

Code DatFile::MemoFree(uint32_t firstBlock) {
  if (!HasMemo() || !memo_.is_open() || firstBlock == 0) return 0;
  if (shared_) {
    int err = memo_.Reload();
    if (err) return err;
  }
  int err = memo_.Free(firstBlock);
  // A chain that can't be walked loses its blocks; the record goes all the same.
  return err == kErrInvalidMemoFile ? 0 : err;
}

Code DatFile::MemoEmpty() { return HasMemo() && memo_.is_open() ? memo_.Empty() : Code(0); }

Code DatFile::MemoJoinJournal() {
  if (!HasMemo() || !memo_.is_open()) return 0;
  MemoFile* memo = &memo_;
  return Journal::Instance().Join(memo_.stream(), path_, [memo] {
    (void)memo->Reload();  // a failure shows at the next memo operation
  });
}

Code DatFile::MemoSync() {
  if (!HasMemo() || !memo_.is_open() || memo_.stream().read_only()) return 0;
  return memo_.stream().Sync();
}

Code DatFile::NoMemo() {
  noMemo_ = true;
  return 0;
}

// ---- keyed access ----

int DatFile::KeyIndex(int key, KeyFile** kf, const KeyLayout** layout) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  for (size_t i = 0; i < keys_.size(); ++i) {
    Key& k = keys_[i];
    if (static_cast<int>(k.decl) + 1 != key) continue;
    if (!k.file) {
      // An index is opened at its first use; it is only as fresh as its last BUILD.
      auto f = std::make_unique<KeyFile>();
      int err = f->Open(k.path, mode_, k.layout.shape(), -1);
      if (err) return err;
      k.file = std::move(f);
    }
    *kf = k.file.get();
    *layout = &k.layout;
    return static_cast<int>(i) + 1000;  // the index, offset to tell it from a code
  }
  return kErrInvalidKeyFile;
}

#define KEY_OR_RETURN(key)                     \
  KeyFile* kf = nullptr;                       \
  const KeyLayout* layout = nullptr;           \
  int slot = KeyIndex((key), &kf, &layout);    \
  if (slot < 1000) return slot;                \
  slot -= 1000

Code DatFile::SetKey(int key) {
  KEY_OR_RETURN(key);
  seqKey_ = slot;
  keyPending_ = KeyPending::kStart;
  return 0;
}

Code DatFile::SetKeyKey(int key) {
  KEY_OR_RETURN(key);
  seqKey_ = slot;
  pendingValue_ = layout->Encode(file_.record);
  keyPending_ = KeyPending::kValue;
  return 0;
}

Code DatFile::SetKeyPtr(int key, int64_t record, bool valueFromBuffer) {
  KEY_OR_RETURN(key);
  if (record < 1 || record > UINT32_MAX) return kErrRecordNotFound;
  if (valueFromBuffer) {
    pendingValue_ = layout->Encode(file_.record);
  } else {
    if (record > layout_.header.records) return kErrRecordNotFound;
    std::vector<unsigned char> raw;
    int err = ReadRecordRaw(static_cast<uint32_t>(record), &raw);
    if (err) return err;
    pendingValue_ = layout->Encode(AnsiImage(raw.data() + kRecordPrefixSize).data());
  }
  seqKey_ = slot;
  pendingRecord_ = static_cast<uint32_t>(record);
  keyPending_ = KeyPending::kEntry;
  return 0;
}

Code DatFile::SetFileKey(int key) {
  KEY_OR_RETURN(key);
  std::string value = layout->Encode(file_.record);
  bool found = false;
  uint32_t recno = 0;
  int err = kf->Lookup(reinterpret_cast<const unsigned char*>(value.data()), &found, &recno);
  if (err) return err;
  if (!found) return kErrRecordNotFound;
  return SetFilePtr(recno);
}

Code DatFile::StepKey(bool forward) {
  Key& k = keys_[static_cast<size_t>(seqKey_)];
  if (!k.file) return kErrFileNotOpen;
  KeyFile& kf = *k.file;
  int err = 0;
  SearchResult where;
  const auto* value = reinterpret_cast<const unsigned char*>(pendingValue_.data());
  switch (keyPending_) {
    case KeyPending::kNone:
      break;
    case KeyPending::kStart:
      forward ? kf.SetToStart() : kf.SetToEnd();
      break;
    case KeyPending::kValue:
      // NEXT yields the first entry not below the value, PREVIOUS the last not above it.
      err = kf.Seek(value, forward ? 0 : kLastRecord, &where);
      break;
    case KeyPending::kEntry:
      // Both directions yield the record itself first.
      err = kf.Seek(value, forward || pendingRecord_ == kLastRecord ? pendingRecord_
                                                                     : pendingRecord_ + 1,
                    &where);
      break;
  }
  keyPending_ = KeyPending::kNone;
  if (err) return err;
  err = forward ? kf.Next() : kf.Previous();
  if (err) {
    ForgetCurrent();
    return err;
  }
  uint32_t recno = 0;
  err = kf.Current(nullptr, &recno);
  if (err) return err;
  // A walk along a key reads records in no order the file's layout helps with: ask for the
  // next one's bytes while this one is being read and used.
  uint32_t next = kf.PeekRecno(forward);
  if (next >= 1 && next <= layout_.header.records)
    stream_.Prefetch(RecordPos(next), layout_.header.recordLength);
  return Get(recno);
}

Code DatFile::GetFileKey(int key) {
  KEY_OR_RETURN(key);
  (void)slot;
  std::string value = layout->Encode(file_.record);
  bool found = false;
  uint32_t recno = 0;
  int err = kf->Lookup(reinterpret_cast<const unsigned char*>(value.data()), &found, &recno);
  if (err) return err;
  if (!found) {
    ForgetCurrent();
    return kErrRecordNotFound;
  }
  return Get(recno);
}

Code DatFile::PositionKey(int key, std::string* position) {
  KEY_OR_RETURN(key);
  (void)kf;
  (void)slot;
  if (!haveCurrent_) return kErrRecordNotAvailable;
  *position = layout->Encode(AnsiImage(currentData_.data() + kRecordPrefixSize).data()) +
              FromNumber(current_);
  return 0;
}

Code DatFile::ResetKey(int key, const std::string& position) {
  KEY_OR_RETURN(key);
  (void)kf;
  if (position.size() != layout->key_length() + 4) return kErrInvalidParameters;
  seqKey_ = slot;
  pendingValue_ = position.substr(0, layout->key_length());
  pendingRecord_ = Get32(reinterpret_cast<const unsigned char*>(position.data()) +
                         layout->key_length());
  keyPending_ = KeyPending::kEntry;
  return 0;
}

Code DatFile::RegetKey(int key, const std::string& position) {
  KEY_OR_RETURN(key);
  (void)kf;
  (void)slot;
  if (position.size() != layout->key_length() + 4) return kErrInvalidParameters;
  return Get(Get32(reinterpret_cast<const unsigned char*>(position.data()) +
                   layout->key_length()));
}

Code DatFile::RecordsKey(int key, int64_t* count) {
  KEY_OR_RETURN(key);
  (void)layout;
  (void)slot;
  uint32_t n = 0;
  int err = kf->Entries(&n);
  *count = n;
  return err;
}

Code DatFile::Duplicate(int key, bool* duplicate) {
  *duplicate = false;
  if (!stream_.is_open()) return kErrFileNotOpen;
  uint32_t self = haveCurrent_ ? current_ : 0;
  if (key == 0) {
    int err = KeysCheckUnique(self);
    *duplicate = err == kErrDuplicateKey;
    return err == kErrDuplicateKey ? 0 : err;
  }
  KEY_OR_RETURN(key);
  (void)slot;
  if (layout->dup() || (layout->opt() && layout->IsBlank(file_.record))) return 0;
  std::string value = layout->Encode(file_.record);
  bool found = false;
  uint32_t recno = 0;
  int err = kf->Lookup(reinterpret_cast<const unsigned char*>(value.data()), &found, &recno);
  *duplicate = found && recno != self;
  return err;
}

#undef KEY_OR_RETURN

// ---- BUILD ----

// One pass over the data file fills the builders of every key to be built: the data file is
// far larger than the keys, so it is read once, not once per key.
Code DatFile::CollectKeys(const std::vector<size_t>& which, std::vector<KeyBuilder>* builders) {
  builders->clear();
  const DatHeader& h = layout_.header;
  for (size_t i : which) {
    builders->emplace_back(keys_[i].layout.key_length());
    builders->back().Reserve(h.records - std::min(h.records, h.deleted));
  }
  const uint32_t kChunk = 256;
  std::vector<unsigned char> chunk;
  std::vector<char> img(file_.recordSize);
  std::vector<unsigned char> value;
  for (uint32_t first = 1; first <= h.records; first += kChunk) {
    uint32_t count = std::min<uint32_t>(kChunk, h.records - first + 1);
    chunk.resize(static_cast<size_t>(count) * h.recordLength);
    int err = stream_.Read(RecordPos(first), chunk.data(), chunk.size(), kErrInvalidDataFile);
    if (err) return err == kErrReadFault ? kErrInvalidDataFile : err;
    for (uint32_t i = 0; i < count; ++i) {
      const unsigned char* raw = chunk.data() + static_cast<size_t>(i) * h.recordLength;
      if (raw[0] & kStatusDeleted) continue;
      std::memcpy(img.data(), raw + kRecordPrefixSize, file_.recordSize);
      ToAnsi(reinterpret_cast<unsigned char*>(img.data()));
      for (size_t b = 0; b < which.size(); ++b) {
        const KeyLayout& l = keys_[which[b]].layout;
        if (l.opt() && l.IsBlank(img.data())) continue;
        value.resize(l.key_length());
        l.Encode(img.data(), value.data());
        (*builders)[b].Add(value.data(), first + i);
      }
    }
  }
  return 0;
}

Code DatFile::BuildOne(size_t index, KeyBuilder& builder, const std::string& reportPath) {
  Key& k = keys_[index];
  k.path = KeyFileName(path_, static_cast<int>(index + 1), k.index);
  if (k.file) Journal::Instance().Leave(k.file->stream());
  k.file.reset();
  auto kf = std::make_unique<KeyFile>();
  int err = kf->Create(k.path, k.layout.shape());
  if (err) return err;
  auto describe = [this, &k](uint32_t recno) {
    std::vector<unsigned char> raw;
    if (ReadRecordRaw(recno, &raw)) return std::string("?");
    return k.layout.Describe(AnsiImage(raw.data() + kRecordPrefixSize).data());
  };
  err = kf->Build(builder, reportPath, describe);
  if (err) return err;
  kf->set_shared(shared_);
  kf->set_flush_headers(!streaming_);
  k.file = std::move(kf);
  return 0;
}

Code DatFile::Build(int key) {
  bool wasOpen = stream_.is_open();
  if (!wasOpen) {
    // The keys are what is broken: open the data file alone, exclusively.
    skipKeysAtOpen_ = true;
    int err = Open(kOpenReadWrite | kShareDenyAll);
    skipKeysAtOpen_ = false;
    if (err) return err;
  } else if (readOnly_) {
    return kErrAccessDenied;
  }
  int err = LockHeader();
  if (!err && shared_) err = ReadHeader();
  std::string report = platform::ReplaceExtension(path_, ".BLD");
  std::vector<size_t> which;
  for (size_t i = 0; i < keys_.size(); ++i)
    if (key == 0 || static_cast<int>(keys_[i].decl) + 1 == key) which.push_back(i);
  // Keys are built in groups whose entries fit a memory budget, one data file pass per group.
  const uint64_t kBudget = 64u << 20;
  const uint64_t live = static_cast<uint64_t>(std::max<int64_t>(Records(), 0));
  for (size_t at = 0; !err && at < which.size();) {
    std::vector<size_t> group;
    uint64_t bytes = 0;
    while (at < which.size()) {
      uint64_t need = live * (keys_[which[at]].layout.key_length() + 4u);
      if (!group.empty() && bytes + need > kBudget) break;
      bytes += need;
      group.push_back(which[at++]);
    }
    std::vector<KeyBuilder> builders;
    err = CollectKeys(group, &builders);
    for (size_t b = 0; !err && b < group.size(); ++b) {
      err = BuildOne(group[b], builders[b], report);
      builders[b] = KeyBuilder(0);  // its entries are on disk now
    }
  }
  UnlockHeader();
  if (key != 0 && !err) {
    bool any = false;
    for (const Key& k : keys_) any = any || static_cast<int>(k.decl) + 1 == key;
    if (!any) err = kErrInvalidKeyFile;
  }
  seqKey_ = -1;
  keyPending_ = KeyPending::kNone;
  if (!wasOpen) {
    int closeErr = Close();
    if (!err) err = closeErr;
  }
  return err;
}

// ---- verification ----

Code DatFile::Check(std::string* fault) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  int err = CheckDeletedChain(stream_, layout_.header, fault);
  if (err) return err;
  const DatHeader& h = layout_.header;
  std::vector<MemoOwner> owners;
  std::vector<std::vector<std::pair<std::string, uint32_t>>> expected(keys_.size());
  std::vector<unsigned char> raw;
  for (uint32_t n = 1; n <= h.records; ++n) {
    err = ReadRecordRaw(n, &raw);
    if (err) {
      *fault = "record " + std::to_string(n) + " cannot be read";
      return err;
    }
    if (raw[0] & kStatusDeleted) continue;
    if (raw[0] & kStatusHeld) {
      // A hold left by a station that went away is not a fault of the file.
    }
    owners.push_back({n, Get32(raw.data() + 1)});
    std::vector<char> img = AnsiImage(raw.data() + kRecordPrefixSize);
    for (size_t i = 0; i < keys_.size(); ++i) {
      if (keys_[i].index) continue;
      const KeyLayout& l = keys_[i].layout;
      if (l.opt() && l.IsBlank(img.data())) continue;
      expected[i].emplace_back(l.Encode(img.data()), n);
    }
  }
  for (size_t i = 0; i < keys_.size(); ++i) {
    Key& k = keys_[i];
    if (!k.file) continue;
    const std::string& label = file_.keys[k.decl].label;
    std::string why;
    err = k.file->Check(&why);
    if (err) {
      *fault = "key " + label + ": " + why;
      return err;
    }
    auto& want = expected[i];
    std::sort(want.begin(), want.end());
    k.file->SetToStart();
    size_t at = 0;
    std::string value;
    uint32_t recno = 0;
    while ((err = k.file->Next()) == 0) {
      err = k.file->Current(&value, &recno);
      if (err) break;
      if (at >= want.size() || want[at].first != value || want[at].second != recno) {
        *fault = "key " + label + ": entry " + std::to_string(at + 1) + " (record " +
                 std::to_string(recno) + ") disagrees with the data file";
        return kErrKeyRebuild;
      }
      ++at;
    }
    if (err != kErrRecordNotAvailable) {
      *fault = "key " + label + ": walk failed";
      return err;
    }
    if (at != want.size()) {
      *fault = "key " + label + ": " + std::to_string(want.size() - at) +
               " record(s) missing from the key";
      return kErrKeyRebuild;
    }
  }
  seqKey_ = -1;
  if (HasMemo() && memo_.is_open()) {
    MemoCheckResult result;
    err = memo_.Check(owners, &result);
    if (err) {
      *fault = "memo: " + result.fault;
      return err;
    }
  }
  return 0;
}

}  // namespace korawin::storage::dat
