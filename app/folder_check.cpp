// The verification of a database folder behind `korawin1-db check`: every data file is read
// directly, not through the driver, so that a fault that would make OPEN refuse the file does
// not hide the others. Nothing is changed.
#include "app/folder_check.h"

#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "storage/dat/dat_check.h"
#include "storage/dat/dat_file.h"
#include "storage/dat/dat_header.h"
#include "storage/dat/journal.h"
#include "storage/dat/key_codec.h"
#include "storage/dat/key_file.h"
#include "storage/dat/memo_file.h"

namespace korawin::app {

namespace {

using namespace storage;
using namespace storage::dat;

// Beyond this many findings about one key the rest are only counted.
constexpr size_t kMaxKeyFindings = 10;

struct Entry {
  std::string value;
  uint32_t record;
  bool operator<(const Entry& o) const {
    return value != o.value ? value < o.value : record < o.record;
  }
  bool operator==(const Entry& o) const { return value == o.value && record == o.record; }
};

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// What differs between the stored layout and the declared one, in words.
std::string LayoutDifference(const DatLayout& disk, const DatLayout& decl) {
  const DatHeader& a = disk.header;
  const DatHeader& b = decl.header;
  if (a.recordLength != b.recordLength)
    return "record length " + std::to_string(a.recordLength) + ", declared " +
           std::to_string(b.recordLength);
  if (disk.fields.size() != decl.fields.size())
    return std::to_string(disk.fields.size()) + " fields, declared " +
           std::to_string(decl.fields.size());
  if (disk.keys.size() != decl.keys.size())
    return std::to_string(disk.keys.size()) + " keys, declared " + std::to_string(decl.keys.size());
  if ((a.attributes & kAttrMemo) != (b.attributes & kAttrMemo) || a.memoLength != b.memoLength)
    return "memo of " + std::to_string(a.memoLength) + " bytes, declared " +
           std::to_string(b.memoLength);
  for (size_t i = 0; i < disk.fields.size(); ++i)
    if (!EqualNoCase(disk.fields[i].name, decl.fields[i].name))
      return "field " + std::to_string(i + 1) + " is named '" +
             platform::Cp1251ToUtf8(disk.fields[i].name) + "', declared '" +
             platform::Cp1251ToUtf8(decl.fields[i].name) + "'";
  for (size_t i = 0; i < disk.keys.size(); ++i) {
    const KeyDesc& x = disk.keys[i];
    const KeyDesc& y = decl.keys[i];
    if (!EqualNoCase(x.name, y.name) || x.flags != y.flags || x.length != y.length ||
        x.components.size() != y.components.size())
      return "key " + std::to_string(i + 1) + " differs from its declaration";
  }
  return "ownership, encryption or a key component differs from the declaration";
}

class FileChecker {
 public:
  FileChecker(FolderFile& file, std::vector<std::string>* problems)
      : file_(file), fd_(file.decl.fd()), problems_(problems) {}

  void Run() {
    int err = stream_.Open(file_.path, kOpenReadOnly | kShareDenyNone);
    if (err) return Problem("cannot be opened: " + ErrorWords(err));
    err = ReadLayout(stream_, &layout_);
    if (err) return Problem("the header or the descriptions after it are malformed");
    if (file_.lexicon) {
      DatLayout declared;
      err = LayoutFromDeclaration(fd_, &declared);
      if (!err && CompareLayouts(layout_, declared) != 0)
        return Problem("the descriptions differ from the declaration: " +
                       LayoutDifference(layout_, declared));
    }
    const DatHeader& h = layout_.header;
    if (h.recordLength != fd_.recordSize + kRecordPrefixSize)
      return Problem("record length " + std::to_string(h.recordLength) + " does not fit its fields");
    records_ = h.records;
    uint64_t end = h.dataOffset + static_cast<uint64_t>(h.records) * h.recordLength;
    if (end > stream_.Size()) {
      records_ = static_cast<uint32_t>((stream_.Size() - std::min<uint64_t>(stream_.Size(), h.dataOffset)) /
                                       h.recordLength);
      Problem("the header counts " + std::to_string(h.records) + " records but the file holds " +
              std::to_string(records_));
    }
    std::string fault;
    if (CheckDeletedChain(stream_, h, &fault)) Problem("deleted chain: " + fault);
    if (!ReadRecords()) return;
    CheckKeys();
    CheckMemo();
  }

 private:
  void Problem(const std::string& text) { problems_->push_back(file_.path + ": " + text); }

  // Reads every record; the live ones become the key entries they should have.
  bool ReadRecords() {
    const DatHeader& h = layout_.header;
    layouts_.resize(fd_.keys.size());
    expected_.resize(fd_.keys.size());
    for (size_t k = 0; k < fd_.keys.size(); ++k) {
      if (fd_.keys[k].attributes & kKeyNotStored) continue;
      int err = layouts_[k].Init(fd_, k);
      if (err) {
        Problem("key " + fd_.keys[k].label + " cannot be laid out: " + ErrorWords(err));
        return false;
      }
    }
    std::vector<unsigned char> raw(h.recordLength);
    uint32_t markedDeleted = 0;
    for (uint32_t n = 1; n <= records_; ++n) {
      uint64_t pos = h.dataOffset + static_cast<uint64_t>(n - 1) * h.recordLength;
      if (stream_.Read(pos, raw.data(), raw.size(), kErrInvalidDataFile)) {
        Problem("record " + std::to_string(n) + " cannot be read");
        return false;
      }
      if (raw[0] & kStatusDeleted) {
        ++markedDeleted;
        continue;
      }
      live_.insert(n);
      uint32_t link = raw[1] | raw[2] << 8 | raw[3] << 16 | static_cast<uint32_t>(raw[4]) << 24;
      owners_.push_back({n, link});
      std::vector<char> img(raw.begin() + kRecordPrefixSize, raw.end());
      if (fd_.attributes & kFileOem) ToAnsi(img.data());
      for (size_t k = 0; k < fd_.keys.size(); ++k) {
        if (fd_.keys[k].attributes & (kKeyNotStored | kKeyIndex)) continue;
        const KeyLayout& l = layouts_[k];
        if (l.opt() && l.IsBlank(img.data())) continue;
        expected_[k].push_back({l.Encode(img.data()), n});
      }
      texts_[n] = std::move(img);
    }
    if (markedDeleted != h.deleted)
      Problem(std::to_string(markedDeleted) + " records are marked deleted but the header counts " +
              std::to_string(h.deleted));
    return true;
  }

  // An OEM file stores its text fields in code page 866; keys are built from the ANSI form.
  void ToAnsi(char* img) const {
    std::vector<bool> done(fd_.recordSize, false);
    for (const FieldDescriptor& f : fd_.fields) {
      if (f.type != kTypeString && f.type != kTypeCString && f.type != kTypePString) continue;
      for (uint32_t b = f.offset; b < f.offset + f.size && b < fd_.recordSize; ++b)
        if (!done[b]) {
          done[b] = true;
          platform::OemToAnsiInPlace(img + b, 1);
        }
    }
  }

  std::string Describe(size_t key, uint32_t record) {
    auto it = texts_.find(record);
    if (it == texts_.end()) return "?";
    return platform::Cp1251ToUtf8(layouts_[key].Describe(it->second.data()));
  }

  void CheckKeys() {
    int number = 0;
    for (size_t k = 0; k < fd_.keys.size(); ++k) {
      const KeyDescriptor& kd = fd_.keys[k];
      if (kd.attributes & kKeyNotStored) continue;
      ++number;
      if (kd.attributes & kKeyIndex) continue;  // an index is built when it is used
      std::string path = platform::ResolveExisting(KeyFileName(file_.path, number, false));
      std::string label = "key " + kd.label + " (" + platform::BaseName(path) + ")";
      if (!Exists(path)) {
        Problem(label + ": the key file is missing");
        continue;
      }
      KeyFile kf;
      int err = kf.Open(path, kOpenReadOnly | kShareDenyNone, layouts_[k].shape(), -1);
      if (err == kErrKeyRebuild) {
        Problem(label + ": the header does not match the key or the root page cannot be read");
        continue;
      }
      if (err) {
        Problem(label + ": cannot be opened: " + ErrorWords(err));
        continue;
      }
      std::string why;
      if (kf.Check(&why)) {
        Problem(label + ": " + why);
        continue;  // a broken tree can't be compared with the data
      }
      CompareEntries(k, label, kf);
    }
  }

  void CompareEntries(size_t k, const std::string& label, KeyFile& kf) {
    std::vector<Entry> actual;
    kf.SetToStart();
    int err;
    std::string value;
    uint32_t recno = 0;
    while ((err = kf.Next()) == 0 && (err = kf.Current(&value, &recno)) == 0)
      actual.push_back({value, recno});
    if (err != kErrRecordNotAvailable) {
      Problem(label + ": the walk along the leaves stops: " + ErrorWords(err));
      return;
    }
    std::vector<std::string> findings;
    auto find = [&](std::string text) { findings.push_back(label + ": " + std::move(text)); };
    if (kf.header().entries != actual.size())
      find("the header counts " + std::to_string(kf.header().entries) + " entries, the leaves hold " +
           std::to_string(actual.size()));
    for (size_t i = 1; i < actual.size(); ++i)
      if (!(actual[i - 1] < actual[i]))
        find("entry " + std::to_string(i + 1) + " (record " + std::to_string(actual[i].record) +
             ") is out of order under the current collation");
    const bool unique = !layouts_[k].dup();
    std::vector<Entry> sorted = actual;
    std::sort(sorted.begin(), sorted.end());
    std::vector<Entry>& want = expected_[k];
    std::sort(want.begin(), want.end());
    if (unique) {
      for (size_t i = 1; i < sorted.size(); ++i)
        if (sorted[i].value == sorted[i - 1].value)
          find("records " + std::to_string(sorted[i - 1].record) + " and " +
               std::to_string(sorted[i].record) + " share the value '" +
               Describe(k, sorted[i].record) + "' in a key without duplicates");
    }
    // Entries no record accounts for, and records without their entry.
    std::map<uint32_t, int> seen;
    for (const Entry& e : sorted) ++seen[e.record];
    size_t i = 0, j = 0;
    while (i < sorted.size() || j < want.size()) {
      if (j >= want.size() || (i < sorted.size() && sorted[i] < want[j])) {
        const Entry& e = sorted[i++];
        if (!live_.count(e.record))
          find("an entry names record " + std::to_string(e.record) +
               (e.record > records_ || e.record == 0 ? ", which does not exist"
                                                     : ", which is deleted"));
        else if (seen[e.record] > 1)
          find("record " + std::to_string(e.record) + " has more than one entry");
        else
          find("the entry of record " + std::to_string(e.record) +
               " does not hold its value '" + Describe(k, e.record) +
               "' as the current collation encodes it");
      } else if (i >= sorted.size() || want[j] < sorted[i]) {
        const Entry& e = want[j++];
        if (!seen.count(e.record))
          find("record " + std::to_string(e.record) + " ('" + Describe(k, e.record) +
               "') is missing from the key");
      } else {
        ++i;
        ++j;
      }
    }
    for (size_t f = 0; f < findings.size() && f < kMaxKeyFindings; ++f) problems_->push_back(file_.path + ": " + findings[f]);
    if (findings.size() > kMaxKeyFindings)
      Problem(label + ": and " + std::to_string(findings.size() - kMaxKeyFindings) +
              " more problems");
  }

  void CheckMemo() {
    if (fd_.memos.empty() && !(layout_.header.attributes & kAttrMemo)) return;
    std::string path = platform::ResolveExisting(MemoFileName(file_.path));
    if (!Exists(path)) {
      Problem("the memo file " + platform::BaseName(path) + " is missing");
      return;
    }
    MemoFile memo;
    int err = memo.Open(path, kOpenReadOnly | kShareDenyNone);
    if (err) {
      Problem("memo file " + platform::BaseName(path) + ": " + (memo.fault().empty() ? ErrorWords(err) : memo.fault()) +
              (err == kErrInvalidMemoFile ? " (wrong signature)" : ""));
      return;
    }
    MemoCheckResult result;
    err = memo.Check(owners_, &result);
    if (err)
      Problem("memo file " + platform::BaseName(path) + ": " +
              (result.fault.empty() ? ErrorWords(err) : result.fault));
  }

  FolderFile& file_;
  FileDescriptor& fd_;
  std::vector<std::string>* problems_;
  DatStream stream_;
  DatLayout layout_;
  uint32_t records_ = 0;
  std::vector<KeyLayout> layouts_;
  std::vector<std::vector<Entry>> expected_;
  std::set<uint32_t> live_;
  std::map<uint32_t, std::vector<char>> texts_;
  std::vector<MemoOwner> owners_;
};

}  // namespace

std::vector<std::string> CheckFolderFile(FolderFile& file) {
  std::vector<std::string> problems;
  FileChecker(file, &problems).Run();
  return problems;
}

PendingWords DescribePendingTransaction(const std::string& dataPath) {
  using State = PendingTransaction::State;
  PendingTransaction t = InspectInterrupted(dataPath);
  PendingWords w;
  switch (t.state) {
    case State::kNone:
      break;
    case State::kRunning:
      w.text = "a transaction of a running program is writing it (journal " + t.journal + ")";
      w.final = false;
      break;
    case State::kEnded:
      w.text = "the marker of a transaction that ended is left (its journal " + t.journal +
               " is gone); the next open removes it";
      break;
    case State::kUnreadable:
      w.text = "its marker names a transaction that the next open cannot roll back: " +
               ErrorWords(t.code);
      w.fault = true;
      break;
    case State::kInterrupted: {
      w.text = "an interrupted transaction (journal " + t.journal +
               "): the next open rolls it back";
      w.final = false;
      std::string undo;
      for (const PendingTransaction::File& f : t.files) {
        std::string what;
        if (f.cutTo != UINT64_MAX) what = "cut back to " + std::to_string(f.cutTo) + " bytes";
        if (f.ranges) {
          if (!what.empty()) what += ", ";
          what += std::to_string(f.ranges);
          what += f.ranges == 1 ? " range (" : " ranges (";
          what += std::to_string(f.bytes);
          what += " bytes) restored";
        }
        if (what.empty()) continue;
        undo += undo.empty() ? ": " : "; ";
        undo += platform::BaseName(f.path);
        undo += ' ';
        undo += what;
      }
      w.text += undo.empty() ? ", which changes nothing" : undo;
      break;
    }
  }
  return w;
}

int CheckFolder(const std::string& dir, std::vector<std::string>* problems, int* files,
                std::vector<std::string>* waiting) {
  std::vector<FolderFile> found;
  int err = FolderFiles(dir, &found, problems);
  if (err) return err;
  *files = static_cast<int>(found.size()) + static_cast<int>(problems->size());
  for (FolderFile& f : found) {
    PendingWords pending = DescribePendingTransaction(f.path);
    if (pending.fault) problems->push_back(f.path + ": " + pending.text);
    if (!pending.final) {
      // What the rollback will undo is no damage: the file is verified once it is done.
      if (waiting) waiting->push_back(f.path + ": not checked: " + pending.text);
      continue;
    }
    std::vector<std::string> p = CheckFolderFile(f);
    problems->insert(problems->end(), p.begin(), p.end());
  }
  return 0;
}

}  // namespace korawin::app
