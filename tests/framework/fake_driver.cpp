#include "tests/framework/fake_driver.h"

#include <algorithm>
#include <cstring>

namespace korawin::testing {

using storage::DriverArgs;
using storage::FieldDescriptor;
using storage::FileDescriptor;

namespace {

enum class Seq { kStart, kAt, kFrom, kReset };

struct FakeControl : storage::DriverControl {
  bool open = false;
  uint32_t current = 0;
  int key = 0;
  Seq seq = Seq::kStart;
  std::string anchor;
  uint32_t anchorRec = 0;
  bool watching = false;
  uint32_t watchRec = 0;
  std::string watchCopy;
};

FakeControl& Control(FileDescriptor& fd) {
  if (!fd.control) fd.control = std::make_unique<FakeControl>();
  return static_cast<FakeControl&>(*fd.control);
}

unsigned char Fold(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (c >= 0xE0) return static_cast<unsigned char>(c - 32);
  if (c == 0xB8) return 0xA8;
  return c;
}

bool IsText(const FieldDescriptor& f) { return f.type == storage::kTypeString; }

int64_t Number(const FieldDescriptor& f, const char* rec) {
  const char* p = rec + f.offset;
  if (f.type == storage::kTypeByte) return static_cast<unsigned char>(*p);
  int32_t v = 0;
  std::memcpy(&v, p, 4);
  return v;
}

int CompareKey(const FileDescriptor& fd, int key, const std::string& a, const std::string& b) {
  if (key == 0) return 0;
  const storage::KeyDescriptor& k = fd.keys[static_cast<size_t>(key) - 1];
  bool nocase = k.attributes & storage::kKeyNoCase;
  for (int32_t c : k.components) {
    const FieldDescriptor& f = fd.fields[static_cast<size_t>(std::abs(c)) - 1];
    int r = 0;
    if (IsText(f)) {
      for (uint32_t i = 0; i < f.size && r == 0; ++i) {
        unsigned char x = static_cast<unsigned char>(a[f.offset + i]);
        unsigned char y = static_cast<unsigned char>(b[f.offset + i]);
        if (nocase) x = Fold(x), y = Fold(y);
        r = x < y ? -1 : x > y ? 1 : 0;
      }
    } else {
      int64_t x = Number(f, a.data()), y = Number(f, b.data());
      r = x < y ? -1 : x > y ? 1 : 0;
    }
    if (c < 0) r = -r;
    if (r) return r;
  }
  return 0;
}

bool BlankKey(const FileDescriptor& fd, int key, const std::string& rec) {
  const storage::KeyDescriptor& k = fd.keys[static_cast<size_t>(key) - 1];
  for (int32_t c : k.components) {
    const FieldDescriptor& f = fd.fields[static_cast<size_t>(std::abs(c)) - 1];
    if (IsText(f)) {
      for (uint32_t i = 0; i < f.size; ++i)
        if (rec[f.offset + i] != ' ') return false;
    } else if (Number(f, rec.data()) != 0) {
      return false;
    }
  }
  return true;
}

std::string BufferBytes(FileDescriptor& fd) {
  std::string s(fd.record, fd.recordSize);
  for (const storage::MemoDescriptor& m : fd.memos) s.append(m.buffer, m.size);
  return s;
}

void Load(FileDescriptor& fd, const std::string& bytes) {
  std::memcpy(fd.record, bytes.data(), fd.recordSize);
  size_t at = fd.recordSize;
  for (storage::MemoDescriptor& m : fd.memos) {
    std::memcpy(m.buffer, bytes.data() + at, m.size);
    at += m.size;
  }
}

}  // namespace

struct FakeAccess {
  using Table = FakeStore::Table;

  // The live records of a key in key order (record order for key 0), OPT ones left out.
  static std::vector<uint32_t> Sorted(FileDescriptor& fd, Table& t, int key) {
    std::vector<uint32_t> out;
    for (auto& [rec, bytes] : t.records) {
      if (key && (fd.keys[static_cast<size_t>(key) - 1].attributes & storage::kKeyOpt) &&
          BlankKey(fd, key, bytes))
        continue;
      out.push_back(rec);
    }
    std::stable_sort(out.begin(), out.end(), [&](uint32_t x, uint32_t y) {
      int r = CompareKey(fd, key, t.records[x], t.records[y]);
      return r ? r < 0 : x < y;
    });
    return out;
  }

  static bool Duplicate(FileDescriptor& fd, Table& t, const std::string& bytes, uint32_t self,
                        int onlyKey = 0) {
    for (size_t k = 1; k <= fd.keys.size(); ++k) {
      int key = static_cast<int>(k);
      if (onlyKey && key != onlyKey) continue;
      const storage::KeyDescriptor& kd = fd.keys[k - 1];
      if (kd.attributes & storage::kKeyDup) continue;
      if ((kd.attributes & storage::kKeyOpt) && BlankKey(fd, key, bytes)) continue;
      for (auto& [rec, other] : t.records)
        if (rec != self && CompareKey(fd, key, bytes, other) == 0) return true;
    }
    return false;
  }

  static int Walk(FileDescriptor& fd, Table& t, FakeControl& c, bool forward) {
    std::vector<uint32_t> order = Sorted(fd, t, c.key);
    auto cmp = [&](uint32_t rec, bool withRec) {
      int r = CompareKey(fd, c.key, t.records[rec], c.anchor);
      if (r || !withRec) return r;
      return rec < c.anchorRec ? -1 : rec > c.anchorRec ? 1 : 0;
    };
    long found = -1;
    long n = static_cast<long>(order.size());
    for (long i = 0; i < n; ++i) {
      long j = forward ? i : n - 1 - i;
      uint32_t rec = order[static_cast<size_t>(j)];
      bool ok = false;
      switch (c.seq) {
        case Seq::kStart: ok = true; break;
        case Seq::kAt: ok = forward ? cmp(rec, true) > 0 : cmp(rec, true) < 0; break;
        case Seq::kFrom: ok = forward ? cmp(rec, false) >= 0 : cmp(rec, false) <= 0; break;
        case Seq::kReset: ok = forward ? cmp(rec, true) >= 0 : cmp(rec, true) <= 0; break;
      }
      if (ok) {
        found = j;
        break;
      }
    }
    if (found < 0) return storage::kErrRecordNotAvailable;
    uint32_t rec = order[static_cast<size_t>(found)];
    Load(fd, t.records[rec]);
    c.current = rec;
    c.seq = Seq::kAt;
    c.anchor = t.records[rec];
    c.anchorRec = rec;
    return 0;
  }
};

FakeStore& FakeStore::Instance() {
  static FakeStore store;
  return store;
}

void FakeStore::Reset() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  files_.clear();
  failures_.clear();
  calls_.clear();
  sent_.clear();
  openModes_.clear();
  noTransactions_ = false;
  inTransaction_ = false;
  snapshot_.clear();
}

void FakeStore::MakeFile(const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  files_[name];
}

bool FakeStore::Exists(const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return files_.count(name) != 0;
}

std::map<uint32_t, std::string> FakeStore::Records(const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return files_[name].records;
}

void FakeStore::Rewrite(const std::string& name, uint32_t recno, const std::string& bytes) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  files_[name].records[recno] = bytes;
}

void FakeStore::FailNext(uint8_t op, int code, int times, int skip) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  failures_[op] = Failure{code, times, skip};
}

int FakeStore::Calls(uint8_t op, const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (!name.empty()) return calls_[{op, name}];
  int n = 0;
  for (auto& [k, v] : calls_)
    if (k.first == op) n += v;
  return n;
}

std::vector<std::string> FakeStore::Sent(const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return sent_[name];
}

uint32_t FakeStore::LastOpenMode(const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return openModes_[name];
}

void FakeStore::SetNoTransactions(bool on) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  noTransactions_ = on;
}

storage::Code FakeStore::Entry(uint8_t op, FileDescriptor& fd, DriverArgs& args) {
  FakeStore& s = Instance();
  std::lock_guard<std::recursive_mutex> lock(s.mu_);
  FakeControl& c = Control(fd);
  ++s.calls_[{op, fd.name}];
  auto failure = s.failures_.find(op);
  if (failure != s.failures_.end() && failure->second.times > 0) {
    if (failure->second.skip > 0) {
      --failure->second.skip;
    } else {
      --failure->second.times;
      return failure->second.code;
    }
  }
  using namespace storage;
  if (op == kOpCreate) {
    s.files_[fd.name] = Table();
    c.open = true;
    return 0;
  }
  if (op == kOpCommit || op == kOpRollback) {
    if (op == kOpRollback && s.inTransaction_) s.files_ = s.snapshot_;
    s.inTransaction_ = false;
    s.snapshot_.clear();
    return 0;
  }
  auto it = s.files_.find(fd.name);
  if (op == kOpOpen) {
    if (it == s.files_.end()) return kErrFileNotFound;
    if (c.open) return kErrFileAlreadyOpen;
    c.open = true;
    c.current = 0;
    s.openModes_[fd.name] = args.mode;
    return 0;
  }
  if (op == kOpClose) {
    c.open = false;
    return 0;
  }
  if (op == kOpBuildFile) return it == s.files_.end() ? kErrFileNotFound : 0;  // open or not
  if (!c.open || it == s.files_.end()) return kErrFileNotOpen;
  Table& t = it->second;
  switch (op) {
    case kOpSend: s.sent_[fd.name].push_back(args.text); return 0;
    case kOpNoMemo: return 0;
    case kOpAdd: {
      std::string bytes = BufferBytes(fd);
      if (FakeAccess::Duplicate(fd, t, bytes, 0)) return kErrDuplicateKey;
      c.current = t.next++;
      t.records[c.current] = bytes;
      return 0;
    }
    case kOpPut: {
      if (!c.current || !t.records.count(c.current)) return kErrRecordNotAvailable;
      if (c.watching && c.watchRec == c.current && t.records[c.current] != c.watchCopy) {
        c.watching = false;
        return kErrRecordChanged;
      }
      std::string bytes = BufferBytes(fd);
      if (FakeAccess::Duplicate(fd, t, bytes, c.current)) return kErrDuplicateKey;
      t.records[c.current] = bytes;
      c.watching = false;
      return 0;
    }
    case kOpDelete:
      if (!c.current || !t.records.count(c.current)) return kErrRecordNotAvailable;
      t.records.erase(c.current);
      c.current = 0;
      return 0;
    case kOpNext: case kOpPrevious: return FakeAccess::Walk(fd, t, c, op == kOpNext);
    case kOpSetFile: case kOpSetKey:
      c.key = op == kOpSetFile ? 0 : args.key;
      c.seq = Seq::kStart;
      return 0;
    case kOpSetKeyKey:
      c.key = args.key;
      c.seq = Seq::kFrom;
      c.anchor = BufferBytes(fd);
      return 0;
    case kOpGetFileKey: {
      std::string bytes = BufferBytes(fd);
      for (uint32_t rec : FakeAccess::Sorted(fd, t, args.key)) {
        if (CompareKey(fd, args.key, t.records[rec], bytes) == 0) {
          Load(fd, t.records[rec]);
          c.current = rec;
          return 0;
        }
      }
      return kErrRecordNotFound;
    }
    case kOpPositionFile: case kOpPositionKey:
      if (!c.current) return kErrRecordNotAvailable;
      args.result = std::to_string(c.current);
      return 0;
    case kOpResetFile: case kOpResetKey: case kOpRegetFile: case kOpRegetKey: {
      uint32_t rec = static_cast<uint32_t>(std::stoul(args.text));
      if (!t.records.count(rec)) return kErrRecordNotFound;
      if (op == kOpRegetFile || op == kOpRegetKey) {
        Load(fd, t.records[rec]);
        c.current = rec;
        return 0;
      }
      c.key = op == kOpResetFile ? 0 : args.key;
      c.seq = Seq::kReset;
      c.anchor = t.records[rec];
      c.anchorRec = rec;
      return 0;
    }
    case kOpWatch:
      if (!c.current) return kErrRecordNotAvailable;
      c.watching = true;
      c.watchRec = c.current;
      c.watchCopy = t.records[c.current];
      return 0;
    case kOpDuplicateKey:
      args.value = FakeAccess::Duplicate(fd, t, BufferBytes(fd), 0, args.key) ? 1 : 0;
      return 0;
    case kOpLogout:
      if (s.noTransactions_) return kErrUnsupportedFunction;
      if (!s.inTransaction_) {
        s.snapshot_ = s.files_;
        s.inTransaction_ = true;
      }
      return 0;
    default:
      return kErrUnsupportedFunction;
  }
}

TestFile::TestFile(const std::string& name, const std::vector<TestField>& fields,
                   const std::vector<TestKey>& keys, uint32_t memoSize) {
  fd.driver = &FakeStore::Entry;
  fd.name = name;
  fd.label = name;
  fd.attributes = storage::kFileCreate;
  uint32_t offset = 0;
  for (const TestField& f : fields) {
    FieldDescriptor d;
    d.type = f.type;
    d.offset = offset;
    d.label = f.label;
    d.size = f.size;
    fd.fields.push_back(d);
    offset += f.size;
  }
  fd.recordSize = offset;
  for (const TestKey& k : keys) {
    storage::KeyDescriptor d;
    d.label = k.label;
    d.attributes = k.attributes;
    d.components = k.components;
    fd.keys.push_back(d);
  }
  record_.assign(offset, ' ');
  for (const FieldDescriptor& f : fd.fields)
    if (!IsText(f)) std::memset(record_.data() + f.offset, 0, f.size);
  fd.record = record_.data();
  if (memoSize) {
    memo_.assign(memoSize, ' ');
    storage::MemoDescriptor m;
    m.label = name + ":MEMO";
    m.size = memoSize;
    m.buffer = memo_.data();
    fd.memos.push_back(m);
  }
}

void TestFile::Set(int field, const std::string& text) {
  const FieldDescriptor& f = fd.fields[static_cast<size_t>(field) - 1];
  size_t n = std::min<size_t>(text.size(), f.size);
  std::memcpy(record_.data() + f.offset, text.data(), n);
  std::memset(record_.data() + f.offset + n, ' ', f.size - n);
}

std::string TestFile::FieldOf(const std::string& bytes, int field) const {
  const FieldDescriptor& f = fd.fields[static_cast<size_t>(field) - 1];
  std::string s = bytes.substr(f.offset, f.size);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

int32_t TestFile::LongOf(const std::string& bytes, int field) const {
  const FieldDescriptor& f = fd.fields[static_cast<size_t>(field) - 1];
  int32_t v;
  std::memcpy(&v, bytes.data() + f.offset, 4);
  return v;
}

std::string TestFile::Get(int field) const {
  return FieldOf(std::string(record_.data(), record_.size()), field);
}

void TestFile::SetLong(int field, int32_t v) {
  const FieldDescriptor& f = fd.fields[static_cast<size_t>(field) - 1];
  std::memcpy(record_.data() + f.offset, &v, 4);
}

int32_t TestFile::GetLong(int field) const {
  return LongOf(std::string(record_.data(), record_.size()), field);
}

std::string TestFile::Memo() const {
  std::string s(memo_.data(), memo_.size());
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

void TestFile::SetMemo(const std::string& text) {
  std::fill(memo_.begin(), memo_.end(), ' ');
  std::memcpy(memo_.data(), text.data(), std::min(text.size(), memo_.size()));
}

}  // namespace korawin::testing
