// Text measurement with the fonts the Qt renderer draws with, at 1200 dots per inch.
#pragma once

#include <QFontMetricsF>
#include <QImage>
#include <memory>
#include <vector>

#include "ui/report/metrics.h"

namespace korawin::ui::qtprint {

// One thread's measurements; fonts are made once and kept.
class QtTextMetrics : public report::TextMetrics {
 public:
  QtTextMetrics();
  report::LineMetrics Line(const report::FontSpec& font) override;
  double Width(const report::FontSpec& font, std::string_view text) override;

 private:
  const QFontMetricsF& Metrics(const report::FontSpec& font);

  QImage device_;  // gives the resolution the fonts are measured at
  std::vector<std::pair<report::FontSpec, std::unique_ptr<QFontMetricsF>>> fonts_;
  size_t last_ = 0;
};

}  // namespace korawin::ui::qtprint
