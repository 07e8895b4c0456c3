#include "platform/codepage.h"

#include <array>

namespace korawin::platform {

namespace {

// Windows-1251, 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F.
constexpr char16_t kHigh1251[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

// Code page 866, 0x80 to 0xFF.
constexpr char16_t kHigh866[128] = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // 80
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // 90
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // A0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // E0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};

char32_t Cp866ToUnicode(unsigned char c) { return c < 0x80 ? c : kHigh866[c - 0x80]; }

struct Tables {
  std::array<unsigned char, 256> toOem{};
  std::array<unsigned char, 256> toAnsi{};
  Tables() {
    for (int c = 0; c < 256; ++c) {
      toOem[c] = '?';
      toAnsi[c] = '?';
    }
    for (int a = 0; a < 256; ++a) {
      char32_t u = Cp1251ToUnicode(static_cast<unsigned char>(a));
      for (int o = 0; o < 256; ++o) {
        if (Cp866ToUnicode(static_cast<unsigned char>(o)) == u) {
          toOem[a] = static_cast<unsigned char>(o);
          toAnsi[o] = static_cast<unsigned char>(a);
          break;
        }
      }
    }
  }
};

const Tables& TablesOnce() {
  static const Tables t;
  return t;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 character at text[i]; returns its length, 0 when malformed.
size_t DecodeUtf8(std::string_view text, size_t i, char32_t* cp) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char c = b(i);
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  size_t len = c >= 0xF0 && c < 0xF8 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  if (len == 0 || i + len > text.size()) return 0;
  char32_t v = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
  for (size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b(i + k) & 0x3F);
  }
  if ((len == 3 && v < 0x800) || (len == 4 && (v < 0x10000 || v > 0x10FFFF))) return 0;
  *cp = v;
  return len;
}

}  // namespace

char32_t Cp1251ToUnicode(unsigned char c) {
  if (c < 0x80) return c;
  if (c >= 0xC0) return 0x0410 + (c - 0xC0);
  return kHigh1251[c - 0x80];
}

std::optional<unsigned char> UnicodeToCp1251(char32_t cp) {
  if (cp < 0x80) return static_cast<unsigned char>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<unsigned char>(0xC0 + (cp - 0x0410));
  for (int i = 0; i < 64; ++i)
    if (kHigh1251[i] == cp) return static_cast<unsigned char>(0x80 + i);
  return std::nullopt;
}

std::string Cp1251ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char ch : text) AppendUtf8(out, Cp1251ToUnicode(static_cast<unsigned char>(ch)));
  return out;
}

std::optional<std::string> Utf8ToCp1251(std::string_view text, size_t* bad) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    size_t len = DecodeUtf8(text, i, &cp);
    std::optional<unsigned char> c = len ? UnicodeToCp1251(cp) : std::nullopt;
    if (!c) {
      if (bad) *bad = i;
      return std::nullopt;
    }
    out += static_cast<char>(*c);
    i += len;
  }
  return out;
}

std::string Utf8ToCp1251Lossy(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    size_t len = DecodeUtf8(text, i, &cp);
    std::optional<unsigned char> c = len ? UnicodeToCp1251(cp) : std::nullopt;
    out += c ? static_cast<char>(*c) : '?';
    i += len ? len : 1;
  }
  return out;
}

unsigned char AnsiToOem(unsigned char c) { return TablesOnce().toOem[c]; }
unsigned char OemToAnsi(unsigned char c) { return TablesOnce().toAnsi[c]; }

void AnsiToOemInPlace(char* text, size_t n) {
  const auto& t = TablesOnce().toOem;
  for (size_t i = 0; i < n; ++i) text[i] = static_cast<char>(t[static_cast<unsigned char>(text[i])]);
}

void OemToAnsiInPlace(char* text, size_t n) {
  const auto& t = TablesOnce().toAnsi;
  for (size_t i = 0; i < n; ++i) text[i] = static_cast<char>(t[static_cast<unsigned char>(text[i])]);
}

namespace {

struct CaseTables {
  unsigned char upper[256];
  unsigned char lower[256];
  bool letter[256];

  CaseTables() {
    for (int c = 0; c < 256; ++c) {
      char32_t u = Cp1251ToUnicode(static_cast<unsigned char>(c));
      char32_t up = u, low = u;
      bool isLetter = true;
      if (u >= U'a' && u <= U'z') up = u - 32;
      else if (u >= U'A' && u <= U'Z') low = u + 32;
      else if (u >= 0x430 && u <= 0x44F) up = u - 0x20;   // а..я
      else if (u >= 0x410 && u <= 0x42F) low = u + 0x20;  // А..Я
      else if (u >= 0x450 && u <= 0x45F) up = u - 0x50;   // ё, ђ, ѓ ...
      else if (u >= 0x400 && u <= 0x40F) low = u + 0x50;  // Ё, Ђ, Ѓ ...
      else if (u == 0x491) up = 0x490;                    // ґ
      else if (u == 0x490) low = 0x491;                   // Ґ
      else isLetter = false;
      letter[c] = isLetter;
      upper[c] = lower[c] = static_cast<unsigned char>(c);
      if (auto b = UnicodeToCp1251(up)) upper[c] = *b;
      if (auto b = UnicodeToCp1251(low)) lower[c] = *b;
    }
  }
};

const CaseTables& Cases() {
  static const CaseTables tables;
  return tables;
}

}  // namespace

unsigned char UpperCp1251(unsigned char c) { return Cases().upper[c]; }
unsigned char LowerCp1251(unsigned char c) { return Cases().lower[c]; }
bool IsCp1251Letter(unsigned char c) { return Cases().letter[c]; }

}  // namespace korawin::platform
