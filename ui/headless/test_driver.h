// The test driver: acts on the headless backend's windows as a user would and reads what they
// show. Texts are UTF-8 here and Windows-1251 inside the runtime. Every action waits until the
// program has settled (every procedure waits for its next event and the GUI has shown
// everything) and returns false when the action did not apply or the program did not settle in
// time.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "ui/headless/headless_backend.h"
#include "ui/runtime/state.h"

namespace korawin::ui {

class TestDriver {
 public:
  explicit TestDriver(HeadlessBackend& backend,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20))
      : backend_(backend), timeout_(timeout) {}

  HeadlessBackend& Backend() { return backend_; }

  // Waits until the program has settled.
  bool Settle();
  // Waits until thread has ended.
  bool WaitThreadEnd(int thread);

  // --- Windows. A window is found by its caption or its module, or module and window name
  // ("korawin1$koraw051/P1$BROWSEWINDOW"); the newest matching window wins.
  int Find(std::string_view captionOrModule);
  // Waits (up to the time-out) for the window to open.
  int WaitFor(std::string_view captionOrModule);
  bool IsOpen(int window);
  std::vector<int> Windows();
  std::string Caption(int window);
  WindowState StateOf(int window);
  int ThreadOf(int window);

  // --- Controls, by number or equate name ("?Insert").
  int Feq(int window, std::string_view id);
  ControlState Control(int window, int feq);
  std::string Text(int window, int feq);
  int Value(int window, int feq);
  // A list's rows, each cell in UTF-8 without trailing blanks.
  std::vector<std::vector<std::string>> Rows(int window, int feq);
  // The status-bar zone's text.
  std::string Status(int window, int zone = 0);
  int Focus(int window);

  // --- Actions.
  bool Type(int window, int feq, std::string_view utf8);
  bool Press(int window, int feq);
  bool Check(int window, int feq, bool on);
  bool ChooseRadio(int window, int option, int radio);
  bool ChooseRow(int window, int feq, int row, bool doubleClick = false);
  bool ChooseTab(int window, int sheet, int tab);
  bool Scroll(int window, int feq, EventKind kind);
  bool DragThumb(int window, int feq, int position);
  bool Key(int window, int feq, int key);
  bool Mouse(int window, int feq, int button);
  // Chooses a menu item by the captions along its path, without "&" ("Регистрация",
  // "Блок настройки").
  bool Menu(int window, const std::vector<std::string>& path);
  bool CloseBox(int window);
  void FocusOn(int window, int feq);
  // The list shows rows rows, as after a resize.
  bool ShowRows(int window, int feq, int rows);
  bool Resize(int window, EventKind kind, const Geometry& normal);

 private:
  template <typename F>
  bool Act(F f);

  HeadlessBackend& backend_;
  std::chrono::milliseconds timeout_;
};

// The caption without "&" marks, in UTF-8.
std::string PlainCaption(std::string_view cp1251);

}  // namespace korawin::ui
