#include "storage/dat/journal.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/paths.h"
#include "platform/profile.h"
#include "storage/dat/halt.h"
#include "storage/driver.h"

namespace korawin::storage::dat {

namespace {

constexpr size_t kTrailerSize = 8;
constexpr size_t kRegistrationMin = 83;
constexpr size_t kMarkerPathSize = 79;
constexpr size_t kMaxEntry = 0xFFFF;
constexpr size_t kCopyPiece = 2048;

std::string Trailer(uint32_t pos, uint16_t length, uint16_t number) {
  unsigned char t[kTrailerSize];
  Put32(t, pos);
  Put16(t + 4, length);
  Put16(t + 6, number);
  return std::string(reinterpret_cast<char*>(t), kTrailerSize);
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

// Walks a journal backwards. For each entry calls fn(pos, length, number, entryStart);
// returns 65 when the entries do not fit the journal, or fn's non-zero code.
template <typename Fn>
int WalkBackwards(platform::File& journal, uint64_t end, Fn fn) {
  uint64_t pos = end;
  while (pos > 0) {
    if (pos < kTrailerSize) return kErrUnableToRollback;
    unsigned char t[kTrailerSize];
    if (ReadExact(journal, pos - kTrailerSize, t, kTrailerSize)) return kErrUnableToRollback;
    uint32_t at = Get32(t);
    uint16_t length = Get16(t + 4);
    uint16_t number = Get16(t + 6);
    uint64_t body = pos - kTrailerSize;
    if (body < length) return kErrUnableToRollback;
    uint64_t start = body - length;
    int err = fn(at, length, number, start);
    if (err) return err;
    pos = start;
  }
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

}  // namespace

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
  if (!journal_.is_open() || stream.journal_number() == 0) return false;
  for (const Participant& p : participants_)
    if (p.stream == &stream && p.number == stream.journal_number()) return true;
  return false;
}

std::string Journal::path() const {
  std::lock_guard<std::mutex> lock(mu_);
  return journalPath_;
}

int Journal::OpenJournalLocked() {
  std::string folder = platform::GetProfileString("VWC21", "VELTMP", "");
  if (folder.empty()) folder = platform::CurrentDirectory();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string tmpl = platform::JoinPath(folder, "VWXXXXXX.TR$");
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = ::mkstemps(name.data(), 4);
  if (fd < 0) return kErrLogoutActive;
  ::close(fd);
  std::string path(name.data());
  if (journal_.Open(path, platform::Access::kReadWrite, platform::Share::kDenyNone) != 0 ||
      journal_.Truncate(0) != 0) {
    journal_.Close();
    platform::RemoveFile(path);
    return kErrUnableToLog;
  }
  // Marks the transaction as live for other programs; a platform without locks has no others.
  journal_.TryLock(0, 1);
  journalPath_ = path;
  journalEnd_ = 0;
  nextNumber_ = 1;
  return 0;
}

int Journal::Join(DatStream& stream, const std::string& dataPath,
                  std::function<void()> onRollback) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!journal_.is_open()) {
    int err = OpenJournalLocked();
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
  stream.set_journal_number(p.number);
  stream.set_observer(this);
  participants_.push_back(std::move(p));
  return 0;
}

void Journal::Leave(DatStream& stream) {
  std::lock_guard<std::mutex> lock(mu_);
  if (Participant* p = Find(stream)) {
    p->stream = nullptr;
    p->onRollback = nullptr;
  }
  stream.set_observer(nullptr);
}

Journal::Participant* Journal::Find(const DatStream& stream) {
  if (stream.journal_number() == 0) return nullptr;
  for (Participant& p : participants_)
    if (p.stream == &stream && p.number == stream.journal_number()) return &p;
  return nullptr;
}

int Journal::AppendLocked(const std::string& bytes) {
  if (bytes.empty()) return 0;
  if (journal_.WriteAt(journalEnd_, bytes.data(), bytes.size()) != 0) return kErrUnableToLog;
  journalEnd_ += bytes.size();
  return 0;
}

int Journal::StartLoggingLocked(Participant& p) {
  if (p.registered) return 0;
  if (std::find(markers_.begin(), markers_.end(), p.marker) == markers_.end()) {
    platform::File marker;
    std::string text = journalPath_;
    text.resize(std::max(kMarkerPathSize, text.size() + 1), '\0');
    if (marker.Create(p.marker, platform::Share::kDenyAll) != 0 ||
        marker.WriteAt(0, text.data(), text.size()) != 0 || marker.Sync() != 0) {
      marker.Close();
      Halt("UNABLE TO START LOG");
      return kErrUnableToLog;
    }
    markers_.push_back(p.marker);
  }
  std::string r = Registration(p.number, p.path, p.marker);
  int err = AppendLocked(r + Trailer(0, static_cast<uint16_t>(r.size()), 0));
  if (err) return err;
  if (journal_.Sync() != 0) return kErrUnableToLog;
  p.registered = true;
  return 0;
}

int Journal::SaveRangeLocked(Participant& p, uint64_t from, uint64_t to, std::string* out) {
  std::string buf;
  for (uint64_t at = from; at < to; at += kMaxEntry) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(kMaxEntry, to - at));
    buf.resize(n);
    size_t got = 0;
    if (p.stream->file().ReadAt(at, buf.data(), n, &got) != 0 || got != n) return kErrUnableToLog;
    *out += buf;
    *out += Trailer(static_cast<uint32_t>(at), static_cast<uint16_t>(n), p.number);
  }
  return 0;
}

int Journal::BeforeWrite(DatStream& stream, uint64_t pos, size_t n) {
  std::lock_guard<std::mutex> lock(mu_);
  Participant* p = journal_.is_open() ? Find(stream) : nullptr;
  if (!p) return 0;
  int err = StartLoggingLocked(*p);
  if (err) return err;
  uint64_t end = stream.Size();
  std::string entry;
  if (pos + n > end) entry += Trailer(static_cast<uint32_t>(end), 0, p->number);
  if (pos < end) {
    err = SaveRangeLocked(*p, pos, std::min<uint64_t>(pos + n, end), &entry);
    if (err) return err;
  }
  return AppendLocked(entry);
}

int Journal::BeforeTruncate(DatStream& stream, uint64_t size) {
  std::lock_guard<std::mutex> lock(mu_);
  Participant* p = journal_.is_open() ? Find(stream) : nullptr;
  if (!p) return 0;
  int err = StartLoggingLocked(*p);
  if (err) return err;
  uint64_t end = stream.Size();
  std::string entry;
  if (size > end) entry += Trailer(static_cast<uint32_t>(end), 0, p->number);
  if (size < end) {
    err = SaveRangeLocked(*p, size, end, &entry);
    if (err) return err;
  }
  return AppendLocked(entry);
}

void Journal::EndLocked(bool removeJournal) {
  for (Participant& p : participants_)
    if (p.stream) {
      p.stream->set_observer(nullptr);
      p.stream->set_journal_number(0);
    }
  participants_.clear();
  if (removeJournal) {
    // An empty journal rolls nothing back: once it is cut, the transaction is committed even
    // if the program stops before the markers are gone.
    journal_.Truncate(0);
    journal_.Sync();
    for (const std::string& m : markers_) platform::RemoveFile(m);
    journal_.Close();
    platform::RemoveFile(journalPath_);
  } else {
    journal_.Close();
  }
  markers_.clear();
  journalPath_.clear();
  journalEnd_ = 0;
}

int Journal::Commit() {
  std::lock_guard<std::mutex> lock(mu_);
  if (!journal_.is_open()) return 0;
  EndLocked(true);
  return 0;
}

int Journal::Rollback() {
  std::vector<std::function<void()>> reloads;
  int result = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!journal_.is_open()) return 0;
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
    result = WalkBackwards(journal_, journalEnd_,
                           [&](uint32_t at, uint16_t length, uint16_t number, uint64_t start) {
      if (number == 0) return 0;
      platform::File* f = fileOf(number);
      if (!f) return static_cast<int>(kErrUnableToRollback);
      int err = length == 0 ? (f->Truncate(at) ? kErrUnableToRollback : 0)
                            : CopyBack(journal_, start, *f, at, length);
      if (err) return err;
      journal_.Truncate(start);
      journalEnd_ = start;
      return 0;
    });
    for (Participant& p : participants_)
      if (p.onRollback) reloads.push_back(p.onRollback);
    // A failed replay keeps journal and markers, so that the next OPEN tries again.
    EndLocked(result == 0);
  }
  for (auto& reload : reloads) reload();
  return result;
}

int Journal::RecoverInterrupted(const std::string& dataPath) {
  std::lock_guard<std::mutex> lock(mu_);
  if (journal_.is_open()) return 0;
  std::string markerPath = platform::ResolveExisting(MarkerPathOf(dataPath));
  if (!platform::FileExists(markerPath)) return 0;

  platform::File marker;
  if (marker.Open(markerPath, platform::Access::kRead, platform::Share::kDenyNone) != 0)
    return kErrLogoutActive;
  std::string text(4096, '\0');
  size_t got = 0;
  if (marker.ReadAt(0, text.data(), text.size(), &got) != 0 || got < kMarkerPathSize)
    return kErrUnableToRollback;
  marker.Close();
  text.resize(got);
  text.resize(std::strlen(text.c_str()));
  if (text.empty()) return kErrUnableToRollback;

  platform::File journal;
  if (journal.Open(text, platform::Access::kReadWrite, platform::Share::kDenyNone) != 0)
    return kErrLogoutActive;
  // A journal that another program still holds belongs to a transaction that is running.
  if (journal.TryLock(0, 1) == platform::kErrLockViolation) return 0;
  uint64_t end = 0;
  if (journal.Size(&end) != 0) return kErrUnableToRollback;

  std::map<uint16_t, Registered> files;
  int err = WalkBackwards(journal, end,
                          [&](uint32_t, uint16_t length, uint16_t number, uint64_t start) {
    if (number != 0) return 0;
    std::string r(length, '\0');
    if (ReadExact(journal, start, r.data(), length)) return static_cast<int>(kErrUnableToRollback);
    uint16_t n = 0;
    Registered reg;
    if (!ParseRegistration(r, &n, &reg)) return static_cast<int>(kErrUnableToRollback);
    files[n] = reg;
    return 0;
  });
  if (err) return err;

  std::map<uint16_t, std::unique_ptr<platform::File>> open;
  err = WalkBackwards(journal, end,
                      [&](uint32_t at, uint16_t length, uint16_t number, uint64_t start) {
    if (number == 0) return 0;
    auto reg = files.find(number);
    if (reg == files.end()) return static_cast<int>(kErrUnableToRollback);
    auto& f = open[number];
    if (!f) {
      f = std::make_unique<platform::File>();
      if (f->Open(platform::ResolveExisting(reg->second.path), platform::Access::kReadWrite,
                  platform::Share::kDenyNone) != 0)
        return static_cast<int>(kErrUnableToRollback);
    }
    int e = length == 0 ? (f->Truncate(at) ? kErrUnableToRollback : 0)
                        : CopyBack(journal, start, *f, at, length);
    if (e) return e;
    journal.Truncate(start);
    return 0;
  });
  if (err) return err;
  for (auto& [n, f] : open) f->Sync();

  journal.Truncate(0);
  journal.Sync();
  for (auto& [n, reg] : files) platform::RemoveFile(reg.marker);
  platform::RemoveFile(markerPath);
  journal.Close();
  platform::RemoveFile(text);
  return 0;
}

}  // namespace korawin::storage::dat
