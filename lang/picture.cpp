#include "lang/picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/clock.h"
#include "platform/field_codec.h"

namespace korawin::lang {

namespace {
const char* const kMonths[12] = {"January", "February", "March", "April", "May", "June", "July",
                                 "August", "September", "October", "November", "December"};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads an unsigned number at *p (at most 9 digits); -1 when there is none.
int ReadNumber(std::string_view s, size_t* p) {
  int v = -1;
  int digits = 0;
  while (*p < s.size() && IsDigit(s[*p]) && digits < 9) {
    v = (v < 0 ? 0 : v * 10) + (s[*p] - '0');
    ++*p;
    ++digits;
  }
  return v;
}

void Append2(std::string* out, int v) {
  out->push_back(static_cast<char>('0' + (v / 10) % 10));
  out->push_back(static_cast<char>('0' + v % 10));
}

void Append4(std::string* out, int v) {
  Append2(out, (v / 100) % 100);
  Append2(out, v % 100);
}

struct DateTimePicture {
  int kind = 0;
  char sep = 0;  // 0: the picture's own
};

DateTimePicture ReadKind(std::string_view pic) {
  DateTimePicture d;
  size_t p = 1;
  d.kind = ReadNumber(pic, &p);
  if (p < pic.size()) {
    char c = pic[p];
    if (c == '.' || c == '-') d.sep = c;
    else if (c == '_') d.sep = ' ';
  }
  return d;
}

void FormatDate(int64_t day, std::string_view pic, std::string* out) {
  out->clear();
  if (day < 1 || day > platform::DayNumber(9999, 12, 31)) return;
  int y, m, d;
  platform::CivilDate(static_cast<int32_t>(day), &y, &m, &d);
  DateTimePicture dp = ReadKind(pic);
  char s = dp.sep ? dp.sep : '/';
  const std::string_view name = kMonths[m - 1];
  switch (dp.kind) {
    case 1: Append2(out, m); out->push_back(s); Append2(out, d); out->push_back(s); Append2(out, y); break;
    case 3:
      out->append(name.substr(0, 3)); out->push_back(' '); Append2(out, d); out->push_back(',');
      Append4(out, y); break;
    case 4: case 18:
      out->append(name); out->push_back(' '); Append2(out, d); out->append(", "); Append4(out, y);
      break;
    case 5: Append2(out, d); out->push_back(s); Append2(out, m); out->push_back(s); Append2(out, y); break;
    case 6: case 17:
      Append2(out, d); out->push_back(s); Append2(out, m); out->push_back(s); Append4(out, y); break;
    case 7: case 8:
      Append2(out, d); out->push_back(' '); out->append(name.substr(0, 3)); out->push_back(' ');
      if (dp.kind == 7) Append2(out, y); else Append4(out, y);
      break;
    case 9: Append2(out, y); out->push_back(s); Append2(out, m); out->push_back(s); Append2(out, d); break;
    case 10: Append4(out, y); out->push_back(s); Append2(out, m); out->push_back(s); Append2(out, d); break;
    case 11: Append2(out, y); Append2(out, m); Append2(out, d); break;
    case 12: Append4(out, y); Append2(out, m); Append2(out, d); break;
    case 13: Append2(out, m); out->push_back(s); Append2(out, y); break;
    case 14: Append2(out, m); out->push_back(s); Append4(out, y); break;
    case 15: Append2(out, y); out->push_back(s); Append2(out, m); break;
    case 16: Append4(out, y); out->push_back(s); Append2(out, m); break;
    default:  // 2 and anything unknown
      Append2(out, m); out->push_back(s); Append2(out, d); out->push_back(s); Append4(out, y); break;
  }
}

void FormatTime(int64_t time, std::string_view pic, std::string* out) {
  out->clear();
  if (time < 1 || time > 8640000) return;
  int64_t t = (time - 1) / 100;
  int h = static_cast<int>(t / 3600), mi = static_cast<int>(t / 60 % 60), se = static_cast<int>(t % 60);
  DateTimePicture tp = ReadKind(pic);
  char s = tp.sep ? tp.sep : ':';
  bool ampm = tp.kind == 3 || tp.kind == 6;
  int hh = ampm ? (h % 12 == 0 ? 12 : h % 12) : h;
  Append2(out, hh);
  bool seps = tp.kind != 2 && tp.kind != 5;
  if (seps) out->push_back(s);
  Append2(out, mi);
  if (tp.kind >= 4) {
    if (seps) out->push_back(s);
    Append2(out, se);
  }
  if (ampm) out->append(h < 12 ? "AM" : "PM");
}

void FormatNumber(double v, std::string_view pic, std::string* out) {
  out->clear();
  size_t p = 1;
  if (p < pic.size() && pic[p] == '-') ++p;
  char fill = ' ';
  if (p < pic.size() && (pic[p] == '0' || pic[p] == '*' || pic[p] == '_')) {
    fill = pic[p] == '_' ? ' ' : pic[p];
    ++p;
  }
  int width = ReadNumber(pic, &p);
  int places = 0;
  if (p < pic.size() && pic[p] == '.') {
    ++p;
    places = std::max(0, ReadNumber(pic, &p));
  }
  bool blankZero = p < pic.size() && Lower(pic[p]) == 'b';
  if (width < 0) width = 0;
  width = std::min(width, 255);
  places = std::min(places, 30);
  if (blankZero && v == 0) {
    out->assign(static_cast<size_t>(width), ' ');
    return;
  }
  char buf[400];
  int n = std::snprintf(buf, sizeof buf, "%.*f", places, std::fabs(v));
  if (n < 0 || n >= static_cast<int>(sizeof buf)) n = 0;
  bool negative = v < 0 && std::string_view(buf, n).find_first_not_of("0.") != std::string_view::npos;
  int len = n + (negative ? 1 : 0);
  if (width > 0 && len > width) {
    out->assign(static_cast<size_t>(width), '#');
    return;
  }
  int pad = width > len ? width - len : 0;
  if (fill == ' ') {
    out->assign(static_cast<size_t>(pad), ' ');
    if (negative) out->push_back('-');
  } else {
    if (negative) out->push_back('-');
    out->append(static_cast<size_t>(pad), fill);
  }
  out->append(buf, static_cast<size_t>(n));
}

void FormatPattern(int64_t v, std::string_view pic, std::string* out) {
  // Between the leading "p" and a closing "p".
  std::string_view body = pic.substr(1);
  if (!body.empty() && Lower(body.back()) == 'p') body.remove_suffix(1);
  uint64_t rest = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  out->assign(body);
  for (size_t k = out->size(); k-- > 0;) {
    char c = (*out)[k];
    if (c != '#' && c != '<') continue;
    if (rest == 0 && c == '<') {
      (*out)[k] = ' ';
    } else {
      (*out)[k] = static_cast<char>('0' + rest % 10);
      rest /= 10;
    }
  }
}

// Keeps the marks of a number: digits, one leading minus, the decimal point.
void NumberOnly(std::string_view text, std::string* out) {
  out->clear();
  bool negative = false;
  for (char c : text) {
    if (IsDigit(c) || c == '.') out->push_back(c);
    else if (c == '-' || c == '(') negative = true;
  }
  if (negative && !out->empty()) out->insert(out->begin(), '-');
}

int MonthFromName(std::string_view s, size_t* p) {
  size_t b = *p;
  while (*p < s.size() && ((s[*p] >= 'A' && s[*p] <= 'Z') || (s[*p] >= 'a' && s[*p] <= 'z'))) ++*p;
  if (*p - b < 3) return -1;
  for (int m = 0; m < 12; ++m) {
    bool same = true;
    for (size_t k = 0; k < 3; ++k) same = same && Lower(s[b + k]) == Lower(kMonths[m][k]);
    if (same) return m + 1;
  }
  return -1;
}

int64_t ParseDate(std::string_view text, std::string_view pic) {
  int kind = ReadKind(pic).kind;
  int parts[3] = {-1, -1, -1};
  int count = 0;
  size_t p = 0;
  if (kind == 11 || kind == 12) {
    // No separators: fixed widths.
    std::string digits;
    for (char c : text) {
      if (IsDigit(c)) digits.push_back(c);
    }
    int yw = kind == 11 ? 2 : 4;
    if (static_cast<int>(digits.size()) != yw + 4) return 0;
    size_t at = 0;
    std::string_view all(digits);
    parts[0] = ReadNumber(all.substr(0, yw), &at);
    at = 0;
    parts[1] = ReadNumber(all.substr(yw, 2), &at);
    at = 0;
    parts[2] = ReadNumber(all.substr(yw + 2, 2), &at);
    count = 3;
  } else {
    while (p < text.size() && count < 3) {
      if (IsDigit(text[p])) {
        parts[count++] = ReadNumber(text, &p);
      } else if ((text[p] >= 'A' && text[p] <= 'Z') || (text[p] >= 'a' && text[p] <= 'z')) {
        int m = MonthFromName(text, &p);
        if (m < 0) return 0;
        parts[count++] = m;
      } else {
        ++p;
      }
    }
  }
  int y = -1, m = -1, d = 1;
  switch (kind) {
    case 1: case 2: case 3: case 4: case 18:
      m = parts[0]; d = parts[1]; y = parts[2]; break;
    case 5: case 6: case 7: case 8: case 17:
      d = parts[0]; m = parts[1]; y = parts[2]; break;
    case 9: case 10: case 11: case 12:
      y = parts[0]; m = parts[1]; d = parts[2]; break;
    case 13: case 14: m = parts[0]; y = parts[1]; break;
    case 15: case 16: y = parts[0]; m = parts[1]; break;
    default: m = parts[0]; d = parts[1]; y = parts[2]; break;
  }
  if (y < 0 || m < 1 || m > 12 || d < 1) return 0;
  if (y < 100) y += y < 50 ? 2000 : 1900;  // two-digit years: 1950 to 2049
  if (y > 9999) return 0;
  static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d > kDays[m - 1]) return 0;
  int32_t n = platform::DayNumber(y, m, d);
  int yy, mm, dd;
  platform::CivilDate(n, &yy, &mm, &dd);
  return (mm == m && dd == d) ? n : 0;  // 29 February of a common year
}

int64_t ParseTime(std::string_view text) {
  size_t p = 0;
  int parts[3] = {0, 0, 0};
  int count = 0;
  bool pm = false, am = false;
  while (p < text.size()) {
    if (IsDigit(text[p]) && count < 3) {
      parts[count++] = ReadNumber(text, &p);
      continue;
    }
    char c = Lower(text[p]);
    if (c == 'p') pm = true;
    if (c == 'a') am = true;
    ++p;
  }
  if (count == 0) return 0;
  int h = parts[0], mi = parts[1], se = parts[2];
  if (count == 1 && h >= 100) {  // hhmm or hhmmss written without separators
    int v = h;
    if (v >= 10000) { se = v % 100; v /= 100; }
    mi = v % 100;
    h = v / 100;
  }
  if (pm && h < 12) h += 12;
  if (am && h == 12) h = 0;
  if (h > 23 || mi > 59 || se > 59) return 0;
  return (static_cast<int64_t>(h) * 3600 + mi * 60 + se) * 100 + 1;
}

std::string_view Body(std::string_view picture) {
  if (!picture.empty() && picture[0] == '@') picture.remove_prefix(1);
  return platform::TrimTrailing(picture);
}
}  // namespace

std::string_view FormatPicture(const Value& v, std::string_view picture, std::string* out) {
  std::string_view pic = Body(picture);
  char kind = pic.empty() ? 0 : Lower(pic[0]);
  switch (kind) {
    case 's': {
      size_t p = 1;
      int w = ReadNumber(pic, &p);
      std::string num;
      std::string_view t = ValueToText(v, &num);
      w = std::min(w, 65535);
      if (w < 0) {
        out->assign(t);
      } else {
        out->assign(t.substr(0, static_cast<size_t>(w)));
        out->append(static_cast<size_t>(w) - out->size(), ' ');
      }
      return *out;
    }
    case 'n': FormatNumber(ValueToReal(v), pic, out); return *out;
    case 'd': FormatDate(ValueToInt(v), pic, out); return *out;
    case 't': FormatTime(ValueToInt(v), pic, out); return *out;
    case 'p': FormatPattern(ValueToInt(v), pic, out); return *out;
    default: {
      std::string num;
      out->assign(ValueToText(v, &num));
      return *out;
    }
  }
}

std::string_view DeformatPicture(std::string_view text, std::string_view picture, std::string* out) {
  std::string_view pic = Body(picture);
  char kind = pic.empty() ? 0 : Lower(pic[0]);
  switch (kind) {
    case 's': out->assign(text); return *out;
    case 'd': return IntToText(ParseDate(text, pic), out);
    case 't': return IntToText(ParseTime(text), out);
    default: NumberOnly(text, out); return *out;
  }
}

namespace {
bool Refuse(std::string* why, std::string_view text) {
  if (why) why->assign(text);
  return false;
}
}  // namespace

bool CheckPicture(std::string_view picture, std::string* why) {
  std::string_view pic = Body(picture);
  if (pic.empty()) return Refuse(why, "empty picture");
  char kind = Lower(pic[0]);
  size_t p = 1;
  switch (kind) {
    case 's': {
      if (ReadNumber(pic, &p) < 0) return Refuse(why, "@s without a width");
      break;
    }
    case 'n': {
      if (p < pic.size() && pic[p] == '-') ++p;
      if (p < pic.size() && (pic[p] == '0' || pic[p] == '*' || pic[p] == '_')) ++p;
      int width = ReadNumber(pic, &p);
      if (width < 1 || width > 255) return Refuse(why, "@n without a width from 1 to 255");
      if (p < pic.size() && pic[p] == '.') {
        ++p;
        int places = ReadNumber(pic, &p);
        if (places < 0 || places >= width) return Refuse(why, "@n with bad decimal places");
      }
      if (p < pic.size() && Lower(pic[p]) == 'b') ++p;
      break;
    }
    case 'd':
    case 't': {
      int k = ReadNumber(pic, &p);
      if (k < 1 || k > (kind == 'd' ? 18 : 6)) return Refuse(why, "unknown date or time form");
      if (p < pic.size() && (pic[p] == '.' || pic[p] == '-' || pic[p] == '_')) ++p;
      if (p < pic.size() && Lower(pic[p]) == 'b') ++p;
      break;
    }
    case 'p': {
      if (pic.size() < 2 || Lower(pic.back()) != 'p') return Refuse(why, "@p without its closing p");
      if (pic.find_first_of("#<") == std::string_view::npos) {
        return Refuse(why, "@p without a digit position");
      }
      return true;
    }
    default:
      return Refuse(why, "unknown picture kind");
  }
  if (p != pic.size()) return Refuse(why, "unexpected characters after the picture");
  return true;
}

int PictureWidth(std::string_view picture) {
  if (!CheckPicture(picture)) return 0;
  std::string_view pic = Body(picture);
  char kind = Lower(pic[0]);
  if (kind == 'p') return static_cast<int>(pic.size()) - 2;
  if (kind == 's' || kind == 'n') {
    size_t p = 1;
    while (p < pic.size() && !IsDigit(pic[p])) ++p;
    return ReadNumber(pic, &p);
  }
  // Dates and times: the width of a sample value.
  std::string out;
  Value v = Value::Int(kind == 'd' ? platform::DayNumber(2000, 9, 28) : 4320001);
  FormatPicture(v, picture, &out);
  return static_cast<int>(out.size());
}

}  // namespace korawin::lang
