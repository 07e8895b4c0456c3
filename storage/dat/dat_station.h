// Stations sharing a data file: the header lock that serialises header updates, record holds,
// change detection (WATCH) and the whole-file lock (LOCK). The DatFile operations of these
// live in dat_station.cpp.
#pragma once

#include "platform/file.h"
#include "storage/driver.h"

namespace korawin::storage::dat {

// Takes the header lock of a shared data file: a one-byte lock on byte 0, tried again and
// again for at most a second. 5 when another station keeps it that long; a file system without
// locks has no other stations. Locking refused with error 6 or 36 ends the program.
Code TakeHeaderLock(platform::File& file);
// Gives it back.
void GiveHeaderLock(platform::File& file);

}  // namespace korawin::storage::dat
