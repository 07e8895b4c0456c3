// The keys of one DAT file: a key file per stored KEY or INDEX of the declaration, kept up to
// date by ADD, PUT and DELETE, walked by the keyed sequences, and rebuilt by BUILD.
//
// Records reach this class as record buffer images (ANSI text); the data file reads and writes
// them. A key number is the key's place in the declaration (from 1); an INDEX is built on
// demand and opened at its first use, so it is only as fresh as its last BUILD.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/dat/key_codec.h"
#include "storage/dat/key_file.h"
#include "storage/driver.h"

namespace korawin::storage::dat {

class DatKeys {
 public:
  // Lays out the keys of the declaration; error() holds the first layout error (88, 79, 75).
  explicit DatKeys(const FileDescriptor& file);
  DatKeys(const DatKeys&) = delete;
  DatKeys& operator=(const DatKeys&) = delete;

  Code error() const { return error_; }
  bool empty() const { return keys_.empty(); }
  // The key file paths of the data file at dataPath: ".K01" ... ".I03".
  std::vector<std::string> Paths(const std::string& dataPath) const;

  // CREATE: empty key files beside dataPath.
  Code Create(const std::string& dataPath);
  // OPEN: opens and checks every KEY (not the indexes) with the data file's mode; liveRecords
  // < 0 skips the entry count check (IGNORECORRUPTIONS).
  Code Open(const std::string& dataPath, unsigned mode, int64_t liveRecords, bool streaming);
  // Closes every key file; what a transaction kept of them is written first.
  Code Close();
  // EMPTY: every key file anew, indexes not in use included.
  Code Empty();
  // LOGOUT: the key files take part in the journal of dataPath's transaction.
  Code JoinJournal(const std::string& dataPath);
  // The entries each key holds in a batch go into its tree (see KeyFile::Insert).
  Code ApplyHeld();
  // FLUSH: every key file written and flushed.
  Code Sync();
  // The span of the data file's header lock: key headers are read once.
  void HeaderCache(bool on);
  // STREAM (off) and FLUSH (on): whether key header writes are flushed; in a batch the headers
  // of a file no other station shares wait for FLUSH or CLOSE.
  void FlushHeaders(bool on, bool shared);

  // Maintenance by ADD, PUT and DELETE; image is the record buffer (ANSI). Each step that
  // fails puts back what it changed before, so a failure leaves the keys as they were.
  // 40 when a unique key already holds the image's value for another record than self.
  Code CheckUnique(const char* image, uint32_t self);
  // checkedAndLast: CheckUnique has just passed for image under the same lock, and record was
  // added at the end of the data file (see KeyFile::InsertHint).
  Code Insert(uint32_t record, const char* image, bool checkedAndLast = false);
  Code Move(uint32_t record, const char* oldImage, const char* newImage);
  Code Remove(uint32_t record, const char* image);

  // The layout of key number key, nullptr when the file has no such stored key.
  const KeyLayout* Layout(int key) const;
  // Whether key exists, opening an index at its first use (37, 46 or an I/O code else).
  Code Use(int key);

  // Keyed sequences: the next Step yields the first entry (SetKey), the first entry not below
  // the image's value (SetKeyKey; Step backward: the last not above it), or the entry of the
  // record (SetKeyPtr, both directions).
  bool in_sequence() const { return seq_ >= 0; }
  void EndSequence();
  Code SetKey(int key);
  Code SetKeyKey(int key, const char* image);
  Code SetKeyPtr(int key, uint32_t record, const char* image);
  // Resets to a position made by Position; 78 when it is not one of key.
  Code ResetKey(int key, const std::string& position);
  // Moves the sequence one entry: *recno is its record, *ahead the record after it when the
  // cached leaf already holds it (0 else). 33 past either end.
  Code Step(bool forward, uint32_t* recno, uint32_t* ahead);
  // The position text of record with the record image's value along key.
  Code Position(int key, const char* image, uint32_t record, std::string* position);
  // The record number in a position text of key; 78 when it is not one.
  Code RecordOf(int key, const std::string& position, uint32_t* record);
  // The first record whose key value equals the image's; found false when none.
  Code Lookup(int key, const char* image, bool* found, uint32_t* record);
  Code Entries(int key, int64_t* count);
  // Whether the image would duplicate a unique key (key 0: any of them).
  Code Duplicate(int key, const char* image, uint32_t self, bool* duplicate);

  // BUILD of one key (0: every key and index). records(visit) calls visit(record, image) for
  // every live record in record order; describe(record) gives a record's values for the
  // report of duplicates at reportPath.
  using Visit = std::function<void(uint32_t record, const char* image)>;
  using Records = std::function<Code(const std::vector<size_t>& keys, const Visit& visit)>;
  Code Build(int key, uint64_t liveRecords, const std::string& dataPath, unsigned mode,
             bool shared, bool streaming, const std::string& reportPath, const Records& records,
             const std::function<std::string(uint32_t record, const KeyLayout&)>& describe);

  // Verification: each key file's tree, then its entries against expected, which holds for
  // every stored key the (value, record) pairs the data file gives. 0, or the first fault.
  Code Check(std::vector<std::vector<std::pair<std::string, uint32_t>>>& expected,
             const FileDescriptor& file, std::string* fault);
  // Fills expected for the record image (see Check).
  void Expect(uint32_t record, const char* image,
              std::vector<std::vector<std::pair<std::string, uint32_t>>>* expected) const;

 private:
  struct Key {
    size_t decl = 0;     // index in the declaration's key list
    bool index = false;  // an INDEX: built on demand, not kept up to date
    KeyLayout layout;
    std::unique_ptr<KeyFile> file;
    std::string path;
  };
  enum class Pending { kNone, kStart, kValue, kEntry };

  // The slot of key number key, nullptr when none.
  Key* Find(int key);

  std::vector<Key> keys_;
  Code error_ = 0;
  unsigned mode_ = 0;
  int seq_ = -1;  // slot of the key sequence; -1: none
  Pending pending_ = Pending::kNone;
  std::string pendingValue_;
  uint32_t pendingRecord_ = 0;
};

}  // namespace korawin::storage::dat
