#include "lang/builtins.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "lang/bind.h"
#include "lang/charset.h"
#include "lang/picture.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/profile.h"

namespace korawin::lang {

namespace {
// Argument kinds by function number; a list function repeats its last letter.
const char* const kArgKinds[kFunctionCount] = {
    "I", "TII", "TTII", "T", "TI", "TI", "I", "TT", "AT", "TI", "T",   // MEMORY .. LEN
    "T", "T", "TI", "T", "T", "R", "AAA", "A", "R", "R", "II",           // LOWER .. RANDOM
    "RR", "R", "R", "R", "R", "R", "R", "R", "II", "II", "II", "II",     // ROUND .. BSHIFT
    "", "", "III", "I", "I", "I", "II", "IA", "A", "TTTT",               // TODAY .. GETINI
};

// Longest text that ALL, CENTER, LEFT and RIGHT build; longer requests are cut to it.
constexpr int64_t kMaxBuilt = 65535;

size_t Clamp(int64_t v, int64_t hi) {
  if (v < 0) return 0;
  return static_cast<size_t>(v > hi ? hi : v);
}

std::string_view Clip(std::string_view t) {
  size_t n = t.size();
  while (n > 0 && t[n - 1] == ' ') --n;
  return t.substr(0, n);
}

std::string_view TrimLeft(std::string_view t) {
  size_t b = 0;
  while (b < t.size() && t[b] == ' ') ++b;
  return t.substr(b);
}

Value Real(double v) { return Value::Real(std::isfinite(v) ? v : 0.0); }

// INSTRING(sub, text, step, start): the position (from 1) of sub in text, trying the
// positions start, start + step, ...; a negative step searches backwards; 0 when absent.
int64_t InString(std::string_view sub, std::string_view text, int64_t step, int64_t start) {
  if (sub.empty() || sub.size() > text.size() || step == 0) return 0;
  const int64_t last = static_cast<int64_t>(text.size() - sub.size()) + 1;
  // A step longer than the text tries only the start (and keeps the sums below in range).
  step = std::clamp<int64_t>(step, -(last + 1), last + 1);
  if (step > 0) {
    if (start < 1) start = 1;
    if (step == 1) {
      if (start > last) return 0;
      size_t at = text.find(sub, static_cast<size_t>(start - 1));
      return at == std::string_view::npos ? 0 : static_cast<int64_t>(at) + 1;
    }
    for (int64_t p = start; p <= last; p += step) {
      if (text.compare(static_cast<size_t>(p - 1), sub.size(), sub) == 0) return p;
      if (p > last - step) break;  // next step would pass the end (and must not overflow)
    }
    return 0;
  }
  if (start > last) start = last;
  for (int64_t p = start; p >= 1; p += step) {
    if (text.compare(static_cast<size_t>(p - 1), sub.size(), sub) == 0) return p;
    if (p < 1 - step) break;
  }
  return 0;
}

// DATE(month, day, year): months beyond 12 or below 1 roll into other years, days beyond the
// month into the following months; 0 for years outside 1 to 9999.
int64_t MakeDate(int64_t month, int64_t day, int64_t year) {
  if (month < -120000 || month > 120000 || day < -4000000 || day > 4000000 || year < -20000 ||
      year > 20000) {
    return 0;
  }
  int64_t m0 = month - 1;
  year += m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);
  int64_t m = m0 - (m0 >= 0 ? m0 / 12 : -((11 - m0) / 12)) * 12 + 1;
  if (year < 1 || year > 9999) return 0;
  int64_t n = platform::DayNumber(static_cast<int>(year), static_cast<int>(m), 1) + day - 1;
  if (n < platform::DayNumber(1, 1, 1) || n > platform::DayNumber(9999, 12, 31)) return 0;
  return n;
}

bool Civil(int64_t day, int* y, int* m, int* d) {
  if (day < 1 || day > platform::DayNumber(9999, 12, 31)) return false;
  platform::CivilDate(static_cast<int32_t>(day), y, m, d);
  return true;
}

// AGE(birth, base): "n DAYS" under 60 days, "n MOS" under 2 years, otherwise "n YRS".
std::string_view Age(int64_t birth, int64_t base, std::string* out) {
  int by, bm, bd, y, m, d;
  if (!Civil(birth, &by, &bm, &bd) || !Civil(base, &y, &m, &d) || base < birth) {
    out->clear();
    return *out;
  }
  int64_t days = base - birth;
  int64_t months = (y - by) * 12 + (m - bm) - (d < bd ? 1 : 0);
  std::string num;
  if (days < 60) {
    out->assign(IntToText(days, &num)).append(" DAYS");
  } else if (months < 24) {
    out->assign(IntToText(months, &num)).append(" MOS");
  } else {
    out->assign(IntToText(months / 12, &num)).append(" YRS");
  }
  return *out;
}

int64_t RandomBetween(int64_t lo, int64_t hi) {
  thread_local std::mt19937_64 engine{std::random_device{}()};
  if (lo > hi) std::swap(lo, hi);
  std::uniform_int_distribution<int64_t> dist(lo, hi);
  return dist(engine);
}

int64_t FreeMemory() {
  long pages = sysconf(_SC_AVPHYS_PAGES);
  long size = sysconf(_SC_PAGESIZE);
  if (pages < 0 || size < 0) return 0;
  double bytes = static_cast<double>(pages) * static_cast<double>(size);
  return bytes > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                     : static_cast<int64_t>(bytes);
}
}  // namespace

char FunctionArgKind(int number, int argIndex) {
  std::string_view kinds = kArgKinds[number - 1];
  if (kinds.empty()) return 'A';
  return argIndex < static_cast<int>(kinds.size()) ? kinds[argIndex] : kinds.back();
}

Value CallFunction(int number, const Value* args, int argc, std::string* scratch) {
  auto text = [&](int k) { return k < argc ? args[k].s : std::string_view(); };
  auto integer = [&](int k, int64_t def) { return k < argc ? args[k].i : def; };
  auto real = [&](int k) { return k < argc ? args[k].r : 0.0; };
  switch (number) {
    case 1:  // MEMORY: free physical memory in bytes
      return Value::Int(FreeMemory());
    case 2: {  // SUB(text, start, length): a negative start counts from the end
      std::string_view t = text(0);
      const int64_t len = static_cast<int64_t>(t.size());
      int64_t start = integer(1, 1);
      if (start < 0) start = len + start + 1;
      if (start < 1) start = 1;
      if (start > len) return Value::Text({});
      int64_t count = integer(2, len - start + 1);
      if (count <= 0) return Value::Text({});
      return Value::Text(t.substr(static_cast<size_t>(start - 1), Clamp(count, len - start + 1)));
    }
    case 3:
      return Value::Int(InString(text(0), text(1), integer(2, 1), integer(3, 1)));
    case 4:
      return Value::Text(Clip(text(0)));
    case 5: {  // ALL(text, length)
      std::string_view t = text(0);
      size_t n = Clamp(integer(1, 255), kMaxBuilt);
      scratch->clear();
      if (!t.empty()) {
        while (scratch->size() < n) scratch->append(t.substr(0, n - scratch->size()));
      }
      return Value::Text(*scratch);
    }
    case 6: {  // CENTER(text, length)
      std::string_view t = Clip(TrimLeft(text(0)));
      size_t n = Clamp(integer(1, static_cast<int64_t>(text(0).size())), kMaxBuilt);
      if (t.size() >= n) return Value::Text(t.substr(0, n));
      size_t left = (n - t.size()) / 2;
      scratch->assign(left, ' ');
      scratch->append(t);
      scratch->append(n - scratch->size(), ' ');
      return Value::Text(*scratch);
    }
    case 7:
      scratch->assign(1, static_cast<char>(static_cast<unsigned char>(integer(0, 0))));
      return Value::Text(*scratch);
    case 8:
      return Value::Text(DeformatPicture(text(0), text(1), scratch));
    case 9:
      if (argc < 1) return Value::Text({});
      return Value::Text(FormatPicture(args[0], text(1), scratch));
    case 10: {  // LEFT(text, length): leading blanks moved to the end
      std::string_view t = TrimLeft(text(0));
      size_t n = Clamp(integer(1, static_cast<int64_t>(text(0).size())), kMaxBuilt);
      if (t.size() >= n) return Value::Text(t.substr(0, n));
      scratch->assign(t);
      scratch->append(n - t.size(), ' ');
      return Value::Text(*scratch);
    }
    case 11:
      return Value::Int(static_cast<int64_t>(text(0).size()));
    case 12:
    case 15: {
      std::string_view t = text(0);
      scratch->resize(t.size());
      for (size_t k = 0; k < t.size(); ++k) {
        unsigned char c = static_cast<unsigned char>(t[k]);
        (*scratch)[k] = static_cast<char>(number == 12 ? LowerChar(c) : UpperChar(c));
      }
      return Value::Text(*scratch);
    }
    case 13: {
      bool isNumber = false;
      TextToReal(text(0), &isNumber);
      return Value::Int(isNumber ? 1 : 0);
    }
    case 14: {  // RIGHT(text, length): trailing blanks moved to the front
      std::string_view t = Clip(text(0));
      size_t n = Clamp(integer(1, static_cast<int64_t>(text(0).size())), kMaxBuilt);
      if (t.size() >= n) return Value::Text(t.substr(t.size() - n));
      scratch->assign(n - t.size(), ' ');
      scratch->append(t);
      return Value::Text(*scratch);
    }
    case 16:
      return Value::Int(text(0).empty() ? 0 : static_cast<unsigned char>(text(0)[0]));
    case 17:
      return Real(std::fabs(real(0)));
    case 18: {  // INRANGE(value, low, high)
      if (argc < 3) return Value::Int(0);
      auto cmp = [](const Value& a, const Value& b) {
        if (a.type == kText && b.type == kText) return CompareTexts(a.s, b.s);
        if (a.type == kInteger && b.type == kInteger) return a.i < b.i ? -1 : a.i > b.i ? 1 : 0;
        double x = ValueToReal(a), y = ValueToReal(b);
        return x < y ? -1 : x > y ? 1 : 0;
      };
      return Value::Int(cmp(args[0], args[1]) >= 0 && cmp(args[0], args[2]) <= 0 ? 1 : 0);
    }
    case 19:
      return Value::Int(argc < 1 ? 0 : ValueToInt(args[0]));
    case 20: return Real(real(0) > 0 ? std::log(real(0)) : 0);
    case 21: return Real(real(0) > 0 ? std::log10(real(0)) : 0);
    case 22: return Value::Int(RandomBetween(integer(0, 0), integer(1, 0)));
    case 23: {  // ROUND(value, step): to the nearest multiple of step (1 when missing or 0)
      double step = std::fabs(argc > 1 ? args[1].r : 1.0);
      if (step == 0) step = 1;
      return Real(std::round(real(0) / step) * step);
    }
    case 24: return Real(real(0) >= 0 ? std::sqrt(real(0)) : 0);
    case 25: return Real(std::sin(real(0)));
    case 26: return Real(std::cos(real(0)));
    case 27: return Real(std::tan(real(0)));
    case 28: return Real(std::fabs(real(0)) <= 1 ? std::asin(real(0)) : 0);
    case 29: return Real(std::fabs(real(0)) <= 1 ? std::acos(real(0)) : 0);
    case 30: return Real(std::atan(real(0)));
    case 31: return Value::Int(integer(0, 0) & integer(1, 0));
    case 32: return Value::Int(integer(0, 0) | integer(1, 0));
    case 33: return Value::Int(integer(0, 0) ^ integer(1, 0));
    case 34: {  // BSHIFT(value, count): left for a positive count, right for a negative one
      int64_t v = integer(0, 0), n = integer(1, 0);
      if (n >= 64 || n <= -64) return Value::Int(n > 0 || v >= 0 ? 0 : -1);
      if (n >= 0) return Value::Int(static_cast<int64_t>(static_cast<uint64_t>(v) << n));
      return Value::Int(v >> -n);
    }
    case 35: return Value::Int(platform::Today());
    case 36: return Value::Int(platform::ClockTime());
    case 37: return Value::Int(MakeDate(integer(0, 1), integer(1, 1), integer(2, 0)));
    case 38:
    case 39:
    case 40: {
      int y, m, d;
      if (!Civil(integer(0, 0), &y, &m, &d)) return Value::Int(0);
      return Value::Int(number == 38 ? d : number == 39 ? m : y);
    }
    case 41:
      return Value::Text(Age(integer(0, 0), integer(1, platform::Today()), scratch));
    case 42: {  // CHOOSE(index, v1, v2, ...): value index, or the last one when out of range
      if (argc < 2) return Value::Text({});
      int64_t k = args[0].i;
      const Value& v = (k >= 1 && k <= argc - 1) ? args[k] : args[argc - 1];
      return v.type == kText ? v : Value::Text(ValueToText(v, scratch));
    }
    case 43: {  // INLIST(value, v1, v2, ...): the position of the first item equal to value
      for (int k = 1; k < argc; ++k) {
        const Value& a = args[0];
        const Value& b = args[k];
        bool same;
        if (a.type == kText && b.type == kText) same = CompareTexts(a.s, b.s) == 0;
        else if (a.type == kInteger && b.type == kInteger) same = a.i == b.i;
        else same = ValueToReal(a) == ValueToReal(b);
        if (same) return Value::Int(k);
      }
      return Value::Int(0);
    }
    case 44: {  // GETINI(section, entry, default, file): WIN.INI when no file is named
      std::string section(Clip(text(0))), entry(Clip(text(1))), def(text(2));
      std::string_view file = Clip(TrimLeft(text(3)));
      if (file.empty()) {
        *scratch = platform::GetProfileString(section, entry, def);
      } else {
        *scratch = platform::ReadProfileString(platform::Cp1251ToUtf8(file), section, entry, def);
      }
      return Value::Text(*scratch);
    }
    default:
      return Value::Int(0);
  }
}

}  // namespace korawin::lang
