// Text measurement with the fonts the Qt renderer draws with, at 1200 dots per inch.
#pragma once

#include <QImage>
#include <array>
#include <memory>
#include <vector>

#include "ui/report/metrics.h"

namespace korawin::ui::qtprint {

// One thread's measurements. Each font's advances of the 256 Windows-1251 characters are
// taken once; a text's width is their sum, as the renderer's fonts draw it (no kerning).
class QtTextMetrics : public report::TextMetrics {
 public:
  QtTextMetrics();
  report::LineMetrics Line(const report::FontSpec& font) override;
  double Width(const report::FontSpec& font, std::string_view text) override;

 private:
  struct Font {
    report::FontSpec font;
    report::LineMetrics line;
    std::array<double, 256> advance;  // thousandths of an inch
  };
  const Font& Measured(const report::FontSpec& font);

  QImage device_;  // gives the resolution the fonts are measured at
  std::vector<std::unique_ptr<Font>> fonts_;
  size_t last_ = 0;
};

}  // namespace korawin::ui::qtprint
