#include "storage/dat/dat_station.h"

#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "storage/dat/dat_file.h"
#include "storage/dat/halt.h"
#include "storage/dat/journal.h"

namespace korawin::storage::dat {

namespace {

constexpr int64_t kHeaderLockHundredths = 100;

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

namespace {

// Whether another station's transaction claims the file (taken and given back at once).
bool ClaimedByOther(platform::File& file) {
  if (file.TryLock(kWriteClaimByte, 1) != 0) return true;
  (void)file.Unlock(kWriteClaimByte, 1);  // ours for a moment only; the close drops it anyway
  return false;
}

}  // namespace

Code TakeHeaderLock(platform::File& file, bool toWrite) {
  int64_t start = platform::MonotonicHundredths();
  for (;;) {
    int err = file.TryLock(0, 1);
    if (err == platform::kErrInvalidFunction) return 0;  // no locking: nothing to share
    if (err == 0) {
      if (!toWrite || !ClaimedByOther(file)) return 0;
      GiveHeaderLock(file);  // another station's transaction writes the file: wait for its end
      err = platform::kErrLockViolation;
    }
    if (err == platform::kErrInvalidHandle || err == 36) {
      Halt("DOS FILE LOCKING ERROR");
      return kErrAccessDenied;
    }
    if (err != platform::kErrLockViolation) return DriverCodeFromSystem(err);
    if (platform::MonotonicHundredths() - start >= kHeaderLockHundredths) return kErrAccessDenied;
    SleepMs(5);
  }
}

void GiveHeaderLock(platform::File& file) {
  // An unlock that fails leaves the lock to the close of the file, which drops it.
  (void)file.Unlock(0, 1);
}

bool TakeWriteClaim(platform::File& file) {
  int err = file.TryLock(kWriteClaimByte, 1);
  return err == 0 || err == platform::kErrInvalidFunction;
}

void GiveWriteClaim(platform::File& file) {
  (void)file.Unlock(kWriteClaimByte, 1);  // as GiveHeaderLock
}

Code DatFile::LockHeader(bool toWrite) {
  if (!shared_ || headerLocked_) return 0;
  Code err = TakeHeaderLock(stream_.file(), toWrite && !claimed_);
  if (err) return err;
  headerLocked_ = true;
  headerToWrite_ = toWrite;
  keys_.HeaderCache(true);
  return 0;
}

void DatFile::UnlockHeader() {
  if (!headerLocked_) return;
  // The writes of a transaction wait in memory until their undo is on disk: until it ends, no
  // other station may write the file (they still read what is on disk). The claim is taken
  // under the header lock, where every writer looks for it.
  if (headerToWrite_ && !claimed_ && Journal::Instance().TakesPart(stream_))
    claimed_ = TakeWriteClaim(stream_.file());
  keys_.HeaderCache(false);
  GiveHeaderLock(stream_.file());
  headerLocked_ = false;
  headerToWrite_ = false;
}

void DatFile::AfterTransaction() {
  if (!claimed_) return;
  if (stream_.is_open()) GiveWriteClaim(stream_.file());
  claimed_ = false;
}

// ---- stations ----

Code DatFile::Hold(int64_t seconds) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (!haveCurrent_) return kErrRecordNotAvailable;
  if (readOnly_) return kErrAccessDenied;
  uint32_t n = current_;
  if (held_ == n) return 0;
  int64_t start = platform::MonotonicHundredths();
  for (;;) {
    // The header lock makes the test and the setting of the bit one step between stations.
    int err = LockHeader(/*toWrite=*/true);
    if (err) return err;
    unsigned char status = 0;
    err = stream_.Read(RecordPos(n), &status, 1, kErrInvalidDataFile);
    if (err) {
      UnlockHeader();
      return err == kErrReadFault ? kErrInvalidDataFile : err;
    }
    int64_t waited = platform::MonotonicHundredths() - start;
    bool stale = recoverSeconds_ > 0 && waited >= recoverSeconds_ * 100;
    if (!(status & kStatusHeld) || stale) {
      if (held_) {
        UnlockHeader();
        err = Release();
        if (err) return err;
        continue;
      }
      status |= kStatusHeld;
      err = stream_.Write(RecordPos(n), &status, 1);
      UnlockHeader();
      if (err) return err;
      held_ = n;
      currentStatus_ = status;
      return 0;
    }
    UnlockHeader();
    bool retry = recoverSeconds_ > 0 || (seconds > 0 && waited < seconds * 100);
    if (!retry) return kErrRecordHeld;
    SleepMs(50);
  }
}

Code DatFile::Release() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (!held_) return 0;
  uint32_t n = held_;
  held_ = 0;
  if (n > layout_.header.records && !shared_) return 0;
  // Under the header lock, so that another station's DELETE can't fall between the read and
  // the write and be undone.
  bool lockHere = !headerLocked_;
  if (lockHere) {
    int err = LockHeader(/*toWrite=*/true);
    if (err) return err;
  }
  unsigned char status = 0;
  int err = stream_.Read(RecordPos(n), &status, 1, kErrInvalidDataFile);
  if (!err) {
    status &= static_cast<unsigned char>(~kStatusHeld);
    err = stream_.Write(RecordPos(n), &status, 1);
  } else if (err == kErrReadFault) {
    err = kErrInvalidDataFile;
  }
  if (lockHere) UnlockHeader();
  return err;
}

Code DatFile::Watch() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (!haveCurrent_ || partial_) return kErrRecordNotAvailable;
  watched_ = current_;
  watchCopy_.assign(currentData_.begin() + kRecordPrefixSize, currentData_.end());
  return 0;
}

Code DatFile::WaitForLock(int64_t seconds, int refusal) {
  // Polls once a second; a lock whose header time stands still for RECOVER seconds is stale.
  int64_t start = platform::MonotonicHundredths();
  int64_t stillSince = start;
  uint32_t date = layout_.header.changeDate, time = layout_.header.changeTime;
  for (;;) {
    int err = LockHeader(/*toWrite=*/true);
    if (err) return err;
    err = ReadHeader();
    if (err) {
      UnlockHeader();
      return err;
    }
    DatHeader& h = layout_.header;
    int64_t now = platform::MonotonicHundredths();
    if (h.changeDate != date || h.changeTime != time) {
      date = h.changeDate;
      time = h.changeTime;
      stillSince = now;
    }
    bool stale = recoverSeconds_ > 0 && now - stillSince >= recoverSeconds_ * 100;
    if (!(h.attributes & kAttrLocked) || stale) {
      if (readOnly_) {
        UnlockHeader();
        return (h.attributes & kAttrLocked) ? refusal : 0;
      }
      h.attributes |= kAttrLocked;
      err = WriteHeader(true);
      UnlockHeader();
      if (err) return err;
      locked_ = true;
      return 0;
    }
    UnlockHeader();
    bool retry = recoverSeconds_ > 0 || (seconds > 0 && now - start < seconds * 100);
    if (!retry) return refusal;
    SleepMs(1000);
  }
}

Code DatFile::Lock(int64_t seconds) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (locked_) return 0;
  if (readOnly_) return kErrAccessDenied;
  return WaitForLock(seconds, kErrFileLocked);
}

Code DatFile::Unlock() {
  if (!stream_.is_open()) return kErrFileNotOpen;
  if (!locked_) return 0;
  int err = LockHeader(/*toWrite=*/true);
  if (err) return err;
  err = ReadHeader();
  if (!err) {
    layout_.header.attributes &= static_cast<uint16_t>(~kAttrLocked);
    err = WriteHeader(true);
  }
  UnlockHeader();
  if (!err) locked_ = false;
  return err;
}

}  // namespace korawin::storage::dat
