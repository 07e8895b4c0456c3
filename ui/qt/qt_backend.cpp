#include "ui/qt/qt_backend.h"

#include <QApplication>
#include <QMdiSubWindow>
#include <QMetaMethod>
#include <QMetaObject>
#include <QWidget>
#include <algorithm>

#include "ui/qt/frame.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/requests.h"
#include "ui/runtime/gui_model.h"

namespace korawin::ui::qt {

QtBackend::QtBackend() = default;

QtBackend::~QtBackend() {
  for (QPointer<QWidget>& r : requests_) delete r.data();
  // Children before the frame that holds them.
  for (auto it = windows_.begin(); it != windows_.end();) {
    it = it->first != frame_ ? windows_.erase(it) : std::next(it);
  }
  windows_.clear();
}

void QtBackend::Wake() {
  if (woken_.exchange(true)) return;
  QMetaObject::invokeMethod(
      &waker_,
      [this] {
        woken_.store(false);
        Runtime::Drain();
      },
      Qt::QueuedConnection);
}

void QtBackend::Show(const Command& command, const GuiModel&) {
  if (const auto* open = std::get_if<OpenWindowCommand>(&command)) {
    Open(*open);
  } else if (const auto* close = std::get_if<CloseWindowCommand>(&command)) {
    if (close->window == frame_) frame_ = 0;
    // Out of the table first: closing a child activates another, which looks the table up.
    auto it = windows_.find(close->window);
    if (it != windows_.end()) {
      std::unique_ptr<QtWindow> gone = std::move(it->second);
      windows_.erase(it);
    }
  } else if (const auto* controls = std::get_if<ControlsCommand>(&command)) {
    if (QtWindow* w = Find(controls->window)) w->ApplyControls(controls->changed);
  } else if (const auto* state = std::get_if<WindowStateCommand>(&command)) {
    if (QtWindow* w = Find(state->window)) w->ApplyState(state->state);
  } else if (const auto* focus = std::get_if<FocusCommand>(&command)) {
    if (QtWindow* w = Find(focus->window)) w->FocusControl(focus->control);
  } else if (const auto* action = std::get_if<StdActionCommand>(&command)) {
    Standard(action->window, action->action);
  } else if (const auto* message = std::get_if<MessageCommand>(&command)) {
    Keep(OpenMessageBox(*message, DialogParent()));
  } else if (const auto* file = std::get_if<FileDialogCommand>(&command)) {
    Keep(OpenFileDialog(*file, DialogParent()));
  } else if (const auto* popup = std::get_if<PopupCommand>(&command)) {
    QtWindow* w = Find(popup->window);
    Keep(OpenPopup(*popup, w && w->Shell() ? w->Shell() : DialogParent()));
  } else if (std::holds_alternative<BeepCommand>(command)) {
    QApplication::beep();
  }
}

void QtBackend::Open(const OpenWindowCommand& open) {
  if (!open.desc) return;
  auto w = std::make_unique<QtWindow>(*this, open);
  if (w->IsFrame()) frame_ = open.window;
  windows_[open.window] = std::move(w);
}

void QtBackend::Keep(QWidget* request) {
  std::erase_if(requests_, [](const QPointer<QWidget>& r) { return r.isNull(); });
  requests_.emplace_back(request);
}

QtWindow* QtBackend::Find(int window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : it->second.get();
}

QtWindow* QtBackend::Frame() const { return frame_ ? Find(frame_) : nullptr; }

QWidget* QtBackend::DialogParent() const {
  if (QtWindow* f = Frame(); f && f->Shell()) return f->Shell();
  if (QWidget* active = QApplication::activeWindow()) return active;
  // The newest window still shown.
  for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
    QWidget* shell = it->second->Shell();
    if (shell && shell->isVisible()) return shell->window();
  }
  return nullptr;
}

void QtBackend::Standard(int window, StdAction action) {
  QtWindow* f = Frame();
  FrameParts* parts = f ? f->Frame() : nullptr;
  const char* method = nullptr;
  switch (action) {
    case StdAction::TileWindow:
      if (parts) parts->Tile();
      return;
    case StdAction::CascadeWindow:
      if (parts) parts->Cascade();
      return;
    case StdAction::ArrangeIcons:
      if (parts) parts->ArrangeIcons();
      return;
    case StdAction::Cut:
      method = "cut()";
      break;
    case StdAction::Copy:
      method = "copy()";
      break;
    case StdAction::Paste:
      method = "paste()";
      break;
    default:
      return;  // closing and help are the procedure's
  }
  (void)window;
  // Line edits, text boxes and spin boxes' entries all have these slots.
  QWidget* focus = QApplication::focusWidget();
  if (!focus) return;
  const QMetaObject* meta = focus->metaObject();
  int index = meta->indexOfMethod(method);
  if (index >= 0) meta->method(index).invoke(focus, Qt::DirectConnection);
}

void QtBackend::ChildActivated(QWidget* sub) {
  QtWindow* f = Frame();
  if (!f) return;
  for (const auto& [number, w] : windows_) {
    if (!sub || w->Shell() != sub) continue;
    const auto& zones = w->State().status;
    if (std::any_of(zones.begin(), zones.end(), [](const std::string& z) { return !z.empty(); })) {
      f->ShowZones(zones);
      return;
    }
  }
  f->ShowZones(f->State().status);
}

}  // namespace korawin::ui::qt
