#include "tests/storage/view_memory_driver.h"

#include <algorithm>
#include <cstring>

#include "lang/charset.h"

namespace korawin::storage::testing {

namespace {

struct Link : DriverControl {
  MemoryTable* table;
  explicit Link(MemoryTable* t) : table(t) {}
};

void PutRec(std::string* out, uint32_t rec) {
  for (int i = 3; i >= 0; --i) out->push_back(static_cast<char>((rec >> (8 * i)) & 0xFF));
}

uint32_t GetRec(std::string_view s) {
  uint32_t rec = 0;
  for (char c : s) rec = (rec << 8) | static_cast<unsigned char>(c);
  return rec;
}

}  // namespace

MemoryTable::MemoryTable(const char* label, std::vector<MemoryField> fields,
                         std::vector<MemoryKey> keys) {
  file_.driver = &MemoryTable::Entry;
  file_.label = label;
  file_.name = label;
  uint32_t offset = 0;
  for (const MemoryField& f : fields) {
    FieldDescriptor d;
    d.type = f.type;
    d.offset = offset;
    d.label = f.label;
    d.size = f.size;
    file_.fields.push_back(d);
    offset += f.size;
  }
  for (const MemoryKey& k : keys) {
    KeyDescriptor d;
    d.label = k.label;
    d.attributes = k.attributes;
    d.components = k.components;
    file_.keys.push_back(d);
  }
  file_.recordSize = offset;
  buffer_.assign(offset, ' ');
  for (const FieldDescriptor& f : file_.fields)
    if (f.type != kTypeString) std::memset(buffer_.data() + f.offset, 0, f.size);
  file_.record = buffer_.data();
  file_.control = std::make_unique<Link>(this);
  orders_.resize(file_.keys.size() + 1);
  built_.assign(file_.keys.size() + 1, 0);
}

void MemoryTable::Set(int field, std::string_view text) {
  const FieldDescriptor& f = file_.fields[static_cast<size_t>(field - 1)];
  size_t n = std::min<size_t>(text.size(), f.size);
  std::memset(buffer_.data() + f.offset, ' ', f.size);
  std::memcpy(buffer_.data() + f.offset, text.data(), n);
}

void MemoryTable::SetLong(int field, int32_t v) {
  std::memcpy(buffer_.data() + file_.fields[static_cast<size_t>(field - 1)].offset, &v, 4);
}

std::string MemoryTable::Get(int field) const {
  const FieldDescriptor& f = file_.fields[static_cast<size_t>(field - 1)];
  std::string s(buffer_.data() + f.offset, f.size);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

int32_t MemoryTable::GetLong(int field) const {
  int32_t v;
  std::memcpy(&v, buffer_.data() + file_.fields[static_cast<size_t>(field - 1)].offset, 4);
  return v;
}

uint32_t MemoryTable::Insert() {
  rows_.emplace_back(buffer_.data(), buffer_.size());
  deleted_.push_back(false);
  ++version_;
  return static_cast<uint32_t>(rows_.size());
}

void MemoryTable::Overwrite(uint32_t rec) {
  rows_[rec - 1].assign(buffer_.data(), buffer_.size());
  ++version_;
}

std::string MemoryTable::KeyBytes(int key, const char* rec) const {
  std::string out;
  const KeyDescriptor& k = file_.keys[static_cast<size_t>(key - 1)];
  for (int32_t c : k.components) {
    const FieldDescriptor& f = file_.fields[static_cast<size_t>(c < 0 ? -c : c) - 1];
    const unsigned char* p = reinterpret_cast<const unsigned char*>(rec + f.offset);
    std::string part;
    if (f.type == kTypeLong) {
      uint32_t v;
      std::memcpy(&v, p, 4);
      v ^= 0x80000000u;
      for (int i = 3; i >= 0; --i) part.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    } else {
      for (uint32_t i = 0; i < f.size; ++i)
        part.push_back(static_cast<char>((k.attributes & kKeyNoCase) ? lang::UpperChar(p[i]) : p[i]));
    }
    if (c < 0)
      for (char& ch : part) ch = static_cast<char>(~ch);
    out += part;
  }
  return out;
}

bool MemoryTable::Blank(int key, const char* rec) const {
  const KeyDescriptor& k = file_.keys[static_cast<size_t>(key - 1)];
  for (int32_t c : k.components) {
    const FieldDescriptor& f = file_.fields[static_cast<size_t>(c < 0 ? -c : c) - 1];
    const char fill = f.type == kTypeString ? ' ' : '\0';
    for (uint32_t i = 0; i < f.size; ++i)
      if (rec[f.offset + i] != fill) return false;
  }
  return true;
}

const std::vector<MemoryTable::Entry_>& MemoryTable::Order(int key) {
  std::vector<Entry_>& order = orders_[static_cast<size_t>(key)];
  if (built_[static_cast<size_t>(key)] == version_) return order;
  order.clear();
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (deleted_[i]) continue;
    if (key == 0) {
      order.push_back({std::string(), static_cast<uint32_t>(i + 1)});
      continue;
    }
    if ((file_.keys[static_cast<size_t>(key - 1)].attributes & kKeyOpt) && Blank(key, rows_[i].data()))
      continue;
    order.push_back({KeyBytes(key, rows_[i].data()), static_cast<uint32_t>(i + 1)});
  }
  std::stable_sort(order.begin(), order.end(), [](const Entry_& a, const Entry_& b) {
    return a.key != b.key ? a.key < b.key : a.rec < b.rec;
  });
  built_[static_cast<size_t>(key)] = version_;
  return order;
}

int MemoryTable::Compare(const Entry_& e, const Bound& b) {
  if (b.inf) return -b.inf;
  int c = e.key.compare(b.key);
  if (c) return c < 0 ? -1 : 1;
  return e.rec < b.rec ? -1 : e.rec > b.rec;
}

int MemoryTable::Read(uint32_t rec) {
  if (rec == 0 || rec > rows_.size() || deleted_[rec - 1]) return kErrRecordNotFound;
  std::memcpy(buffer_.data(), rows_[rec - 1].data(), buffer_.size());
  current_ = rec;
  return 0;
}

int MemoryTable::Step(bool forward) {
  const std::vector<Entry_>& order = Order(seqKey_);
  const Entry_* hit = nullptr;
  if (forward) {
    for (const Entry_& e : order) {
      int c = Compare(e, next_);
      if (c > 0 || (c == 0 && next_.inclusive)) {
        hit = &e;
        break;
      }
    }
  } else {
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
      int c = Compare(*it, prev_);
      if (c < 0 || (c == 0 && prev_.inclusive)) {
        hit = &*it;
        break;
      }
    }
  }
  if (!hit) {
    next_ = prev_ = Bound{forward ? 1 : -1, {}, 0, false};
    return kErrRecordNotAvailable;
  }
  next_ = prev_ = Bound{0, hit->key, hit->rec, false};
  return Read(hit->rec);
}

int MemoryTable::CheckUnique(const char* rec, uint32_t self) const {
  for (size_t k = 0; k < file_.keys.size(); ++k) {
    if (file_.keys[k].attributes & kKeyDup) continue;
    const int key = static_cast<int>(k + 1);
    if ((file_.keys[k].attributes & kKeyOpt) && Blank(key, rec)) continue;
    const std::string mine = KeyBytes(key, rec);
    for (size_t i = 0; i < rows_.size(); ++i)
      if (!deleted_[i] && i + 1 != self && KeyBytes(key, rows_[i].data()) == mine)
        return kErrDuplicateKey;
  }
  return 0;
}

Code MemoryTable::Entry(uint8_t op, FileDescriptor& file, DriverArgs& args) {
  return static_cast<Link*>(file.control.get())->table->Dispatch(op, args);
}

int MemoryTable::Dispatch(uint8_t op, DriverArgs& args) {
  ++calls[op];
  if (op == kOpOpen) {
    open_ = true;
    return 0;
  }
  if (!open_) return kErrFileNotOpen;
  switch (op) {
    case kOpClose: open_ = false; return 0;
    case kOpSetFile: case kOpSetKey:
      seqKey_ = op == kOpSetFile ? 0 : args.key;
      next_ = Bound{-1, {}, 0, false};
      prev_ = Bound{1, {}, 0, false};
      return 0;
    case kOpSetKeyKey: {
      seqKey_ = args.key;
      std::string v = KeyBytes(args.key, buffer_.data());
      next_ = Bound{0, v, 0, true};
      prev_ = Bound{0, v, UINT32_MAX, true};
      return 0;
    }
    case kOpNext: return Step(true);
    case kOpPrevious: return Step(false);
    case kOpPositionFile: case kOpPositionKey: {
      if (current_ == 0) return kErrRecordNotAvailable;
      if (op == kOpPositionFile) {
        args.result = 'F';
      } else {
        args.result.assign({'K', static_cast<char>(args.key)});
        args.result += KeyBytes(args.key, rows_[current_ - 1].data());
      }
      PutRec(&args.result, current_);
      return 0;
    }
    case kOpResetFile: case kOpResetKey: case kOpRegetFile: case kOpRegetKey: {
      const bool keyed = op == kOpResetKey || op == kOpRegetKey;
      const std::string& t = args.text;
      if (t.size() < (keyed ? 6u : 5u) || t[0] != (keyed ? 'K' : 'F')) return kErrRecordNotFound;
      const uint32_t rec = GetRec(std::string_view(t).substr(t.size() - 4));
      if (op == kOpRegetFile || op == kOpRegetKey) return Read(rec);
      seqKey_ = keyed ? args.key : 0;
      std::string key = keyed ? t.substr(2, t.size() - 6) : std::string();
      next_ = prev_ = Bound{0, key, rec, true};
      return 0;
    }
    case kOpGetFilePtr: return Read(static_cast<uint32_t>(args.number));
    case kOpRecordsFile: case kOpRecordsKey:
      args.value = static_cast<int64_t>(Order(op == kOpRecordsKey ? args.key : 0).size());
      return 0;
    case kOpPut: {
      if (current_ == 0) return kErrRecordNotAvailable;
      if (int rc = CheckUnique(buffer_.data(), current_)) return rc;
      rows_[current_ - 1].assign(buffer_.data(), buffer_.size());
      ++version_;
      return 0;
    }
    case kOpDelete:
      if (current_ == 0) return kErrRecordNotAvailable;
      deleted_[current_ - 1] = true;
      current_ = 0;
      ++version_;
      return 0;
    case kOpAdd:
      if (int rc = CheckUnique(buffer_.data(), 0)) return rc;
      current_ = Insert();
      return 0;
    case kOpWatch: case kOpHoldFile: case kOpHoldFileSec: case kOpRelease: case kOpFlush:
      return 0;
    default:
      return kErrUnsupportedFunction;
  }
}

}  // namespace korawin::storage::testing
