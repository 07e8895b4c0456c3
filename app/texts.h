// The application's own texts are written in the sources in UTF-8 and shown in Windows-1251,
// the code page of the windows and the record buffers.
#pragma once

#include <string>
#include <string_view>

#include "ui/message_box.h"

namespace korawin::app {

// utf8 in Windows-1251 (a character the code page lacks becomes "?": only for the program's
// own texts, which hold none).
std::string Ansi(std::string_view utf8);
// A Windows-1251 text in UTF-8.
std::string Utf8(std::string_view cp1251);

// A message box of the application (caption "Верботека") with the OK button.
void Tell(std::string_view utf8, ui::Icon icon = ui::Icon::Information);

}  // namespace korawin::app
