// Letters and case of Windows-1251 text: Latin and Cyrillic letters (Ё/ё and the other
// Cyrillic letters of the code page included) fold between upper and lower case.
#pragma once

#include <string_view>

namespace korawin::lang {

unsigned char UpperChar(unsigned char c);
unsigned char LowerChar(unsigned char c);
// True for a Latin or Cyrillic letter of the code page.
bool IsLetter(unsigned char c);
// Three-way comparison of two names after upper-casing both.
int CompareNoCase(std::string_view a, std::string_view b);

}  // namespace korawin::lang
