// The popup class: a context menu built from menu text (ui/desc/popup_text.h), whose chosen
// item is reported by name. An item's name is its text without "&" and blanks unless it was
// given one; items are enabled, disabled and checked by name, and an item may mimic a button:
// choosing it presses the button, and it is disabled while the button is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korawin::ui {
class Window;
}

namespace korawin::framework {

struct PopupEntry {
  int ID = 0;          // number the runtime reports for it, from 1; 0 for separators and submenus
  std::string Name;
  std::string Text;    // as written, "&" marks included
  int Depth = 0;       // 0 on the menu itself, 1 inside a submenu ...
  bool Submenu = false;
  bool Separator = false;
  bool Disabled = false;
  bool Checked = false;
  int Mimic = 0;       // the button it presses; 0: none
};

class PopupClass {
 public:
  // Shows its menus over window (nullptr: the menu is never shown and Ask reports nothing).
  void Init(ui::Window* window);
  void Kill();
  void SetWindow(ui::Window* window) { window_ = window; }

  // Adds the items of a menu text ("&Move{&Top|Page &Up}|-|~&Print"). False when braces do
  // not match, with nothing added.
  bool AddMenu(std::string_view text);
  // Adds one item named name (empty: the name made from its text); returns the name.
  std::string AddItem(std::string_view text, std::string_view name = {});
  // Choosing the item presses control.
  void AddItemMimic(std::string_view name, int control);
  // Removes every item.
  void Clear() { Items.clear(); }
  void SetItemEnable(std::string_view name, bool on);
  bool GetItemEnabled(std::string_view name) const;
  void SetItemCheck(std::string_view name, bool on);
  bool GetItemChecked(std::string_view name) const;
  // True when an item carries the name.
  bool Has(std::string_view name) const;

  // The menu text handed to the window runtime.
  std::string MenuText() const;
  // Shows the menu at the pointer and returns the chosen item's name, empty when dismissed.
  // A mimicking item posts "EVENT:Accepted" for its button.
  std::string Ask();
  // The name of the item the runtime numbered id; empty when none.
  std::string NameOf(int id) const;

  std::vector<PopupEntry> Items;

 private:
  PopupEntry* Find(std::string_view name);
  const PopupEntry* Find(std::string_view name) const;
  void Number();
  ui::Window* window_ = nullptr;
};

}  // namespace korawin::framework
