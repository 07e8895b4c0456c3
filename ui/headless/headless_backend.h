// The headless backend: the window runtime with nothing on screen. Its GUI thread keeps the
// model of every window and answers the requests that wait for the user from a script (or
// with their defaults), so tests drive real procedures on real threads without a display.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/runtime/runtime.h"

namespace korawin::ui {

class HeadlessBackend : public Backend {
 public:
  struct ShownBox {
    MessageBoxRequest box;
    unsigned answer = ButtonNone;
  };

  // Starts the GUI thread and the runtime on it.
  HeadlessBackend();
  // Stops the runtime and the GUI thread; procedures should have ended.
  ~HeadlessBackend() override;

  // Runs fn on the GUI thread and returns when it has run.
  void OnGui(const std::function<void()>& fn);

  // The next message box answers button (a button it does not offer closes it without one);
  // a box with nothing scripted takes its default button.
  void QueueAnswer(unsigned button);
  // The next file dialog answers path (empty: cancelled); without a script it is cancelled.
  void QueueFile(std::string path);
  // The next popup menu answers item number (0: dismissed); without a script it is dismissed.
  void QueueChoice(int item);
  std::vector<ShownBox> Boxes() const;
  std::vector<FileDialogRequest> FileDialogs() const;
  std::vector<std::string> Popups() const;
  std::vector<StdAction> StdActions() const;
  int Beeps() const;
  size_t PendingAnswers() const;

  void Wake() override;
  void Show(const Command& command, const GuiModel& model) override;

 private:
  void Loop();

  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool woken_ = false;
  bool stop_ = false;
  std::deque<std::function<void()>> tasks_;
  std::deque<unsigned> answers_;
  std::deque<std::string> files_;
  std::deque<int> choices_;
  std::vector<ShownBox> boxes_;
  std::vector<FileDialogRequest> dialogs_;
  std::vector<std::string> popups_;
  std::vector<StdAction> actions_;
  int beeps_ = 0;
  std::thread gui_;
};

}  // namespace korawin::ui
