// Text measurement for laying out reports. The Qt side measures with the fonts it draws with,
// so the pages laid out are what prints; FixedMetrics is a deterministic stand-in for tests and
// for a program without fonts.
#pragma once

#include <string_view>

#include "ui/report/report_desc.h"

namespace korawin::ui::report {

// Vertical measures of a font, in thousandths of an inch.
struct LineMetrics {
  double ascent = 0;      // from the top of a line to its baseline
  double lineHeight = 0;  // from one line's top to the next one's
};

class TextMetrics {
 public:
  virtual ~TextMetrics() = default;
  // The font's vertical measures.
  virtual LineMetrics Line(const FontSpec& font) = 0;
  // The advance width of text (Windows-1251) in the font, in thousandths of an inch.
  virtual double Width(const FontSpec& font, std::string_view text) = 0;
};

// Every character half as wide as the font is high (a bold one a tenth wider); lines 1.2 times
// the font size with the baseline at 0.9. Thread-safe: it holds no state.
class FixedMetrics : public TextMetrics {
 public:
  LineMetrics Line(const FontSpec& font) override;
  double Width(const FontSpec& font, std::string_view text) override;
};

}  // namespace korawin::ui::report
