// The one table of fonts: the families the program's windows and reports name, and the
// installed families that carry Cyrillic and stand in for each, best first. The Qt window
// backend and the page renderer both take their font substitutions from here.
#pragma once

#include <span>
#include <string_view>

namespace korawin::ui {

struct FontSubstitution {
  std::string_view family;                     // as the program names it
  std::span<const std::string_view> standIns;   // installed families, best first
};

// Every family the program names, with its stand-ins.
std::span<const FontSubstitution> FontSubstitutions();
// The stand-ins for family (case ignored); for a family the table lacks, those of a sans-serif
// face, so every text is drawn in a font that carries Cyrillic.
std::span<const std::string_view> FontStandIns(std::string_view family);

}  // namespace korawin::ui
