// Popup menus written as text: items separated by "|", "-" a separator, a leading "~" an item
// shown disabled, a leading "+" an item shown checked, braces a submenu:
//   "~&Find|~&Print|-|&Move{&Top|Page &Up|Page &Down|Bottom}|-|&Goto"
// Items that can be chosen are numbered from 1 in the order they are written; a submenu's own
// caption gets no number.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korawin::ui {

struct PopupItem {
  std::string text;      // as written, "&" marks included
  bool separator = false;
  bool disabled = false;
  bool checked = false;
  int number = 0;        // from 1 for an item that can be chosen; 0 for separators and submenus
  std::vector<PopupItem> items;  // a submenu's items
  bool submenu = false;
};

// Parses a popup text. False when braces do not match, with the reason in *why.
bool ParsePopupText(std::string_view text, std::vector<PopupItem>* out, std::string* why = nullptr);

// The name a program gives an item: its text without "&" and blanks ("Page &Up" -> "PageUp").
std::string PopupItemName(std::string_view text);

}  // namespace korawin::ui
