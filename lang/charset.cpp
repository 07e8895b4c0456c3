#include "lang/charset.h"

namespace korawin::lang {

int CompareNoCase(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t k = 0; k < n; ++k) {
    unsigned char x = UpperChar(static_cast<unsigned char>(a[k]));
    unsigned char y = UpperChar(static_cast<unsigned char>(b[k]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace korawin::lang
