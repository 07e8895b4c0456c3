#include "storage/field_values.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/field_codec.h"

namespace korawin::storage {

namespace {

std::string_view TextOf(const FieldDescriptor& f, const char* record) {
  return platform::FieldBytes(f.type, record + f.offset, f.size);
}

// A number as the language writes it: an integral value below 1e15 in digits, else the
// shortest text that reads back as the same number.
std::string NumberText(double v) {
  if (!std::isfinite(v)) v = 0;
  char buf[40];
  char* end = std::fabs(v) < 1e15 && v == std::trunc(v)
                  ? std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(v)).ptr
                  : std::to_chars(buf, buf + sizeof buf, v).ptr;
  return std::string(buf, end);
}

double TextNumber(std::string_view text) {
  std::string t(platform::TrimTrailing(text, " \t"));
  return std::strtod(t.c_str(), nullptr);
}

void StoreText(const FieldDescriptor& to, char* dst, std::string_view text) {
  switch (to.type) {
    case kTypeCString: {
      size_t n = std::min<size_t>(text.size(), to.size ? to.size - 1 : 0);
      std::memset(dst, 0, to.size);
      std::memcpy(dst, text.data(), n);
      return;
    }
    case kTypePString: {
      size_t n = std::min<size_t>(text.size(), to.size ? to.size - 1 : 0);
      std::memset(dst, ' ', to.size);
      if (to.size) dst[0] = static_cast<char>(n);
      std::memcpy(dst + 1, text.data(), n);
      return;
    }
    default: {
      size_t n = std::min<size_t>(text.size(), to.size);
      std::memmove(dst, text.data(), n);
      std::memset(dst + n, ' ', to.size - n);
      return;
    }
  }
}

}  // namespace

double ReadNumber(const FieldDescriptor& f, const char* record) {
  return platform::ReadNumber(f.type, record + f.offset, f.size, f.decimalPlaces);
}

void WriteNumber(const FieldDescriptor& f, char* record, double value) {
  platform::WriteNumber(f.type, record + f.offset, f.size, f.decimalPlaces, value);
}

void ClearField(const FieldDescriptor& f, char* record, bool high) {
  char* p = record + f.offset;
  if (platform::IsBytesType(f.type)) {
    if (high) {
      std::memset(p, '\xFF', f.size);
    } else {
      std::memset(p, f.type == kTypeCString ? '\0' : ' ', f.size);
      if (f.type == kTypePString && f.size) p[0] = 0;
    }
    return;
  }
  if (!high) {
    std::memset(p, 0, f.size);
    return;
  }
  switch (f.type) {
    case kTypeSReal: WriteNumber(f, record, std::numeric_limits<float>::max()); break;
    case kTypeReal: WriteNumber(f, record, std::numeric_limits<double>::max()); break;
    case kTypeDecimal:
    case kTypePDecimal:
      std::memset(p, 0x99, f.size);
      if (f.size) p[0] = 0x09;
      break;
    default: WriteNumber(f, record, std::numeric_limits<double>::max()); break;
  }
}

void ClearRecord(FileDescriptor& file) {
  if (file.record == nullptr) return;
  std::memset(file.record, 0, file.recordSize);
  for (const FieldDescriptor& f : file.fields)
    if (f.type != kTypeGroup && f.offset + f.size <= file.recordSize)
      ClearField(f, file.record, false);
  for (MemoDescriptor& m : file.memos)
    if (m.buffer) std::memset(m.buffer, ' ', m.size);
}

std::string FieldText(const FieldDescriptor& f, const char* record) {
  if (platform::IsBytesType(f.type))
    return std::string(platform::TrimTrailing(TextOf(f, record), std::string_view(" \0", 2)));
  return NumberText(ReadNumber(f, record));
}

void CopyField(const FieldDescriptor& from, const char* fromRecord, const FieldDescriptor& to,
               char* toRecord) {
  char* dst = toRecord + to.offset;
  if (from.type == to.type && from.size == to.size) {
    std::memmove(dst, fromRecord + from.offset, to.size);
    return;
  }
  const bool fromText = platform::IsBytesType(from.type);
  if (platform::IsBytesType(to.type)) {
    if (fromText) {
      StoreText(to, dst, TextOf(from, fromRecord));
    } else {
      StoreText(to, dst, NumberText(ReadNumber(from, fromRecord)));
    }
    return;
  }
  WriteNumber(to, toRecord,
              fromText ? TextNumber(TextOf(from, fromRecord)) : ReadNumber(from, fromRecord));
}

int CompareFields(const FieldDescriptor& a, const char* aRecord, const FieldDescriptor& b,
                  const char* bRecord, bool nocase) {
  const bool aText = platform::IsBytesType(a.type), bText = platform::IsBytesType(b.type);
  if (aText && bText) return platform::CompareText(TextOf(a, aRecord), TextOf(b, bRecord), nocase);
  double x = aText ? TextNumber(TextOf(a, aRecord)) : ReadNumber(a, aRecord);
  double y = bText ? TextNumber(TextOf(b, bRecord)) : ReadNumber(b, bRecord);
  return x < y ? -1 : x > y;
}

bool SameText(std::string_view a, std::string_view b, bool nocase) {
  const std::string_view pad(" \0", 2);
  a = platform::TrimTrailing(a, pad);
  b = platform::TrimTrailing(b, pad);
  return a.size() == b.size() && platform::CompareText(a, b, nocase) == 0;
}

}  // namespace korawin::storage
