// The GUI thread's own copy of every open window, kept from the commands procedures send and
// from what the user does. Backends draw from it; the headless test driver reads it.
#pragma once

#include <map>
#include <vector>

#include "ui/runtime/command.h"
#include "ui/runtime/state.h"

namespace korawin::ui {

// The chain of controls from the top of body down to feq; false when feq is not in body.
bool ControlPath(const std::vector<ControlDesc>& body, int feq,
                 std::vector<const ControlDesc*>* path);

class GuiModel {
 public:
  struct Window {
    int number = 0;
    int thread = 0;
    const WindowDesc* desc = nullptr;
    WindowState state;
    std::vector<ControlState> controls;  // index feq - 1
    int focus = 0;                       // control with focus; 0: none yet
    int order = 0;                       // opening order
  };

  // Takes a command that changes windows; requests that wait for the user change nothing.
  void Apply(const Command& command);

  Window* Find(int window);
  const Window* Find(int window) const;
  // The state of a control; nullptr when the window or control does not exist.
  ControlState* Control(int window, int feq);
  // Open windows in the order they opened.
  std::vector<const Window*> Windows() const;

 private:
  std::map<int, Window> windows_;
  int opened_ = 0;
};

}  // namespace korawin::ui
