// Values in record buffers as every layer reads and writes them: the field type codes, numbers
// (little-endian integers and reals, packed decimals with the sign in the high bit of the first
// byte) and blank-padded Windows-1251 text.
#pragma once

#include <cstdint>
#include <string_view>

namespace korawin::platform {

// Field type codes of record buffers and bound variables.
enum FieldType : uint8_t {
  kTypeEnd = 0, kTypeByte = 1, kTypeShort = 2, kTypeUShort = 3, kTypeDate = 4, kTypeTime = 5,
  kTypeLong = 6, kTypeULong = 7, kTypeSReal = 8, kTypeReal = 9, kTypeDecimal = 10,
  kTypePDecimal = 11, kTypeDum1 = 12, kTypeBFloat4 = 13, kTypeBFloat8 = 14, kTypeAny = 15,
  kTypeTempUfo = 16, kType17 = 17, kTypeString = 18, kTypeCString = 19, kTypePString = 20,
  kTypeMemo = 21, kTypeGroup = 22, kTypeClass = 23, kTypeArray = 24, kTypeField = 25,
  kTypeQueue = 26, kTypeBlob = 27, kTypeStackStr = 28, kTypePicture = 29, kTypeStdNum = 30,
};

// True for the text types (STRING, CSTRING, PSTRING).
bool IsTextType(uint8_t type);
// True for a type whose bytes compare and copy as text: the text types, GROUP and MEMO.
bool IsBytesType(uint8_t type);
// True for the types ReadNumber reads (BYTE to PDECIMAL but DATE and TIME).
bool IsNumberType(uint8_t type);

// text without its trailing pad characters (blanks unless told otherwise).
std::string_view TrimTrailing(std::string_view text, std::string_view pad = " ");

// A packed decimal of size bytes (2 x size - 1 digits) with places decimal places.
double ReadDecimal(const unsigned char* p, uint32_t size, uint8_t places);
// Stores value rounded to places; digits beyond the field's are lost from the left.
void WriteDecimal(unsigned char* p, uint32_t size, uint8_t places, double value);

// The number in a field of the given type at p (0 for a type IsNumberType refuses).
double ReadNumber(uint8_t type, const char* p, uint32_t size, uint8_t places);
// Stores value in a numeric field: integers truncated and clamped to the type's range.
void WriteNumber(uint8_t type, char* p, uint32_t size, uint8_t places, double value);

// The bytes of text a field of a text type holds: a CSTRING up to its NUL, a PSTRING as its
// length byte says, anything else whole.
std::string_view FieldBytes(uint8_t type, const char* p, uint32_t size);

// Three-way comparison of texts with the shorter one padded with blanks; nocase compares the
// upper case of both (Windows-1251).
int CompareText(std::string_view a, std::string_view b, bool nocase = false);

}  // namespace korawin::platform
