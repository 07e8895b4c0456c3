#include "ui/qt_print/qt_fonts.h"

#include <QFontDatabase>
#include <QStringList>
#include <map>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "ui/font_map.h"

namespace korawin::ui::qtprint {

namespace {

QString Latin(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

bool Usable(const QString& family) {
  return QFontDatabase::hasFamily(family) &&
         QFontDatabase::writingSystems(family).contains(QFontDatabase::Cyrillic);
}

}  // namespace

void InstallFontSubstitutions() {
  for (const FontSubstitution& s : FontSubstitutions()) {
    QString family = Latin(s.family);
    // A machine that has the font itself, with Cyrillic, keeps it.
    if (Usable(family)) continue;
    QStringList list;
    for (std::string_view f : s.standIns)
      if (Usable(Latin(f))) list << Latin(f);
    QFont::removeSubstitutions(family);
    QFont::insertSubstitutions(family, list);
  }
}

QString ResolveFamily(std::string_view family) {
  static std::mutex mu;
  static std::map<std::string, QString, std::less<>> known;
  std::lock_guard<std::mutex> lock(mu);
  auto it = known.find(family);
  if (it != known.end()) return it->second;
  QString chosen = FromCp1251(family);
  if (!Usable(chosen)) {
    for (std::string_view f : FontStandIns(family)) {
      if (Usable(Latin(f))) {
        chosen = Latin(f);
        break;
      }
    }
  }
  known.emplace(std::string(family), chosen);
  return chosen;
}

QFont ReportFont(const report::FontSpec& font) {
  QFont f(ResolveFamily(font.family));
  f.setPointSizeF(font.size);
  f.setBold(font.bold);
  f.setItalic(font.italic);
  f.setUnderline(font.underline);
  f.setHintingPreference(QFont::PreferNoHinting);
  // Without kerning and ligatures a line is as wide as its characters added up, which is how
  // it was measured.
  f.setKerning(false);
  f.setStyleStrategy(QFont::PreferNoShaping);
  return f;
}

QString FromCp1251(std::string_view text) {
  QString out(static_cast<qsizetype>(text.size()), Qt::Uninitialized);
  QChar* p = out.data();
  for (char c : text)
    *p++ = QChar(static_cast<char16_t>(platform::Cp1251ToUnicode(static_cast<unsigned char>(c))));
  return out;
}

}  // namespace korawin::ui::qtprint
