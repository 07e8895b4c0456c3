#include "lang/types.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/clock.h"
#include "platform/current_error.h"
#include "platform/field_codec.h"

namespace korawin::lang {

ResultType ResultTypeOf(uint8_t varType) {
  if (varType <= 6) return kInteger;
  if (varType <= 17) return kReal;
  return kText;
}

Variable Variable::Field(uint8_t type, const void* address, uint32_t size, uint8_t places) {
  Variable v;
  v.type = type;
  v.address = address;
  v.size = size;
  v.places = places;
  return v;
}

Variable Variable::Dim(std::initializer_list<uint32_t> d) const {
  Variable v = *this;
  v.dimCount = 0;
  for (uint32_t n : d) {
    if (v.dimCount == 4) break;
    v.dims[v.dimCount++] = n;
  }
  return v;
}

uint64_t Variable::ElementCount() const {
  uint64_t n = 1;
  for (int k = 0; k < dimCount; ++k) n *= dims[k];
  return n;
}

bool Variable::Valid() const {
  if (address == nullptr || dimCount > 4) return false;
  for (int k = 0; k < dimCount; ++k) {
    if (dims[k] == 0) return false;
  }
  switch (type) {
    case kTypeByte: return size == 1;
    case kTypeShort: case kTypeUShort: return size == 2;
    case kTypeDate: case kTypeTime: case kTypeLong: case kTypeULong: case kTypeSReal:
      return size == 4;
    case kTypeReal: return size == 8;
    case kTypeDecimal: case kTypePDecimal: return size >= 1 && size <= 16 && places <= 31;
    case kTypeString: case kTypeCString: case kTypeMemo: case kTypeGroup: return true;
    case kTypePString: return size >= 1;
    default: return false;
  }
}

int64_t RealToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
  if (v <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(v);
}

namespace {
bool IsBlank(char c) { return c == ' '; }

std::string_view TrimBlanks(std::string_view t) {
  size_t b = 0, e = t.size();
  while (b < e && (IsBlank(t[b]) || t[b] == '\t')) ++b;
  while (e > b && (IsBlank(t[e - 1]) || t[e - 1] == '\t')) --e;
  return t.substr(b, e - b);
}

uint32_t Le(const unsigned char* p, int n) {
  uint32_t v = 0;
  for (int k = n - 1; k >= 0; --k) v = (v << 8) | p[k];
  return v;
}

}  // namespace

double TextToReal(std::string_view text, bool* isNumber, bool* isInteger) {
  std::string_view t = TrimBlanks(text);
  if (isNumber) *isNumber = false;
  if (isInteger) *isInteger = false;
  if (t.empty()) return 0;
  const char* b = t.data();
  const char* e = b + t.size();
  bool negative = false;
  if (*b == '+' || *b == '-') {
    negative = *b == '-';
    ++b;
    if (b == e) return 0;
  }
  // Only digits or a point may start the number ("inf" and "nan" are not numbers here).
  if (!((*b >= '0' && *b <= '9') || *b == '.')) return 0;
  bool integral = true;
  for (const char* p = b; p < e; ++p) {
    if (*p < '0' || *p > '9') integral = false;
  }
  double v = 0;
  auto [ptr, ec] = std::from_chars(b, e, v, std::chars_format::fixed | std::chars_format::scientific);
  if (ptr != e || (ec != std::errc() && ec != std::errc::result_out_of_range)) return 0;
  if (ec == std::errc::result_out_of_range || !std::isfinite(v)) return 0;
  if (isNumber) *isNumber = true;
  if (isInteger) *isInteger = integral && v < 9.2e18;
  return negative ? -v : v;
}

int64_t ValueToInt(const Value& v) {
  switch (v.type) {
    case kInteger: return v.i;
    case kReal: return RealToInt(v.r);
    default: {
      bool isInteger = false;
      double r = TextToReal(v.s, nullptr, &isInteger);
      if (isInteger) {
        // Exact for long digit strings, which a double would round.
        std::string_view t = TrimBlanks(v.s);
        bool neg = !t.empty() && t[0] == '-';
        if (!t.empty() && (t[0] == '-' || t[0] == '+')) t.remove_prefix(1);
        int64_t n = 0;
        auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
        if (ec == std::errc() && p == t.data() + t.size()) return neg ? -n : n;
      }
      return RealToInt(r);
    }
  }
}

double ValueToReal(const Value& v) {
  switch (v.type) {
    case kInteger: return static_cast<double>(v.i);
    case kReal: return v.r;
    default: return TextToReal(v.s);
  }
}

bool ValueTruth(const Value& v) {
  switch (v.type) {
    case kInteger: return v.i != 0;
    case kReal: return v.r != 0;
    default:
      for (char c : v.s) {
        if (c != ' ') return true;
      }
      return false;
  }
}

std::string_view IntToText(int64_t v, std::string* out) {
  char buf[24];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out->assign(buf, p);
  return *out;
}

std::string_view RealToText(double v, std::string* out) {
  if (!std::isfinite(v)) v = 0;
  if (v == std::trunc(v) && std::fabs(v) < 1e15) return IntToText(static_cast<int64_t>(v), out);
  char buf[40];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out->assign(buf, p);
  return *out;
}

std::string_view ValueToText(const Value& v, std::string* scratch) {
  switch (v.type) {
    case kInteger: return IntToText(v.i, scratch);
    case kReal: return RealToText(v.r, scratch);
    default: return v.s;
  }
}

int CompareTexts(std::string_view a, std::string_view b) { return platform::CompareText(a, b); }

Value ReadVariable(const Variable& var, const void* address) {
  const auto* p = static_cast<const unsigned char*>(address);
  const auto* bytes = static_cast<const char*>(address);
  switch (var.type) {
    case kTypeByte:
    case kTypeShort:
    case kTypeUShort:
    case kTypeLong:
      return Value::Int(static_cast<int64_t>(platform::ReadNumber(var.type, bytes, var.size, 0)));
    case kTypeDate: {
      int day = p[0], month = p[1], year = static_cast<int>(Le(p + 2, 2));
      if (day == 0 || month == 0 || month > 12 || year == 0) return Value::Int(0);
      return Value::Int(platform::DayNumber(year, month, day));
    }
    case kTypeTime: {
      if (Le(p, 4) == 0) return Value::Int(0);
      return Value::Int(((p[3] * 60 + p[2]) * 60 + p[1]) * 100 + p[0] + 1);
    }
    case kTypeULong:
    case kTypeSReal:
    case kTypeReal:
    case kTypeDecimal:
    case kTypePDecimal: {
      double d = platform::ReadNumber(var.type, bytes, var.size, var.places);
      return Value::Real(std::isfinite(d) ? d : 0.0);
    }
    default:
      return Value::Text(platform::FieldBytes(var.type, bytes, var.size));
  }
}


bool StoreVariable(const Variable& var, const Value& v) {
  auto* p = static_cast<unsigned char*>(const_cast<void*>(var.address));
  if (!p) return false;
  auto* bytes = reinterpret_cast<char*>(p);
  std::string scratch;
  switch (var.type) {
    case kTypeByte: case kTypeShort: case kTypeUShort: case kTypeLong: case kTypeULong:
    case kTypeSReal: case kTypeReal: case kTypeDecimal: case kTypePDecimal:
      platform::WriteNumber(var.type, bytes, var.size, var.places, ValueToReal(v));
      return true;
    case kTypeDate: case kTypeTime: {
      // DATE: day, month, year (16-bit); TIME: hundredths, seconds, minutes, hours.
      int64_t n = ValueToInt(v);
      std::memset(p, 0, 4);
      if (n <= 0) return true;
      if (var.type == kTypeDate) {
        int y, m, d;
        platform::CivilDate(static_cast<int32_t>(n), &y, &m, &d);
        p[0] = static_cast<unsigned char>(d);
        p[1] = static_cast<unsigned char>(m);
        p[2] = static_cast<unsigned char>(y & 0xFF);
        p[3] = static_cast<unsigned char>(y >> 8);
      } else {
        int64_t t = n - 1;
        p[0] = static_cast<unsigned char>(t % 100);
        p[1] = static_cast<unsigned char>(t / 100 % 60);
        p[2] = static_cast<unsigned char>(t / 6000 % 60);
        p[3] = static_cast<unsigned char>(t / 360000 % 24);
      }
      return true;
    }
    case kTypeString: case kTypeMemo: case kTypeCString: case kTypePString: {
      std::string_view t = ValueToText(v, &scratch);
      uint32_t room = var.type == kTypeCString || var.type == kTypePString
                          ? (var.size ? var.size - 1 : 0) : var.size;
      if (var.type == kTypePString && room > 255) room = 255;
      size_t n = std::min<size_t>(t.size(), room);
      char* at = var.type == kTypePString ? bytes + 1 : bytes;
      std::memcpy(at, t.data(), n);
      std::memset(at + n, var.type == kTypeCString ? 0 : ' ', var.size - (at - bytes) - n);
      if (var.type == kTypePString && var.size) p[0] = static_cast<unsigned char>(n);
      return true;
    }
    default:
      return false;
  }
}

std::string_view LangErrorText(int code) {
  switch (code) {
    case kErrInvalidExpression: return "Invalid expression for EVALUATE";
    case kErrNoBind: return "No BIND on variable";
    case kErrScopeMismatch: return "Mismatched PUSHSCOPE/POPSCOPE";
    default: return "";
  }
}

int ErrorCode() { return platform::ThreadError().code; }

std::string ErrorText() {
  const platform::CurrentError& e = platform::ThreadError();
  return e.text.empty() ? std::string(LangErrorText(e.code)) : e.text;
}

void SetError(int code, std::string_view text) {
  platform::CurrentError& e = platform::ThreadError();
  e.code = code;
  e.ownCode = 0;
  e.text = text.empty() ? std::string(LangErrorText(code)) : std::string(text);
}

void ClearError() { SetError(0); }

}  // namespace korawin::lang
