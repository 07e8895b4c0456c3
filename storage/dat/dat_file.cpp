#include "storage/dat/dat_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/field_codec.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "storage/dat/dat_check.h"
#include "storage/dat/dat_station.h"
#include "storage/dat/journal.h"

namespace korawin::storage::dat {

namespace {

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

DatFile::DatFile(FileDescriptor& file) : file_(file), keys_(file) {
  declaredError_ = LayoutFromDeclaration(file, &declared_);
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

Code DatFile::ReadRecordRaw(uint32_t n, std::vector<unsigned char>* raw, uint32_t part) {
  raw->resize(layout_.header.recordLength);
  const size_t bytes = part ? std::min<size_t>(raw->size(), kRecordPrefixSize + part)
                            : raw->size();
  int err = stream_.Read(RecordPos(n), raw->data(), bytes, kErrInvalidDataFile);
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

void DatFile::ToAnsi(unsigned char* data, size_t limit) const {
  if (!(file_.attributes & kFileOem)) return;
  for (const auto& r : textRanges_) {
    if (r.first >= limit) continue;
    const size_t end = std::min<size_t>(r.second, limit);
    platform::OemToAnsiInPlace(reinterpret_cast<char*>(data + r.first), end - r.first);
  }
}

Code DatFile::LoadRecord(uint32_t n, std::vector<unsigned char>& raw, uint32_t part) {
  current_ = n;
  currentStatus_ = raw[0];
  currentLink_ = Get32(raw.data() + 1);
  // The bytes become the current record's; raw gets the old ones' room to read into next.
  currentData_.swap(raw);
  haveCurrent_ = true;
  const size_t bytes = part ? std::min<size_t>(part, file_.recordSize) : file_.recordSize;
  std::memcpy(file_.record, currentData_.data() + kRecordPrefixSize, bytes);
  ToAnsi(reinterpret_cast<unsigned char*>(file_.record), bytes);
  partial_ = part != 0;
  if (partial_) noMemo_ = true;
  seqPos_ = n;
  seq_ = Seq::kAfter;
  // A damaged memo chain is reported, but the record stays current so that a walk can go on.
  return MemoRead(currentLink_);
}

void DatFile::KeepCurrentData() {
  partial_ = false;
  currentData_.assign(kRecordPrefixSize + file_.recordSize, 0);
  currentData_[0] = currentStatus_;
  Put32(currentData_.data() + 1, currentLink_);
  std::memcpy(currentData_.data() + kRecordPrefixSize, file_.record, file_.recordSize);
  ToOem(currentData_.data() + kRecordPrefixSize);
}

void DatFile::ForgetCurrent() {
  noMemo_ = false;  // NOMEMO covers the next record read, not one after a failed read
  prefixNext_ = 0;
  partial_ = false;
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
  if (!disk || disk->size() != raw.size())
    return stream_.Write(RecordPos(n), raw.data(), raw.size());
  // Bytes the file already holds are not written again (nor journaled, nor flushed): only the
  // stretch from the first byte that changes to the last, found a line at a time.
  const unsigned char* was = disk->data();
  const unsigned char* now = raw.data();
  constexpr size_t kLine = 64;
  size_t first = 0, last = raw.size();
  while (last - first >= kLine && std::memcmp(was + first, now + first, kLine) == 0)
    first += kLine;
  while (first < last && was[first] == now[first]) ++first;
  if (first == last) return 0;
  while (last - first > kLine && std::memcmp(was + last - kLine, now + last - kLine, kLine) == 0)
    last -= kLine;
  while (was[last - 1] == now[last - 1]) --last;
  return stream_.Write(RecordPos(n) + first, raw.data() + first, last - first);
}

// ---- whole file ----

Code DatFile::Create() {
  if (!(file_.attributes & kFileCreate)) return kErrNoCreateAttribute;
  if (declaredError_) return declaredError_;
  if (keys_.error()) return keys_.error();
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
  if (!err) err = keys_.Create(path_);
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
  if (keys_.error()) return keys_.error();
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
  claimed_ = false;
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
  if (!err && !skipKeysAtOpen_)
    err = keys_.Open(path_, mode_, ignoreCorruptions_ ? -1 : Records(), streaming_);
  if (err) {
    // Opened just now, they take part in no transaction: nothing kept to write.
    (void)keys_.Close();
    (void)MemoClose();
    return fail(err);
  }
  UnlockHeader();

  if (LockedByOther()) {
    err = WaitForLock(-1, kErrAccessDenied);
    if (err) return fail(err);
    // Broken as stale: the lock is now ours; an OPEN does not keep it.
    err = Unlock();
    if (err) {
      (void)keys_.Close();  // as above
      (void)MemoClose();
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
  // What a transaction still keeps of the files goes out now; a failure is the close's.
  Code left = Journal::Instance().Leave(stream_);
  if (!result) result = left;
  left = keys_.Close();
  if (!result) result = left;
  left = MemoClose();
  if (!result) result = left;
  UnlockHeader();
  stream_.Close();  // drops every lock of the file, a transaction's claim included
  claimed_ = false;
  ForgetCurrent();
  seq_ = Seq::kStart;
  noMemo_ = false;
  watched_ = 0;
  streaming_ = false;
  return result;
}

Code DatFile::Empty() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (readOnly_) return kErrAccessDenied;
  int err = LockHeader(/*toWrite=*/true);
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
  if (!err) err = keys_.Empty();
  UnlockHeader();
  ForgetCurrent();
  seq_ = Seq::kStart;
  held_ = watched_ = 0;
  return err;
}

std::vector<std::string> DatFile::AllPaths() const {
  std::string data = platform::ResolveExisting(DataFilePath(file_.name));
  std::vector<std::string> paths{data};
  for (std::string& key : keys_.Paths(data)) paths.push_back(std::move(key));
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
    if (!platform::FileExists(p)) continue;
    err = platform::RemoveFile(p);
    if (err) return DriverCodeFromSystem(err);
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
  int err = LockHeader(/*toWrite=*/true);
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
    err = keys_.CheckUnique(file_.record, 0);
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
    // Checked above, under the same lock; a record past the old end numbers above every entry.
    err = keys_.Insert(n, file_.record, /*checkedAndLast=*/!reuse);
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
  if (record == 0 && (!haveCurrent_ || partial_)) return kErrRecordNotAvailable;
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
    int err = LockHeader(/*toWrite=*/true);
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
  const std::vector<char> old = AnsiImage(disk.data() + kRecordPrefixSize);
  // Fields that stay as they are leave every key entry where it is.
  const bool sameFields = std::memcmp(old.data(), file_.record, file_.recordSize) == 0;
  if (!sameFields) {
    err = keys_.Move(n, old.data(), file_.record);
    if (err) return err;
  }
  // Should the memo or the record not be written, the keys go back to the record on disk.
  auto undoKeys = [&](int code) {
    // A failure leaves what the first move left.
    if (!sameFields) (void)keys_.Move(n, file_.record, old.data());
    return code;
  };
  uint32_t memo = Get32(disk.data() + 1);
  const uint32_t oldMemo = memo;
  // The memo is rewritten in its own chain: keep its text to put back should the record not
  // be written (a text this open read and that stays as it was is not written at all).
  std::string oldText;
  // A text that stays as this open read it is neither copied nor written.
  const bool memoKept = !shared_ && oldMemo != 0 && HasMemo() && memo_.is_open() &&
                        file_.memos[0].buffer &&
                        memo_.UnchangedText(oldMemo, file_.memos[0].buffer, file_.memos[0].size,
                                            (file_.memos[0].attributes & kMemoBinary) != 0);
  bool restorable = memoKept || oldMemo == 0 || !HasMemo() || !memo_.is_open() ||
                    !file_.memos[0].buffer;
  if (!restorable) {
    const MemoDescriptor& m = file_.memos[0];
    restorable = memo_.Remembered(oldMemo, m.size, &oldText);
    if (!restorable) {
      oldText.assign(m.size, ' ');
      restorable = memo_.Read(oldMemo, oldText.data(), m.size) == 0;
    }
  }
  if (!memoKept) err = MemoWrite(&memo);
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
    err = LockHeader(/*toWrite=*/true);
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
  if (!haveCurrent_ || partial_) return kErrRecordNotAvailable;
  if (readOnly_) return kErrAccessDenied;
  int err = LockHeader(/*toWrite=*/true);
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
  const std::vector<char> image = AnsiImage(disk.data() + kRecordPrefixSize);
  err = keys_.Remove(n, image.data());
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
    (void)keys_.Insert(n, image.data());
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
  const uint32_t part = std::exchange(prefixNext_, 0);
  int err = ReadRecordRaw(static_cast<uint32_t>(record), &readBuf_, part);
  if (err) {
    ForgetCurrent();
    return err;
  }
  if ((readBuf_[0] & kStatusDeleted) && !ignoreStatus_) {
    ForgetCurrent();
    return kErrRecordNotFound;
  }
  return LoadRecord(static_cast<uint32_t>(record), readBuf_, part);
}

Code DatFile::SetFile() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  keys_.EndSequence();
  seq_ = Seq::kStart;
  seqPos_ = 0;
  return 0;
}

Code DatFile::SetFilePtr(int64_t record) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (record < 1 || record > UINT32_MAX) return kErrRecordNotFound;
  keys_.EndSequence();
  seq_ = Seq::kAt;
  seqPos_ = static_cast<uint32_t>(record);
  return 0;
}

Code DatFile::ReadAt(uint32_t n, bool forward) {
  const uint32_t part = std::exchange(prefixNext_, 0);
  std::vector<unsigned char>& raw = readBuf_;  // one buffer for every read, as in Get
  for (bool refreshed = false;;) {
    uint32_t records = layout_.header.records;
    while (n >= 1 && n <= records) {
      int err = ReadRecordRaw(n, &raw, part);
      if (err) {
        ForgetCurrent();
        return err;
      }
      if (ignoreStatus_ || !(raw[0] & kStatusDeleted)) return LoadRecord(n, raw, part);
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
  if (keys_.in_sequence()) return StepKey(true);
  uint32_t n = seq_ == Seq::kStart ? 1 : seq_ == Seq::kAt ? seqPos_ : seqPos_ + 1;
  return ReadAt(n, true);
}

Code DatFile::Previous() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (keys_.in_sequence()) return StepKey(false);
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
  if (keys_.in_sequence()) {
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

// ---- batches, options, transactions ----

Code DatFile::Stream() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  streaming_ = true;
  keys_.FlushHeaders(false, shared_);
  return 0;
}

Code DatFile::Flush() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  // Held key entries go in first; should that fail, the rest is flushed all the same.
  const int held = keys_.ApplyHeld();
  streaming_ = false;
  keys_.FlushHeaders(true, shared_);
  int err = 0;
  if (headerDirty_ && !readOnly_) {
    err = LockHeader(/*toWrite=*/true);
    if (!err) {
      // A shared file keeps the other stations' counts; only the time stamp is ours.
      if (shared_) err = ReadHeader();
      if (!err) err = WriteHeader(true);
      UnlockHeader();
    }
  }
  if (!err && !readOnly_) err = stream_.Sync();
  if (!err) err = MemoSync();
  if (!err) err = keys_.Sync();
  return held ? held : err;
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
  int err = Journal::Instance().Join(stream_, path_, [this] { AfterRollback(); },
                                     [this] { AfterTransaction(); });
  if (!err) err = keys_.JoinJournal(path_);
  if (!err) err = MemoJoinJournal();
  return err;
}

// ---- keys and memo ----

std::vector<char> DatFile::AnsiImage(const unsigned char* diskData) const {
  std::vector<char> img(diskData, diskData + file_.recordSize);
  ToAnsi(reinterpret_cast<unsigned char*>(img.data()));
  return img;
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

Code DatFile::MemoClose() {
  Code err = memo_.is_open() ? Journal::Instance().Leave(memo_.stream()) : Code(0);
  memo_.Close();
  return err;
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

Code DatFile::ReadPrefix(int64_t bytes) {
  prefixNext_ = bytes > 0 && static_cast<uint64_t>(bytes) < file_.recordSize
                    ? static_cast<uint32_t>(bytes)
                    : 0;
  return 0;
}

// ---- keyed access ----

Code DatFile::SetKey(int key) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  return keys_.SetKey(key);
}

Code DatFile::SetKeyKey(int key) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  return keys_.SetKeyKey(key, file_.record);
}

Code DatFile::SetKeyPtr(int key, int64_t record, bool valueFromBuffer) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  Code err = keys_.Use(key);
  if (err) return err;
  if (record < 1 || record > UINT32_MAX) return kErrRecordNotFound;
  if (valueFromBuffer) return keys_.SetKeyPtr(key, static_cast<uint32_t>(record), file_.record);
  if (record > layout_.header.records) return kErrRecordNotFound;
  std::vector<unsigned char> raw;
  err = ReadRecordRaw(static_cast<uint32_t>(record), &raw);
  if (err) return err;
  return keys_.SetKeyPtr(key, static_cast<uint32_t>(record),
                         AnsiImage(raw.data() + kRecordPrefixSize).data());
}

Code DatFile::SetFileKey(int key) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  bool found = false;
  uint32_t recno = 0;
  Code err = keys_.Lookup(key, file_.record, &found, &recno);
  if (err) return err;
  if (!found) return kErrRecordNotFound;
  return SetFilePtr(recno);
}

Code DatFile::StepKey(bool forward) {
  uint32_t recno = 0, ahead = 0;
  Code err = keys_.Step(forward, &recno, &ahead);
  if (err) {
    ForgetCurrent();
    return err;
  }
  // A walk along a key reads records in no order the file's layout helps with: ask for the
  // next one's bytes while this one is being read and used.
  if (ahead >= 1 && ahead <= layout_.header.records)
    stream_.Prefetch(RecordPos(ahead), prefixNext_ ? kRecordPrefixSize + prefixNext_
                                                   : layout_.header.recordLength);
  return Get(recno);
}

Code DatFile::GetFileKey(int key) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  bool found = false;
  uint32_t recno = 0;
  Code err = keys_.Lookup(key, file_.record, &found, &recno);
  if (err) return err;
  if (!found) {
    ForgetCurrent();
    return kErrRecordNotFound;
  }
  return Get(recno);
}

Code DatFile::PositionKey(int key, std::string* position) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  Code err = keys_.Use(key);
  if (err) return err;
  if (!haveCurrent_ || partial_) return kErrRecordNotAvailable;
  return keys_.Position(key, AnsiImage(currentData_.data() + kRecordPrefixSize).data(), current_,
                        position);
}

Code DatFile::ResetKey(int key, const std::string& position) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  return keys_.ResetKey(key, position);
}

Code DatFile::RegetKey(int key, const std::string& position) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  uint32_t record = 0;
  Code err = keys_.RecordOf(key, position, &record);
  return err ? err : Get(record);
}

Code DatFile::RecordsKey(int key, int64_t* count) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  return keys_.Entries(key, count);
}

Code DatFile::Duplicate(int key, bool* duplicate) {
  *duplicate = false;
  if (!stream_.is_open()) return kErrFileNotOpen;
  return keys_.Duplicate(key, file_.record, haveCurrent_ ? current_ : 0, duplicate);
}

// ---- BUILD ----

Code DatFile::Build(int key) {
  bool wasOpen = stream_.is_open();
  if (!wasOpen) {
    // The keys are what is broken: open the data file alone, exclusively.
    skipKeysAtOpen_ = true;
    Code err = Open(kOpenReadWrite | kShareDenyAll);
    skipKeysAtOpen_ = false;
    if (err) return err;
  } else if (readOnly_) {
    return kErrAccessDenied;
  }
  Code err = LockHeader(/*toWrite=*/true);
  if (!err && shared_) err = ReadHeader();
  const DatHeader& h = layout_.header;
  // One pass over the data file in chunks of records feeds the keys being built.
  auto records = [&](const std::vector<size_t>&, const DatKeys::Visit& visit) -> Code {
    const uint32_t kChunk = 256;
    std::vector<unsigned char> chunk;
    std::vector<char> img(file_.recordSize);
    for (uint32_t first = 1; first <= h.records; first += kChunk) {
      uint32_t count = std::min<uint32_t>(kChunk, h.records - first + 1);
      chunk.resize(static_cast<size_t>(count) * h.recordLength);
      Code rc = stream_.Read(RecordPos(first), chunk.data(), chunk.size(), kErrInvalidDataFile);
      if (rc) return rc == kErrReadFault ? Code(kErrInvalidDataFile) : rc;
      for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* raw = chunk.data() + static_cast<size_t>(i) * h.recordLength;
        if (raw[0] & kStatusDeleted) continue;
        std::memcpy(img.data(), raw + kRecordPrefixSize, file_.recordSize);
        ToAnsi(reinterpret_cast<unsigned char*>(img.data()));
        visit(first + i, img.data());
      }
    }
    return 0;
  };
  auto describe = [this](uint32_t recno, const KeyLayout& layout) {
    std::vector<unsigned char> raw;
    if (ReadRecordRaw(recno, &raw)) return std::string("?");
    return layout.Describe(AnsiImage(raw.data() + kRecordPrefixSize).data());
  };
  if (!err) {
    err = keys_.Build(key, static_cast<uint64_t>(std::max<int64_t>(Records(), 0)), path_, mode_,
                      shared_, streaming_, platform::ReplaceExtension(path_, ".BLD"), records,
                      describe);
  }
  UnlockHeader();
  if (!wasOpen) {
    Code closeErr = Close();
    if (!err) err = closeErr;
  }
  return err;
}

}  // namespace korawin::storage::dat
