#include "framework/file_manager.h"

#include <algorithm>
#include <cstring>

#include "framework/relation_manager.h"
#include "storage/field_values.h"

namespace korawin::framework {

using storage::CallDriver;
using storage::DriverArgs;
using storage::FieldDescriptor;

namespace {

int KeyCall(uint8_t op, storage::FileDescriptor& file, int key, std::string text = {},
            std::string* result = nullptr) {
  DriverArgs a;
  a.key = key;
  a.text = std::move(text);
  int err = CallDriver(op, file, a);
  if (result) *result = a.result;
  return err;
}

}  // namespace

void FileManager::Init(storage::FileDescriptor& file, ErrorClass& errors) {
  File = &file;
  Errors = &errors;
  Buffer = file.record;
  FileNameValue = file.name;
  Create = true;
  LockRecover = 10;
}

void FileManager::Kill() {
  if (File) {
    std::lock_guard<std::recursive_mutex> lock(infoMu_);
    bool open = std::any_of(InfoList.begin(), InfoList.end(),
                            [](const FileInfo& i) { return i.Used; });
    // The program is ending: a file some thread left open is closed now.
    // Nobody is left to be told of a close that fails; the next open finds what it left.
    if (open) (void)CallDriver(storage::kOpClose, *File);
  }
  InfoList.clear();
  Keys.clear();
  Buffers.clear();
  Saved.clear();
  HasAutoInc = false;
}

void FileManager::AddKey(int key, std::string_view description, uint8_t autoInc) {
  FileKey k;
  k.Key = key;
  k.Description = std::string(description.substr(0, 80));
  k.AutoInc = autoInc;
  if (File && key >= 1 && static_cast<size_t>(key) <= File->keys.size()) {
    const storage::KeyDescriptor& kd = File->keys[static_cast<size_t>(key) - 1];
    k.Dups = (kd.attributes & storage::kKeyDup) != 0;
    k.NoCase = (kd.attributes & storage::kKeyNoCase) != 0;
    for (int32_t c : kd.components) {
      FileKeyField f;
      f.Field = std::abs(c) - 1;
      f.Ascend = c > 0;
      if (f.Field >= 0 && static_cast<size_t>(f.Field) < File->fields.size())
        f.FieldName = File->fields[static_cast<size_t>(f.Field)].label;
      k.Fields.push_back(std::move(f));
    }
  }
  if (autoInc > k.Fields.size()) k.AutoInc = 0;  // no such component: nothing to number
  if (k.AutoInc) HasAutoInc = true;
  Keys.push_back(std::move(k));
}

const FileKey* FileManager::KeyEntry(int key) const {
  for (const FileKey& k : Keys)
    if (k.Key == key) return &k;
  return nullptr;
}

FileInfo& FileManager::Info() {
  std::lock_guard<std::recursive_mutex> lock(infoMu_);
  std::thread::id self = std::this_thread::get_id();
  for (FileInfo& i : InfoList)
    if (i.Id == self) return i;
  InfoList.emplace_back();
  InfoList.back().Id = self;
  return InfoList.back();
}

FileInfo& FileManager::SetThread() {
  FileInfo& info = Info();
  if (Errors) Errors->SetFile(FileNameValue);
  return info;
}

int FileManager::Send(std::string_view option, std::string* answer) {
  DriverArgs a;
  a.text = std::string(option);
  int err = CallDriver(storage::kOpSend, *File, a);
  if (answer) *answer = a.result;
  return err;
}

// ---- Errors -----------------------------------------------------------------------------

void FileManager::SetError(uint16_t id) {
  Errors->SetErrors();
  Info().LastError = static_cast<uint8_t>(id);
}

Level FileManager::Throw() {
  Errors->SetFile(FileNameValue);
  return Errors->TakeError(Info().LastError);
}

Level FileManager::ThrowError(uint16_t id) {
  SetError(id);
  return Throw();
}

Level FileManager::ThrowMessage(uint16_t id, std::string_view text) {
  SetError(id);
  Errors->SetFile(FileNameValue);
  Errors->MessageText = std::string(text.substr(0, 255));
  return Errors->TakeError(id);
}

Level FileManager::Report(uint16_t id, bool show, Level quietResult) {
  if (show) return ThrowError(id);
  SetError(id);
  return quietResult;
}

// ---- Opening ----------------------------------------------------------------------------

Level FileManager::Open() { return OpenFile(true, true, false); }

Level FileManager::TryOpen() { return OpenFile(false, true, false); }

Level FileManager::OpenFile(bool show, bool count, bool force) {
  FileInfo& info = SetThread();
  if (!force && LazyOpen) {
    if (count) ++info.Opened;
    return LevelBenign;
  }
  if (info.Used) {  // already really open for this thread
    if (count) ++info.Opened;
    return LevelBenign;
  }
  unsigned mode = OpenMode;
  for (int attempt = 0; attempt < 2; ++attempt) {
    DriverArgs a;
    a.mode = mode;
    int err = CallDriver(storage::kOpOpen, *File, a);
    if (err == storage::kErrAccessDenied) {
      // A lock left by a station that died may be broken after LockRecover seconds.
      Send("Recover=" + std::to_string(LockRecover));
      a = DriverArgs();
      a.mode = mode;
      err = CallDriver(storage::kOpOpen, *File, a);
    }
    if (err == 0 || err == storage::kErrFileAlreadyOpen) {
      info.Used = true;
      info.AtEOF = false;
      info.AutoIncDone = false;
      if (count) ++info.Opened;
      FileNameValue = FileNameValue.empty() ? File->name : FileNameValue;
      AfterOpen();
      return LevelBenign;
    }
    switch (err) {
      case storage::kErrAccessDenied:
        if (mode & 0x3) {
          // Always shown: the user must know writes are off; the open goes on read-only.
          (void)ThrowError(AccessDenied);
          mode &= ~0x3u;
          continue;
        }
        return Report(FileAccessError, show);
      case storage::kErrFileNotFound:
        if (!Create) return Report(FileAccessError, show);
        if (CallDriver(storage::kOpCreate, *File) != 0) return Report(FileCreationError, show);
        // The driver leaves a created file open; the retry opens it with OpenMode (and reports
        // what a close that failed left behind).
        (void)CallDriver(storage::kOpClose, *File);
        continue;
      case storage::kErrKeyRebuild: {
        // The notice is only recorded when quiet; the rebuild happens either way.
        (void)Report(InvalidKey, show);
        // BUILD needs the file open; it has refused because of the keys only.
        DriverArgs b;
        if (CallDriver(storage::kOpBuildFile, *File, b) != 0) return ThrowError(KeyNotBuilt);
        continue;
      }
      default:
        return Report(FileAccessError, show);
    }
  }
  return Report(FileAccessError, show);
}

Level FileManager::Close() {
  std::lock_guard<std::recursive_mutex> lock(infoMu_);
  FileInfo& info = SetThread();
  if (info.Opened == 0) return LevelBenign;
  if (--info.Opened > 0 || !info.Used) return LevelBenign;
  info.Used = false;
  info.Watching = false;
  // The descriptor is shared by all threads: only the last user really closes it.
  bool others = std::any_of(InfoList.begin(), InfoList.end(),
                            [](const FileInfo& i) { return i.Used; });
  // A close that fails is recorded as the current error; Close itself always succeeds for the
  // caller, whose use of the file has ended either way.
  if (!others && CallDriver(storage::kOpClose, *File) != 0) SetError(FileAccessError);
  return LevelBenign;
}

Level FileManager::UseFile() {
  FileInfo& info = SetThread();
  if (!LazyOpen || info.Used) return LevelBenign;
  if (info.Opened == 0) return ThrowError(FileUsageError);
  uint16_t id = SaveBuffer();
  Level level = OpenFile(true, false, true);
  RestoreBuffer(id, true);
  return level;
}

// ---- Reading ----------------------------------------------------------------------------

Level FileManager::Next() { return NextRecord(true); }
Level FileManager::TryNext() { return NextRecord(false); }

Level FileManager::NextRecord(bool show) {
  if (Level l = UseFile()) return l;
  FileInfo& info = SetThread();
  info.AtEOF = false;
  info.Watching = false;
  for (;;) {
    int err = CallDriver(storage::kOpNext, *File);
    if (err == 0) return LevelBenign;
    if (err == storage::kErrRecordNotAvailable) {
      info.AtEOF = true;
      return LevelNotify;
    }
    if (err == storage::kErrRecordHeld) {
      if (SkipHeldRecords) continue;
      return Report(RecordNotRead, show);
    }
    return Report(RecordRetrievalError, show, LevelFatal);
  }
}

Level FileManager::TryPrevious() {
  if (Level l = UseFile()) return l;
  FileInfo& info = SetThread();
  info.Watching = false;
  int err = CallDriver(storage::kOpPrevious, *File);
  if (err == 0) return LevelBenign;
  if (err == storage::kErrRecordNotAvailable) return LevelNotify;
  return Report(RecordRetrievalError, false);
}

Level FileManager::TrySetOrder(int key, bool fromBuffer) {
  if (Level l = UseFile()) return l;
  FileInfo& info = SetThread();
  int err;
  if (key == 0) {
    err = CallDriver(storage::kOpSetFile, *File);
  } else {
    err = KeyCall(fromBuffer ? storage::kOpSetKeyKey : storage::kOpSetKey, *File, key);
  }
  if (err != 0) return Report(RecordRetrievalError, false);
  info.CurrentKey = key;
  info.AtEOF = false;
  return LevelBenign;
}

Level FileManager::Fetch(int key) { return FetchRecord(key, true); }
Level FileManager::TryFetch(int key) { return FetchRecord(key, false); }

Level FileManager::FetchRecord(int key, bool show) {
  if (Level l = UseFile()) return l;
  SetThread().Watching = false;
  if (KeyCall(storage::kOpGetFileKey, *File, key) == 0) return LevelBenign;
  return Report(RecordRetrievalError, show);
}

Level FileManager::Watch() {
  if (Level l = UseFile()) return l;
  if (CallDriver(storage::kOpWatch, *File) != 0) return LevelNotify;
  SetThread().Watching = true;
  return LevelBenign;
}

// ---- Writing ----------------------------------------------------------------------------

Level FileManager::Insert() { return InsertRecord(true); }
Level FileManager::TryInsert() { return InsertRecord(false); }

Level FileManager::InsertRecord(bool show) {
  if (UseFile() != LevelBenign) return LevelFatal;
  if (ValidateRecord() != LevelBenign) return LevelNotify;
  FileInfo& info = SetThread();
  int err;
  if (HasAutoInc) {
    if (info.AutoIncDone) {
      err = CallDriver(storage::kOpPut, *File);
    } else {
      if (PrimeAutoIncrement(show) != LevelBenign) return LevelNotify;
      err = 0;
    }
  } else {
    err = CallDriver(storage::kOpAdd, *File);
  }
  if (err == 0) {
    info.AutoIncDone = false;
    return LevelBenign;
  }
  if (err == storage::kErrDuplicateKey) {
    std::string description;
    for (const FileKey& k : Keys) {
      if (k.Dups) continue;
      DriverArgs a;
      a.key = k.Key;
      int dup = CallDriver(storage::kOpDuplicateKey, *File, a);
      if (dup == storage::kErrDuplicateKey || (dup == 0 && a.value != 0)) {
        description = k.Description;
        break;
      }
    }
    storage::SetError(err);  // the probes above must not hide the ADD's code
    if (!show) {
      SetError(DuplicateKeyError);
      return LevelNotify;
    }
    (void)ThrowMessage(DuplicateKeyError, description);  // shown; the insert gives 5 either way
    return LevelNotify;
  }
  return Report(RecordInsertError, show);
}

Level FileManager::Update(int mode) { return UpdateRecord(mode, mode != UpdateQuiet); }

Level FileManager::UpdateRecord(int mode, bool show, int* code) {
  if (code) *code = 0;
  if (Level l = UseFile()) return l;
  if (ValidateRecord() != LevelBenign) return LevelNotify;
  FileInfo& info = SetThread();
  std::string pos = Position();
  int err = CallDriver(storage::kOpPut, *File);
  if (code) *code = err;
  if (err == 0) {
    info.Watching = false;
    return LevelBenign;
  }
  if (err == storage::kErrRecordChanged) {
    SetError(mode == FromForm ? RecordChangedByOtherOnForm : RecordChangedByOther);
    if (show) (void)Throw();  // shown; the update gives 5 either way
    WatchAfresh(pos);
    return LevelNotify;
  }
  return Report(RecordNotUpdated, show);
}

void FileManager::WatchAfresh(const std::string& pos) {
  if (TryReget(pos) != LevelBenign) return;  // the record went away: nothing to watch
  (void)Watch();  // it is current again, so the watch can't be refused
}

Level FileManager::TryDeleteRecord() {
  if (Level l = UseFile()) return l;
  if (CallDriver(storage::kOpDelete, *File) != 0) return Report(RecordNotDeleted, false);
  SetThread().Watching = false;
  return LevelBenign;
}

// ---- Priming and numbering --------------------------------------------------------------

Level FileManager::PrimeRecord(bool keep) {
  if (AliasedFile) {
    uint16_t id = AliasedFile->SaveBuffer();
    std::memcpy(AliasedFile->Buffer, Buffer, File->recordSize);
    Level level = AliasedFile->PrimeRecord(keep);
    std::memcpy(Buffer, AliasedFile->Buffer, File->recordSize);
    AliasedFile->RestoreBuffer(id, true);
    return level;
  }
  if (!keep) storage::ClearRecord(*File);
  PrimeFields();
  if (HasAutoInc) return PrimeAutoInc();
  return LevelBenign;
}

Level FileManager::PrimeAutoInc() { return PrimeAutoIncrement(true); }
Level FileManager::TryPrimeAutoInc() { return PrimeAutoIncrement(false); }

Level FileManager::PrimeAutoIncrement(bool show) {
  FileInfo& info = SetThread();
  if (!HasAutoInc || info.AutoIncDone) return LevelBenign;
  if (UseFile() != LevelBenign) return LevelFatal;
  for (;;) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      Level level = LevelBenign;
      int err = AutoIncrementAndAdd(show, &level);
      if (level != LevelBenign) return level;
      if (err == 0) {
        info.AutoIncDone = true;
        return LevelBenign;
      }
    }
    if (!show) {
      SetError(AutoIncrementError);
      return LevelNotify;
    }
    if (ThrowError(AutoIncrementError) != LevelBenign) return LevelNotify;
  }
}

int FileManager::AutoIncrementAndAdd(bool show, Level* level) {
  for (const FileKey& k : Keys) {
    if (!k.AutoInc) continue;
    const FileKeyField& comp = k.Fields[k.AutoInc - 1];
    const FieldDescriptor& fd = File->fields[static_cast<size_t>(comp.Field)];
    uint16_t id = SaveBuffer();
    (void)CallDriver(storage::kOpNoMemo, *File);  // NOMEMO only marks the next read
    std::string prefix;
    int err;
    if (k.Fields.size() == 1) {
      err = KeyCall(storage::kOpSetKey, *File, k.Key);
    } else {
      for (size_t i = 0; i + 1 < k.AutoInc; ++i)
        prefix += storage::FieldText(File->fields[static_cast<size_t>(k.Fields[i].Field)], Buffer) + '\x01';
      // Components from n on at their extreme, so the walk back starts after every
      // record of this prefix.
      for (size_t i = k.AutoInc - 1; i < k.Fields.size(); ++i)
        storage::ClearField(File->fields[static_cast<size_t>(k.Fields[i].Field)], Buffer,
                           k.Fields[i].Ascend);
      err = KeyCall(storage::kOpSetKeyKey, *File, k.Key);
    }
    if (err == 0)
      err = CallDriver(comp.Ascend ? storage::kOpPrevious : storage::kOpNext, *File);
    double value = 1;
    if (err == 0) {
      std::string found;
      for (size_t i = 0; i + 1 < k.AutoInc; ++i)
        found += storage::FieldText(File->fields[static_cast<size_t>(k.Fields[i].Field)], Buffer) + '\x01';
      if (found == prefix) value = storage::ReadNumber(fd, Buffer) + 1.0;
    } else if (err != storage::kErrRecordNotAvailable) {
      RestoreBuffer(id, true);
      *level = Report(RecordRetrievalError, show);
      return err;
    }
    RestoreBuffer(id, true);
    storage::WriteNumber(fd, Buffer, value);
  }
  return CallDriver(storage::kOpAdd, *File);
}

void FileManager::CancelAutoInc(RelationManager* rm) {
  FileInfo& info = SetThread();
  if (!info.AutoIncDone) return;
  // A reserved record that can't be deleted stays as an empty record; the delete recorded (or,
  // through the relation manager, showed) why.
  if (rm) (void)rm->Delete(false);
  else (void)TryDeleteRecord();
  info.AutoIncDone = false;
}

// ---- Validation -------------------------------------------------------------------------

Level FileManager::ValidateRecord() {
  return ValidateFields(1, static_cast<int>(File->fields.size()));
}

Level FileManager::ValidateFields(int first, int last, int* failed) {
  if (AliasedFile) {
    uint16_t id = AliasedFile->SaveBuffer();
    std::memcpy(AliasedFile->Buffer, Buffer, File->recordSize);
    Level level = AliasedFile->ValidateFields(first, last, failed);
    AliasedFile->RestoreBuffer(id, true);
    return level;
  }
  for (int field = first; field <= last; ++field) {
    if (Level level = ValidateField(field)) {
      if (failed) *failed = field;
      return level;
    }
  }
  return LevelBenign;
}

// ---- Saved buffers and states -----------------------------------------------------------

uint16_t FileManager::SaveBuffer() {
  std::lock_guard<std::recursive_mutex> lock(infoMu_);
  uint16_t count = static_cast<uint16_t>(1 + File->memos.size());
  auto used = [&](uint16_t id) {
    return std::any_of(Buffers.begin(), Buffers.end(), [&](const auto& b) {
      return static_cast<uint16_t>(id - b.first) < count || static_cast<uint16_t>(b.first - id) < count;
    });
  };
  uint16_t id = nextBufferId_;
  while (id == 0 || used(id)) ++id;
  nextBufferId_ = static_cast<uint16_t>(id + count);
  Buffers.emplace_back(id, std::vector<char>(Buffer, Buffer + File->recordSize));
  for (size_t i = 0; i < File->memos.size(); ++i) {
    const storage::MemoDescriptor& m = File->memos[i];
    std::vector<char> copy;
    if (m.buffer) copy.assign(m.buffer, m.buffer + m.size);
    Buffers.emplace_back(static_cast<uint16_t>(id + 1 + i), std::move(copy));
  }
  return id;
}

void FileManager::RestoreBuffer(uint16_t id, bool release) {
  std::lock_guard<std::recursive_mutex> lock(infoMu_);
  for (size_t i = 0; i <= File->memos.size(); ++i) {
    uint16_t want = static_cast<uint16_t>(id + i);
    auto it = std::find_if(Buffers.begin(), Buffers.end(),
                           [&](const auto& b) { return b.first == want; });
    if (it == Buffers.end()) continue;
    char* target = i == 0 ? Buffer : File->memos[i - 1].buffer;
    if (target) std::memcpy(target, it->second.data(), it->second.size());
    if (release) Buffers.erase(it);
  }
}

bool FileManager::EqualBuffer(uint16_t id) {
  std::lock_guard<std::recursive_mutex> lock(infoMu_);
  for (size_t i = 0; i <= File->memos.size(); ++i) {
    uint16_t want = static_cast<uint16_t>(id + i);
    auto it = std::find_if(Buffers.begin(), Buffers.end(),
                           [&](const auto& b) { return b.first == want; });
    if (it == Buffers.end()) return false;
    const char* now = i == 0 ? Buffer : File->memos[i - 1].buffer;
    if (!now || std::memcmp(now, it->second.data(), it->second.size()) != 0) return false;
  }
  return true;
}

void FileManager::SaveFile() {
  FileInfo& info = SetThread();
  SavedFileState s;
  s.Buffer.assign(Buffer, Buffer + File->recordSize);
  for (const storage::MemoDescriptor& m : File->memos)
    if (m.buffer) s.Buffer.insert(s.Buffer.end(), m.buffer, m.buffer + m.size);
  s.Key = info.CurrentKey;
  s.WWatch = info.Watching;
  if (info.Used) {
    std::string pos;
    int err = s.Key ? KeyCall(storage::kOpPositionKey, *File, s.Key, {}, &pos)
                    : KeyCall(storage::kOpPositionFile, *File, 0, {}, &pos);
    if (err == 0) s.Pos = pos;
  }
  std::lock_guard<std::recursive_mutex> lock(infoMu_);
  s.Id = static_cast<uint16_t>(Saved.size() + 1);
  s.Thread = info.Id;
  Saved.push_back(std::move(s));
}

void FileManager::RestoreFile() {
  FileInfo& info = SetThread();
  SavedFileState s;
  {
    std::lock_guard<std::recursive_mutex> lock(infoMu_);
    // The latest state pushed by this thread.
    auto it = std::find_if(Saved.rbegin(), Saved.rend(),
                           [&](const SavedFileState& x) { return x.Thread == info.Id; });
    if (it == Saved.rend()) return;
    s = std::move(*it);
    Saved.erase(std::next(it).base());
  }
  if (info.Used) {
    int err = 1;
    if (!s.Pos.empty()) {
      err = s.Key ? KeyCall(storage::kOpResetKey, *File, s.Key, s.Pos)
                  : KeyCall(storage::kOpResetFile, *File, 0, s.Pos);
      // RESET makes the next read yield the saved record: read it to continue after it.
      if (err == 0) err = CallDriver(storage::kOpNext, *File);
    }
    if (err != 0) {
      if (s.Key) KeyCall(storage::kOpSetKey, *File, s.Key);
      else (void)CallDriver(storage::kOpSetFile, *File);  // never refused on an open file
    }
    info.CurrentKey = s.Key;
  }
  std::memcpy(Buffer, s.Buffer.data(), File->recordSize);
  size_t at = File->recordSize;
  for (storage::MemoDescriptor& m : File->memos) {
    if (!m.buffer) continue;
    std::memcpy(m.buffer, s.Buffer.data() + at, m.size);
    at += m.size;
  }
  info.Watching = false;
  // The saved record is current again (or there is none to watch).
  if (s.WWatch && info.Used && !s.Pos.empty()) (void)Watch();
}

// ---- Positions --------------------------------------------------------------------------

std::string FileManager::Position() {
  if (PrimaryKey == 0 || PrimaryKey > Keys.size()) return FilePosition();
  std::string pos;
  if (KeyCall(storage::kOpPositionKey, *File, Keys[PrimaryKey - 1u].Key, {}, &pos) != 0) return {};
  return pos;
}

Level FileManager::TryReget(const std::string& pos) {
  if (PrimaryKey == 0 || PrimaryKey > Keys.size()) return TryRegetFile(pos);
  if (pos.empty()) return LevelNotify;
  int err = KeyCall(storage::kOpRegetKey, *File, Keys[PrimaryKey - 1u].Key, pos);
  return err == 0 ? LevelBenign : LevelNotify;
}

std::string FileManager::FilePosition() {
  std::string pos;
  if (KeyCall(storage::kOpPositionFile, *File, 0, {}, &pos) != 0) return {};
  return pos;
}

Level FileManager::TryRegetFile(const std::string& pos) {
  if (pos.empty()) return LevelNotify;
  return KeyCall(storage::kOpRegetFile, *File, 0, pos) == 0 ? LevelBenign : LevelNotify;
}

}  // namespace korawin::framework
