// The one place where the fonts of the descriptions meet the fonts of the machine. A name that
// the machine lacks would silently fall back to whatever fontconfig offers, which may draw
// Cyrillic as boxes; so each name gets its substitutes here, checked for Cyrillic.
#include "ui/qt/fonts.h"

#include <QFontDatabase>

namespace korawin::ui::qt {

namespace {

struct Mapping {
  const char* name;
  const char* const* families;
};

constexpr const char* kSans[] = {"Liberation Sans", "DejaVu Sans", "Noto Sans", "FreeSans",
                                 nullptr};
constexpr const char* kSerif[] = {"Liberation Serif", "DejaVu Serif", "Noto Serif", "FreeSerif",
                                  nullptr};
constexpr const char* kMono[] = {"Liberation Mono", "DejaVu Sans Mono", "Noto Mono", "FreeMono",
                                 nullptr};

// "MS SanSerif" is spelt so in the frame's toolbar; it means the same font.
constexpr Mapping kMappings[] = {
    {"MS Sans Serif", kSans},        {"MS SanSerif", kSans},      {"Arial", kSans},
    {"Times New Roman Cyr", kSerif}, {"Times New Roman", kSerif}, {"Courier New", kMono},
};

}  // namespace

QStringList DescriptionFontNames() {
  QStringList out;
  for (const Mapping& m : kMappings) out << QString::fromLatin1(m.name);
  return out;
}

QStringList FontCandidates(const QString& name) {
  QStringList out;
  for (const Mapping& m : kMappings) {
    if (name.compare(QLatin1String(m.name), Qt::CaseInsensitive) != 0) continue;
    for (const char* const* f = m.families; *f; ++f) {
      QString family = QString::fromLatin1(*f);
      if (QFontDatabase::hasFamily(family) &&
          QFontDatabase::writingSystems(family).contains(QFontDatabase::Cyrillic)) {
        out << family;
      }
    }
  }
  return out;
}

void InstallFontSubstitutions() {
  for (const QString& name : DescriptionFontNames()) {
    // A machine that has the font itself, with Cyrillic, keeps it.
    if (QFontDatabase::hasFamily(name) &&
        QFontDatabase::writingSystems(name).contains(QFontDatabase::Cyrillic)) {
      continue;
    }
    QFont::removeSubstitutions(name);
    QFont::insertSubstitutions(name, FontCandidates(name));
  }
}

QFont DescriptionFont(std::string_view name, const QFont& base) {
  if (name.empty()) return base;
  QFont f = base;
  f.setFamily(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
  return f;
}

}  // namespace korawin::ui::qt
