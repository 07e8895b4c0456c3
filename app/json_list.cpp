#include "app/json_list.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace korawin::app {

namespace {

bool Blank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool Digit(int c) { return c >= '0' && c <= '9'; }

// Bytes a text takes as they stand: printable ASCII but the quote and the backslash.
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> t{};
  for (int c = 0x20; c < 0x80; ++c) t[static_cast<size_t>(c)] = c != '"' && c != '\\';
  return t;
}();

int HexDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

JsonListReader::JsonListReader(std::streambuf& in, size_t buffer)
    : in_(in), buf_(std::max<size_t>(buffer, 8)) {
  pos_ = end_ = buf_.data();
}

// The next byte, or -1 at the end of the text.
int JsonListReader::Peek() {
  if (pos_ == end_ && !Fill()) return -1;
  return static_cast<unsigned char>(*pos_);
}

// Reads on once every byte of the buffer is taken; false at the end of the text.
bool JsonListReader::Fill() {
  base_ += static_cast<uint64_t>(end_ - buf_.data());
  std::streamsize n = in_.sgetn(buf_.data(), static_cast<std::streamsize>(buf_.size()));
  pos_ = buf_.data();
  end_ = pos_ + (n > 0 ? n : 0);
  return n > 0;
}

// At least n bytes ahead when the text has them; the number ahead.
size_t JsonListReader::Ensure(size_t n) {
  size_t ahead = static_cast<size_t>(end_ - pos_);
  if (ahead >= n) return ahead;
  base_ += static_cast<uint64_t>(pos_ - buf_.data());
  std::memmove(buf_.data(), pos_, ahead);
  pos_ = buf_.data();
  end_ = pos_ + ahead;
  while (ahead < n) {
    std::streamsize got = in_.sgetn(end_, static_cast<std::streamsize>(buf_.size() - ahead));
    if (got <= 0) break;
    end_ += got;
    ahead += static_cast<size_t>(got);
  }
  return ahead;
}

bool JsonListReader::Fail(const char* why) { return FailAt(Offset(), why); }

bool JsonListReader::FailAt(uint64_t where, const char* why) {
  why_ = why;
  where_ = where;
  return false;
}

void JsonListReader::SkipBlanks() {
  for (;;) {
    while (pos_ < end_ && Blank(*pos_)) ++pos_;
    if (pos_ < end_ || !Fill()) return;
  }
}

bool JsonListReader::Expect(char c, const char* why) {
  if (Peek() != c) return Peek() < 0 ? Fail("the text ends too early") : Fail(why);
  Take();
  return true;
}

// The rest of a text whose opening quote is taken.
bool JsonListReader::ReadString(std::string* out) {
  for (;;) {
    if (pos_ == end_ && !Fill()) return Fail("the text ends inside a string");
    // Printable ASCII and well-formed two-byte sequences (all of Cyrillic) go in a run.
    char* p = pos_;
    while (p < end_) {
      auto c = static_cast<unsigned char>(*p);
      if (kPlain[c]) {
        ++p;
      } else if (c >= 0xC2 && c <= 0xDF && end_ - p >= 2 &&
                 (static_cast<unsigned char>(p[1]) & 0xC0) == 0x80) {
        p += 2;
      } else {
        break;
      }
    }
    out->append(pos_, static_cast<size_t>(p - pos_));
    pos_ = p;
    if (pos_ == end_) continue;
    auto c = static_cast<unsigned char>(*pos_);
    if (c == '"') {
      Take();
      return true;
    }
    if (c == '\\') {
      if (!ReadEscape(out)) return false;
    } else if (c < 0x20) {
      return Fail("a control character inside a string (it must be escaped)");
    } else if (!ReadUtf8(out)) {
      return false;
    }
  }
}

// One escape, from its backslash; \u escapes of a surrogate pair come as one character.
bool JsonListReader::ReadEscape(std::string* out) {
  const uint64_t start = Offset();
  Ensure(2);
  Take();
  int c = Peek();
  if (c < 0) return Fail("the text ends inside a string");
  Take();
  switch (c) {
    case '"': out->push_back('"'); return true;
    case '\\': out->push_back('\\'); return true;
    case '/': out->push_back('/'); return true;
    case 'b': out->push_back('\b'); return true;
    case 'f': out->push_back('\f'); return true;
    case 'n': out->push_back('\n'); return true;
    case 'r': out->push_back('\r'); return true;
    case 't': out->push_back('\t'); return true;
    case 'u': break;
    default: return FailAt(start, "an unknown escape");
  }
  auto hex4 = [&](uint32_t* v) {
    if (Ensure(4) < 4) return false;
    *v = 0;
    for (int i = 0; i < 4; ++i) {
      int d = HexDigit(static_cast<unsigned char>(pos_[i]));
      if (d < 0) return false;
      *v = *v << 4 | static_cast<uint32_t>(d);
    }
    pos_ += 4;
    return true;
  };
  uint32_t cp = 0;
  if (!hex4(&cp)) return FailAt(start, "\\u needs four hexadecimal digits");
  if (cp >= 0xDC00 && cp <= 0xDFFF) return FailAt(start, "a low surrogate without a high one");
  if (cp >= 0xD800 && cp <= 0xDBFF) {
    uint32_t low = 0;
    if (Ensure(2) < 2 || pos_[0] != '\\' || pos_[1] != 'u')
      return FailAt(start, "a high surrogate without a low one");
    pos_ += 2;
    if (!hex4(&low) || low < 0xDC00 || low > 0xDFFF)
      return FailAt(start, "a high surrogate without a low one");
    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
  }
  AppendUtf8(cp, out);
  return true;
}

// One UTF-8 sequence of two to four bytes, checked as RFC 3629 allows them.
bool JsonListReader::ReadUtf8(std::string* out) {
  size_t ahead = Ensure(4);
  const auto* p = reinterpret_cast<const unsigned char*>(pos_);
  const unsigned c = p[0];
  size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return Fail("ill-formed UTF-8");
  }
  if (ahead < length) return Fail("ill-formed UTF-8");
  if (p[1] < low || p[1] > high) return Fail("ill-formed UTF-8");
  for (size_t i = 2; i < length; ++i)
    if ((p[i] & 0xC0) != 0x80) return Fail("ill-formed UTF-8");
  out->append(pos_, length);
  pos_ += length;
  return true;
}

// A number: whole when it has neither fraction nor exponent.
bool JsonListReader::ReadNumber(JsonValue* v) {
  const uint64_t start = Offset();
  bool negative = Peek() == '-';
  if (negative) Take();
  if (!Digit(Peek())) return FailAt(start, "a number without digits");
  uint64_t magnitude = 0;
  bool beyond = false;
  if (Peek() == '0') {
    Take();
  } else {
    while (Digit(Peek())) {
      auto d = static_cast<uint64_t>(Peek() - '0');
      if (magnitude > (std::numeric_limits<uint64_t>::max() - d) / 10) beyond = true;
      else magnitude = magnitude * 10 + d;
      Take();
    }
  }
  bool whole = true;
  if (Peek() == '.') {
    Take();
    if (!Digit(Peek())) return FailAt(start, "a fraction without digits");
    while (Digit(Peek())) Take();
    whole = false;
  }
  if (Peek() == 'e' || Peek() == 'E') {
    Take();
    if (Peek() == '+' || Peek() == '-') Take();
    if (!Digit(Peek())) return FailAt(start, "an exponent without digits");
    while (Digit(Peek())) Take();
    whole = false;
  }
  if (!whole) {
    v->kind = JsonValue::kOther;
    return true;
  }
  constexpr uint64_t kMax = std::numeric_limits<int64_t>::max();
  v->kind = JsonValue::kWhole;
  if (negative)
    v->whole = beyond || magnitude > kMax + 1 ? std::numeric_limits<int64_t>::min()
                                              : static_cast<int64_t>(0 - magnitude);
  else
    v->whole = beyond || magnitude > kMax ? std::numeric_limits<int64_t>::max()
                                          : static_cast<int64_t>(magnitude);
  return true;
}

bool JsonListReader::ReadLiteral(const char* word, size_t length) {
  if (Ensure(length) < length || std::memcmp(pos_, word, length) != 0)
    return Fail("expected a value");
  pos_ += length;
  return true;
}

bool JsonListReader::ReadValue(JsonValue* v) {
  switch (Peek()) {
    case '"':
      Take();
      v->kind = JsonValue::kText;
      v->text.clear();
      return ReadString(&v->text);
    case 't':
      v->kind = JsonValue::kOther;
      return ReadLiteral("true", 4);
    case 'f':
      v->kind = JsonValue::kOther;
      return ReadLiteral("false", 5);
    case 'n':
      v->kind = JsonValue::kNull;
      return ReadLiteral("null", 4);
    case '[':
    case '{':
      v->kind = JsonValue::kOther;
      return ReadNested();
    case -1:
      return Fail("the text ends too early");
    default:
      if (Peek() == '-' || Digit(Peek())) return ReadNumber(v);
      return Fail("expected a value");
  }
}

// A list or object inside an element, checked and passed over. Its depth is held on a stack
// of brackets, not on the call stack, so that no nesting can exhaust it.
bool JsonListReader::ReadNested() {
  open_.assign(1, static_cast<char>(Peek()));
  Take();
  bool opened = true;  // just after a bracket: it may close at once
  JsonValue scalar;
  while (!open_.empty()) {
    SkipBlanks();
    const bool object = open_.back() == '{';
    const char close = object ? '}' : ']';
    int c = Peek();
    if (c == close && opened) {
      Take();
      open_.pop_back();
      opened = false;
      continue;
    }
    if (!opened) {
      if (c == close) {
        Take();
        open_.pop_back();
        continue;
      }
      if (c != ',') return c < 0 ? Fail("the text ends too early")
                                 : Fail(object ? "expected ',' or '}'" : "expected ',' or ']'");
      Take();
      SkipBlanks();
      c = Peek();
    }
    if (object) {
      if (c != '"') return c < 0 ? Fail("the text ends too early") : Fail("expected a name");
      Take();
      scratch_.clear();
      if (!ReadString(&scratch_)) return false;
      SkipBlanks();
      if (!Expect(':', "expected ':'")) return false;
      SkipBlanks();
      c = Peek();
    }
    if (c == '[' || c == '{') {
      Take();
      open_.push_back(static_cast<char>(c));
      opened = true;
      continue;
    }
    if (!ReadValue(&scalar)) return false;
    opened = false;
  }
  return true;
}

bool JsonListReader::ReadObject(JsonElement* e) {
  Take();
  e->object = true;
  SkipBlanks();
  if (Peek() == '}') {
    Take();
    return true;
  }
  for (;;) {
    int c = Peek();
    if (c != '"') return c < 0 ? Fail("the text ends too early") : Fail("expected a name");
    Take();
    if (e->count == e->members.size()) e->members.emplace_back();
    JsonMember& m = e->members[e->count];
    m.name.clear();
    if (!ReadString(&m.name)) return false;
    SkipBlanks();
    if (!Expect(':', "expected ':'")) return false;
    SkipBlanks();
    if (!ReadValue(&m.value)) return false;
    ++e->count;
    SkipBlanks();
    c = Peek();
    if (c == '}') {
      Take();
      return true;
    }
    if (c != ',') return c < 0 ? Fail("the text ends too early") : Fail("expected ',' or '}'");
    Take();
    SkipBlanks();
  }
}

JsonListReader::Result JsonListReader::Next(JsonElement* e) {
  e->object = false;
  e->count = 0;
  switch (state_) {
    case State::kStart: {
      if (Ensure(3) >= 3 && std::memcmp(pos_, "\xEF\xBB\xBF", 3) == 0) pos_ += 3;
      SkipBlanks();
      int c = Peek();
      if (c == '[') {
        Take();
        state_ = State::kFirst;
        return Next(e);
      }
      if (c == '{' || c == '"' || c == '-' || Digit(c) || c == 't' || c == 'f' || c == 'n')
        return End(kNotAList);
      Fail(c < 0 ? "the text is empty" : "expected a list");
      return End(kMalformed);
    }
    case State::kFirst:
      SkipBlanks();
      if (Peek() == ']') {
        Take();
        state_ = State::kAfterList;
        return Next(e);
      }
      state_ = State::kInList;
      break;
    case State::kAfterElement: {
      SkipBlanks();
      int c = Peek();
      if (c == ']') {
        Take();
        state_ = State::kAfterList;
        return Next(e);
      }
      if (c != ',') {
        Fail(c < 0 ? "the text ends too early" : "expected ',' or ']'");
        return End(kMalformed);
      }
      Take();
      SkipBlanks();
      state_ = State::kInList;
      break;
    }
    case State::kAfterList:
      SkipBlanks();
      if (Peek() >= 0) {
        Fail("text after the list");
        return End(kMalformed);
      }
      return End(kEnd);
    case State::kInList:
      break;
    case State::kDone:
      return ended_;
  }
  bool ok = false;
  if (Peek() == '{') {
    ok = ReadObject(e);
  } else {
    JsonValue v;
    ok = ReadValue(&v);
  }
  if (!ok) return End(kMalformed);
  state_ = State::kAfterElement;
  return kElement;
}

}  // namespace korawin::app
