// One window of the runtime as Qt shows it: the frame (a main window with its area of child
// windows), a child window (a sub-window of the frame, or a window of its own when no frame is
// open) or a dialog over the frame. It builds its widgets from the description, shows the state
// that the GUI model hands it, and reports what the user does to the window itself (the close
// box, size and position, focus, keys the controls leave) through ui/runtime/gui_input.h.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <vector>

#include "ui/qt/control_view.h"
#include "ui/qt/text.h"
#include "ui/runtime/command.h"

class QMdiArea;
class QStatusBar;
class QMdiSubWindow;
class QMenu;
class QToolBar;

namespace korawin::ui::qt {

struct BuildHooks;
class FrameParts;
class StatusZones;
class QtBackend;

class QtWindow : public QObject {
 public:
  QtWindow(QtBackend& backend, const OpenWindowCommand& open);
  ~QtWindow() override;
  QtWindow(const QtWindow&) = delete;
  QtWindow& operator=(const QtWindow&) = delete;

  int Number() const { return number_; }
  const WindowDesc& Desc() const { return *desc_; }
  bool IsFrame() const { return frame_ != nullptr; }
  // The frame's parts; nullptr for other windows.
  FrameParts* Frame() const { return frame_.get(); }
  // The widget the desktop or the frame shows; nullptr once it is gone.
  QWidget* Shell() const { return shell_; }
  // The window's controls, index feq - 1.
  const std::vector<ControlView>& Views() const { return views_; }
  const WindowState& State() const { return state_; }

  void ApplyControls(const std::vector<std::pair<int, ControlState>>& changed);
  void ApplyState(const WindowState& state);
  void FocusControl(int feq);
  // Shows text on the status bar the window uses (the frame's for a window over the frame) for
  // timeoutMs (0: until the next); an empty text gives the bar back to its zones.
  void ShowStatus(const QString& text, int timeoutMs = 0);
  // Shows the zones of the status bar this window owns (the frame's, or its own).
  void ShowZones(const std::vector<std::string>& texts);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  BuildHooks Hooks();
  QStatusBar* StatusBar() const;
  bool SeenMouse(const QEvent* event);
  void BuildFrame(const OpenWindowCommand& open);
  void BuildWindow(const OpenWindowCommand& open);
  QWidget* BuildContent(bool ownStatus);
  void ShowFirst();
  bool ShellEvent(QEvent* event);
  bool ControlEvent(QWidget* widget, QEvent* event);
  void PressDefault();
  void Refused(QWidget* where, const QString& ch);
  // Says why an edit was refused, beside the control and in the status bar, with a beep.
  void Tell(QWidget* where, const QString& message);
  void ReportGeometry();
  Geometry CurrentGeometry() const;
  void ApplyGeometry(const Geometry& g);
  void ApplyShowState(const WindowState& s);
  ControlView* ViewOf(QObject* widget);

  QtBackend& backend_;
  int number_;
  const WindowDesc* desc_;
  DialogUnits units_;
  std::vector<ControlView> views_;
  WindowState state_;
  std::unique_ptr<FrameParts> frame_;
  std::unique_ptr<StatusZones> zones_;
  QPointer<QWidget> shell_;      // what the desktop or the frame shows
  QPointer<QMdiSubWindow> sub_;  // the same, for a child in the frame
  QPointer<QWidget> content_;    // menu bar, toolbar, body and status bar of a non-frame window
  QPointer<QWidget> body_;
  QPointer<QToolBar> toolbar_;
  QTimer geometryTimer_;
  Geometry normal_;  // the last geometry seen in the normal state
  Geometry reported_;
  bool closing_ = false;
  bool applying_ = false;
  bool ready_ = false;  // shown and laid out: size changes are the user's
  const QEvent* lastMouse_ = nullptr;
  quint64 lastMouseTime_ = 0;
};

}  // namespace korawin::ui::qt
