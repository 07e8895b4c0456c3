// Commands that procedure threads send to the GUI thread. They carry copies of what to show;
// the requests that wait for the user (message box, file dialog, popup menu) carry a promise
// that the GUI side keeps when the user has answered.
#pragma once

#include <future>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "ui/desc/window_desc.h"
#include "ui/message_box.h"
#include "ui/runtime/state.h"

namespace korawin::ui {

// Titles and masks are texts of the program (Windows-1251); paths are the file system's own
// (UTF-8), in the request and in the answer.
struct FileDialogRequest {
  std::string title;      // Windows-1251
  std::string mask;       // "Text files|*.Txt|All files|*.*": description and pattern pairs
  std::string directory;  // where the dialog starts; empty: the current folder
  std::string file;       // file name offered; empty: none
  bool save = false;      // a save dialog (asks before replacing) instead of an open dialog
  bool folder = false;    // choose a folder instead of a file
};

struct OpenWindowCommand {
  int window = 0;
  int thread = 0;
  const WindowDesc* desc = nullptr;
  WindowState state;
  std::vector<ControlState> controls;  // index feq - 1
};

struct CloseWindowCommand {
  int window = 0;
};

struct ControlsCommand {
  int window = 0;
  std::vector<std::pair<int, ControlState>> changed;  // (feq, new state)
};

struct WindowStateCommand {
  int window = 0;
  WindowState state;
};

struct FocusCommand {
  int window = 0;
  int control = 0;
};

// A standard action asked for by a procedure (tile the frame's children, cut ...).
struct StdActionCommand {
  int window = 0;
  StdAction action = StdAction::None;
};

struct MessageCommand {
  MessageBoxRequest box;
  std::shared_ptr<std::promise<unsigned>> answer;
};

struct FileDialogCommand {
  FileDialogRequest request;
  std::shared_ptr<std::promise<std::string>> answer;  // the chosen path; empty: cancelled
};

struct PopupCommand {
  int window = 0;
  std::string menu;  // Windows-1251, in the popup text syntax
  std::shared_ptr<std::promise<int>> answer;  // the chosen item's number from 1; 0: none
};

struct BeepCommand {
  Sound sound = Sound::Default;
};

using Command = std::variant<OpenWindowCommand, CloseWindowCommand, ControlsCommand,
                             WindowStateCommand, FocusCommand, StdActionCommand, MessageCommand,
                             FileDialogCommand, PopupCommand, BeepCommand>;

}  // namespace korawin::ui
