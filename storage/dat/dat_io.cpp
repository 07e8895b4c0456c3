#include "storage/dat/dat_io.h"

#include <algorithm>

#include "storage/driver.h"

namespace korawin::storage::dat {

Code DatStream::Open(const std::string& path, unsigned mode) {
  int err = file_.Open(path, platform::AccessOfMode(mode), platform::ShareOfMode(mode));
  if (err == platform::kErrSharingViolation || err == platform::kErrLockViolation)
    return kErrAccessDenied;
  return DriverCodeFromSystem(err);
}

Code DatStream::Create(const std::string& path, bool keepBytes) {
  int err = file_.Create(path, platform::Share::kDenyNone, keepBytes);
  if (err == platform::kErrSharingViolation || err == platform::kErrLockViolation)
    return kErrAccessDenied;
  return DriverCodeFromSystem(err);
}

void DatStream::Close() {
  file_.Close();
  journalNumber_ = 0;
}

Code DatStream::Read(uint64_t pos, void* buf, size_t n, int shortCode) {
  size_t got = 0;
  Code err = ReadSome(pos, buf, n, &got);
  if (err) return err;
  return got == n ? 0 : shortCode;
}

Code DatStream::ReadSome(uint64_t pos, void* buf, size_t n, size_t* got) {
  int err = file_.ReadAt(pos, buf, n, got);
  if (err) return err == platform::kErrReadFault ? kErrReadFault : DriverCodeFromSystem(err);
  if (observer_) observer_->Overlay(*this, pos, buf, n, got);
  return 0;
}

Code DatStream::Write(uint64_t pos, const void* buf, size_t n) {
  if (n == 0) return 0;
  if (observer_) {
    bool taken = false;
    Code err = observer_->Write(*this, pos, buf, n, &taken);
    if (err || taken) return err;
  }
  int err = file_.WriteAt(pos, buf, n);
  if (err == platform::kErrWriteFault) return kErrWriteFault;
  return DriverCodeFromSystem(err);
}

Code DatStream::Truncate(uint64_t size) {
  if (observer_) {
    int err = observer_->BeforeTruncate(*this, size);
    if (err) return err;
  }
  return DriverCodeFromSystem(file_.Truncate(size));
}

Code DatStream::Sync() {
  if (observer_ && observer_->DefersSync(*this)) return 0;
  int err = file_.Sync();
  if (err == platform::kErrWriteFault) return kErrWriteFault;
  return DriverCodeFromSystem(err);
}

Code DatStream::Size(uint64_t* size) {
  uint64_t got = 0;
  int err = file_.Size(&got);
  if (err) return DriverCodeFromSystem(err);
  *size = observer_ ? std::max(got, observer_->KeptEnd(*this)) : got;
  return 0;
}

uint64_t DatStream::Size() {
  uint64_t size = 0;
  return Size(&size) == 0 ? size : 0;
}

}  // namespace korawin::storage::dat
