// The text file driver ("ASCII"): files whose records are lines. A record buffer (a STRING or
// a GROUP of STRINGs) receives a line from the left, padded with blanks; a line longer than the
// record reads as several records. Positions are byte offsets counted from 1.
//
// Arguments (DriverArgs): OPEN/SHARE take mode; GETfileptr, SETfileptr and PUTfileptr take the
// position in number; the "len" forms also take length; RESETfile and REGETfile take the text
// that POSITIONfile returned; SEND, GET_PROPERTY and SET_PROPERTY take the option text;
// RENAME and COPY the other file's name in text; LOCKfilesec the seconds in number.
// EOF, BYTES and POINTERfile answer in value; POSITIONfile, NAME and SEND in result.
#pragma once

#include <cstdint>

#include "storage/driver.h"

namespace korawin::storage {

// The driver's entry: performs op on file and returns an error code (80 for an operation that
// the driver doesn't list).
Code TextDriverEntry(uint8_t op, FileDescriptor& file, DriverArgs& args);

// The driver's registration block ("ASCII", its 34 operations, STRING and GROUP).
const DriverRegistration& TextDriverRegistration();

}  // namespace korawin::storage
