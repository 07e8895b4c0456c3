// Checks a DAT file the way the next start of the program meets it, and describes what it
// holds, so that crash and fault tests can compare it with the states it may be in.
#pragma once

#include <string>

#include "storage/driver.h"

namespace korawin::test {

// Opens file exclusively through its driver (which rolls back an interrupted transaction),
// walks it in record order, reads its bytes directly and closes it again. Returns a text of
// its live records ("#3 <data>" per record, in record order) and its deleted chain. *damage
// receives the first fault found: an OPEN that fails, counts that disagree with the
// statuses, a walk that differs from the bytes, a chain that is not the deleted records, a
// marker left behind.
std::string CheckDatFile(storage::FileDescriptor& file, std::string* damage);

}  // namespace korawin::test
