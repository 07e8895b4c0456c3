// Events of the window runtime, named as the procedures name them ("EVENT:Accepted").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ui/runtime/state.h"

namespace korawin::ui {

enum class EventKind : uint16_t {
  None = 0,
  // Control events.
  Accepted = 1,
  NewSelection,
  ScrollUp,
  ScrollDown,
  PageUp,
  PageDown,
  ScrollTop,
  ScrollBottom,
  ScrollDrag,
  Locate,
  MouseDown,
  MouseUp,
  AlertKey,
  PreAlertKey,
  Rejected,
  Selected,
  TabChanging,
  // Window events.
  CloseWindow = 0x201,
  CloseDown,
  OpenWindow,
  LoseFocus,
  GainFocus,
  Timer,
  Sized,
  Moved,
  Maximized,
  Iconized,
  Restored,
  Completed,
  Suspend,
  Resume,
  // What the GUI tells the runtime without the procedure seeing it: the control with focus
  // (control), the rows a list shows (control, value), a control's value changed while typing
  // (control, text).
  FocusChanged = 0x300,
  ListRows,
  // A procedure's own event, posted with a number of its choice.
  User = 0x400,
};

// "EVENT:Accepted"; "EVENT:" and the number for a user event.
std::string EventName(EventKind kind);
// True for the events that concern one control.
inline bool IsFieldEvent(EventKind kind) {
  return static_cast<uint16_t>(kind) > 0 && static_cast<uint16_t>(kind) < 0x200;
}

// Key codes: the runtime's own numbering. Letters and digits are their character codes
// (Windows-1251); modifiers are added as bits.
enum KeyCode : int {
  kKeyNone = 0,
  kMouseLeft = 1,
  kMouseRight = 2,
  kMouseCenter = 5,
  kKeyBackspace = 8,
  kKeyTab = 9,
  kKeyEnter = 13,
  kKeyEscape = 27,
  kKeySpace = 32,
  kKeyPageUp = 0x21,  // below the character range only in combination with kKeyVirtual
  kKeyVirtual = 0x10000,  // set for keys without a character: kKeyVirtual + one of below
  kKeyInsert = kKeyVirtual + 0x2D,
  kKeyDelete = kKeyVirtual + 0x2E,
  kKeyHome = kKeyVirtual + 0x24,
  kKeyEnd = kKeyVirtual + 0x23,
  kKeyUp = kKeyVirtual + 0x26,
  kKeyDown = kKeyVirtual + 0x28,
  kKeyPgUp = kKeyVirtual + 0x21,
  kKeyPgDn = kKeyVirtual + 0x22,
  kKeyF1 = kKeyVirtual + 0x70,  // F2 ... F12 follow
  kKeyShift = 0x100000,
  kKeyCtrl = 0x200000,
  kKeyAlt = 0x400000,
};
// A key's name as descriptions write it ("Ctrl+Enter", "Insert", "F2", "Ctrl+'"); 0 when the
// text names no key.
int KeyFromName(std::string_view name);

// One event as a procedure receives it.
struct Event {
  EventKind kind = EventKind::None;
  int window = 0;          // the window's number (from the runtime)
  int control = 0;         // the control (feq); 0 for a window event
  int key = 0;             // KeyCode for key and mouse events
  int user = 0;            // for EventKind::User: the procedure's own number
  // What the user did, as the window showed it: the text of an entry, the row (from 1) of a
  // list, the tab (from 1) of a sheet, 0/1 of a check, the radio (from 1) of an option, the
  // value of a spin or the thumb position (0 to 100). Windows-1251.
  std::string text;
  int value = 0;
  bool hasValue = false;   // text/value carry what the user changed
  Geometry geometry;       // Sized, Moved, Maximized, Restored: the window's normal geometry
};

}  // namespace korawin::ui
