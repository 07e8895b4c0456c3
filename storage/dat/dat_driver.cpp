#include "storage/dat/dat_driver.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>

#include "platform/profile.h"
#include "storage/dat/dat_file.h"
#include "storage/dat/dat_header.h"
#include "storage/dat/journal.h"

namespace korawin::storage::dat {

namespace {

DriverRegistration MakeRegistration() {
  DriverRegistration r{};
  const char kName[8] = {'V', 'e', 'l', 'm', 'o', 'r', 'a', '\0'};
  std::copy(kName, kName + 8, r.name);
  r.operations = {1,  4,  2,  5,  3,  6,  52, 14, 7,  8,  9,  10, 11, 12, 57, 13,
                  29, 15, 16, 17, 72, 86, 18, 19, 20, 21, 22, 23, 24, 65, 25, 26,
                  27, 28, 61, 62, 31, 30, 54, 32, 33, 66, 67, 36, 37, 38, 63, 64,
                  40, 60, 41, 42, 43, 44, 47, 45, 46, 71, 85, 48, 49, 56, 50, 58};
  r.fieldTypes = {kTypeByte,   kTypeShort, kTypeLong,  kTypeReal, kTypeDecimal,
                  kTypeString, kTypeMemo,  kTypeGroup, kTypeArray};
  r.library = "";
  r.banner = "Velmora 2.1 File Driver 1.0";
  r.entry = &DatDriverEntry;
  r.fieldAreaSize = 49;
  r.keyAreaSize = 814;
  r.memoAreaSize = 0;  // the memo's state lives in the file's control area
  r.fileAreaSize = sizeof(DatFile);
  return r;
}

// ---- trace ----

struct TraceSettings {
  std::mutex mu;
  bool loaded = false;
  bool on = false;
  std::string path;
  // Off and loaded: every call of the driver asks, and most find it off without the lock.
  std::atomic<bool> knownOff{false};
};

TraceSettings& Trace() {
  static TraceSettings* t = new TraceSettings();
  return *t;
}

bool TraceOn(std::string* path) {
  TraceSettings& t = Trace();
  if (t.knownOff.load(std::memory_order_acquire)) return false;
  std::lock_guard<std::mutex> lock(t.mu);
  if (!t.loaded) {
    t.on = platform::GetProfileInt("VWVelmora", "Profile", 0) != 0;
    t.path = platform::GetProfileString("VWVelmora", "TraceFile", "Velmora.LOG");
    t.loaded = true;
    t.knownOff.store(!t.on, std::memory_order_release);
  }
  *path = t.path;
  return t.on;
}

void TraceWrite(const std::string& path, const std::string& text) {
  TraceSettings& t = Trace();
  std::lock_guard<std::mutex> lock(t.mu);
  if (FILE* f = std::fopen(path.c_str(), "a")) {
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }
}

// ---- dispatch ----

bool IsKeyed(uint8_t op) {
  switch (op) {
    case kOpBuildFile: case kOpBuildDyn: case kOpBuildKey: case kOpDuplicate:
    case kOpDuplicateKey: case kOpGetFileKey: case kOpGetKeyPtr: case kOpPointerKey:
    case kOpRecordsKey: case kOpSetFileKey: case kOpSetKey: case kOpSetKeyKey:
    case kOpSetKeyPtr: case kOpSetKeyKeyPtr: case kOpPositionKey: case kOpResetKey:
    case kOpRegetKey: case kOpGetPropertyKey: case kOpSetPropertyKey: case kOpPack:
      return true;
    default:
      return false;
  }
}

// Keyed access: args.key is the key's number in the declaration (from 1).
int KeyedOperation(uint8_t op, DatFile& f, DriverArgs& args) {
  switch (op) {
    case kOpSetKey: return f.SetKey(args.key);
    case kOpSetKeyKey: return f.SetKeyKey(args.key);
    case kOpSetKeyPtr: return f.SetKeyPtr(args.key, args.number, false);
    case kOpSetKeyKeyPtr: return f.SetKeyPtr(args.key, args.number, true);
    case kOpSetFileKey: return f.SetFileKey(args.key);
    case kOpGetFileKey: return f.GetFileKey(args.key);
    case kOpGetKeyPtr: return f.Get(args.number);
    case kOpPositionKey: return f.PositionKey(args.key, &args.result);
    case kOpResetKey: return f.ResetKey(args.key, args.text);
    case kOpRegetKey: return f.RegetKey(args.key, args.text);
    case kOpRecordsKey: return f.RecordsKey(args.key, &args.value);
    case kOpPointerKey: args.value = f.Pointer(); return 0;
    case kOpDuplicate:
    case kOpDuplicateKey: {
      bool dup = false;
      int err = f.Duplicate(op == kOpDuplicate ? 0 : args.key, &dup);
      args.value = dup ? 1 : 0;
      return err;
    }
    case kOpBuildFile: return f.Build(0);
    case kOpBuildKey:
    case kOpBuildDyn: return f.Build(args.key);
    case kOpGetPropertyKey: args.result.clear(); return 0;
    case kOpSetPropertyKey: return 0;
    default: return kErrUnsupportedFunction;  // PACK
  }
}

struct DeferredBuilds {
  std::mutex mu;
  BuildEventPoster poster = nullptr;
  std::map<FileDescriptor*, int> pending;  // file -> key to build (0: every key)
};

DeferredBuilds& Deferred() {
  static DeferredBuilds* d = new DeferredBuilds();
  return *d;
}

// BUILD given args.number 1: mark and post; BUILDevent: carry out what was marked.
int DeferOrBuild(uint8_t op, FileDescriptor& fd, DatFile& f, DriverArgs& args) {
  DeferredBuilds& d = Deferred();
  int key = op == kOpBuildFile ? 0 : args.key;
  if (op == kOpBuildEvent) {
    {
      std::lock_guard<std::mutex> lock(d.mu);
      auto it = d.pending.find(&fd);
      if (it == d.pending.end()) return 0;  // nothing was asked for
      key = it->second;
      d.pending.erase(it);
    }
    return f.Build(key);
  }
  BuildEventPoster poster;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    poster = d.poster;
    if (poster) {
      auto [it, fresh] = d.pending.emplace(&fd, key);
      if (!fresh && it->second != key) it->second = 0;  // two different asks: build them all
    }
  }
  if (!poster) return f.Build(key);
  poster(fd);
  return 0;
}

int Dispatch(uint8_t op, FileDescriptor& fd, DatFile& f, DriverArgs& args) {
  if (op == kOpBuildEvent ||
      ((op == kOpBuildFile || op == kOpBuildKey || op == kOpBuildDyn) && args.number == 1))
    return DeferOrBuild(op, fd, f, args);
  switch (op) {
    case kOpInView:
    case kOpEndView:
      return 0;
    case kOpInternal91:
      args.value = static_cast<int64_t>(reinterpret_cast<intptr_t>(&DatDriverEntry));
      return 0;
    case kOpQueryKey: {
      args.value = 0;
      for (size_t i = 0; i < fd.keys.size(); ++i)
        if (EqualNoCase(fd.keys[i].label, args.text) ||
            (!fd.keys[i].name.empty() && EqualNoCase(fd.keys[i].name, args.text)))
          args.value = static_cast<int64_t>(i + 1);
      return 0;
    }
    default:
      break;
  }
  static const std::array<bool, 256> supported = [] {
    std::array<bool, 256> table{};
    for (uint8_t o : VelmoraRegistration().operations) table[o] = true;
    return table;
  }();
  if (!supported[op]) return kErrUnsupportedFunction;
  if (IsKeyed(op)) return KeyedOperation(op, f, args);
  switch (op) {
    case kOpCreate: return f.Create();
    case kOpOpen: return f.Open(args.mode);
    case kOpShare: return f.Open((args.mode & 0x3) | kShareDenyNone);
    case kOpClose: return f.Close();
    case kOpEmpty: return f.Empty();
    case kOpRemove: return f.Remove();
    case kOpRename: return f.Rename(args.text);
    case kOpCopy: return f.Copy(args.text);
    case kOpAdd: return f.Add(false);
    case kOpAppend: return f.Add(true);
    case kOpPut: return f.Put(0);
    case kOpPutFilePtr:
      if (args.number < 0 || args.number > UINT32_MAX) return kErrRecordNotAvailable;
      return f.Put(static_cast<uint32_t>(args.number));
    case kOpDelete: return f.Delete();
    case kOpGetFilePtr: return f.Get(args.number);
    case kOpSetFile: return f.SetFile();
    case kOpSetFilePtr: return f.SetFilePtr(args.number);
    case kOpNext: return f.Next();
    case kOpPrevious: return f.Previous();
    case kOpSkip: return f.Skip(args.number);
    case kOpBof:
    case kOpEof: {
      if (f.key_order()) return kErrUnsupportedFunction;  // the ends of a key are found by NEXT
      bool end = false;
      int err = op == kOpBof ? f.Bof(&end) : f.Eof(&end);
      args.value = end ? 1 : 0;
      return err;
    }
    case kOpRecordsFile: args.value = f.Records(); return 0;
    case kOpPointerFile: args.value = f.Pointer(); return 0;
    case kOpBytes: args.value = fd.recordSize; return 0;
    case kOpName: args.result = f.is_open() ? f.path() : DataFilePath(fd.name); return 0;
    case kOpPositionFile: args.result = f.Position(); return 0;
    case kOpResetFile: return f.Reset(args.text);
    case kOpRegetFile: return f.Reget(args.text);
    case kOpHoldFile: return f.Hold(-1);
    case kOpHoldFileSec: return f.Hold(args.number);
    case kOpRelease: return f.Release();
    case kOpWatch: return f.Watch();
    case kOpLockFile: return f.Lock(-1);
    case kOpLockFileSec: return f.Lock(args.number);
    case kOpUnlock: return f.Unlock();
    case kOpStream: return f.Stream();
    case kOpFlush: return f.Flush();
    case kOpSend: return f.Send(args.text, &args.result);
    case kOpLogout: return f.Logout();
    case kOpCommit: return Journal::Instance().Commit();
    case kOpRollback: return Journal::Instance().Rollback();
    case kOpNoMemo: return f.NoMemo();
    case kOpGetProperty:
      // The application reads no property; the driver answers with its name and the path.
      if (EqualNoCase(args.text, "DRIVER")) args.result = "Velmora";
      else if (EqualNoCase(args.text, "NAME")) args.result = f.path();
      else if (EqualNoCase(args.text, kPropertyReadPrefix)) args.result = "1";  // can be set
      else args.result.clear();
      return 0;
    case kOpSetProperty:
      // READPREFIX (number: bytes) is the one property; setting any other is not an error.
      if (args.text.size() == sizeof kPropertyReadPrefix - 1 &&
          EqualNoCase(args.text, kPropertyReadPrefix))
        return f.ReadPrefix(args.number);
      return 0;
    default: return kErrUnsupportedFunction;
  }
}

}  // namespace

const DriverRegistration& VelmoraRegistration() {
  static const DriverRegistration r = MakeRegistration();
  return r;
}

BuildEventPoster SetBuildEventPoster(BuildEventPoster poster) {
  DeferredBuilds& d = Deferred();
  std::lock_guard<std::mutex> lock(d.mu);
  BuildEventPoster old = d.poster;
  d.poster = poster;
  return old;
}

void ReloadTraceSettings() {
  TraceSettings& t = Trace();
  std::lock_guard<std::mutex> lock(t.mu);
  t.loaded = false;
  t.knownOff.store(false, std::memory_order_release);
}

Code DatDriverEntry(uint8_t op, FileDescriptor& file, DriverArgs& args) {
  bool fresh = !file.control;
  DatFile& f = DatFile::Of(file);
  std::string tracePath;
  if (!TraceOn(&tracePath)) return Dispatch(op, file, f, args);

  if (fresh) TraceWrite(tracePath, DescribeFile(file));
  auto start = std::chrono::steady_clock::now();
  int result = Dispatch(op, file, f, args);
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - start).count();
  char line[512];
  std::snprintf(line, sizeof line, "%-14s %s %d %lldus\n", std::string(OperationName(op)).c_str(),
                file.name.c_str(), result, static_cast<long long>(us));
  TraceWrite(tracePath, line);
  return result;
}

std::string DescribeFile(const FileDescriptor& file) {
  std::string out;
  char buf[256];
  if (file.driverString.empty())
    out += "FILE,DRIVER(Velmora)";
  else
    out += "FILE,DRIVER(Velmora,'" + file.driverString + "')";
  if (!file.owner.empty()) out += ",OWNER(******)";
  if (!file.name.empty()) out += ",NAME('" + file.name + "')";
  if (file.attributes & kFileCreate) out += ",CREATE";
  if (file.attributes & kFileEncrypt) out += ",ENCRYPT";
  if (file.attributes & kFileReclaim) out += ",RECLAIM";
  out += "\n";
  for (const KeyDescriptor& k : file.keys) {
    out += (k.attributes & kKeyIndex) ? "INDEX(" : "KEY(";
    for (size_t i = 0; i < k.components.size(); ++i) {
      int32_t c = k.components[i];
      size_t n = static_cast<size_t>(c < 0 ? -static_cast<int64_t>(c) : c);
      std::string label = n >= 1 && n <= file.fields.size() ? file.fields[n - 1].label : "?";
      std::snprintf(buf, sizeof buf, "%s%c%s", i ? "," : "", c < 0 ? '-' : '+', label.c_str());
      out += buf;
    }
    out += ")";
    if (k.attributes & kKeyDup) out += ",DUP";
    if (k.attributes & kKeyOpt) out += ",OPT";
    if (k.attributes & kKeyNoCase) out += ",NOCASE";
    if (k.attributes & kKeyPrimary) out += ",PRIMARY";
    if (!k.name.empty()) out += ",NAME(" + k.name + ")";
    out += "\n";
  }
  for (const MemoDescriptor& m : file.memos) {
    if (m.attributes & kMemoBlob) {
      out += "BLOB";
    } else {
      std::snprintf(buf, sizeof buf, "MEMO(%u)", m.size);
      out += buf;
    }
    if (!m.name.empty()) out += ",NAME(" + m.name + ")";
    if (m.attributes & kMemoBinary) out += ",BINARY";
    out += "\n";
  }
  out += "RECORD\n";
  std::vector<uint32_t> groupsLeft;
  uint32_t end = 0;
  for (size_t i = 0; i < file.fields.size(); ++i) {
    const FieldDescriptor& f = file.fields[i];
    std::string line(FieldTypeName(f.type));
    if (f.type == kTypeDecimal || f.type == kTypePDecimal) {
      unsigned bytes = f.decimalSize ? f.decimalSize : f.ElementSize();
      std::snprintf(buf, sizeof buf, "(%u,%u)", 2 * bytes - 1, unsigned{f.decimalPlaces});
      line += buf;
    } else if (f.type == kTypeString || f.type == kTypeCString || f.type == kTypePString) {
      if (!f.picture.empty())
        line += "(" + (f.picture[0] == '@' ? f.picture : "@" + f.picture) + ")";
      else {
        std::snprintf(buf, sizeof buf, "(%u)", f.ElementSize());
        line += buf;
      }
    }
    if (!f.dims.empty()) {
      line += ", DIM(";
      for (size_t d = 0; d < f.dims.size(); ++d) {
        if (d) line += ",";
        line += std::to_string(f.dims[d]);
      }
      line += ")";
    }
    bool inGroup = !groupsLeft.empty();
    if (!inGroup && f.offset < end) {
      for (size_t j = 0; j < i; ++j)
        if (file.fields[j].offset == f.offset) {
          line += ", OVER(" + file.fields[j].label + ")";
          break;
        }
    }
    if (!inGroup) end = std::max(end, f.offset + f.size);
    out += std::string(groupsLeft.size() * 2, ' ') + line + "\n";
    for (uint32_t& g : groupsLeft) --g;
    if (f.type == kTypeGroup && f.groupFields > 0) groupsLeft.push_back(f.groupFields);
    while (!groupsLeft.empty() && groupsLeft.back() == 0) {
      groupsLeft.pop_back();
      out += std::string(groupsLeft.size() * 2, ' ') + "END\n";
    }
  }
  out += "END\nEND\n";
  return out;
}

}  // namespace korawin::storage::dat
