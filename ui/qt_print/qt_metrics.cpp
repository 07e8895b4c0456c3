#include "ui/qt_print/qt_metrics.h"

#include <QFontMetricsF>

#include "ui/qt_print/qt_fonts.h"

namespace korawin::ui::qtprint {

namespace {
constexpr int kDpi = 1200;
constexpr double kUnitsPerDot = static_cast<double>(report::kUnitsPerInch) / kDpi;
}  // namespace

QtTextMetrics::QtTextMetrics() : device_(1, 1, QImage::Format_RGB32) {
  int dpm = static_cast<int>(kDpi / 0.0254 + 0.5);
  device_.setDotsPerMeterX(dpm);
  device_.setDotsPerMeterY(dpm);
}

const QtTextMetrics::Font& QtTextMetrics::Measured(const report::FontSpec& font) {
  // Reports use few fonts and mostly the same one in a row.
  if (last_ < fonts_.size() && fonts_[last_]->font == font) return *fonts_[last_];
  for (size_t k = 0; k < fonts_.size(); ++k) {
    if (fonts_[k]->font == font) {
      last_ = k;
      return *fonts_[k];
    }
  }
  auto f = std::make_unique<Font>();
  f->font = font;
  QFontMetricsF m(ReportFont(font), &device_);
  f->line = report::LineMetrics{m.ascent() * kUnitsPerDot, m.lineSpacing() * kUnitsPerDot};
  for (int c = 0; c < 256; ++c) {
    char byte = static_cast<char>(c);
    f->advance[static_cast<size_t>(c)] =
        m.horizontalAdvance(FromCp1251(std::string_view(&byte, 1))) * kUnitsPerDot;
  }
  fonts_.push_back(std::move(f));
  last_ = fonts_.size() - 1;
  return *fonts_.back();
}

report::LineMetrics QtTextMetrics::Line(const report::FontSpec& font) { return Measured(font).line; }

double QtTextMetrics::Width(const report::FontSpec& font, std::string_view text) {
  const Font& f = Measured(font);
  double w = 0;
  for (char c : text) w += f.advance[static_cast<unsigned char>(c)];
  return w;
}

}  // namespace korawin::ui::qtprint
