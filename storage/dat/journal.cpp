#include "storage/dat/journal.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>

#include "platform/paths.h"
#include "platform/profile.h"
#include "storage/dat/halt.h"
#include "storage/driver.h"

namespace korawin::storage::dat {

namespace {

// A kept write grows by the writes that extend it up to this size; past it, one that only
// continues it starts a kept write of its own. Records appended one by one would otherwise
// make one string the size of the bound, doubled by its growth and copied at each doubling.
constexpr size_t kKeptRunBytes = 1u << 20;

constexpr size_t kHeadSize = 8;
constexpr size_t kTrailerSize = 8;
constexpr size_t kEntryOverhead = kHeadSize + kTrailerSize;
constexpr size_t kRegistrationMin = 83;
constexpr size_t kMarkerPathSize = 79;
constexpr size_t kMaxEntry = 0xFFFF;
constexpr size_t kCopyPiece = 2048;

// Eight tables: the CRC of a byte followed by 0 to 7 zero bytes, so that eight bytes are taken
// at a time (the journal checks every byte it saves).
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;
constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    t[0][i] = crc;
  }
  for (uint32_t i = 0; i < 256; ++i)
    for (size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}
constexpr CrcTables kCrc = MakeCrcTables();

// CRC-32 (reflected 0xEDB88320) continued over n more bytes; start and finish with ~0.
uint32_t Crc32(uint32_t crc, const void* data, size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (; n >= 8; n -= 8, p += 8) {
    uint32_t lo = crc ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                         uint32_t{p[3]} << 24);
    crc = kCrc[7][lo & 0xFF] ^ kCrc[6][(lo >> 8) & 0xFF] ^ kCrc[5][(lo >> 16) & 0xFF] ^
          kCrc[4][lo >> 24] ^ kCrc[3][p[4]] ^ kCrc[2][p[5]] ^ kCrc[1][p[6]] ^ kCrc[0][p[7]];
  }
  for (; n > 0; --n, ++p) crc = (crc >> 8) ^ kCrc[0][(crc ^ *p) & 0xFF];
  return crc;
}

// The check of an entry at offset whose head (without check), body and trailer are given.
uint32_t EntryCheck(uint64_t offset, const unsigned char* head, const char* body, size_t n,
                    const unsigned char* trailer) {
  unsigned char where[8];
  Put32(where, static_cast<uint32_t>(offset));
  Put32(where + 4, static_cast<uint32_t>(offset >> 32));
  uint32_t crc = Crc32(0xFFFFFFFFu, where, sizeof where);
  crc = Crc32(crc, head, 4);
  crc = Crc32(crc, body, n);
  crc = Crc32(crc, trailer, kTrailerSize);
  return ~crc;
}

std::string Registration(uint16_t number, const std::string& path, const std::string& marker) {
  std::string r(5, '\0');
  unsigned char* p = reinterpret_cast<unsigned char*>(r.data());
  Put16(p, number);
  p[2] = 0;  // flags: none defined yet
  Put16(p + 3, static_cast<uint16_t>(path.size()));
  r += path;
  unsigned char len[2];
  Put16(len, static_cast<uint16_t>(marker.size()));
  r.append(reinterpret_cast<char*>(len), 2);
  r += marker;
  if (r.size() < kRegistrationMin) r.resize(kRegistrationMin, '\0');
  return r;
}

struct Registered {
  std::string path;
  std::string marker;
};

bool ParseRegistration(const std::string& r, uint16_t* number, Registered* out) {
  if (r.size() < 7) return false;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(r.data());
  *number = Get16(p);
  size_t pathLen = Get16(p + 3);
  if (5 + pathLen + 2 > r.size()) return false;
  out->path = r.substr(5, pathLen);
  size_t markerLen = Get16(p + 5 + pathLen);
  if (7 + pathLen + markerLen > r.size()) return false;
  out->marker = r.substr(7 + pathLen, markerLen);
  return *number != 0 && !out->path.empty();
}

int ReadExact(platform::File& f, uint64_t pos, void* buf, size_t n) {
  size_t got = 0;
  int err = f.ReadAt(pos, buf, n, &got);
  return err ? err : (got == n ? 0 : kErrReadFault);
}

struct Entry {
  uint64_t body = 0;  // offset of the entry's bytes in the journal
  uint32_t at = 0;
  uint16_t length = 0;
  uint16_t number = 0;
};

// Reads the entries of the first size bytes of a journal, in order, up to the first one that
// is incomplete or fails its check: the tail of an append that a crash cut short. *validEnd
// receives where that tail starts. 65 when the journal cannot be read.
int ScanJournal(platform::File& journal, uint64_t size, std::vector<Entry>* entries,
                uint64_t* validEnd) {
  entries->clear();
  uint64_t pos = 0;
  std::string body;
  while (size - pos >= kEntryOverhead) {
    unsigned char head[kHeadSize];
    if (ReadExact(journal, pos, head, kHeadSize)) return kErrUnableToRollback;
    size_t length = Get16(head);
    if (Get16(head + 2) != 0 || size - pos - kEntryOverhead < length) break;
    body.resize(length);
    unsigned char trailer[kTrailerSize];
    if (ReadExact(journal, pos + kHeadSize, body.data(), length) ||
        ReadExact(journal, pos + kHeadSize + length, trailer, kTrailerSize))
      return kErrUnableToRollback;
    if (Get16(trailer + 4) != length ||
        Get32(head + 4) != EntryCheck(pos, head, body.data(), length, trailer))
      break;
    entries->push_back({pos + kHeadSize, Get32(trailer), static_cast<uint16_t>(length),
                        Get16(trailer + 6)});
    pos += kEntryOverhead + length;
  }
  *validEnd = pos;
  return 0;
}

// Copies length journal bytes at from back into file at position at.
int CopyBack(platform::File& journal, uint64_t from, platform::File& file, uint64_t at,
             size_t length) {
  char buf[kCopyPiece];
  size_t done = 0;
  while (done < length) {
    size_t n = std::min(kCopyPiece, length - done);
    if (ReadExact(journal, from + done, buf, n)) return kErrUnableToRollback;
    if (file.WriteAt(at + done, buf, n)) return kErrUnableToRollback;
    done += n;
  }
  return 0;
}

// Undoes the entries from the last to the first and flushes the files it changed. The
// journal itself is not cut on the way: replaying the whole of it again after a crash in the
// middle gives the same files. fileOf(number) gives the file, nullptr when it has none. 65
// when a file is unknown or a copy, cut or flush fails.
template <typename FileOf>
int Replay(platform::File& journal, const std::vector<Entry>& entries, FileOf fileOf) {
  std::vector<platform::File*> touched;
  for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
    if (e->number == 0) continue;
    platform::File* f = fileOf(e->number);
    if (!f) return kErrUnableToRollback;
    int err = e->length == 0 ? (f->Truncate(e->at) ? kErrUnableToRollback : 0)
                             : CopyBack(journal, e->body, *f, e->at, e->length);
    if (err) return err;
    if (std::find(touched.begin(), touched.end(), f) == touched.end()) touched.push_back(f);
  }
  for (platform::File* f : touched)
    if (f->Sync()) return kErrUnableToRollback;
  return 0;
}

// The journal a marker names: 56 when the marker cannot be opened, 65 when it is short or
// names something that is no journal of this driver (those are "*.TR$").
int JournalNamedBy(const std::string& markerPath, std::string* journal) {
  platform::File marker;
  if (marker.Open(markerPath, platform::Access::kRead, platform::Share::kDenyNone) != 0)
    return kErrLogoutActive;
  std::string text(4096, '\0');
  size_t got = 0;
  if (marker.ReadAt(0, text.data(), text.size(), &got) != 0 || got < kMarkerPathSize)
    return kErrUnableToRollback;
  text.resize(got);
  text.resize(std::strlen(text.c_str()));
  if (platform::Extension(text) != ".TR$") return kErrUnableToRollback;
  *journal = std::move(text);
  return 0;
}

int SyncCode(int systemError) {
  if (systemError == platform::kErrWriteFault) return kErrWriteFault;
  return DriverCodeFromSystem(systemError);
}

}  // namespace

std::string EncodeJournalEntry(uint64_t offset, uint32_t pos, uint16_t number,
                               const std::string& bytes) {
  const uint16_t length = static_cast<uint16_t>(bytes.size());
  unsigned char head[kHeadSize] = {};
  Put16(head, length);
  unsigned char trailer[kTrailerSize];
  Put32(trailer, pos);
  Put16(trailer + 4, length);
  Put16(trailer + 6, number);
  Put32(head + 4, EntryCheck(offset, head, bytes.data(), length, trailer));
  std::string entry(reinterpret_cast<char*>(head), kHeadSize);
  entry.append(bytes, 0, length);
  entry.append(reinterpret_cast<char*>(trailer), kTrailerSize);
  return entry;
}

std::string MarkerPathOf(const std::string& dataPath) {
  return platform::ReplaceExtension(dataPath, ".LOG");
}

Journal& Journal::Instance() {
  static Journal* journal = new Journal();  // lives to the end of the program
  return *journal;
}

bool Journal::active() const {
  std::lock_guard<std::mutex> lock(mu_);
  return journal_.is_open();
}

bool Journal::TakesPart(const DatStream& stream) const {
  std::lock_guard<std::mutex> lock(mu_);
  return journal_.is_open() && Find(stream) != nullptr;
}

bool Journal::Keeps(const DatStream& stream) const {
  std::lock_guard<std::mutex> lock(mu_);
  const Participant* p = Find(stream);
  return p && !p->kept.empty();
}

std::string Journal::path() const {
  std::lock_guard<std::mutex> lock(mu_);
  return journalPath_;
}

void Journal::set_keep_limit(size_t bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  keepLimit_ = bytes;
}

Code Journal::OpenJournalLocked() {
  std::string folder = platform::GetProfileString("VWC21", "VELTMP", "");
  if (folder.empty()) folder = platform::CurrentDirectory();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string path;
  // No folder to put it in: no name can be made (56); any other failure to create it is 48.
  int created = platform::CreateUniqueFile(folder, "VW", ".TR$", platform::Share::kDenyNone,
                                           &journal_, &path);
  if (created == platform::kErrPathNotFound) return kErrLogoutActive;
  if (created != 0) return kErrUnableToLog;
  // Marks the transaction as live for other programs; a platform without locks has no others,
  // and a lock refused leaves them only the marker to go by.
  (void)journal_.TryLock(0, 1);
  journalPath_ = path;
  journalEnd_ = 0;
  journalNamed_ = false;
  broken_ = false;
  nextNumber_ = 1;
  keptBytes_ = 0;
  return 0;
}

Code Journal::Join(DatStream& stream, const std::string& dataPath,
                   std::function<void()> onRollback, std::function<void()> onSettled,
                   std::function<Code()> beforeCommit) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!journal_.is_open()) {
    Code err = OpenJournalLocked();
    if (err) return err;
  }
  if (Find(stream)) return 0;
  Participant p;
  p.number = nextNumber_++;
  p.stream = &stream;
  p.path = stream.path();
  p.dataPath = dataPath;
  p.marker = MarkerPathOf(dataPath);
  p.onRollback = std::move(onRollback);
  p.onSettled = std::move(onSettled);
  p.beforeCommit = std::move(beforeCommit);
  stream.set_journal_number(p.number);
  stream.set_observer(this);
  participants_.push_back(std::move(p));
  return 0;
}

Code Journal::Leave(DatStream& stream) {
  std::vector<std::function<void()>> settled;
  Code err = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    Participant* p = Find(stream);
    if (p && !p->kept.empty()) {
      err = StageLocked();
      settled = SettledLocked();
    }
    if (p) {
      p->stream = nullptr;
      p->onRollback = nullptr;
      p->onSettled = nullptr;
      p->beforeCommit = nullptr;
    }
    stream.set_observer(nullptr);
  }
  for (auto& f : settled) f();
  return err;
}

Journal::Participant* Journal::Find(const DatStream& stream) {
  return const_cast<Participant*>(static_cast<const Journal*>(this)->Find(stream));
}

const Journal::Participant* Journal::Find(const DatStream& stream) const {
  if (stream.journal_number() == 0) return nullptr;
  for (const Participant& p : participants_)
    if (p.stream == &stream && p.number == stream.journal_number()) return &p;
  return nullptr;
}

Code Journal::AppendLocked(const std::string& batch) {
  if (batch.empty()) return 0;
  if (journal_.WriteAt(journalEnd_, batch.data(), batch.size()) != 0 || journal_.Sync() != 0) {
    // Whatever part landed must not stay behind the end where later appends would not reach.
    if (journal_.Truncate(journalEnd_) != 0) broken_ = true;
    return kErrUnableToLog;
  }
  journalEnd_ += batch.size();
  return 0;
}

Code Journal::SaveRangeLocked(Participant& p, uint64_t from, uint64_t to, std::string* batch) {
  std::string buf;
  for (uint64_t at = from; at < to; at += kMaxEntry) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(kMaxEntry, to - at));
    buf.resize(n);
    size_t got = 0;
    // The file's own bytes, not the ones kept for it: those are what a rollback restores.
    if (p.stream->file().ReadAt(at, buf.data(), n, &got) != 0 || got != n) return kErrUnableToLog;
    *batch += EncodeJournalEntry(journalEnd_ + batch->size(), static_cast<uint32_t>(at),
                                 p.number, buf);
  }
  return 0;
}

Code Journal::ProtectLocked(Participant& p, uint64_t pos, uint64_t n, bool cut,
                            std::string* batch,
                            std::vector<std::pair<uint64_t, uint64_t>>* gaps, bool* grew) {
  // Without the file's true size the journal would record a growth where old bytes stand.
  uint64_t end = 0;
  if (p.stream->file().Size(&end) != 0) return kErrUnableToLog;
  uint64_t last = cut ? pos : pos + n;  // the file's end after a cut, the write's end else
  if (last > end && end < p.cutTo && !*grew) {
    *batch += EncodeJournalEntry(journalEnd_ + batch->size(), static_cast<uint32_t>(end),
                                 p.number, std::string());
    *grew = true;
    p.cutTo = end;  // undone by the caller should the batch not reach the journal
  }
  // Bytes at or past cutTo go with the cut; bytes saved before keep their first copy.
  uint64_t saveTo = std::min(cut ? end : std::min(last, end), p.cutTo);
  for (uint64_t at = pos; at < saveTo;) {
    auto next = p.saved.upper_bound(at);
    if (next != p.saved.begin()) {
      auto prev = std::prev(next);
      if (prev->second > at) {  // at lies in a saved range
        at = prev->second;
        continue;
      }
    }
    uint64_t to = next == p.saved.end() ? saveTo : std::min(saveTo, next->first);
    gaps->emplace_back(at, to);
    Code err = SaveRangeLocked(p, at, to, batch);
    if (err) return err;
    at = to;
  }
  return 0;
}

void Journal::RecordSaved(Participant& p, const std::vector<std::pair<uint64_t, uint64_t>>& gaps) {
  for (const auto& [from, to] : gaps) {
    uint64_t a = from, b = to;
    auto it = p.saved.lower_bound(a);
    if (it != p.saved.begin() && std::prev(it)->second >= a) --it;
    while (it != p.saved.end() && it->first <= b) {
      a = std::min(a, it->first);
      b = std::max(b, it->second);
      it = p.saved.erase(it);
    }
    p.saved.emplace(a, b);
  }
}

Code Journal::MakeMarkersLocked(const std::vector<Participant*>& starting) {
  std::vector<std::string> folders;
  for (Participant* p : starting) {
    if (std::find(markers_.begin(), markers_.end(), p->marker) != markers_.end()) continue;
    // The marker appears whole or not at all: written and flushed under another name first.
    std::string temp = platform::ReplaceExtension(p->marker, ".LO$");
    platform::File marker;
    std::string text = journalPath_;
    text.resize(std::max(kMarkerPathSize, text.size() + 1), '\0');
    bool ok = marker.Create(temp, platform::Share::kDenyAll) == 0 &&
              marker.WriteAt(0, text.data(), text.size()) == 0 && marker.Sync() == 0;
    marker.Close();
    ok = ok && platform::RenameFile(temp, p->marker) == 0;
    if (!ok) {
      (void)platform::RemoveFile(temp);  // a temporary name left behind is never read
      Halt("UNABLE TO START LOG");
      return kErrUnableToLog;
    }
    markers_.push_back(p->marker);
    if (std::find(folders.begin(), folders.end(), p->marker) == folders.end())
      folders.push_back(p->marker);
  }
  // One flush of a folder names every marker made in it.
  std::vector<std::string> flushed;
  for (const std::string& marker : folders) {
    std::string folder = marker.substr(0, marker.find_last_of('/') + 1);
    if (std::find(flushed.begin(), flushed.end(), folder) != flushed.end()) continue;
    flushed.push_back(folder);
    if (platform::SyncFolderOf(marker) != 0) {
      Halt("UNABLE TO START LOG");
      return kErrUnableToLog;
    }
  }
  return 0;
}

Code Journal::StageLocked() {
  if (broken_) return kErrUnableToLog;
  std::string batch;
  std::vector<Participant*> starting;
  struct Plan {
    Participant* p;
    std::vector<std::pair<uint64_t, uint64_t>> gaps;
    bool grew = false;
    uint64_t cutToBefore;
  };
  std::vector<Plan> plans;
  for (Participant& p : participants_) {
    if (p.kept.empty()) continue;
    if (!p.stream) return kErrUnableToLog;  // a stream that left keeps nothing (Leave stages)
    Plan plan{&p, {}, false, p.cutTo};
    if (!p.registered) {
      starting.push_back(&p);
      batch += EncodeJournalEntry(journalEnd_ + batch.size(), 0, 0,
                                  Registration(p.number, p.path, p.marker));
    }
    for (const auto& [at, bytes] : p.kept) {
      Code err = ProtectLocked(p, at, bytes.size(), false, &batch, &plan.gaps, &plan.grew);
      if (err) {
        for (Plan& done : plans) done.p->cutTo = done.cutToBefore;
        p.cutTo = plan.cutToBefore;
        return err;
      }
    }
    plans.push_back(std::move(plan));
  }
  if (plans.empty()) return 0;
  // The markers, the journal's name and the undo of every kept write are on disk before the
  // first of those writes reaches a file. Markers come first: recovery refuses a journal that
  // registers a file whose marker does not name it.
  Code err = MakeMarkersLocked(starting);
  if (!err && !journalNamed_) {
    err = platform::SyncFolderOf(journalPath_) == 0 ? Code(0) : Code(kErrUnableToLog);
    if (!err) journalNamed_ = true;
  }
  if (!err) err = AppendLocked(batch);
  if (err) {
    for (Plan& plan : plans) plan.p->cutTo = plan.cutToBefore;
    return err;
  }
  for (Plan& plan : plans) {
    plan.p->registered = true;
    RecordSaved(*plan.p, plan.gaps);
  }
  for (Plan& plan : plans) {
    Participant& p = *plan.p;
    for (const auto& [at, bytes] : p.kept) {
      int w = p.stream->file().WriteAt(at, bytes.data(), bytes.size());
      if (w) {
        // What went out is undone by the journal; what is still kept goes with the rollback.
        p.kept.clear();
        RecountLocked();
        return w == platform::kErrWriteFault ? Code(kErrWriteFault) : DriverCodeFromSystem(w);
      }
    }
    p.kept.clear();
  }
  keptBytes_ = 0;
  return 0;
}

Code Journal::Write(DatStream& stream, uint64_t pos, const void* bytes, size_t n, bool* taken) {
  *taken = false;
  std::vector<std::function<void()>> settled;
  Code err = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    Participant* p = journal_.is_open() ? Find(stream) : nullptr;
    if (!p) return 0;
    if (broken_) return kErrUnableToLog;
    *taken = true;
    // Kept in memory, merged with the writes it meets, until its undo is in the journal.
    const char* src = static_cast<const char*>(bytes);
    const uint64_t from = pos, to = pos + n;
    // Kept writes the new one overlaps join it; one it only touches joins while short.
    auto joins = [](uint64_t at, const std::string& k, uint64_t end) {
      return at + k.size() > end || (at + k.size() == end && k.size() < kKeptRunBytes);
    };
    auto it = p->kept.upper_bound(from);
    if (it != p->kept.begin() && joins(std::prev(it)->first, std::prev(it)->second, from)) --it;
    if (it == p->kept.end() || it->first > from) it = p->kept.emplace_hint(it, from, std::string());
    // The kept write that now starts at or before the new one grows in place to take it.
    std::string& kept = it->second;
    const uint64_t start = it->first;
    const size_t before = kept.size();
    if (to - start > kept.size()) kept.resize(static_cast<size_t>(to - start));
    std::memcpy(kept.data() + (from - start), src, n);
    keptBytes_ += kept.size() - before;
    // Those it now reaches (or touches, while short) become part of it, their bytes past it kept.
    for (auto next = std::next(it); next != p->kept.end() && joins(start, kept, next->first);) {
      const uint64_t end = start + kept.size();
      const uint64_t nextEnd = next->first + next->second.size();
      if (nextEnd > end) {
        kept.append(next->second, static_cast<size_t>(end - next->first), std::string::npos);
        keptBytes_ += static_cast<size_t>(nextEnd - end);
      }
      keptBytes_ -= next->second.size();
      next = p->kept.erase(next);
    }
    if (keptBytes_ <= keepLimit_) return 0;
    // A large transaction goes to the files in stages.
    err = StageLocked();
    settled = SettledLocked();
  }
  for (auto& f : settled) f();
  return err;
}

void Journal::Overlay(const DatStream& stream, uint64_t pos, void* buf, size_t n, size_t* got) {
  std::lock_guard<std::mutex> lock(mu_);
  const Participant* p = Find(stream);
  if (!p || p->kept.empty()) return;
  auto* out = static_cast<char*>(buf);
  const uint64_t end = pos + n;
  auto it = p->kept.upper_bound(pos);
  if (it != p->kept.begin()) --it;
  for (; it != p->kept.end() && it->first < end; ++it) {
    uint64_t a = std::max(pos, it->first);
    uint64_t b = std::min(end, it->first + it->second.size());
    if (a >= b) continue;
    size_t from = static_cast<size_t>(a - pos), to = static_cast<size_t>(b - pos);
    // Past the file's end the bytes before a kept write are a hole, read as zeros.
    if (from > *got) std::memset(out + *got, 0, from - *got);
    std::memcpy(out + from, it->second.data() + (a - it->first), to - from);
    *got = std::max(*got, to);
  }
}

uint64_t Journal::KeptEnd(const DatStream& stream) {
  std::lock_guard<std::mutex> lock(mu_);
  const Participant* p = Find(stream);
  if (!p || p->kept.empty()) return 0;
  auto last = std::prev(p->kept.end());
  return last->first + last->second.size();
}

bool Journal::DefersSync(const DatStream& stream) {
  std::lock_guard<std::mutex> lock(mu_);
  return journal_.is_open() && Find(stream) != nullptr;
}

Code Journal::BeforeTruncate(DatStream& stream, uint64_t size) {
  std::vector<std::function<void()>> settled;
  Code err = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    Participant* p = journal_.is_open() ? Find(stream) : nullptr;
    if (!p) return 0;
    // Kept writes go first, so that the cut meets the file as the transaction left it.
    err = StageLocked();
    settled = SettledLocked();
    if (!err) {
      std::string batch;
      std::vector<std::pair<uint64_t, uint64_t>> gaps;
      bool grew = false;
      uint64_t cutToBefore = p->cutTo;
      bool starting = !p->registered;
      if (starting)
        batch += EncodeJournalEntry(journalEnd_, 0, 0, Registration(p->number, p->path, p->marker));
      err = ProtectLocked(*p, size, 0, true, &batch, &gaps, &grew);
      if (!err && starting) err = MakeMarkersLocked({p});
      if (!err && !journalNamed_) {
        err = platform::SyncFolderOf(journalPath_) == 0 ? Code(0) : Code(kErrUnableToLog);
        if (!err) journalNamed_ = true;
      }
      if (!err) err = AppendLocked(batch);
      if (err) {
        p->cutTo = cutToBefore;
      } else {
        p->registered = true;
        RecordSaved(*p, gaps);
      }
    }
  }
  for (auto& f : settled) f();
  return err;
}

void Journal::RecountLocked() {
  keptBytes_ = 0;
  for (const Participant& p : participants_)
    for (const auto& [at, bytes] : p.kept) keptBytes_ += bytes.size();
}

std::vector<std::function<void()>> Journal::SettledLocked() {
  std::vector<std::function<void()>> out;
  for (Participant& p : participants_)
    if (p.onSettled && p.kept.empty()) out.push_back(p.onSettled);
  return out;
}

Code Journal::SyncParticipantsLocked() {
  for (Participant& p : participants_) {
    if (!p.registered) continue;  // never wrote
    Code err = 0;
    if (p.stream) {
      err = SyncCode(p.stream->file().Sync());
    } else {
      platform::File f;
      int opened = f.Open(p.path, platform::Access::kReadWrite, platform::Share::kDenyNone);
      if (opened == platform::kErrFileNotFound) continue;  // removed: nothing left to keep
      err = opened ? DriverCodeFromSystem(opened) : Code(SyncCode(f.Sync()));
    }
    if (err) return err;
  }
  return 0;
}

void Journal::EndLocked(bool removeJournal) {
  for (Participant& p : participants_)
    if (p.stream) {
      p.stream->set_observer(nullptr);
      p.stream->set_journal_number(0);
    }
  participants_.clear();
  keptBytes_ = 0;
  if (removeJournal) {
    // An empty journal rolls nothing back: once its cut is on disk the transaction is over,
    // whatever happens to the markers and the journal's name after.
    if (journalEnd_ > 0 && journal_.Truncate(0) == 0) (void)journal_.Sync();
    // A marker or journal that can't be removed names an empty journal: recovery then rolls
    // nothing back and removes them.
    for (const std::string& m : markers_) (void)platform::RemoveFile(m);
    journal_.Close();
    (void)platform::RemoveFile(journalPath_);
  } else {
    journal_.Close();
  }
  markers_.clear();
  journalPath_.clear();
  journalEnd_ = 0;
  broken_ = false;
}

Code Journal::Commit() {
  std::vector<std::function<Code()>> before;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!journal_.is_open()) return 0;
    for (const Participant& p : participants_)
      if (p.stream && p.beforeCommit) before.push_back(p.beforeCommit);
  }
  for (auto& f : before) {
    Code err = f();
    if (err) return err;
  }
  std::vector<std::function<void()>> settled;
  Code err = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!journal_.is_open()) return 0;
    err = StageLocked();
    // The journal may only go once every change it could undo is on disk.
    if (!err) err = SyncParticipantsLocked();
    if (!err) {
      settled = SettledLocked();
      EndLocked(true);
    }
  }
  for (auto& f : settled) f();
  return err;
}

Code Journal::Rollback() {
  std::vector<std::function<void()>> reloads;
  Code result = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!journal_.is_open()) return 0;
    // What is only kept in memory never reached a file: it is forgotten.
    for (Participant& p : participants_) p.kept.clear();
    keptBytes_ = 0;
    std::vector<Entry> entries;
    uint64_t validEnd = 0;
    result = ScanJournal(journal_, journalEnd_, &entries, &validEnd);
    if (result == 0 && validEnd != journalEnd_) result = kErrUnableToRollback;
    std::map<uint16_t, std::unique_ptr<platform::File>> reopened;
    auto fileOf = [&](uint16_t number) -> platform::File* {
      for (Participant& p : participants_) {
        if (p.number != number) continue;
        if (p.stream) return &p.stream->file();
        auto& f = reopened[number];
        if (!f) {
          f = std::make_unique<platform::File>();
          if (f->Open(p.path, platform::Access::kReadWrite, platform::Share::kDenyNone) != 0)
            return nullptr;
        }
        return f.get();
      }
      return nullptr;
    };
    if (result == 0) {
      // The replay only copies saved bytes back and cuts files to saved lengths, so running it
      // again is harmless: a write that failed once (a passing fault) is tried again before
      // the transaction is left to the next OPEN.
      constexpr int kReplayTries = 3;
      result = Replay(journal_, entries, fileOf);
      for (int tried = 1; result != 0 && tried < kReplayTries; ++tried)
        result = Replay(journal_, entries, fileOf);
    }
    for (Participant& p : participants_) {
      if (p.onRollback) reloads.push_back(p.onRollback);
      if (p.onSettled) reloads.push_back(p.onSettled);
    }
    // A failed replay keeps journal and markers, so that the next OPEN tries again.
    EndLocked(result == 0);
  }
  for (auto& reload : reloads) reload();
  return result;
}

PendingTransaction InspectInterrupted(const std::string& dataPath) {
  using State = PendingTransaction::State;
  PendingTransaction t;
  std::string markerPath = platform::ResolveExisting(MarkerPathOf(dataPath));
  if (!platform::FileExists(markerPath)) return t;
  auto unreadable = [&t](int code) {
    t.state = State::kUnreadable;
    t.code = code;
    t.files.clear();
    return t;
  };
  if (int err = JournalNamedBy(markerPath, &t.journal)) return unreadable(err);
  platform::File journal;
  int opened = journal.Open(t.journal, platform::Access::kRead, platform::Share::kDenyNone);
  if (opened == platform::kErrFileNotFound) {
    t.state = State::kEnded;
    return t;
  }
  if (opened != 0) return unreadable(kErrLogoutActive);
  // The lock the live transaction holds; taken for a moment only when no one holds it.
  int lock = journal.TryLock(0, 1);
  if (lock == platform::kErrLockViolation) {
    t.state = State::kRunning;
    return t;
  }
  if (lock == 0) (void)journal.Unlock(0, 1);  // only a probe: the file is closed next anyway
  uint64_t end = 0;
  if (journal.Size(&end) != 0) return unreadable(kErrUnableToRollback);
  std::vector<Entry> entries;
  uint64_t validEnd = 0;
  if (ScanJournal(journal, end, &entries, &validEnd)) return unreadable(kErrUnableToRollback);
  std::map<uint16_t, size_t> ours;  // file number -> index in t.files
  for (const Entry& e : entries) {
    if (e.number == 0) {
      std::string r(e.length, '\0');
      uint16_t n = 0;
      Registered reg;
      if (ReadExact(journal, e.body, r.data(), e.length) || !ParseRegistration(r, &n, &reg))
        return unreadable(kErrUnableToRollback);
      namespace fs = std::filesystem;
      if (::strcasecmp(fs::path(reg.marker).filename().c_str(),
                       fs::path(markerPath).filename().c_str()) != 0)
        continue;
      ours[n] = t.files.size();
      t.files.push_back({reg.path});
      continue;
    }
    auto f = ours.find(e.number);
    if (f == ours.end()) continue;
    PendingTransaction::File& file = t.files[f->second];
    if (e.length == 0) {
      file.cutTo = std::min<uint64_t>(file.cutTo, e.at);
    } else {
      ++file.ranges;
      file.bytes += e.length;
    }
  }
  t.state = State::kInterrupted;
  return t;
}

Code Journal::RecoverInterrupted(const std::string& dataPath) {
  std::lock_guard<std::mutex> lock(mu_);
  if (journal_.is_open()) return 0;
  std::string markerPath = platform::ResolveExisting(MarkerPathOf(dataPath));
  if (!platform::FileExists(markerPath)) return 0;

  std::string text;
  if (int err = JournalNamedBy(markerPath, &text)) return err;

  platform::File journal;
  int opened = journal.Open(text, platform::Access::kReadWrite, platform::Share::kDenyNone);
  if (opened == platform::kErrFileNotFound) {
    // The journal goes only after it was emptied: its transaction ended (committed or rolled
    // back) before this marker could be removed. A missing folder is no such proof.
    (void)platform::RemoveFile(markerPath);  // a marker left behind is removed at the next open
    return 0;
  }
  if (opened != 0) return kErrLogoutActive;
  // A journal that another program still holds belongs to a transaction that is running.
  if (journal.TryLock(0, 1) == platform::kErrLockViolation) return 0;
  uint64_t end = 0;
  if (journal.Size(&end) != 0) return kErrUnableToRollback;

  std::vector<Entry> entries;
  uint64_t validEnd = 0;
  int err = ScanJournal(journal, end, &entries, &validEnd);
  if (err) return err;
  std::map<uint16_t, Registered> files;
  for (const Entry& e : entries) {
    if (e.number != 0) continue;
    std::string r(e.length, '\0');
    if (ReadExact(journal, e.body, r.data(), e.length)) return kErrUnableToRollback;
    uint16_t n = 0;
    Registered reg;
    if (!ParseRegistration(r, &n, &reg)) return kErrUnableToRollback;
    // Only the files of a data file whose marker names this journal took part in it; the
    // replay writes nothing else, and removes no file but a marker.
    std::string named;
    if (::strcasecmp(MarkerPathOf(reg.path).c_str(), reg.marker.c_str()) != 0 ||
        ::strcasecmp(reg.path.c_str(), reg.marker.c_str()) == 0 ||
        JournalNamedBy(platform::ResolveExisting(reg.marker), &named) != 0 || named != text)
      return kErrUnableToRollback;
    files[n] = reg;
  }

  std::map<uint16_t, std::unique_ptr<platform::File>> restored;
  err = Replay(journal, entries, [&](uint16_t number) -> platform::File* {
    auto reg = files.find(number);
    if (reg == files.end()) return nullptr;
    auto& f = restored[number];
    if (!f) {
      f = std::make_unique<platform::File>();
      if (f->Open(platform::ResolveExisting(reg->second.path), platform::Access::kReadWrite,
                  platform::Share::kDenyNone) != 0)
        return nullptr;
    }
    return f.get();
  });
  if (err) return err;

  // An empty journal rolls nothing back: once it is cut, what is left behind is harmless.
  if (journal.Truncate(0) == 0) (void)journal.Sync();
  for (auto& [n, reg] : files) (void)platform::RemoveFile(reg.marker);
  (void)platform::RemoveFile(markerPath);
  journal.Close();
  (void)platform::RemoveFile(text);
  return 0;
}

}  // namespace korawin::storage::dat
