// The DAT driver's control area for one declared file, and the record operations on its data
// file: create, open, close, add, rewrite, delete, read by number and in record order, holds,
// change detection, whole-file locks, transactions and the whole-file operations.
//
// Records are numbered from 1; record n lies at the data offset + (n - 1) x record length and
// starts with a status byte and a 4-byte link (memo block of a live record, next deleted
// record of a deleted one).
//
// A file opened shared (sharing 0x40) takes the header lock (byte 0) around every header
// update and re-reads the header under it, so that stations sharing a folder stay in step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/dat/dat_header.h"
#include "storage/dat/dat_io.h"
#include "storage/driver.h"

namespace korawin::storage::dat {

// Walks the deleted chain from the header's first deleted record: 0 when the chain has
// exactly the header's deleted count of records, each in range, deleted and met once; else
// 36 with *fault (when given) naming the first fault.
int CheckDeletedChain(DatStream& stream, const DatHeader& header, std::string* fault);

// The data file path of a declared name: ".DAT" added when the name has no extension.
std::string DataFilePath(const std::string& name);
// Key file path of the key at index (from 0) of the stored keys: ".K01" ... ".I03".
std::string KeyFilePath(const std::string& dataPath, size_t index, bool isIndex);

class DatFile : public DriverControl {
 public:
  explicit DatFile(FileDescriptor& file);
  ~DatFile() override;
  DatFile(const DatFile&) = delete;
  DatFile& operator=(const DatFile&) = delete;

  // The file's control area, built on the first call.
  static DatFile& Of(FileDescriptor& file);

  // Whole-file operations.
  int Create();                 // 54 without the CREATE attribute
  int Open(unsigned mode);      // 45 empty name, 2 missing, 36 malformed, 47 declaration differs
  int Close();
  int Empty();
  int Remove();                 // data, key and memo files of a closed file
  int Rename(const std::string& newName);
  int Copy(const std::string& newName);

  // Records.
  int Add(bool append);         // ADD (keys too) or APPEND (no keys)
  int Put(uint32_t record);     // 0: the current record
  int Delete();
  int Get(int64_t record);      // by number: 35 outside 1..records or deleted

  // Record order.
  int SetFile();                // before the first (NEXT) / after the last (PREVIOUS)
  int SetFilePtr(int64_t record);  // the next NEXT or PREVIOUS reads this record
  int Next();
  int Previous();
  int Skip(int64_t count);
  int Bof(bool* atStart);
  int Eof(bool* atEnd);
  int64_t Records() const;      // record count - deleted count
  int64_t Pointer() const;      // the current record number (0: none)
  std::string Position() const;
  int Reset(const std::string& position);
  int Reget(const std::string& position);

  // Stations.
  int Hold(int64_t seconds);    // seconds < 0: HOLD; else HOLD with a retry time
  int Release();
  int Watch();
  int Lock(int64_t seconds);    // seconds < 0: LOCK; else LOCK with a retry time
  int Unlock();

  // Batches, options, transactions.
  int Stream();
  int Flush();
  int Send(const std::string& option, std::string* answer);
  int Logout();

  bool is_open() const { return stream_.is_open(); }
  const std::string& path() const { return path_; }
  const DatHeader& header() const { return layout_.header; }
  const DatLayout& layout() const { return layout_; }
  DatStream& stream() { return stream_; }
  uint32_t held_record() const { return held_; }

 private:
  enum class Seq { kStart, kAt, kAfter };

  int ReadHeader();
  int WriteHeader(bool stamp);
  int LockHeader();
  void UnlockHeader();
  int CheckSize();
  uint64_t RecordPos(uint32_t n) const;
  int ReadRecordRaw(uint32_t n, std::vector<unsigned char>* raw);
  int ReadStatus(uint32_t n, unsigned char prefix[kRecordPrefixSize]);
  int LoadRecord(uint32_t n, std::vector<unsigned char>& raw);  // into the buffer
  int ReadAt(uint32_t n, bool forward);                        // NEXT/PREVIOUS from n
  int WriteRecord(uint32_t n, uint8_t status, uint32_t link);
  void ToOem(unsigned char* data) const;
  void ToAnsi(unsigned char* data) const;
  int RefreshIfShared();
  bool LockedByOther() const;
  int WaitForLock(int64_t seconds, int refusal);
  int ApplyDriverString();
  void AfterRollback();
  void ForgetCurrent();
  std::vector<std::string> AllPaths() const;

  // ---- Seams for the key files and the memo file (filled in when they join the driver).
  // Each returns a driver code; until then they have nothing to do.
  int KeysCreate() { return 0; }                               // CREATE: empty key files
  int KeysOpen() { return 0; }                                 // OPEN: open and check them
  void KeysClose() {}
  int KeysCheckUnique() { return 0; }                          // ADD: 40 on a duplicate
  int KeysInsert(uint32_t /*record*/) { return 0; }            // ADD: enter the buffer
  int KeysMove(uint32_t /*record*/, const unsigned char* /*oldData*/) { return 0; }  // PUT
  int KeysRemove(uint32_t /*record*/, const unsigned char* /*data*/) { return 0; }   // DELETE
  int KeysEmpty() { return 0; }                                // EMPTY: recreate them empty
  int KeysJoinJournal() { return 0; }                          // LOGOUT: journal their writes
  int KeysSync() { return 0; }                                 // FLUSH
  int MemoCreate() { return 0; }
  int MemoOpen() { return 0; }
  void MemoClose() {}
  int MemoRead(uint32_t /*firstBlock*/) { return 0; }          // with every record read
  int MemoWrite(uint32_t* /*firstBlock*/) { return 0; }        // ADD/APPEND/PUT, before it
  int MemoFree(uint32_t /*firstBlock*/) { return 0; }          // DELETE
  int MemoEmpty() { return 0; }
  int MemoJoinJournal() { return 0; }
  int MemoSync() { return 0; }
  // ----

  FileDescriptor& file_;
  DatLayout declared_;
  int declaredError_ = 0;
  DatLayout layout_;  // the header and descriptions as on disk
  DatStream stream_;
  std::string path_;
  std::vector<std::pair<uint32_t, uint32_t>> textRanges_;  // OEM-coded text bytes

  unsigned mode_ = 0;
  bool shared_ = false;
  bool readOnly_ = false;
  bool headerLocked_ = false;
  bool headerDirty_ = false;
  bool streaming_ = false;
  bool locked_ = false;  // this station set the LOCK bit

  bool haveCurrent_ = false;
  uint32_t current_ = 0;
  uint8_t currentStatus_ = 0;
  uint32_t currentLink_ = 0;
  std::vector<unsigned char> currentData_;  // the record's data as read from disk
  Seq seq_ = Seq::kStart;
  uint32_t seqPos_ = 0;

  uint32_t held_ = 0;
  uint32_t watched_ = 0;
  std::vector<unsigned char> watchCopy_;

  int recoverSeconds_ = 0;
  bool ignoreStatus_ = false;
  bool ignoreCorruptions_ = false;
  bool maintainHeaderTime_ = false;
};

}  // namespace korawin::storage::dat
