#include "ui/font_map.h"

namespace korawin::ui {

namespace {

// Liberation has the metrics of the faces the program was designed with; DejaVu and FreeFont
// come after it for machines without it.
constexpr std::string_view kSerif[] = {"Liberation Serif", "DejaVu Serif", "FreeSerif"};
constexpr std::string_view kSans[] = {"Liberation Sans", "DejaVu Sans", "FreeSans"};
constexpr std::string_view kMono[] = {"Liberation Mono", "DejaVu Sans Mono", "FreeMono"};

constexpr FontSubstitution kTable[] = {
    {"Times New Roman Cyr", kSerif},
    {"Times New Roman", kSerif},
    {"MS Sans Serif", kSans},
    {"MS SanSerif", kSans},  // spelt so on the frame's toolbar
    {"MS Shell Dlg", kSans},
    {"Arial", kSans},
    {"Arial Cyr", kSans},
    {"System", kSans},
    {"Courier", kMono},
    {"Courier New", kMono},
    {"Courier New Cyr", kMono},
};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k)
    if (Lower(a[k]) != Lower(b[k])) return false;
  return true;
}

}  // namespace

std::span<const FontSubstitution> FontSubstitutions() { return kTable; }

std::span<const std::string_view> FontStandIns(std::string_view family) {
  for (const FontSubstitution& s : kTable)
    if (SameNoCase(s.family, family)) return s.standIns;
  return kSans;
}

}  // namespace korawin::ui
