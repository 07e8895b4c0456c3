// Letters and case of Windows-1251 text, as the evaluator sees them: the code page's own case
// (platform/codepage.h), and names compared without regard to case.
#pragma once

#include <string_view>

#include "platform/codepage.h"

namespace korawin::lang {

inline unsigned char UpperChar(unsigned char c) { return platform::UpperCp1251(c); }
inline unsigned char LowerChar(unsigned char c) { return platform::LowerCp1251(c); }
// True for a Latin or Cyrillic letter of the code page.
inline bool IsLetter(unsigned char c) { return platform::IsCp1251Letter(c); }
// Three-way comparison of two names after upper-casing both.
int CompareNoCase(std::string_view a, std::string_view b);

}  // namespace korawin::lang
