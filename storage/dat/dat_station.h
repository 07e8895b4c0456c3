// Stations sharing a data file: the header lock that serialises header updates, record holds,
// change detection (WATCH) and the whole-file lock (LOCK). The DatFile operations of these
// live in dat_station.cpp.
#pragma once

#include "platform/file.h"
#include "storage/driver.h"

namespace korawin::storage::dat {

// A byte far beyond any data whose lock is a transaction's claim on a shared file: its writes
// wait in memory, so no other station may write the file until the transaction ends.
inline constexpr uint64_t kWriteClaimByte = 0x7FFFFFFF00000010ULL;

// Takes the header lock of a shared data file: a one-byte lock on byte 0, tried again and
// again for at most a second (toWrite: until no other station's transaction claims the file
// either). 5 when that doesn't happen within the second; a file system without locks has no
// other stations. Locking refused with error 6 or 36 ends the program.
Code TakeHeaderLock(platform::File& file, bool toWrite);
// Gives it back.
void GiveHeaderLock(platform::File& file);
// Claims the file for a transaction (taken under the header lock); false when it can't be.
bool TakeWriteClaim(platform::File& file);
void GiveWriteClaim(platform::File& file);

}  // namespace korawin::storage::dat
