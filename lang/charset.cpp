#include "lang/charset.h"

#include "platform/codepage.h"

namespace korawin::lang {

namespace {
struct CaseTables {
  unsigned char upper[256];
  unsigned char lower[256];
  bool letter[256];

  CaseTables() {
    for (int c = 0; c < 256; ++c) {
      upper[c] = lower[c] = static_cast<unsigned char>(c);
      letter[c] = false;
    }
    for (int c = 0; c < 256; ++c) {
      char32_t u = platform::Cp1251ToUnicode(static_cast<unsigned char>(c));
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
      if (auto b = platform::UnicodeToCp1251(up)) upper[c] = *b;
      if (auto b = platform::UnicodeToCp1251(low)) lower[c] = *b;
    }
  }
};

const CaseTables& Tables() {
  static const CaseTables tables;
  return tables;
}
}  // namespace

unsigned char UpperChar(unsigned char c) { return Tables().upper[c]; }
unsigned char LowerChar(unsigned char c) { return Tables().lower[c]; }
bool IsLetter(unsigned char c) { return Tables().letter[c]; }

int CompareNoCase(std::string_view a, std::string_view b) {
  const CaseTables& t = Tables();
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t k = 0; k < n; ++k) {
    unsigned char x = t.upper[static_cast<unsigned char>(a[k])];
    unsigned char y = t.upper[static_cast<unsigned char>(b[k])];
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace korawin::lang
