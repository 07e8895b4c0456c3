// The Qt 6 Widgets backend of the window runtime. Procedures' commands reach it on the GUI
// thread (Wake posts a queued call that drains them); it shows each in widgets, and widgets
// report what the user does through ui/runtime/gui_input.h only.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <map>
#include <memory>
#include <vector>

#include "ui/runtime/runtime.h"

class QWidget;

namespace korawin::ui::qt {

class QtWindow;

class QtBackend : public Backend {
 public:
  // Create on the GUI thread, after the QApplication; then Runtime::Start(&backend).
  QtBackend();
  // Closes what is still shown; the requests still waiting get no answer. Stop the runtime
  // first.
  ~QtBackend() override;

  void Wake() override;
  void Show(const Command& command, const GuiModel& model) override;

  // The open window of that number; nullptr when there is none.
  QtWindow* Find(int window) const;
  // The open frame; nullptr when there is none.
  QtWindow* Frame() const;
  // Carries out a standard action for a window: tile, cascade or arrange the frame's children;
  // cut, copy or paste in the widget with focus.
  void Standard(int window, StdAction action);
  // What message boxes and dialogs stand over: the frame, else the active window.
  QWidget* DialogParent() const;
  // The frame's active child changed: the frame's status zones follow it.
  void ChildActivated(QWidget* sub);

 private:
  void Open(const OpenWindowCommand& open);
  void Keep(QWidget* request);

  QObject waker_;
  std::atomic<bool> woken_{false};
  std::map<int, std::unique_ptr<QtWindow>> windows_;
  int frame_ = 0;
  std::vector<QPointer<QWidget>> requests_;  // message boxes, dialogs, menus still open
};

}  // namespace korawin::ui::qt
