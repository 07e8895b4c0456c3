#include "storage/dat/dat_keys.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/file.h"
#include "platform/paths.h"
#include "storage/dat/dat_io.h"
#include "storage/dat/journal.h"

namespace korawin::storage::dat {

namespace {

constexpr uint32_t kLastRecord = 0xFFFFFFFFu;

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

std::string FromNumber(uint32_t n) {
  unsigned char b[4];
  Put32(b, n);
  return std::string(reinterpret_cast<char*>(b), 4);
}

}  // namespace

DatKeys::DatKeys(const FileDescriptor& file) {
  for (size_t i = 0; i < file.keys.size(); ++i) {
    if (file.keys[i].attributes & kKeyNotStored) continue;
    Key k;
    k.decl = i;
    k.index = (file.keys[i].attributes & kKeyIndex) != 0;
    Code err = k.layout.Init(file, i);
    if (err && !error_) error_ = err;
    keys_.push_back(std::move(k));
  }
}

std::vector<std::string> DatKeys::Paths(const std::string& dataPath) const {
  std::vector<std::string> paths;
  for (size_t i = 0; i < keys_.size(); ++i)
    paths.push_back(KeyFileName(dataPath, static_cast<int>(i + 1), keys_[i].index));
  return paths;
}

DatKeys::Key* DatKeys::Find(int key) {
  for (Key& k : keys_)
    if (static_cast<int>(k.decl) + 1 == key) return &k;
  return nullptr;
}

const KeyLayout* DatKeys::Layout(int key) const {
  for (const Key& k : keys_)
    if (static_cast<int>(k.decl) + 1 == key) return &k.layout;
  return nullptr;
}

// ---- Files ---------------------------------------------------------------------------------

Code DatKeys::Create(const std::string& dataPath) {
  for (size_t i = 0; i < keys_.size(); ++i) {
    Key& k = keys_[i];
    k.path = KeyFileName(dataPath, static_cast<int>(i + 1), k.index);
    KeyFile kf;
    Code err = kf.Create(k.path, k.layout.shape());
    if (err) return err;
  }
  return 0;
}

Code DatKeys::Open(const std::string& dataPath, unsigned mode, int64_t liveRecords,
                   bool streaming) {
  mode_ = mode;
  const bool shared = (mode & 0x70) == kShareDenyNone;
  for (size_t i = 0; i < keys_.size(); ++i) {
    Key& k = keys_[i];
    k.path = KeyFileName(dataPath, static_cast<int>(i + 1), k.index);
    k.file.reset();
    if (k.index) continue;  // an index is opened when it is used
    auto kf = std::make_unique<KeyFile>();
    Code err = kf->Open(k.path, mode, k.layout.shape(), liveRecords);
    if (err) return err;
    kf->set_flush_headers(!streaming, !shared);
    k.file = std::move(kf);
  }
  return 0;
}

Code DatKeys::Close() {
  Code result = 0;
  for (Key& k : keys_) {
    if (k.file) {
      // Held entries go in while the journal still watches the file.
      Code left = k.file->ApplyHeld();
      if (!result) result = left;
      left = Journal::Instance().Leave(k.file->stream());
      if (!result) result = left;
    }
    k.file.reset();
  }
  EndSequence();
  return result;
}

Code DatKeys::Empty() {
  for (Key& k : keys_) {
    Code err = 0;
    if (k.file) {
      err = k.file->Empty();
    } else if (platform::FileExists(platform::ResolveExisting(k.path))) {
      KeyFile kf;  // an index not in use is emptied too, so it never outlives its data
      err = kf.Create(platform::ResolveExisting(k.path), k.layout.shape());
    }
    if (err) return err;
  }
  return 0;
}

Code DatKeys::JoinJournal(const std::string& dataPath) {
  for (Key& k : keys_) {
    if (!k.file) continue;
    KeyFile* kf = k.file.get();
    // A header put off by a batch goes to disk first, so the journal saves the true one.
    Code err = kf->WriteWaiting();
    if (!err)
      err = Journal::Instance().Join(kf->stream(), dataPath, [kf] { kf->Invalidate(); }, nullptr,
                                     [kf] { return kf->ApplyHeld(); });
    if (err) return err;
  }
  return 0;
}

Code DatKeys::ApplyHeld() {
  for (Key& k : keys_) {
    Code err = k.file ? k.file->ApplyHeld() : Code(0);
    if (err) return err;
  }
  return 0;
}

Code DatKeys::Sync() {
  for (Key& k : keys_) {
    if (!k.file || k.file->stream().read_only()) continue;
    Code err = k.file->Flush();
    if (err) return err;
  }
  return 0;
}

void DatKeys::HeaderCache(bool on) {
  for (Key& k : keys_) {
    if (!k.file) continue;
    if (on)
      k.file->BeginHeaderCache();
    else
      k.file->EndHeaderCache();
  }
}

void DatKeys::FlushHeaders(bool on, bool shared) {
  for (Key& k : keys_)
    if (k.file) k.file->set_flush_headers(on, !shared);
}

Code DatKeys::Use(int key) {
  Key* k = Find(key);
  if (!k) return kErrInvalidKeyFile;
  if (!k->file) {
    // An index is opened at its first use; it is only as fresh as its last BUILD.
    auto f = std::make_unique<KeyFile>();
    Code err = f->Open(k->path, mode_, k->layout.shape(), -1);
    if (err) return err;
    k->file = std::move(f);
  }
  return 0;
}

// ---- Maintenance ---------------------------------------------------------------------------

Code DatKeys::CheckUnique(const char* image, uint32_t self) {
  for (Key& k : keys_) {
    if (!k.file || k.index || k.layout.dup()) continue;
    if (k.layout.opt() && k.layout.IsBlank(image)) continue;
    std::string value = k.layout.Encode(image);
    bool found = false;
    uint32_t recno = 0;
    Code err = k.file->Lookup(Bytes(value), &found, &recno);
    if (err) return err;
    if (found && recno != self) return kErrDuplicateKey;
  }
  return 0;
}

Code DatKeys::Insert(uint32_t record, const char* image, bool checkedAndLast) {
  std::vector<std::pair<Key*, std::string>> done;
  for (Key& k : keys_) {
    if (!k.file || k.index) continue;
    if (k.layout.opt() && k.layout.IsBlank(image)) continue;
    std::string value = k.layout.Encode(image);
    Code err = k.file->Insert(Bytes(value), record, {checkedAndLast, checkedAndLast});
    if (err) {
      // Take the entries made so far out again, so that no key names a record never added; the
      // insert's failure is the one reported.
      for (auto& [key, v] : done) (void)key->file->Remove(Bytes(v), record);
      return err;
    }
    done.emplace_back(&k, std::move(value));
  }
  return 0;
}

Code DatKeys::Move(uint32_t record, const char* oldImage, const char* newImage) {
  struct Change {
    Key* key;
    bool oldIn, newIn;
    std::string oldValue, newValue;
  };
  std::vector<Change> changes;
  for (Key& k : keys_) {
    if (!k.file || k.index) continue;
    Change c{&k, !(k.layout.opt() && k.layout.IsBlank(oldImage)),
             !(k.layout.opt() && k.layout.IsBlank(newImage)), k.layout.Encode(oldImage),
             k.layout.Encode(newImage)};
    if (c.oldIn == c.newIn && (!c.oldIn || c.oldValue == c.newValue)) continue;
    changes.push_back(std::move(c));
  }
  // Every unique key is checked before any key changes, so a refusal leaves them all as they were.
  for (const Change& c : changes) {
    if (!c.newIn || c.key->layout.dup()) continue;
    bool found = false;
    uint32_t recno = 0;
    Code err = c.key->file->Lookup(Bytes(c.newValue), &found, &recno);
    if (err) return err;
    if (found && recno != record) return kErrDuplicateKey;
  }
  for (size_t i = 0; i < changes.size(); ++i) {
    Change& c = changes[i];
    KeyFile& kf = *c.key->file;
    Code err = 0;
    if (c.oldIn) {
      err = kf.Remove(Bytes(c.oldValue), record);
      if (err == kErrRecordNotFound) err = 0;  // the entry was missing already
    }
    if (!err && c.newIn) err = kf.Insert(Bytes(c.newValue), record);
    if (err) {
      // Put back what was moved, newest first; the move's failure is the one reported.
      for (size_t j = i + 1; j-- > 0;) {
        Change& u = changes[j];
        if (j < i && u.newIn) (void)u.key->file->Remove(Bytes(u.newValue), record);
        if (u.oldIn) (void)u.key->file->Insert(Bytes(u.oldValue), record);
      }
      return err;
    }
  }
  return 0;
}

Code DatKeys::Remove(uint32_t record, const char* image) {
  std::vector<std::pair<Key*, std::string>> done;
  for (Key& k : keys_) {
    if (!k.file || k.index) continue;
    if (k.layout.opt() && k.layout.IsBlank(image)) continue;
    std::string value = k.layout.Encode(image);
    Code err = k.file->Remove(Bytes(value), record);
    if (err == kErrRecordNotFound) continue;  // the entry was missing already
    if (err) {
      // The entries taken out go back; the removal's failure is the one reported.
      for (auto& [key, v] : done) (void)key->file->Insert(Bytes(v), record);
      return err;
    }
    done.emplace_back(&k, std::move(value));
  }
  return 0;
}

// ---- Keyed sequences -----------------------------------------------------------------------

void DatKeys::EndSequence() {
  seq_ = -1;
  pending_ = Pending::kNone;
}

Code DatKeys::SetKey(int key) {
  Code err = Use(key);
  if (err) return err;
  seq_ = static_cast<int>(Find(key) - keys_.data());
  pending_ = Pending::kStart;
  return 0;
}

Code DatKeys::SetKeyKey(int key, const char* image) {
  Code err = Use(key);
  if (err) return err;
  Key* k = Find(key);
  seq_ = static_cast<int>(k - keys_.data());
  pendingValue_ = k->layout.Encode(image);
  pending_ = Pending::kValue;
  return 0;
}

Code DatKeys::SetKeyPtr(int key, uint32_t record, const char* image) {
  Code err = Use(key);
  if (err) return err;
  Key* k = Find(key);
  seq_ = static_cast<int>(k - keys_.data());
  pendingValue_ = k->layout.Encode(image);
  pendingRecord_ = record;
  pending_ = Pending::kEntry;
  return 0;
}

Code DatKeys::ResetKey(int key, const std::string& position) {
  Code err = Use(key);
  if (err) return err;
  Key* k = Find(key);
  if (position.size() != k->layout.key_length() + 4) return kErrInvalidParameters;
  seq_ = static_cast<int>(k - keys_.data());
  pendingValue_ = position.substr(0, k->layout.key_length());
  pendingRecord_ = Get32(Bytes(position) + k->layout.key_length());
  pending_ = Pending::kEntry;
  return 0;
}

Code DatKeys::Step(bool forward, uint32_t* recno, uint32_t* ahead) {
  *recno = *ahead = 0;
  if (seq_ < 0) return kErrRecordNotAvailable;
  Key& k = keys_[static_cast<size_t>(seq_)];
  if (!k.file) return kErrFileNotOpen;
  KeyFile& kf = *k.file;
  Code err = 0;
  SearchResult where;
  const unsigned char* value = Bytes(pendingValue_);
  switch (pending_) {
    case Pending::kNone:
      break;
    case Pending::kStart:
      forward ? kf.SetToStart() : kf.SetToEnd();
      break;
    case Pending::kValue:
      // NEXT yields the first entry not below the value, PREVIOUS the last not above it.
      err = kf.Seek(value, forward ? 0 : kLastRecord, &where);
      break;
    case Pending::kEntry:
      // Both directions yield the record itself first.
      err = kf.Seek(value, forward || pendingRecord_ == kLastRecord ? pendingRecord_
                                                                     : pendingRecord_ + 1,
                    &where);
      break;
  }
  pending_ = Pending::kNone;
  if (err) return err;
  err = forward ? kf.Next() : kf.Previous();
  if (err) return err;
  err = kf.Current(nullptr, recno);
  if (err) return err;
  *ahead = kf.PeekRecno(forward);
  return 0;
}

Code DatKeys::Position(int key, const char* image, uint32_t record, std::string* position) {
  Code err = Use(key);
  if (err) return err;
  *position = Find(key)->layout.Encode(image) + FromNumber(record);
  return 0;
}

Code DatKeys::RecordOf(int key, const std::string& position, uint32_t* record) {
  Code err = Use(key);
  if (err) return err;
  const KeyLayout& layout = Find(key)->layout;
  if (position.size() != layout.key_length() + 4) return kErrInvalidParameters;
  *record = Get32(Bytes(position) + layout.key_length());
  return 0;
}

Code DatKeys::Lookup(int key, const char* image, bool* found, uint32_t* record) {
  Code err = Use(key);
  if (err) return err;
  Key* k = Find(key);
  return k->file->Lookup(Bytes(k->layout.Encode(image)), found, record);
}

Code DatKeys::Entries(int key, int64_t* count) {
  Code err = Use(key);
  if (err) return err;
  uint32_t n = 0;
  err = Find(key)->file->Entries(&n);
  *count = n;
  return err;
}

Code DatKeys::Duplicate(int key, const char* image, uint32_t self, bool* duplicate) {
  *duplicate = false;
  if (key == 0) {
    Code err = CheckUnique(image, self);
    *duplicate = err == kErrDuplicateKey;
    return err == kErrDuplicateKey ? Code(0) : err;
  }
  Code err = Use(key);
  if (err) return err;
  Key* k = Find(key);
  if (k->layout.dup() || (k->layout.opt() && k->layout.IsBlank(image))) return 0;
  bool found = false;
  uint32_t recno = 0;
  err = k->file->Lookup(Bytes(k->layout.Encode(image)), &found, &recno);
  *duplicate = found && recno != self;
  return err;
}

// ---- BUILD ---------------------------------------------------------------------------------

namespace {

// Sorts the entries of a group's keys on a thread of its own, the second key on, one after
// another, while the caller writes the keys already sorted: the writes keep their order and
// their thread, and the sorting of one key overlaps the writing of the one before. The first
// key is left to the caller, who has nothing to write before it.
class SortAhead {
 public:
  explicit SortAhead(std::vector<KeyBuilder>& builders) : orders_(builders.size()) {
    if (builders.size() < 2 || std::thread::hardware_concurrency() < 2) return;
    ready_.assign(builders.size(), false);
    thread_ = std::thread([this, &builders] {
      for (size_t b = 1; b < builders.size(); ++b) {
        std::vector<uint32_t> order;
        try {
          order = builders[b].Sort();
        } catch (...) {
          order.clear();  // the caller sorts it again, and meets the failure itself
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (stop_) return;
        orders_[b].swap(order);
        ready_[b] = !orders_[b].empty() || builders[b].size() == 0;
        done_ = b;
        changed_.notify_all();
      }
    });
  }
  SortAhead(const SortAhead&) = delete;
  SortAhead& operator=(const SortAhead&) = delete;
  ~SortAhead() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    thread_.join();
  }

  // Moves the sorted order of key b into *order and says true; false when the caller is to
  // sort it.
  bool Take(size_t b, std::vector<uint32_t>* order) {
    if (b == 0 || !thread_.joinable()) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return done_ >= b; });
    if (!ready_[b]) return false;
    order->swap(orders_[b]);
    return true;
  }

 private:
  std::vector<std::vector<uint32_t>> orders_;
  std::vector<bool> ready_;
  size_t done_ = 0;  // the last key sorted
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
};

}  // namespace

Code DatKeys::Build(int key, uint64_t liveRecords, const std::string& dataPath, unsigned mode,
                    bool shared, bool streaming, const std::string& reportPath,
                    const Records& records,
                    const std::function<std::string(uint32_t, const KeyLayout&)>& describe) {
  mode_ = mode;
  std::vector<size_t> which;
  for (size_t i = 0; i < keys_.size(); ++i)
    if (key == 0 || static_cast<int>(keys_[i].decl) + 1 == key) which.push_back(i);
  if (key != 0 && which.empty()) return kErrInvalidKeyFile;
  EndSequence();
  // Keys are built in groups whose entries fit a memory budget, one data file pass per group:
  // the data file is far larger than the keys, so it is read once per group, not once per key.
  const uint64_t kBudget = 64u << 20;
  for (size_t at = 0; at < which.size();) {
    std::vector<size_t> group;
    uint64_t bytes = 0;
    while (at < which.size()) {
      uint64_t need = liveRecords * (keys_[which[at]].layout.key_length() + 4u);
      if (!group.empty() && bytes + need > kBudget) break;
      bytes += need;
      group.push_back(which[at++]);
    }
    std::vector<KeyBuilder> builders;
    for (size_t i : group) {
      builders.emplace_back(keys_[i].layout.key_length());
      builders.back().Reserve(liveRecords);
    }
    std::vector<unsigned char> value;
    Code err = records(group, [&](uint32_t record, const char* image) {
      for (size_t b = 0; b < group.size(); ++b) {
        const KeyLayout& l = keys_[group[b]].layout;
        if (l.opt() && l.IsBlank(image)) continue;
        value.resize(l.key_length());
        l.Encode(image, value.data());
        builders[b].Add(value.data(), record);
      }
    });
    if (err) return err;
    SortAhead ahead(builders);
    for (size_t b = 0; b < group.size(); ++b) {
      std::vector<uint32_t> order;
      const bool sorted = ahead.Take(b, &order);
      Key& k = keys_[group[b]];
      k.path = KeyFileName(dataPath, static_cast<int>(group[b] + 1), k.index);
      if (k.file) err = Journal::Instance().Leave(k.file->stream());
      k.file.reset();
      if (err) return err;
      auto kf = std::make_unique<KeyFile>();
      err = kf->Create(k.path, k.layout.shape(), /*empty=*/false);
      if (!err)
        err = kf->Build(builders[b], reportPath,
                        [&](uint32_t record) { return describe(record, k.layout); },
                        sorted ? &order : nullptr);
      builders[b] = KeyBuilder(0);  // its entries are on disk now
      if (err) return err;
      kf->set_shared(shared);
      kf->set_flush_headers(!streaming);
      k.file = std::move(kf);
    }
  }
  return 0;
}

// ---- Verification --------------------------------------------------------------------------

void DatKeys::Expect(uint32_t record, const char* image,
                     std::vector<std::vector<std::pair<std::string, uint32_t>>>* expected) const {
  expected->resize(keys_.size());
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i].index) continue;
    const KeyLayout& l = keys_[i].layout;
    if (l.opt() && l.IsBlank(image)) continue;
    (*expected)[i].emplace_back(l.Encode(image), record);
  }
}

Code DatKeys::Check(std::vector<std::vector<std::pair<std::string, uint32_t>>>& expected,
                    const FileDescriptor& file, std::string* fault) {
  expected.resize(keys_.size());
  EndSequence();
  for (size_t i = 0; i < keys_.size(); ++i) {
    Key& k = keys_[i];
    if (!k.file) continue;
    const std::string& label = file.keys[k.decl].label;
    std::string why;
    Code err = k.file->Check(&why);
    if (err) {
      *fault = "key " + label + ": " + why;
      return err;
    }
    auto& want = expected[i];
    std::sort(want.begin(), want.end());
    k.file->SetToStart();
    size_t at = 0;
    std::string value;
    uint32_t recno = 0;
    while ((err = k.file->Next()) == 0 && (err = k.file->Current(&value, &recno)) == 0) {
      if (at >= want.size() || want[at].first != value || want[at].second != recno) {
        *fault = "key " + label + ": entry " + std::to_string(at + 1) + " (record " +
                 std::to_string(recno) + ") disagrees with the data file";
        return kErrKeyRebuild;
      }
      ++at;
    }
    if (err != kErrRecordNotAvailable) {
      *fault = "key " + label + ": walk failed";
      return err;
    }
    if (at != want.size()) {
      *fault = "key " + label + ": " + std::to_string(want.size() - at) +
               " record(s) missing from the key";
      return kErrKeyRebuild;
    }
  }
  return 0;
}

}  // namespace korawin::storage::dat
