// The eleven data files of the lexicon: names, prefixes, record layouts, keys and the memo,
// declared as file descriptors of the DAT driver.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "storage/driver.h"

namespace korawin::app {

// A declared file with the storage for its record buffer and memo buffer.
struct DeclaredFile {
  std::unique_ptr<storage::FileDescriptor> file;
  std::vector<char> record;
  std::vector<char> memo;  // empty for files without a memo

  storage::FileDescriptor& fd() { return *file; }
  // Offset and size of a field by its name without prefix ("I_VERB"), or -1.
  int FieldIndex(std::string_view name) const;
  std::string_view Field(std::string_view name) const;  // the field's bytes in the buffer
  void SetField(std::string_view name, std::string_view value);  // blank-padded or cut
  void Clear();  // the whole record blank (text) and zero (numbers); the memo blank
};

// The files in the order in which their managers are set up.
enum class LexiconFile { kAk2, kSlovo, kAk3, kDct, kP4, kP7, kP8b, kP8e, kTax, kTema, kAbc };
inline constexpr int kLexiconFileCount = 11;

// A fresh declaration of one file, with the driver entry given (the DAT driver's for the
// program). The external name is the disk name ("slovo.dat"), placed in folder when given.
DeclaredFile DeclareFile(LexiconFile which, storage::DriverEntryFn driver,
                         const std::string& folder = std::string());

// The label of a file ("SLOVO") and its prefix ("SLO").
std::string_view FileLabel(LexiconFile which);
std::string_view FilePrefix(LexiconFile which);

// SLOVO's record size and memo size.
inline constexpr uint32_t kSlovoRecordSize = 4120;
inline constexpr uint32_t kSlovoMemoSize = 10000;

}  // namespace korawin::app
