// Message boxes and beeps of the window runtime. Callers describe a box (text, caption, icon,
// buttons, default button) and get back the button pressed; a backend decides how to show it:
// a headless one for tests, a console one for the command-line tool, a windowed one for the
// desktop program. Text handed to the runtime is Windows-1251, the application's code page;
// each backend converts at its own boundary.
#pragma once

#include <string>

namespace korawin::ui {

// Message buttons: bit values, combined by addition. A box returns the value of the button
// pressed, or ButtonNone when it was closed without one.
enum Button : unsigned {
  ButtonNone = 0,
  ButtonOk = 1,
  ButtonYes = 2,
  ButtonNo = 4,
  ButtonCancel = 64,
};

// The icon of a box; the values are the stock icon resources of the desktop system.
enum class Icon : int {
  None = 0,
  Hand = 32513,
  Question = 32514,
  Exclamation = 32515,
  Information = 32516,
};

// The kind of a beep or system sound.
enum class Sound : int {
  Default = 0,
  Hand = 1,
  Question = 2,
  Exclamation = 3,
  Information = 4,
};

// One message box as a caller asks for it.
struct MessageBoxRequest {
  std::string text;             // Windows-1251
  std::string caption;          // Windows-1251
  Icon icon = Icon::None;
  unsigned buttons = ButtonOk;  // sum of Button values
  unsigned defaultButton = 0;   // one of buttons; 0 takes the first button offered
};

// The buttons a box offers, in the order a backend lays them out.
inline constexpr Button kButtonOrder[] = {ButtonOk, ButtonYes, ButtonNo, ButtonCancel};

// The button a box answers with when the user just confirms: defaultButton when it is one of
// the buttons offered, else the first button offered, else ButtonOk.
unsigned EffectiveDefault(const MessageBoxRequest& box);

// The runtime's message interface. Implementations must be safe to call from any thread:
// every procedure runs on a thread of its own.
class MessageUi {
 public:
  MessageUi() = default;
  MessageUi(const MessageUi&) = delete;
  MessageUi& operator=(const MessageUi&) = delete;
  virtual ~MessageUi() = default;

  // Shows the box modally; returns the button pressed, ButtonNone when closed without one.
  virtual unsigned ShowMessage(const MessageBoxRequest& box) = 0;
  // Plays the sound of the given kind (or beeps).
  virtual void Beep(Sound kind) = 0;
};

// The program-wide message interface: the one installed last, else a console backend on
// the process's standard streams.
MessageUi& Messages();
// Installs ui (nullptr: back to the console backend); returns the one installed before.
// The caller keeps ui alive while it is installed.
MessageUi* SetMessages(MessageUi* ui);

}  // namespace korawin::ui
