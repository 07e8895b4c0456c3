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
#include <memory>
#include <string>
#include <vector>

#include "storage/dat/dat_header.h"
#include "storage/dat/dat_io.h"
#include "storage/dat/dat_keys.h"
#include "storage/dat/key_codec.h"
#include "storage/dat/key_file.h"
#include "storage/dat/memo_file.h"
#include "storage/driver.h"

namespace korawin::storage::dat {

// The data file path of a declared name: ".DAT" added when the name has no extension.
std::string DataFilePath(const std::string& name);

class DatFile : public DriverControl {
 public:
  explicit DatFile(FileDescriptor& file);
  ~DatFile() override;
  DatFile(const DatFile&) = delete;
  DatFile& operator=(const DatFile&) = delete;

  // The file's control area, built on the first call.
  static DatFile& Of(FileDescriptor& file);

  // Whole-file operations.
  Code Create();                 // 54 without the CREATE attribute
  Code Open(unsigned mode);      // 45 empty name, 2 missing, 36 malformed, 47 declaration differs
  Code Close();
  Code Empty();
  Code Remove();                 // data, key and memo files of a closed file
  Code Rename(const std::string& newName);
  Code Copy(const std::string& newName);

  // Records.
  Code Add(bool append);         // ADD (keys too) or APPEND (no keys)
  Code Put(uint32_t record);     // 0: the current record
  Code Delete();
  Code Get(int64_t record);      // by number: 35 outside 1..records or deleted

  // Record order.
  Code SetFile();                // before the first (NEXT) / after the last (PREVIOUS)
  Code SetFilePtr(int64_t record);  // the next NEXT or PREVIOUS reads this record
  Code Next();
  Code Previous();
  Code Skip(int64_t count);
  Code Bof(bool* atStart);
  Code Eof(bool* atEnd);
  int64_t Records() const;      // record count - deleted count
  int64_t Pointer() const;      // the current record number (0: none)
  std::string Position() const;
  Code Reset(const std::string& position);
  Code Reget(const std::string& position);

  // Key order (key from 1).
  Code SetKey(int key);                       // start of the key (NEXT) / its end (PREVIOUS)
  Code SetKeyKey(int key);                    // at the key value of the record buffer
  Code SetKeyPtr(int key, int64_t record, bool valueFromBuffer);  // at a record
  Code SetFileKey(int key);                   // record order, from the record the value finds
  Code GetFileKey(int key);                   // 35 when no entry holds the buffer's value
  Code PositionKey(int key, std::string* position);
  Code ResetKey(int key, const std::string& position);
  Code RegetKey(int key, const std::string& position);
  Code RecordsKey(int key, int64_t* count);
  Code Duplicate(int key, bool* duplicate);   // key 0: any unique key
  Code Build(int key);                        // key 0: every key and index
  Code NoMemo();
  // The next record read (along a key, in record order or by number) loads only the first
  // bytes bytes of the record buffer (its memo is not read): enough for a filter that reads no
  // further. The rest of the buffer keeps what it held, so until a whole read (REGET) the
  // record can't be written, deleted, watched or positioned by key. 0 reads it whole.
  Code ReadPrefix(int64_t bytes);
  bool key_order() const { return keys_.in_sequence(); }
  // Verification for the command-line tool: the deleted chain, every key against the data and
  // every memo chain. 0, or the code of the first fault with *fault describing it.
  Code Check(std::string* fault);

  // Stations.
  Code Hold(int64_t seconds);    // seconds < 0: HOLD; else HOLD with a retry time
  Code Release();
  Code Watch();
  Code Lock(int64_t seconds);    // seconds < 0: LOCK; else LOCK with a retry time
  Code Unlock();

  // Batches, options, transactions.
  Code Stream();
  Code Flush();
  Code Send(const std::string& option, std::string* answer);
  Code Logout();

  bool is_open() const { return stream_.is_open(); }
  const std::string& path() const { return path_; }
  const DatHeader& header() const { return layout_.header; }
  const DatLayout& layout() const { return layout_; }
  DatStream& stream() { return stream_; }
  uint32_t held_record() const { return held_; }

 private:
  enum class Seq { kStart, kAt, kAfter };

  Code ReadHeader();
  Code WriteHeader(bool stamp);
  // The header lock of a shared file; toWrite also waits for another station's transaction.
  Code LockHeader(bool toWrite = false);
  void UnlockHeader();
  Code CheckSize();
  uint64_t RecordPos(uint32_t n) const;
  // part > 0 reads only the prefix and the record's first part bytes.
  Code ReadRecordRaw(uint32_t n, std::vector<unsigned char>* raw, uint32_t part = 0);
  Code ReadStatus(uint32_t n, unsigned char prefix[kRecordPrefixSize]);
  Code LoadRecord(uint32_t n, std::vector<unsigned char>& raw,
                  uint32_t part = 0);  // into the buffer
  Code ReadAt(uint32_t n, bool forward);                        // NEXT/PREVIOUS from n
  Code WriteRecord(uint32_t n, uint8_t status, uint32_t link,
                  const std::vector<unsigned char>* disk = nullptr);
  void ToOem(unsigned char* data) const;
  // Sets currentData_ from the status, link and record buffer of the current record.
  void KeepCurrentData();
  void ToAnsi(unsigned char* data, size_t limit = SIZE_MAX) const;
  Code RefreshIfShared();
  bool LockedByOther() const;
  Code WaitForLock(int64_t seconds, int refusal);
  Code ApplyDriverString();
  void AfterRollback();
  // Once the file's transaction has ended: the header lock kept through it goes.
  void AfterTransaction();
  void ForgetCurrent();
  std::vector<std::string> AllPaths() const;
  Code CopyFiles(const std::string& newName, int (*step)(const std::string&, const std::string&));

  // ---- The memo file.
  Code MemoCreate();
  Code MemoOpen();
  Code MemoClose();
  Code MemoRead(uint32_t firstBlock);                      // with every record read
  Code MemoWrite(uint32_t* firstBlock);                    // ADD/APPEND/PUT, before the record
  Code MemoFree(uint32_t firstBlock);                      // DELETE
  Code MemoEmpty();
  Code MemoJoinJournal();
  Code MemoSync();
  bool HasMemo() const { return !file_.memos.empty(); }
  std::string MemoPath() const;
  // The record's data as on disk turned into a record buffer image (ANSI).
  std::vector<char> AnsiImage(const unsigned char* diskData) const;
  Code StepKey(bool forward);                              // NEXT/PREVIOUS in key order

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
  bool headerToWrite_ = false;  // the lock was taken to write
  bool claimed_ = false;        // this station's transaction claims the file
  bool headerDirty_ = false;
  bool stampPending_ = false;  // the header put off holds a change not yet time-stamped
  bool streaming_ = false;
  bool locked_ = false;  // this station set the LOCK bit

  bool haveCurrent_ = false;
  uint32_t current_ = 0;
  uint8_t currentStatus_ = 0;
  uint32_t currentLink_ = 0;
  std::vector<unsigned char> currentData_;  // the record as read from disk, prefix included
  std::vector<unsigned char> readBuf_;      // the last record read, prefix included
  std::vector<unsigned char> writeBuf_;     // the record being written, prefix included
  Seq seq_ = Seq::kStart;
  uint32_t seqPos_ = 0;

  uint32_t held_ = 0;
  uint32_t watched_ = 0;
  std::vector<unsigned char> watchCopy_;

  DatKeys keys_;
  MemoFile memo_;
  bool noMemo_ = false;
  uint32_t prefixNext_ = 0;  // READPREFIX for the next read
  bool partial_ = false;     // the current record was read in part
  bool skipKeysAtOpen_ = false;

  int recoverSeconds_ = 0;
  bool ignoreStatus_ = false;
  bool ignoreCorruptions_ = false;
  bool maintainHeaderTime_ = false;
};

}  // namespace korawin::storage::dat
