#include "platform/field_codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/codepage.h"

namespace korawin::platform {

namespace {

template <typename T>
T Load(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);  // little-endian host, as the record layout
  return v;
}

template <typename T>
void StoreClamped(char* p, double value) {
  double lo = static_cast<double>(std::numeric_limits<T>::lowest());
  double hi = static_cast<double>(std::numeric_limits<T>::max());
  T v = std::isnan(value) ? T{} : static_cast<T>(std::clamp(std::trunc(value), lo, hi));
  std::memcpy(p, &v, sizeof v);
}

}  // namespace

bool IsTextType(uint8_t type) {
  return type == kTypeString || type == kTypeCString || type == kTypePString;
}

bool IsBytesType(uint8_t type) {
  return IsTextType(type) || type == kTypeGroup || type == kTypeMemo;
}

bool IsNumberType(uint8_t type) {
  switch (type) {
    case kTypeByte: case kTypeShort: case kTypeUShort: case kTypeLong: case kTypeULong:
    case kTypeSReal: case kTypeReal: case kTypeDecimal: case kTypePDecimal:
      return true;
    default:
      return false;
  }
}

std::string_view TrimTrailing(std::string_view text, std::string_view pad) {
  if (pad.size() == 1) {  // the usual case, blanks: no search of the pad per character
    // A field is mostly pad: pass over it eight bytes at a time.
    size_t n = text.size();
    uint64_t padWord;
    std::memset(&padWord, pad[0], sizeof padWord);
    while (n >= 8) {
      uint64_t w;
      std::memcpy(&w, text.data() + n - 8, 8);
      if (w != padWord) break;
      n -= 8;
    }
    while (n > 0 && text[n - 1] == pad[0]) --n;
    return text.substr(0, n);
  }
  size_t n = text.find_last_not_of(pad);
  return n == std::string_view::npos ? std::string_view() : text.substr(0, n + 1);
}

double ReadDecimal(const unsigned char* p, uint32_t size, uint8_t places) {
  // 2n-1 digits: the low nibble of the first byte, then two per byte; sign in bit 7.
  double v = 0;
  for (uint32_t k = 0; k < size; ++k) {
    if (k > 0) v = v * 10 + std::min(p[k] >> 4, 9);
    v = v * 10 + std::min(p[k] & 0x0F, 9);
  }
  if (places > 0) v /= std::pow(10.0, places);
  return size > 0 && (p[0] & 0x80) ? -v : v;
}

void WriteDecimal(unsigned char* p, uint32_t size, uint8_t places, double value) {
  bool negative = value < 0;
  double digits = std::trunc(std::fabs(value) * std::pow(10.0, places) + 0.5);
  if (!std::isfinite(digits)) digits = 0;
  std::memset(p, 0, size);
  // Nibbles from the last one backwards: 2n-1 of them.
  for (int64_t nibble = static_cast<int64_t>(size) * 2 - 1; nibble >= 1; --nibble) {
    int d = static_cast<int>(std::fmod(digits, 10.0));
    digits = std::trunc(digits / 10);
    size_t byte = static_cast<size_t>(nibble / 2);
    p[byte] |= static_cast<unsigned char>(nibble % 2 ? d : d << 4);
  }
  if (negative && size > 0) p[0] |= 0x80;
}

double ReadNumber(uint8_t type, const char* p, uint32_t size, uint8_t places) {
  switch (type) {
    case kTypeByte: return static_cast<unsigned char>(*p);
    case kTypeShort: return Load<int16_t>(p);
    case kTypeUShort: return Load<uint16_t>(p);
    case kTypeLong: return Load<int32_t>(p);
    case kTypeULong: return Load<uint32_t>(p);
    case kTypeSReal: return Load<float>(p);
    case kTypeReal: return Load<double>(p);
    case kTypeDecimal:
    case kTypePDecimal:
      return ReadDecimal(reinterpret_cast<const unsigned char*>(p), size, places);
    default: return 0;
  }
}

void WriteNumber(uint8_t type, char* p, uint32_t size, uint8_t places, double value) {
  switch (type) {
    case kTypeByte: StoreClamped<uint8_t>(p, value); break;
    case kTypeShort: StoreClamped<int16_t>(p, value); break;
    case kTypeUShort: StoreClamped<uint16_t>(p, value); break;
    case kTypeLong: StoreClamped<int32_t>(p, value); break;
    case kTypeULong: StoreClamped<uint32_t>(p, value); break;
    case kTypeSReal: {
      float v = static_cast<float>(value);
      std::memcpy(p, &v, sizeof v);
      break;
    }
    case kTypeReal: std::memcpy(p, &value, sizeof value); break;
    case kTypeDecimal:
    case kTypePDecimal:
      WriteDecimal(reinterpret_cast<unsigned char*>(p), size, places, value);
      break;
    default: break;
  }
}

std::string_view FieldBytes(uint8_t type, const char* p, uint32_t size) {
  switch (type) {
    case kTypeCString: {
      const void* nul = std::memchr(p, 0, size);
      return std::string_view(p, nul ? static_cast<size_t>(static_cast<const char*>(nul) - p) : size);
    }
    case kTypePString:
      if (size == 0) return {};
      return std::string_view(p + 1, std::min<size_t>(static_cast<unsigned char>(p[0]), size - 1));
    default:
      return std::string_view(p, size);
  }
}

int CompareText(std::string_view a, std::string_view b, bool nocase) {
  const size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : ' ';
    unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : ' ';
    if (nocase) {
      x = UpperCp1251(x);
      y = UpperCp1251(y);
    }
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace korawin::platform
