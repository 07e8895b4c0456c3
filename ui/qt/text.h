// Text at the Qt boundary: the runtime speaks Windows-1251, widgets speak Unicode. Conversions
// and the measures that turn dialog units into pixels live here.
#pragma once

#include <QFont>
#include <QString>
#include <string>
#include <string_view>

namespace korawin::ui::qt {

// Windows-1251 text as a QString.
QString FromAnsi(std::string_view text);
// A QString as Windows-1251; false, leaving *out alone, when a character has no Windows-1251 byte.
bool ToAnsi(const QString& text, std::string* out);
// The first character of text that Windows-1251 lacks; an empty string when there is none.
QString FirstForeignChar(const QString& text);
// What the user is told when an entry refuses such a character.
QString RefusedCharMessage(const QString& ch);
// What the user is told when a text box refuses text beyond limit bytes.
QString TooLongMessage(int limit);
// A caption without its "&" marks ("&&" stays one "&").
QString StripMnemonic(const QString& text);

// Dialog units of a font: a quarter of its average character width across, an eighth of its
// height down. Descriptions give sizes in them, so that a window keeps its proportions at any
// resolution and font size.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  // Pixels (device-independent) for a width or height in dialog units.
  int X(double dlu) const;
  int Y(double dlu) const;
  // Dialog units for pixels.
  int ToX(int px) const;
  int ToY(int px) const;
  // The width of n average characters.
  int Chars(int n) const { return X(4.0 * n); }

 private:
  double x_;
  double y_;
};

}  // namespace korawin::ui::qt
