// The layout of one key of a DAT file and the encoding of its value: the components of the
// record buffer turned into bytes whose unsigned comparison from the left is the key's order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/driver.h"
#include "storage/dat/collation.h"

namespace korawin::storage::dat {

inline constexpr uint32_t kPageSize = 512;
inline constexpr uint32_t kPageHeaderSize = 13;
inline constexpr uint32_t kMaxKeyLength = 245;

// Key flags as the key file header and the data file's key description store them.
inline constexpr uint8_t kKeyFlagIndex = 0x01;
inline constexpr uint8_t kKeyFlagDup = 0x10;
inline constexpr uint8_t kKeyFlagNoCase = 0x20;
inline constexpr uint8_t kKeyFlagNotOpt = 0x40;

// What the tree needs to know of a key: its value length, components and flags.
struct KeyShape {
  uint32_t keyLength = 0;
  uint8_t componentCount = 1;
  uint8_t flags = kKeyFlagNotOpt;

  uint32_t entry_length() const { return keyLength + 4; }
  uint32_t entries_per_page() const { return 499 / entry_length(); }
  bool dup() const { return flags & kKeyFlagDup; }
  bool opt() const { return !(flags & kKeyFlagNotOpt); }
  bool nocase() const { return flags & kKeyFlagNoCase; }
};

struct KeyPart {
  uint8_t type = kTypeString;
  uint32_t offset = 0;      // in the record buffer
  uint32_t length = 0;      // element length
  bool descending = false;
  uint8_t decimalPlaces = 0;
  std::string label;
};

class KeyLayout {
 public:
  KeyLayout() = default;

  // Lays out key number keyIndex (from 0) of file. Codes: 0; 88 when the key is longer than
  // 245 bytes (or empty); 79 for a component of a type a key can't hold; 75 for a component
  // number outside the field list. collation defaults to the program's tables.
  Code Init(const FileDescriptor& file, size_t keyIndex, const Collation* collation = nullptr);

  const KeyShape& shape() const { return shape_; }
  uint32_t key_length() const { return shape_.keyLength; }
  uint32_t entry_length() const { return shape_.entry_length(); }
  uint32_t entries_per_page() const { return shape_.entries_per_page(); }
  uint8_t header_flags() const { return shape_.flags; }
  bool dup() const { return shape_.dup(); }
  bool opt() const { return shape_.opt(); }
  bool nocase() const { return shape_.nocase(); }
  bool index() const { return shape_.flags & kKeyFlagIndex; }
  const std::vector<KeyPart>& parts() const { return parts_; }

  // Writes the key value of a record buffer (key_length() bytes) to out.
  void Encode(const char* record, unsigned char* out) const;
  std::string Encode(const char* record) const;
  // True when every component of the record is blank (an OPT key leaves such records out).
  bool IsBlank(const char* record) const;
  // The components of a record as readable text ("abc, 12"), for reports.
  std::string Describe(const char* record) const;

 private:
  KeyShape shape_;
  std::vector<KeyPart> parts_;
  bool oem_ = false;
  const Collation* collation_ = nullptr;
};

// The key file of key number keyNumber (from 1) of the data file at dataPath: the extension
// replaced by ".K" (".I" for an INDEX) and the number in two base-36 digits (".K0A", ".I03").
std::string KeyFileName(const std::string& dataPath, int keyNumber, bool index);

}  // namespace korawin::storage::dat
