// Verification of a DAT file for the command-line tool and the tests: the deleted chain, every
// key against the data and every memo chain (DatFile::Check lives in dat_check.cpp).
#pragma once

#include <string>

#include "storage/dat/dat_header.h"
#include "storage/dat/dat_io.h"

namespace korawin::storage::dat {

// Walks the deleted chain from the header's first deleted record: 0 when the chain has
// exactly the header's deleted count of records, each in range, deleted and met once; else
// 36 with *fault (when given) naming the first fault.
Code CheckDeletedChain(DatStream& stream, const DatHeader& header, std::string* fault);

}  // namespace korawin::storage::dat
