// Fonts of reports and windows on Qt: the families the program names mapped to installed
// families that carry Cyrillic, by the one table of ui/font_map.h.
#pragma once

#include <QFont>
#include <QString>
#include <string_view>

#include "ui/report/report_desc.h"

namespace korawin::ui::qtprint {

// Tells QFont the stand-ins of every family the program names (QFont::insertSubstitutions), so
// a widget font set by name finds a face with Cyrillic. Call once on the GUI thread.
void InstallFontSubstitutions();
// The installed family that draws family: itself when installed and carrying Cyrillic, else
// the first installed stand-in. Thread-safe.
QString ResolveFamily(std::string_view family);
// The font a report's text is measured and drawn with: sizes in points, no hinting, so that
// widths scale with the resolution and a page looks the same on paper, in PDF and in preview;
// no kerning or ligatures, so that a text's width is the sum of its characters' advances.
QFont ReportFont(const report::FontSpec& font);
// Windows-1251 text as a QString.
QString FromCp1251(std::string_view text);

}  // namespace korawin::ui::qtprint
