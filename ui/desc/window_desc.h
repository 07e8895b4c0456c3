// Window descriptions: what a window holds (controls, menus, toolbar) and how they are laid
// out, as data that every backend of the window runtime reads. Descriptions are kept in JSON
// files (UTF-8) beside the procedures that open them; at build time they are checked and
// compiled into the program together with a header of control numbers, so that a procedure
// naming a control its window lacks does not compile.
//
// Texts of a loaded description are Windows-1251, like everything the procedures hand to the
// runtime.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/desc/list_format.h"

namespace korawin::ui {

enum class ControlType : uint8_t {
  // Controls.
  Prompt,    // static text
  Entry,     // one-line entry with a picture
  TextBox,   // multi-line text
  Button,
  Check,
  Option,    // a group of radio buttons; its value is the number of the chosen one, from 1
  Radio,
  Spin,
  List,
  Sheet,     // a set of tabs; its value is the number of the shown tab, from 1
  Tab,
  Group,     // a titled frame around controls
  Progress,
  Image,     // a picture read from the file its text names (the print preview's pages)
  Display,   // a field shown through its picture, never edited
  // Menus and toolbar.
  Menu,      // a submenu of the menu bar or of another menu
  Item,      // a menu item
  Separator,
  // Layout only: no number, no state.
  Row,       // children side by side
  Column,    // children one under another
  Form,      // children in pairs: a label and a field
  Stretch,   // empty room that grows
};

// The description's name of a type ("entry") and back; false when unknown.
std::string_view ControlTypeName(ControlType type);
bool ControlTypeFromName(std::string_view name, ControlType* type);
// True for the types that exist only to lay others out.
bool IsLayoutType(ControlType type);

// Control flags.
enum ControlFlag : uint32_t {
  kFlagDisabled = 1u << 0,
  kFlagHidden = 1u << 1,
  kFlagReadOnly = 1u << 2,
  kFlagDefault = 1u << 3,    // the button that Enter presses
  kFlagSkip = 1u << 4,       // Tab passes over it
  kFlagImmediate = 1u << 5,  // an entry or spin reports every change, not only on leaving
  kFlagChecked = 1u << 6,    // a check box or menu item starts checked
  kFlagUpper = 1u << 7,      // an entry shows and takes upper case only
  kFlagPassword = 1u << 8,
  kFlagVScroll = 1u << 9,    // a list or text box with a vertical scroll bar
  kFlagHScroll = 1u << 10,
  kFlagDrop = 1u << 11,      // a list shown as a drop-down box: one row, the others on demand
};

// Standard actions the runtime carries out itself for menu items and buttons.
enum class StdAction : uint8_t {
  None,
  Close,         // close the window (the frame: end the program)
  Cut,
  Copy,
  Paste,
  TileWindow,
  CascadeWindow,
  ArrangeIcons,
  WindowList,    // the menu lists the frame's open child windows
  HelpIndex,
  HelpSearch,
  HelpOnHelp,
  Help,          // help on the window
};
std::string_view StdActionName(StdAction a);
bool StdActionFromName(std::string_view name, StdAction* a);

struct ControlDesc {
  ControlType type = ControlType::Prompt;
  int feq = 0;             // number of the control in its window, from 1; 0 for layout types
  std::string id;          // equate name ("?Browse:1"); may be empty
  std::string text;        // caption (buttons, prompts, menus, tabs, check boxes, groups)
  std::string use;         // name of the variable the control shows and edits ("glo:fr1")
  std::string picture;     // entry, display, spin ("@s20", "@n_5")
  std::string tip;         // tooltip
  std::string status;      // status-line text while the control has focus or is pointed at
  std::string icon;        // icon file name, kept as the design gives it
  std::string key;         // shortcut ("Ctrl+Enter", "Insert", "Delete", "F2")
  std::string font;        // font name, when the control has its own
  uint32_t flags = 0;      // ControlFlag bits
  StdAction std = StdAction::None;
  int width = 0;           // hint in dialog units (a quarter of the average character width)
  int height = 0;          // hint in dialog units (an eighth of the character height)
  int lines = 0;           // visible rows of a list or a text box; 0: the runtime's choice
  int stretch = 0;         // share of the room that grows with the window
  double low = 0, high = 0, step = 1;  // spin range
  std::string format;      // list column format, as stored
  ListFormat columns;      // the format parsed
  std::vector<ControlDesc> children;   // tabs of a sheet, radios of an option, members
};

struct WindowDesc {
  enum class Kind : uint8_t {
    Frame,   // the application's main window: menu bar, toolbar, status bar, child windows
    Child,   // a document window inside the frame
    Dialog,  // a window of its own over the frame; modal when Modal is set
  };
  std::string module;      // "korawin1$koraw051"
  std::string name;        // "P1$BROWSEWINDOW"
  std::string cname;       // C++ name of its control numbers ("LexemeList")
  Kind kind = Kind::Child;
  bool modal = false;
  bool resizable = true;
  std::string caption;
  std::string icon;
  std::string font;
  std::string help;        // help id of the window
  std::string helpText;    // a line saying what the window is for, beside its help id
  int width = 0, height = 0;  // hints in dialog units
  std::vector<int> statusZones;  // widths of the status bar's zones; empty: one zone
  std::vector<ControlDesc> menu;     // the menu bar: Menu entries
  std::vector<ControlDesc> toolbar;  // buttons and other controls of the toolbar
  std::vector<ControlDesc> controls; // the window's body, laid out one under another
  int controlCount = 0;    // the highest feq

  // The control of number feq (menus and toolbar included); nullptr when there is none.
  const ControlDesc* Control(int feq) const;
  // The number of the control with equate name id (the "?" optional, case ignored); 0 when
  // there is none.
  int Feq(std::string_view id) const;
  // Every numbered control, in number order (index feq - 1).
  std::vector<const ControlDesc*> Numbered() const;
  // Makes Control() a lookup; call once the description stays where it is.
  void BuildIndex();

 private:
  // A copy points into its own controls, so it starts without the index; a move keeps it.
  struct Index {
    std::vector<const ControlDesc*> v;
    Index() = default;
    Index(const Index&) {}
    Index(Index&&) = default;
    Index& operator=(const Index&) { v.clear(); return *this; }
    Index& operator=(Index&&) = default;
  };
  Index index_;
};

}  // namespace korawin::ui
