// Where the fonts of the descriptions meet the fonts of the machine. A name that the machine
// lacks would silently fall back to whatever fontconfig offers, which may draw Cyrillic as
// boxes; so each name gets the stand-ins of the one font table (ui/font_map.h) that are
// installed and carry Cyrillic.
#include "ui/qt/fonts.h"

#include <QFontDatabase>

#include "ui/font_map.h"
#include "ui/qt_print/qt_fonts.h"

namespace korawin::ui::qt {

QStringList DescriptionFontNames() {
  QStringList out;
  for (const FontSubstitution& s : FontSubstitutions()) {
    out << QString::fromLatin1(s.family.data(), static_cast<qsizetype>(s.family.size()));
  }
  return out;
}

QStringList FontCandidates(const QString& name) {
  QStringList out;
  QByteArray latin = name.toLatin1();
  for (std::string_view f : FontStandIns(std::string_view(latin.constData(), latin.size()))) {
    QString family = QString::fromLatin1(f.data(), static_cast<qsizetype>(f.size()));
    if (QFontDatabase::hasFamily(family) &&
        QFontDatabase::writingSystems(family).contains(QFontDatabase::Cyrillic)) {
      out << family;
    }
  }
  return out;
}

void InstallFontSubstitutions() { qtprint::InstallFontSubstitutions(); }

QFont DescriptionFont(std::string_view name, const QFont& base) {
  if (name.empty()) return base;
  QFont f = base;
  f.setFamily(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
  return f;
}

}  // namespace korawin::ui::qt
