// The file driver interface: how a declared file is described (descriptors), the numbered
// operations every driver answers through its DriverEntry, the driver registration blocks,
// and the error codes with their texts that drivers and the framework share.
//
// The storage engine is procedural: every file statement is DriverEntry(op, file, args) and
// returns an error code, 0 for success. The last code of the calling thread is its current
// error (ErrorCode(), ErrorText()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/field_codec.h"

namespace korawin::storage {

// The result of a file statement and of every engine function that can fail: an error code of
// the table below, 0 for success. It converts to and from int; a caller that drops one does so
// visibly, (void) with the reason beside it.
class [[nodiscard]] Code {
 public:
  constexpr Code(int code = 0) : code_(code) {}
  constexpr operator int() const { return code_; }

 private:
  int code_;
};

// Field type codes: the record buffer's, shared with the evaluator.
using platform::FieldType;
using enum platform::FieldType;

// The system's name of a type code ("STRING", "(17)", "UNKNOWN" outside the table).
std::string_view FieldTypeName(uint8_t type);

// Operation codes.
enum DriverOperation : uint8_t {
  kOpAdd = 1, kOpBof = 2, kOpBuildFile = 3, kOpAppend = 4, kOpBuildDyn = 5, kOpBuildKey = 6,
  kOpClose = 7, kOpCommit = 8, kOpCopy = 9, kOpCreate = 10, kOpDelete = 11, kOpDuplicate = 12,
  kOpEmpty = 13, kOpEof = 14, kOpGetFileKey = 15, kOpGetFilePtr = 16, kOpGetKeyPtr = 17,
  kOpHoldFile = 18, kOpHoldFileSec = 19, kOpLockFile = 20, kOpLockFileSec = 21, kOpLogout = 22,
  kOpName = 23, kOpNext = 24, kOpOpen = 25, kOpPack = 26, kOpPointerFile = 27,
  kOpPointerKey = 28, kOpFlush = 29, kOpPut = 30, kOpPrevious = 31, kOpRecordsFile = 32,
  kOpRecordsKey = 33, kOpBuildDynFilter = 34, kOpRelease = 36, kOpRemove = 37, kOpRename = 38,
  kOpRollback = 40, kOpSetFile = 41, kOpSetFileKey = 42, kOpSetFilePtr = 43, kOpSetKey = 44,
  kOpSetKeyKey = 45, kOpSetKeyPtr = 46, kOpSetKeyKeyPtr = 47, kOpShare = 48, kOpSkip = 49,
  kOpUnlock = 50, kOpAddFileLen = 51, kOpBytes = 52, kOpGetFilePtrLen = 53, kOpPutFilePtr = 54,
  kOpPutFilePtrLen = 55, kOpStream = 56, kOpDuplicateKey = 57, kOpWatch = 58,
  kOpAppendLen = 59, kOpSend = 60, kOpPositionFile = 61, kOpPositionKey = 62,
  kOpResetFile = 63, kOpResetKey = 64, kOpNoMemo = 65, kOpRegetFile = 66, kOpRegetKey = 67,
  kOpNull = 68, kOpSetNull = 69, kOpSetNoNull = 70, kOpSetProperty = 71, kOpGetProperty = 72,
  kOpQueryKey = 73, kOpQueryView = 74, kOpBlobYield = 75, kOpBlobTake = 76, kOpBlobSize = 77,
  kOpBlobGetProp = 78, kOpBlobSetProp = 79, kOpBuffer = 80, kOpSetView = 81, kOpClear = 82,
  kOpResetViewFile = 83, kOpBuildEvent = 84, kOpSetPropertyKey = 85, kOpGetPropertyKey = 86,
  kOpInternal87 = 87, kOpDoProperty = 88, kOpDoPropertyKey = 89, kOpDoPropertyBlob = 90,
  kOpInternal91 = 91, kOpInView = 92, kOpEndView = 93,
};

// A property a driver may answer to (SET_PROPERTY text, number: bytes): the next record read
// (in any order, or by number) fills only the record buffer's first bytes and reads no memo, which is
// all a filter over those bytes needs; REGET then reads the record whole. GET_PROPERTY of it
// answers "1" where the driver can do so.
inline constexpr char kPropertyReadPrefix[] = "READPREFIX";

// The name of an operation as traces write it ("ADD", "GETfilekey", "(35)" ...).
std::string_view OperationName(uint8_t op);

// File attribute bits.
inline constexpr uint32_t kFileEncrypt = 0x01;
inline constexpr uint32_t kFileCreate = 0x02;
inline constexpr uint32_t kFileReclaim = 0x04;
inline constexpr uint32_t kFileOem = 0x10;

// Key attribute bits.
inline constexpr uint32_t kKeyDup = 0x1;
inline constexpr uint32_t kKeyOpt = 0x2;
inline constexpr uint32_t kKeyNoCase = 0x4;
inline constexpr uint32_t kKeyPrimary = 0x10;
inline constexpr uint32_t kKeyIndex = 0x4000;
// Driver-owned bit: the key or index is not stored (gets no file).
inline constexpr uint32_t kKeyNotStored = 0x80000000u;

// Memo attribute bits.
inline constexpr uint32_t kMemoBinary = 0x2;
inline constexpr uint32_t kMemoBlob = 0x4;

// Access modes of OPEN: access in the low two bits, sharing in bits 4 to 6.
inline constexpr unsigned kOpenReadOnly = 0x0;
inline constexpr unsigned kOpenWriteOnly = 0x1;
inline constexpr unsigned kOpenReadWrite = 0x2;
inline constexpr unsigned kShareDenyAll = 0x10;
inline constexpr unsigned kShareDenyWrite = 0x20;
inline constexpr unsigned kShareDenyRead = 0x30;
inline constexpr unsigned kShareDenyNone = 0x40;

struct FieldDescriptor {
  uint8_t type = kTypeString;
  uint32_t offset = 0;           // in the record buffer
  std::string label;             // "SLO:I_VERB"
  uint32_t elements = 1;         // product of the DIM dimensions
  uint32_t size = 0;             // total size in bytes
  uint8_t decimalPlaces = 0;     // DECIMAL
  uint8_t decimalSize = 0;       // DECIMAL: bytes (2n-1 digits)
  std::string picture;           // STRING display picture, "@" first; may be empty
  std::vector<uint32_t> dims;    // up to four DIM dimensions
  uint16_t groupFields = 0;      // GROUP: number of member fields that follow
  bool notStored = false;        // the driver leaves it out of its field list

  uint32_t ElementSize() const { return elements ? size / elements : size; }
};

struct KeyDescriptor {
  std::string name;                 // external NAME, may be empty
  std::string label;                // "SLO:K_SLO"
  uint32_t attributes = 0;          // kKeyDup | kKeyOpt | ...
  std::vector<int32_t> components;  // field numbers from 1; negative sorts descending
};

struct MemoDescriptor {
  std::string name;       // external name, may be empty
  std::string label;      // "SLO:EXA_MEMO"
  uint32_t attributes = 0;
  uint32_t size = 0;      // MEMO(n)
  char* buffer = nullptr; // n bytes, owned by the declaration
};

// Per-file state that a driver builds on the first call and keeps until the program ends.
class DriverControl {
 public:
  virtual ~DriverControl() = default;
};

struct FileDescriptor;
struct DriverArgs;
using DriverEntryFn = Code (*)(uint8_t op, FileDescriptor& file, DriverArgs& args);

struct FileDescriptor {
  DriverEntryFn driver = nullptr;
  std::string name;          // external name (NAME, else the label)
  std::string label;         // "SLOVO"
  std::string owner;         // OWNER password; empty for every file of this program
  std::string driverString;  // second argument of DRIVER; may be empty
  uint32_t attributes = 0;   // kFileCreate | kFileReclaim | ...
  uint32_t recordSize = 0;
  std::vector<FieldDescriptor> fields;
  std::vector<KeyDescriptor> keys;
  std::vector<MemoDescriptor> memos;
  char* record = nullptr;    // the record buffer (recordSize bytes), owned by the declaration
  std::unique_ptr<DriverControl> control;  // the driver's own area

  FileDescriptor() = default;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
};

// Arguments and second results of DriverEntry. Each operation reads the members it needs and
// writes its result into the output members.
//
// Sequences. SETfile starts record order and SETkey (key) key order at the beginning: the next
// NEXT yields the first record, the next PREVIOUS the last. SETkeykey (key) starts at the key
// value held in the record buffer's key fields: NEXT yields the first entry not below it,
// PREVIOUS the last entry not above it. SETfileptr / SETkeyptr (number) start at a record
// number. NEXT and PREVIOUS continue the sequence; past either end they give 33.
// Positions. POSITIONfile / POSITIONkey (key) put a position text in result; RESETfile /
// RESETkey (key, text) make the next NEXT or PREVIOUS yield the record at that position and go
// on from there; REGETfile / REGETkey (key, text) read that record without touching the
// sequence. GETfileptr (number) reads by record number, GETfilekey (key) by the key value in
// the record buffer. RECORDSfile / RECORDSkey (key), POINTERfile / POINTERkey put their answer
// in value.
struct DriverArgs {
  // In.
  int key = 0;                 // key number from 1 (0: none; record order)
  uint32_t mode = 0;           // OPEN access mode
  int64_t number = 0;          // record number, count, seconds, length
  int64_t length = 0;          // bytes of the record buffer (the "len" forms of the text driver)
  std::string text;            // position text, option text, new file name
  // Out.
  int64_t value = 0;           // BOF/EOF (0/1), BYTES, POINTER, RECORDS, QUERY_KEY
  std::string result;          // POSITION text, NAME, SEND answer, GET_PROPERTY
};

// A driver's registration block.
struct DriverRegistration {
  char name[8];                          // "Velmora", NUL-padded
  std::vector<uint8_t> operations;       // supported operation codes, in the block's order
  std::vector<uint8_t> fieldTypes;       // supported field type codes
  std::string library;                   // library name field
  std::string banner;                    // "Velmora 2.1 File Driver 1.0"
  DriverEntryFn entry = nullptr;
  uint32_t fieldAreaSize = 0;            // per-field work area
  uint32_t keyAreaSize = 0;              // per-key work area
  uint32_t memoAreaSize = 0;             // per-memo work area
  uint32_t fileAreaSize = 0;             // per-file control area

  bool Supports(uint8_t op) const;
};

// Error codes.
enum ErrorCodeValue : int {
  kErrNone = 0, kErrFileNotFound = 2, kErrPathNotFound = 3, kErrTooManyOpenFiles = 4,
  kErrAccessDenied = 5, kErrMemoryCorrupted = 7, kErrInsufficientMemory = 8,
  kErrEntryNotFound = 30, kErrFileLocked = 32, kErrRecordNotAvailable = 33,
  kErrRecordNotFound = 35, kErrInvalidDataFile = 36, kErrFileNotOpen = 37,
  kErrInvalidKeyFile = 38, kErrDuplicateKey = 40, kErrRecordHeld = 43,
  kErrInvalidFilename = 45, kErrKeyRebuild = 46, kErrInvalidRecordDeclaration = 47,
  kErrUnableToLog = 48, kErrFileAlreadyOpen = 52, kErrInvalidVelmoraFile = 53,
  kErrNoCreateAttribute = 54, kErrFileMustBeShared = 55, kErrLogoutActive = 56,
  kErrInvalidMemoFile = 57, kErrExclusiveAccess = 63, kErrSharingViolation = 64,
  kErrUnableToRollback = 65, kErrMemoMissing = 73, kErrInvalidFieldType = 75,
  kErrInvalidIndexString = 76, kErrUnableToAccessIndex = 77, kErrInvalidParameters = 78,
  kErrUnsupportedDataType = 79, kErrUnsupportedFunction = 80, kErrUnknownError = 81,
  kErrInvalidKeyLength = 88, kErrRecordChanged = 89, kErrFileSystem = 90,
  kErrLogoutNotActive = 91, kErrBuildInProgress = 92, kErrBuildCancelled = 93,
  kErrWriteFault = 329, kErrReadFault = 330,
};

// The text of an error code ("File Not Found"); ids 301 to 391 are the operating-system
// texts (300 + system error number). Unknown codes give "".
std::string_view ErrorTextOf(int code);

// Maps a system error number of the platform layer to a driver code: below 19 unchanged,
// 19 and above 5.
Code DriverCodeFromSystem(int systemError);

// The calling thread's current error.
int ErrorCode();                  // ERRORCODE
std::string ErrorText();          // ERROR(): the driver's own text when set, else the table's
int DriverErrorCode();            // the driver's own code for the last error (0 when none)
std::string DriverErrorText();
// Records code as the thread's current error (and clears the driver's own code and text).
void SetError(int code);
void SetDriverError(int code, int driverCode, std::string driverText);

// Calls the file's driver and records the result as the current error.
Code CallDriver(uint8_t op, FileDescriptor& file, DriverArgs& args);
Code CallDriver(uint8_t op, FileDescriptor& file);

}  // namespace korawin::storage
