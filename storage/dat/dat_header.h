// The front of a data file: the 85-byte header and the field, key, picture and array
// descriptions that follow it. Encoded from a declaration, decoded from bytes with every
// length checked, and compared with a declaration at OPEN.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/dat/dat_io.h"
#include "storage/dat/key_codec.h"
#include "storage/driver.h"

namespace korawin::storage::dat {

inline constexpr size_t kHeaderSize = 85;
inline constexpr uint16_t kSignature = 0x3343;
inline constexpr size_t kFieldDescSize = 27;
inline constexpr size_t kKeyDescBaseSize = 19;
inline constexpr size_t kKeyComponentSize = 6;
inline constexpr size_t kRecordPrefixSize = 5;  // status byte + memo block / deleted link
inline constexpr size_t kMaxArrayDims = 4;

// Header attribute bits.
inline constexpr uint16_t kAttrLocked = 0x0001;
inline constexpr uint16_t kAttrOwned = 0x0002;
inline constexpr uint16_t kAttrEncrypted = 0x0004;
inline constexpr uint16_t kAttrMemo = 0x0008;
inline constexpr uint16_t kAttrReclaim = 0x0020;
inline constexpr uint16_t kAttrCreated = 0x0080;

// Record status bits.
inline constexpr uint8_t kStatusNew = 0x01;
inline constexpr uint8_t kStatusRevised = 0x04;
inline constexpr uint8_t kStatusDeleted = 0x10;
inline constexpr uint8_t kStatusHeld = 0x40;

// Stored key flags (key descriptions and key file headers): key_codec.h.
inline constexpr uint8_t kKeyFlagRequired = kKeyFlagNotOpt;  // the key is not OPT

// Field type codes of the descriptions (not the declaration's type codes).
enum StoredType : uint8_t {
  kStoredOther = 0, kStoredLong = 1, kStoredReal = 2, kStoredString = 3,
  kStoredPictureString = 4, kStoredByte = 5, kStoredShort = 6, kStoredGroup = 7,
  kStoredDecimal = 8,
};

struct DatHeader {
  uint16_t signature = kSignature;
  uint16_t attributes = 0;
  uint8_t keyCount = 0;
  uint32_t records = 0;
  uint32_t deleted = 0;
  uint16_t fieldCount = 0;
  uint16_t pictureCount = 0;
  uint16_t arrayCount = 0;
  uint16_t recordLength = 0;
  uint32_t dataOffset = 0;
  uint32_t highestWritten = 0;
  uint32_t lowestWritten = 0;
  uint32_t firstDeleted = 0;
  std::string recordName = std::string(12, ' ');  // exactly 12 bytes
  std::string memoName = std::string(12, ' ');    // exactly 12 bytes
  std::string filePrefix = std::string(3, '\0');  // exactly 3 bytes
  std::string recordPrefix = std::string(3, '\0');
  uint16_t memoLength = 0;
  uint16_t memoWidth = 0;
  uint32_t reserved = 0;
  uint32_t changeTime = 0;
  uint32_t changeDate = 0;
  uint16_t checksum = 0;

  void Encode(unsigned char out[kHeaderSize]) const;
  // Decodes n bytes: 36 when fewer than 85 or the signature is wrong.
  Code Decode(const unsigned char* in, size_t n);
};

struct FieldDesc {
  uint8_t type = 0;
  std::string name;  // 16 bytes, blank-padded
  uint16_t offset = 0;
  uint16_t length = 0;  // element length
  uint8_t digits = 0;
  uint8_t places = 0;
  uint16_t array = 0;    // from 1; 0 = none
  uint16_t picture = 0;  // from 1; 0 = none
};

struct KeyComponentDesc {
  uint8_t type = 0;     // stored type code
  uint16_t field = 0;   // from 1 over the stored fields
  uint16_t offset = 0;
  uint8_t length = 0;
};

struct KeyDesc {
  std::string name;  // 16 bytes, blank-padded
  uint8_t flags = 0;
  uint8_t length = 0;
  std::vector<KeyComponentDesc> components;
  // True for a declared component that sorts descending (not stored; declaration only).
  std::vector<bool> descending;
};

struct ArrayDesc {
  uint16_t total = 0;        // total element count
  uint16_t elementSize = 0;
  std::vector<uint16_t> sizes;  // per dimension
  std::vector<uint16_t> steps;  // elements in one step of that dimension
};

// Everything in front of the records.
struct DatLayout {
  DatHeader header;
  std::vector<FieldDesc> fields;
  std::vector<KeyDesc> keys;
  std::vector<std::string> pictures;  // without the NUL
  std::vector<ArrayDesc> arrays;

  // The descriptions as stored after the header (fields, keys, pictures, arrays).
  std::string EncodeDescriptions() const;
  // Size in bytes of the encoded descriptions.
  uint32_t DescriptionsSize() const;
};

// The name of a label as a description stores it (16 bytes, blank-padded).
std::string StoredLabel(const std::string& label);

// Index of each declared field in the stored field list (-1 for a field that is not stored).
std::vector<int> StoredFieldNumbers(const FileDescriptor& file);

// Builds the layout a CREATE of the declaration writes (header without date and time).
// Codes: 75 for an array of more than four dimensions, 88 for a key longer than 245 bytes,
// 78 for a key component that names no stored field, 47 for a record too big for the header.
Code LayoutFromDeclaration(const FileDescriptor& file, DatLayout* layout);

// Decodes the header and descriptions from the front of a file: 36 when the bytes are too
// short, the signature is wrong, a description is malformed or the data offset is not where
// the descriptions end.
Code DecodeLayout(const unsigned char* data, size_t n, DatLayout* layout);
// Reads and decodes the front of an open data file (36 on any fault).
Code ReadLayout(DatStream& stream, DatLayout* layout);

// Compares a file's layout with the declaration's: 0, or 47 on any difference of record
// length, memo, ownership, encryption, key/field/array counts or key descriptions. Key names
// are compared without regard to letter case.
Code CompareLayouts(const DatLayout& disk, const DatLayout& declared);

// Compares two byte strings without regard to letter case (Latin and Cyrillic of cp1251).
bool EqualNoCase(const std::string& a, const std::string& b);

// The stored type code of a declared field type.
uint8_t StoredTypeOf(const FieldDescriptor& field);
// The name of a stored type code for listings ("LONG", "STRING", "PICTURE STRING" ...).
const char* StoredTypeName(uint8_t type);

}  // namespace korawin::storage::dat
