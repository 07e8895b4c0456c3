// The fonts that window descriptions name, mapped to installed fonts that carry Cyrillic.
#pragma once

#include <QFont>
#include <QStringList>
#include <string_view>

namespace korawin::ui::qt {

// Maps every font name the descriptions use to the installed fonts that carry Cyrillic. Call
// once the QApplication exists, before the first window is built.
void InstallFontSubstitutions();
// The font names the descriptions use.
QStringList DescriptionFontNames();
// The installed fonts a description's font name may become, best first.
QStringList FontCandidates(const QString& name);
// base with the family a description names; base itself for an empty name. Sizes stay the
// desktop's, so that text keeps the size the user chose.
QFont DescriptionFont(std::string_view name, const QFont& base);

}  // namespace korawin::ui::qt
