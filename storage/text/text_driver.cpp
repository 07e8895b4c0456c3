#include "storage/text/text_driver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace korawin::storage {

namespace {

constexpr char kCtrlZ = 26;
constexpr int kTabKeep = -100;
constexpr size_t kBufferUnit = 512;
// FILEBUFFERS beyond this is cut back: the buffer must stay allocatable.
constexpr size_t kMaxBufferBytes = 16u << 20;
constexpr size_t kMaxTerminator = 16;

class TextControl : public DriverControl {
 public:
  platform::File file;
  // Read window: bytes [winStart, winStart + winLen) of the file; winEnd when the file ended
  // inside it.
  std::vector<char> buffer;
  uint64_t winStart = 0;
  size_t winLen = 0;
  bool winValid = false;
  bool winEnd = false;

  bool haveCurrent = false;
  uint64_t current = 0;       // offset (from 0) of the current record
  uint64_t currentBytes = 0;  // bytes it took, terminator included
  uint64_t next = 0;          // offset of the next record of the sequence

  bool shared = false;
  bool readOnly = false;
  bool ctrlZChecked = false;  // the trailing Ctrl-Z test of ADD ran
  int lockCount = 0;

  // Options.
  size_t bufferSize = kBufferUnit;
  bool quickScan = false;
  std::string terminator = "\r\n";
  bool ctrlZIsEof = true;
  bool clip = true;
  int tab = 8;
};

TextControl& Control(FileDescriptor& file) {
  auto* control = dynamic_cast<TextControl*>(file.control.get());
  if (!control) {
    auto made = std::make_unique<TextControl>();
    control = made.get();
    file.control = std::move(made);
  }
  return *control;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Parses a whole decimal number (with an optional sign); false when s isn't one.
bool ParseInt(std::string_view s, long long* out) {
  s = Trim(s);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s.size() > 12) return false;
  long long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *out = negative ? -v : v;
  return true;
}

size_t MinimumBuffer(const FileDescriptor& file, const TextControl& c) {
  return std::max<size_t>(file.recordSize, 1) + c.terminator.size();
}

void InvalidateWindow(TextControl& c) {
  c.winValid = false;
  c.winLen = 0;
}

// Makes n bytes at pos visible through *data (fewer, *got, at the end of the file). With
// QUICKSCAN a whole buffer is read ahead and later calls are served from it.
int Fetch(TextControl& c, const FileDescriptor& file, uint64_t pos, size_t n, const char** data,
          size_t* got) {
  if (c.quickScan && c.winValid && pos >= c.winStart) {
    uint64_t off = pos - c.winStart;
    if (off + n <= c.winLen || (c.winEnd && off <= c.winLen)) {
      *data = c.buffer.data() + off;
      *got = static_cast<size_t>(std::min<uint64_t>(n, c.winLen - off));
      return 0;
    }
  }
  size_t want = c.quickScan ? std::max({c.bufferSize, MinimumBuffer(file, c), n}) : n;
  if (c.buffer.size() < want) c.buffer.resize(want);
  size_t read = 0;
  int err = c.file.ReadAt(pos, c.buffer.data(), want, &read);
  if (err) {
    InvalidateWindow(c);
    return DriverCodeFromSystem(err);
  }
  c.winStart = pos;
  c.winLen = read;
  c.winEnd = read < want;
  c.winValid = c.quickScan;
  *data = c.buffer.data();
  *got = std::min(read, n);
  return 0;
}

// Reads the record that starts at offset s into the record buffer, taking at most size bytes
// of it, and makes it the current record.
int ReadRecord(TextControl& c, FileDescriptor& file, uint64_t s, size_t size) {
  c.haveCurrent = false;
  if (!file.record || size == 0) return kErrInvalidParameters;
  std::memset(file.record, ' ', file.recordSize);
  const std::string& term = c.terminator;
  const char* data = nullptr;
  size_t got = 0;
  int err = Fetch(c, file, s, size + term.size(), &data, &got);
  if (err) return err;
  if (got == 0) return kErrRecordNotAvailable;
  if (c.ctrlZIsEof && data[0] == kCtrlZ) return kErrRecordNotAvailable;

  // The terminator counts when it starts within the record's width.
  size_t lineEnd = got;
  bool terminated = false;
  for (size_t k = 0; k <= size && k + term.size() <= got; ++k) {
    if (std::memcmp(data + k, term.data(), term.size()) == 0) {
      lineEnd = k;
      terminated = true;
      break;
    }
  }
  char* rec = file.record;
  size_t out = 0;
  size_t i = 0;
  bool full = false;
  for (; i < lineEnd; ++i) {
    char ch = data[i];
    if (c.ctrlZIsEof && ch == kCtrlZ) break;
    if (out >= size) {
      full = true;
      break;
    }
    if (ch == '\t' && c.tab != kTabKeep) {
      size_t blanks = 0;
      if (c.tab > 0) blanks = static_cast<size_t>(c.tab) - out % static_cast<size_t>(c.tab);
      else if (c.tab < 0) blanks = static_cast<size_t>(-static_cast<long long>(c.tab));
      out += std::min(blanks, size - out);  // the buffer already holds blanks
    } else {
      rec[out++] = ch;
    }
  }
  // A line that doesn't fit (also through expanded tabs) goes on in the next record.
  uint64_t consumed = (terminated && !full) ? lineEnd + term.size() : i;
  if (file.attributes & kFileOem) platform::OemToAnsiInPlace(rec, out);
  c.current = s;
  c.currentBytes = consumed;
  c.haveCurrent = true;
  c.next = s + consumed;
  return 0;
}

// Takes the one-byte lock on byte 0, trying for waitMs. Returns 0, kBusy when another open
// keeps it, or a driver code.
constexpr int kBusy = -1;

int LockByteZero(TextControl& c, int waitMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    int err = c.file.TryLock(0, 1);
    if (err == 0 || err == platform::kErrInvalidFunction) return 0;  // no locking here: go on
    if (err != platform::kErrLockViolation) return DriverCodeFromSystem(err);
    if (std::chrono::steady_clock::now() >= deadline) return kBusy;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The file's size; 0 when it can't be learnt (the reads that follow then report).
uint64_t FileSize(TextControl& c) {
  uint64_t size = 0;
  return c.file.Size(&size) == 0 ? size : 0;
}

// Writes len bytes of the record buffer as a line: at the end of the file (append) or at
// offset pos.
Code WriteRecord(TextControl& c, FileDescriptor& file, bool append, uint64_t pos, size_t len) {
  if (c.readOnly) return kErrAccessDenied;
  if (!file.record && len > 0) return kErrInvalidParameters;
  len = std::min<size_t>(len, file.recordSize);
  std::string line(file.record ? file.record : "", len);
  if (file.attributes & kFileOem) platform::AnsiToOemInPlace(line.data(), line.size());
  if (c.clip) {
    size_t n = line.size();
    while (n > 0 && line[n - 1] == ' ') --n;
    line.resize(n);
  }

  const bool lock = c.shared && c.lockCount == 0;
  if (lock) {
    int err = LockByteZero(c, 1000);
    if (err == kBusy) return kErrAccessDenied;
    if (err) return err;
  }
  int err = 0;
  uint64_t size = FileSize(c);
  if (append) {
    pos = size;
    if (!c.ctrlZChecked) {
      c.ctrlZChecked = true;
      char last = 0;
      size_t got = 0;
      if (c.ctrlZIsEof && size > 0 && c.file.ReadAt(size - 1, &last, 1, &got) == 0 && got == 1 &&
          last == kCtrlZ)
        pos = size - 1;
    }
  } else {
    // A shorter line is padded to the old line's length: its tail would otherwise read as a
    // line of its own.
    std::string old(std::max<size_t>(file.recordSize, 1) + c.terminator.size(), '\0');
    size_t got = 0;
    err = c.file.ReadAt(pos, old.data(), old.size(), &got);
    if (err == 0) {
      auto at = std::string_view(old.data(), got).find(c.terminator);
      if (at != std::string_view::npos && at > line.size()) line.resize(at, ' ');
    } else {
      err = DriverCodeFromSystem(err);
    }
  }
  if (err == 0) {
    line += c.terminator;
    err = DriverCodeFromSystem(c.file.WriteAt(pos, line.data(), line.size()));
  }
  // An unlock that fails leaves the lock to the file's close, which drops it.
  if (lock) (void)c.file.Unlock(0, 1);
  InvalidateWindow(c);
  if (err) return err;
  c.current = pos;
  c.currentBytes = line.size();
  c.haveCurrent = true;
  return 0;
}

// Options (SEND, SET_PROPERTY and the driver string).
enum class Option { kNone, kFileBuffers, kQuickScan, kEndOfRecord, kCtrlZIsEof, kClip, kTab };

Option FindOption(std::string_view name) {
  static constexpr std::pair<std::string_view, Option> kOptions[] = {
      {"FILEBUFFERS", Option::kFileBuffers}, {"QUICKSCAN", Option::kQuickScan},
      {"ENDOFRECORD", Option::kEndOfRecord}, {"CTRLZISEOF", Option::kCtrlZIsEof},
      {"CLIP", Option::kClip},               {"TAB", Option::kTab}};
  if (name.empty()) return Option::kNone;
  for (const auto& [text, option] : kOptions)
    if (text.substr(0, name.size()) == name) return option;
  return Option::kNone;
}

std::string OnOff(bool on) { return on ? "ON" : "OFF"; }

std::string OptionValue(const TextControl& c, Option option) {
  switch (option) {
    case Option::kFileBuffers: return std::to_string(c.bufferSize);
    case Option::kQuickScan: return OnOff(c.quickScan);
    case Option::kCtrlZIsEof: return OnOff(c.ctrlZIsEof);
    case Option::kClip: return OnOff(c.clip);
    case Option::kTab: return std::to_string(c.tab);
    case Option::kEndOfRecord: {
      std::string s = std::to_string(c.terminator.size());
      for (unsigned char b : c.terminator) {
        s += ',';
        s += std::to_string(b);
      }
      return s;
    }
    case Option::kNone: break;
  }
  return {};
}

// Sets an option from its value text; a value that makes no sense leaves the option as it is.
void SetOption(TextControl& c, const FileDescriptor& file, Option option, std::string_view value) {
  value = Trim(value);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  const bool on = Upper(value) == "ON";
  long long n = 0;
  switch (option) {
    case Option::kFileBuffers:
      if (ParseInt(value, &n) && n > 0) {
        size_t bytes = static_cast<size_t>(std::min<long long>(n, kMaxBufferBytes / kBufferUnit));
        c.bufferSize = std::max<size_t>(bytes * kBufferUnit, file.recordSize);
        InvalidateWindow(c);
      }
      break;
    case Option::kQuickScan:
      c.quickScan = on;
      InvalidateWindow(c);
      break;
    case Option::kCtrlZIsEof: c.ctrlZIsEof = on; break;
    case Option::kClip: c.clip = on; break;
    case Option::kTab:
      if (ParseInt(value, &n) && n >= -1000 && n <= 1000) c.tab = static_cast<int>(n);
      break;
    case Option::kEndOfRecord: {
      // "count,b1,b2,...": the count must match the bytes that follow.
      std::vector<long long> parts;
      std::string_view rest = value;
      while (true) {
        size_t comma = rest.find(',');
        long long v = 0;
        if (!ParseInt(rest.substr(0, comma), &v)) return;
        parts.push_back(v);
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
      }
      if (parts.size() < 2 || parts[0] != static_cast<long long>(parts.size() - 1) ||
          parts[0] > static_cast<long long>(kMaxTerminator))
        return;
      std::string term;
      for (size_t i = 1; i < parts.size(); ++i) {
        if (parts[i] < 0 || parts[i] > 255) return;
        term += static_cast<char>(parts[i]);
      }
      c.terminator = term;
      InvalidateWindow(c);
      break;
    }
    case Option::kNone: break;
  }
}

// One option text: "NAME" queries, "NAME=value" sets; *result receives the value afterwards.
void Send(TextControl& c, const FileDescriptor& file, std::string_view text, std::string* result) {
  result->clear();
  size_t eq = text.find('=');
  Option option = FindOption(Upper(Trim(text.substr(0, eq))));
  if (option == Option::kNone) return;  // options of other drivers are ignored
  if (eq != std::string_view::npos) SetOption(c, file, option, text.substr(eq + 1));
  *result = OptionValue(c, option);
}

// "/"-separated options of the driver string, outside double quotes.
void ApplyDriverString(TextControl& c, const FileDescriptor& file) {
  std::string_view s = file.driverString;
  std::string part;
  bool quoted = false;
  std::string ignored;
  auto flush = [&] {
    if (!Trim(part).empty()) Send(c, file, part, &ignored);
    part.clear();
  };
  for (char ch : s) {
    if (ch == '"') quoted = !quoted;
    if (ch == '/' && !quoted) flush();
    else part += ch;
  }
  flush();
}

void ResetState(TextControl& c) {
  InvalidateWindow(c);
  c.haveCurrent = false;
  c.current = c.currentBytes = c.next = 0;
  c.lockCount = 0;
  c.ctrlZChecked = false;
}

int MapOpenError(int err) {
  if (err == platform::kErrSharingViolation || err == platform::kErrLockViolation)
    return kErrAccessDenied;
  return DriverCodeFromSystem(err);
}

Code Open(TextControl& c, FileDescriptor& file, unsigned mode) {
  if (Trim(file.name).empty()) return kErrInvalidFilename;
  c.file.Close();
  ResetState(c);
  int err = c.file.Open(platform::ResolveExisting(file.name), platform::AccessOfMode(mode),
                        platform::ShareOfMode(mode));
  if (err) return MapOpenError(err);
  const unsigned sharing = mode & 0x70;
  const bool exclusive = sharing == kShareDenyAll || sharing == kShareDenyWrite ||
                         sharing == kShareDenyRead;
  c.shared = sharing == kShareDenyNone;
  c.readOnly = (mode & 0x3) == kOpenReadOnly;
  c.bufferSize = std::max<size_t>(exclusive ? 2 * kBufferUnit : kBufferUnit,
                                  2 * static_cast<size_t>(file.recordSize));
  c.quickScan = exclusive;
  c.terminator = "\r\n";
  c.ctrlZIsEof = true;
  c.clip = true;
  c.tab = 8;
  ApplyDriverString(c, file);
  return 0;
}

std::string EncodePosition(uint64_t offset) {
  uint32_t p = static_cast<uint32_t>(offset + 1);
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(p >> (8 * i));
  return s;
}

// The offset (from 0) named by a position text; false when the text isn't one.
bool DecodePosition(const std::string& text, uint64_t* offset) {
  if (text.size() != 4) return false;
  uint32_t p = 0;
  for (int i = 0; i < 4; ++i) p |= static_cast<uint32_t>(static_cast<unsigned char>(text[i])) << (8 * i);
  if (p == 0) return false;
  *offset = p - 1;
  return true;
}

// The offset (from 0) of a position counted from 1, when it lies within the file.
bool OffsetOf(TextControl& c, int64_t p, uint64_t* offset) {
  if (p < 1 || static_cast<uint64_t>(p - 1) >= FileSize(c)) return false;
  *offset = static_cast<uint64_t>(p - 1);
  return true;
}

size_t LengthOf(const FileDescriptor& file, int64_t length) {
  return static_cast<size_t>(std::clamp<int64_t>(length, 0, file.recordSize));
}

bool NeedsOpenFile(uint8_t op) {
  switch (op) {
    case kOpCreate: case kOpRemove: case kOpRename: case kOpCopy: case kOpOpen: case kOpShare:
    case kOpClose: case kOpName: case kOpSend: case kOpGetProperty: case kOpSetProperty:
      return false;
    default:
      return true;
  }
}

}  // namespace

Code TextDriverEntry(uint8_t op, FileDescriptor& file, DriverArgs& args) {
  if (!TextDriverRegistration().Supports(op)) return kErrUnsupportedFunction;
  TextControl& c = Control(file);
  if (NeedsOpenFile(op) && !c.file.is_open()) return kErrFileNotOpen;

  switch (op) {
    case kOpOpen:
      return Open(c, file, args.mode);
    case kOpShare:
      return Open(c, file, (args.mode & ~0x70u) | kShareDenyNone);
    case kOpClose:
      c.file.Close();
      ResetState(c);
      return 0;

    case kOpCreate: {
      if (!(file.attributes & kFileCreate)) return kErrNoCreateAttribute;
      if (Trim(file.name).empty()) return kErrInvalidFilename;
      platform::File created;
      int err = created.Create(platform::ResolveExisting(file.name), platform::Share::kDenyNone);
      return err ? MapOpenError(err) : 0;
    }
    case kOpRemove:
    case kOpRename: {
      if (c.file.is_open()) return kErrAccessDenied;
      std::string path = platform::ResolveExisting(file.name);
      int err = op == kOpRemove ? platform::RemoveFile(path) : platform::RenameFile(path, args.text);
      return DriverCodeFromSystem(err);
    }
    case kOpCopy:
      return DriverCodeFromSystem(platform::CopyFile(platform::ResolveExisting(file.name), args.text));
    case kOpEmpty: {
      if (c.readOnly) return kErrAccessDenied;
      int err = DriverCodeFromSystem(c.file.Truncate(0));
      ResetState(c);
      return err;
    }
    case kOpFlush:
      return DriverCodeFromSystem(c.file.Sync());

    case kOpSetFile:
      c.haveCurrent = false;
      c.next = 0;
      return 0;
    case kOpSetFilePtr:
      c.haveCurrent = false;
      c.next = args.number > 1 ? static_cast<uint64_t>(args.number - 1) : 0;
      return 0;
    case kOpResetFile: {
      uint64_t offset = 0;
      if (!DecodePosition(args.text, &offset)) return kErrRecordNotAvailable;
      c.haveCurrent = false;
      c.next = offset;
      return 0;
    }
    case kOpNext:
      return ReadRecord(c, file, c.next, file.recordSize);
    case kOpGetFilePtr:
    case kOpGetFilePtrLen: {
      uint64_t offset = 0;
      if (!OffsetOf(c, args.number, &offset)) {
        c.haveCurrent = false;
        return kErrRecordNotAvailable;
      }
      size_t size = op == kOpGetFilePtr ? file.recordSize : LengthOf(file, args.length);
      return ReadRecord(c, file, offset, size);
    }
    case kOpRegetFile: {
      uint64_t offset = 0;
      if (!DecodePosition(args.text, &offset)) return kErrRecordNotAvailable;
      return ReadRecord(c, file, offset, file.recordSize);
    }
    case kOpEof: {
      const char* data = nullptr;
      size_t got = 0;
      int err = Fetch(c, file, c.next, 1, &data, &got);
      if (err) return err;
      args.value = (got == 0 || (c.ctrlZIsEof && data[0] == kCtrlZ)) ? 1 : 0;
      return 0;
    }
    case kOpBytes:
      args.value = c.haveCurrent ? static_cast<int64_t>(c.currentBytes) : 0;
      return 0;
    case kOpPointerFile:
      args.value = c.haveCurrent ? static_cast<int64_t>(c.current + 1) : 0;
      return 0;
    case kOpPositionFile:
      if (!c.haveCurrent) return kErrRecordNotAvailable;
      args.result = EncodePosition(c.current);
      return 0;
    case kOpName:
      args.result = file.name;
      return 0;

    case kOpAdd:
    case kOpAppend:
      return WriteRecord(c, file, true, 0, file.recordSize);
    case kOpAddFileLen:
    case kOpAppendLen:
      return WriteRecord(c, file, true, 0, LengthOf(file, args.length));
    case kOpPut:
      if (!c.haveCurrent) return kErrRecordNotAvailable;
      return WriteRecord(c, file, false, c.current, file.recordSize);
    case kOpPutFilePtr:
    case kOpPutFilePtrLen: {
      // A position just past the end appends there.
      if (args.number < 1 || static_cast<uint64_t>(args.number - 1) > FileSize(c))
        return kErrRecordNotAvailable;
      size_t len = op == kOpPutFilePtr ? file.recordSize : LengthOf(file, args.length);
      return WriteRecord(c, file, false, static_cast<uint64_t>(args.number - 1), len);
    }

    case kOpLockFile:
    case kOpLockFileSec: {
      if (c.lockCount == 0) {
        int waitMs = op == kOpLockFileSec
                         ? static_cast<int>(std::clamp<int64_t>(args.number, 0, 3600) * 1000)
                         : 0;
        int err = LockByteZero(c, waitMs);
        if (err == kBusy) return kErrFileLocked;
        if (err) return err;
      }
      ++c.lockCount;
      return 0;
    }
    case kOpUnlock:
      // An unlock that fails leaves the lock to the file's close, which drops it.
      if (c.lockCount > 0 && --c.lockCount == 0) (void)c.file.Unlock(0, 1);
      return 0;

    case kOpSend:
    case kOpGetProperty:
    case kOpSetProperty:
      Send(c, file, args.text, &args.result);
      return 0;
  }
  return kErrUnsupportedFunction;
}

const DriverRegistration& TextDriverRegistration() {
  static const DriverRegistration kRegistration = [] {
    DriverRegistration r{};
    std::memset(r.name, 0, sizeof r.name);
    std::memcpy(r.name, "ASCII", 5);
    r.operations = {kOpAdd,        kOpAddFileLen,   kOpAppend,       kOpAppendLen,
                    kOpBytes,      kOpEof,          kOpClose,        kOpCopy,
                    kOpCreate,     kOpEmpty,        kOpFlush,        kOpGetFilePtrLen,
                    kOpGetFilePtr, kOpGetProperty,  kOpLockFile,     kOpLockFileSec,
                    kOpName,       kOpNext,         kOpOpen,         kOpPointerFile,
                    kOpPositionFile, kOpPut,        kOpPutFilePtr,   kOpPutFilePtrLen,
                    kOpRegetFile,  kOpRemove,       kOpRename,       kOpResetFile,
                    kOpSend,       kOpSetFile,      kOpSetFilePtr,   kOpSetProperty,
                    kOpShare,      kOpUnlock};
    r.fieldTypes = {kTypeString, kTypeGroup};
    r.banner = "Ascii File Driver 1.0";
    r.entry = &TextDriverEntry;
    r.fieldAreaSize = 49;
    r.fileAreaSize = sizeof(TextControl);
    return r;
  }();
  return kRegistration;
}

}  // namespace korawin::storage
