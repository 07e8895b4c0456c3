#include "ui/qt_print/qt_metrics.h"

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

const QFontMetricsF& QtTextMetrics::Metrics(const report::FontSpec& font) {
  // Reports use few fonts and mostly the same one in a row.
  if (last_ < fonts_.size() && fonts_[last_].first == font) return *fonts_[last_].second;
  for (size_t k = 0; k < fonts_.size(); ++k) {
    if (fonts_[k].first == font) {
      last_ = k;
      return *fonts_[k].second;
    }
  }
  fonts_.emplace_back(font, std::make_unique<QFontMetricsF>(ReportFont(font), &device_));
  last_ = fonts_.size() - 1;
  return *fonts_.back().second;
}

report::LineMetrics QtTextMetrics::Line(const report::FontSpec& font) {
  const QFontMetricsF& m = Metrics(font);
  return report::LineMetrics{m.ascent() * kUnitsPerDot, m.lineSpacing() * kUnitsPerDot};
}

double QtTextMetrics::Width(const report::FontSpec& font, std::string_view text) {
  return Metrics(font).horizontalAdvance(FromCp1251(text)) * kUnitsPerDot;
}

}  // namespace korawin::ui::qtprint
