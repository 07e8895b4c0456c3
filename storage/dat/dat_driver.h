// The DAT driver's entry: its registration block ("Velmora"), the dispatch of every driver
// operation to the file's control area, and the optional call trace.
#pragma once

#include <cstdint>
#include <string>

#include "storage/driver.h"

namespace korawin::storage::dat {

// The driver's registration block: 64 operations and the field types it stores.
const DriverRegistration& VelmoraRegistration();

// The DAT driver's DriverEntry: builds the file's control area on the first call, then
// carries out op. Operations outside the registration give 80; INVIEW and ENDVIEW give 0.
Code DatDriverEntry(uint8_t op, FileDescriptor& file, DriverArgs& args);

// The structure of a declared file in declaration form, as the trace writes it.
std::string DescribeFile(const FileDescriptor& file);

// Re-reads the trace switches from the profile ("VWVelmora": Profile, TraceFile).
void ReloadTraceSettings();

// Deferred builds. A BUILD (of the file, a key or an index) given args.number 1 only marks the
// file and posts it through the poster set here (the program's event loop); BUILDevent on that
// file, run from the event, performs the build that was asked for. Without a poster a deferred
// BUILD runs at once. Returns the previous poster.
using BuildEventPoster = void (*)(FileDescriptor& file);
BuildEventPoster SetBuildEventPoster(BuildEventPoster poster);

}  // namespace korawin::storage::dat
