// The file manager: every data file of the application is used through one FileManager,
// which wraps the driver operations with the framework's policies (counted and lazy opening,
// stale-lock recovery, read-only fallback, creation of a missing file, key rebuild,
// automatic numbering, change detection) and reports failures through the ErrorClass.
//
// Operations return levels: LevelBenign (0) for success, LevelNotify (5) for a failure that
// was reported (or, in a Try variant, only recorded), LevelFatal (3) for an unusable file.
#pragma once

#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "framework/error_manager.h"
#include "storage/driver.h"

namespace korawin::framework {

class RelationManager;

// Message modes of Update.
enum UpdateMessageMode : int { UpdateQuiet = 0, UpdateShow = 1, FromForm = 2 };

// One component of a registered key.
struct FileKeyField {
  int Field = 0;  // field index in the file's field list, from 0
  std::string FieldName;
  bool Ascend = true;
};

// A key registered with the file manager.
struct FileKey {
  int Key = 0;  // key number in the file's key list, from 1
  std::string Description;
  std::vector<FileKeyField> Fields;
  uint8_t AutoInc = 0;  // component number that is auto-incremented, 0 = none
  bool Dups = false;
  bool NoCase = false;
};

// The file's state for one thread.
struct FileInfo {
  std::thread::id Id;
  bool Used = false;      // really open for this thread
  uint16_t Opened = 0;    // Open calls not yet matched by Close
  bool AtEOF = false;
  bool AutoIncDone = false;
  uint8_t LastError = 0;
  bool Watching = false;  // the last record read was put under WATCH by this manager
  int CurrentKey = 0;     // order started by SetOrder (0: record order)
};

// A pushed file state (SaveFile).
struct SavedFileState {
  std::vector<char> Buffer;  // the record, then each memo
  std::thread::id Thread;    // states are popped by the thread that pushed them
  uint16_t Id = 0;
  bool WWatch = false;
  std::string Pos;  // position text from the driver; empty when there was no current record
  int Key = 0;
};

class FileManager {
 public:
  FileManager() = default;
  FileManager(const FileManager&) = delete;
  FileManager& operator=(const FileManager&) = delete;
  virtual ~FileManager() = default;

  // Binds the manager to a declared file and the program's error manager. The file's record
  // buffer becomes Buffer; Create is set and LockRecover is 10.
  void Init(storage::FileDescriptor& file, ErrorClass& errors);
  // Closes the file for every thread that still has it open and releases every list.
  void Kill();

  // Registers key number key (from 1) of the file with its description; autoInc names the
  // component that is numbered automatically (0 = none).
  void AddKey(int key, std::string_view description, uint8_t autoInc = 0);

  // Opens the file with messages, counting the use (LazyOpen: only counts).
  virtual Level Open();
  // Same without messages (except AccessDenied and KeyNotBuilt, which are always shown).
  Level TryOpen();
  // Ends one use; the last one closes the file for this thread. Always 0.
  virtual Level Close();
  // Called first by every data operation: performs the deferred open of a lazy file.
  Level UseFile();

  // Reads the next record of the current order. 5 at the end (AtEOF set), silently.
  Level Next();
  Level TryNext();
  Level TryPrevious();
  // Starts an order: key 0 record order, else key order from the start, or from the key
  // value in the buffer when fromBuffer is set.
  Level TrySetOrder(int key, bool fromBuffer);
  // Reads the record whose key value (key from 1) equals the buffer's key fields.
  Level Fetch(int key);
  Level TryFetch(int key);
  // Puts the current record under WATCH so that a change by another station gives 89.
  Level Watch();

  // Adds the record in Buffer (validated; numbered when the file has an auto-increment key).
  Level Insert();
  Level TryInsert();
  // Writes the current record back; mode is an UpdateMessageMode.
  Level Update(int mode = UpdateShow);
  Level TryUpdate() { return Update(UpdateQuiet); }
  // Deletes the current record (no rules, no question).
  Level TryDeleteRecord();

  // Clears the record (unless keep), primes the fields, numbers the record if needed.
  virtual Level PrimeRecord(bool keep = false);
  // Application hook for default values; the base does nothing.
  virtual void PrimeFields() {}
  // Reserves the next auto-increment number by adding the record (three attempts per ask).
  virtual Level PrimeAutoInc();
  virtual Level TryPrimeAutoInc();
  // Deletes the record reserved by PrimeAutoInc (through rm's rules when given).
  virtual void CancelAutoInc(RelationManager* rm = nullptr);

  // Validation: fields 1 to the field count; stops at the first non-zero level.
  virtual Level ValidateRecord();
  virtual Level ValidateFields(int first, int last, int* failed = nullptr);
  // Application hook for one field (number from 1); the base accepts everything.
  virtual Level ValidateField(int field) { return LevelBenign; }

  // Saves copies of the record and its memos; returns the id that finds them again.
  uint16_t SaveBuffer();
  // Copies them back; release drops them.
  void RestoreBuffer(uint16_t id, bool release = true);
  // True when the record and every memo equal the copies saved under id.
  virtual bool EqualBuffer(uint16_t id);

  // Pushes / pops the whole file state: record, order, position, watch.
  void SaveFile();
  void RestoreFile();

  // The current record's position: through PrimaryKey when set, else the file's own.
  std::string Position();
  // Re-reads the record at a position from Position(); 0 or 5, silently.
  Level TryReget(const std::string& pos);
  // Record-number positions, stable when key values change.
  std::string FilePosition();
  Level TryRegetFile(const std::string& pos);

  // Error reporting.
  void SetError(uint16_t id);
  virtual Level Throw();
  virtual Level ThrowError(uint16_t id);
  virtual Level ThrowMessage(uint16_t id, std::string_view text);
  // Makes the calling thread's Info entry current and sets the error manager's file name.
  FileInfo& SetThread();

  // The calling thread's state (created cleared when missing).
  FileInfo& Info();
  // Number of the key's entry in Keys (from 1) by key number, 0 when not registered.
  const FileKey* KeyEntry(int key) const;
  // Sends an option text to the driver; the answer goes to *answer when given.
  int Send(std::string_view option, std::string* answer = nullptr);

  // Fields, in the order of the design.
  FileManager* AliasedFile = nullptr;
  char* Buffer = nullptr;
  std::list<std::pair<uint16_t, std::vector<char>>> Buffers;
  bool Create = true;
  ErrorClass* Errors = nullptr;
  storage::FileDescriptor* File = nullptr;
  std::string FileNameValue;
  bool HasAutoInc = false;
  std::list<FileInfo> InfoList;
  std::vector<FileKey> Keys;
  bool LazyOpen = false;
  int16_t LockRecover = 10;
  uint8_t OpenMode = storage::kOpenReadWrite | storage::kShareDenyNone;
  uint8_t PrimaryKey = 0;
  std::list<SavedFileState> Saved;  // per program, as pushed
  bool SkipHeldRecords = false;

 protected:
  friend class RelationManager;
  // The open routine: show errors, count the use, force the real open.
  Level OpenFile(bool show, bool count, bool force);
  // Run after each real open; nothing to do in the base.
  virtual void AfterOpen() {}
  // Reports id: through the error manager when show, else only recorded (result 5).
  Level Report(uint16_t id, bool show, Level quietResult = LevelNotify);
  Level NextRecord(bool show);
  // Update with the message of mode shown only when show; the error is recorded either way,
  // so that a caller can roll its transaction back first and then Throw. *code receives the
  // PUT's code (0 when there was none).
  Level UpdateRecord(int mode, bool show, int* code = nullptr);
  // After a PUT refused with 89: reads the record at pos again (the other station's version)
  // and watches it afresh.
  void WatchAfresh(const std::string& pos);
  Level InsertRecord(bool show);
  Level PrimeAutoIncrement(bool show);
  // One numbering pass and the ADD; 0 on success, else the driver's code.
  int AutoIncrementAndAdd(bool show, Level* level);
  Level FetchRecord(int key, bool show);

 private:
  uint16_t nextBufferId_ = 1;
  std::recursive_mutex infoMu_;  // guards InfoList, Buffers and Saved
};


}  // namespace korawin::framework
