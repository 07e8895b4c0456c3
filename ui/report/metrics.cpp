#include "ui/report/metrics.h"

namespace korawin::ui::report {

namespace {
// A point in thousandths of an inch.
constexpr double kPoint = kUnitsPerInch / 72.0;
}  // namespace

LineMetrics FixedMetrics::Line(const FontSpec& font) {
  return LineMetrics{0.9 * font.size * kPoint, 1.2 * font.size * kPoint};
}

double FixedMetrics::Width(const FontSpec& font, std::string_view text) {
  double each = 0.5 * font.size * kPoint * (font.bold ? 1.1 : 1.0);
  return each * static_cast<double>(text.size());
}

}  // namespace korawin::ui::report
