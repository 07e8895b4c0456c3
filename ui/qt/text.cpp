#include "ui/qt/text.h"

#include <QFontMetricsF>
#include <QList>

#include "platform/codepage.h"

namespace korawin::ui::qt {

QString FromAnsi(std::string_view text) {
  return QString::fromStdString(platform::Cp1251ToUtf8(text));
}

bool ToAnsi(const QString& text, std::string* out) {
  std::optional<std::string> ansi = platform::Utf8ToCp1251(text.toStdString());
  if (!ansi) return false;
  *out = std::move(*ansi);
  return true;
}

QString FirstForeignChar(const QString& text) {
  for (char32_t cp : text.toUcs4()) {
    if (!platform::UnicodeToCp1251(cp)) return QString::fromUcs4(&cp, 1);
  }
  return QString();
}

QString RefusedCharMessage(const QString& ch) {
  return QStringLiteral("Символ «%1» нельзя ввести: его нет в кодировке Windows-1251").arg(ch);
}

QString TooLongMessage(int limit) {
  return QStringLiteral("Текст не помещается: в этом поле не больше %1 знаков").arg(limit);
}

QString StripMnemonic(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] != u'&') {
      out += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == u'&') {
      out += u'&';
      ++i;
    }
  }
  return out;
}

DialogUnits::DialogUnits(const QFont& font) {
  // The average over the Latin alphabet, as dialog units have always been measured.
  QFontMetricsF fm(font);
  static const QString kAlphabet =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  x_ = fm.horizontalAdvance(kAlphabet) / kAlphabet.size() / 4.0;
  y_ = fm.height() / 8.0;
}

int DialogUnits::X(double dlu) const { return qRound(dlu * x_); }
int DialogUnits::Y(double dlu) const { return qRound(dlu * y_); }
int DialogUnits::ToX(int px) const { return qRound(px / x_); }
int DialogUnits::ToY(int px) const { return qRound(px / y_); }

}  // namespace korawin::ui::qt
