#include "app/texts.h"

#include "platform/codepage.h"

namespace korawin::app {

std::string Ansi(std::string_view utf8) { return platform::Utf8ToCp1251Lossy(utf8); }

std::string Utf8(std::string_view cp1251) { return platform::Cp1251ToUtf8(cp1251); }

void Tell(std::string_view utf8, ui::Icon icon) {
  ui::MessageBoxRequest box;
  box.caption = Ansi("Верботека");
  box.text = Ansi(utf8);
  box.icon = icon;
  ui::Messages().ShowMessage(box);
}

}  // namespace korawin::app
