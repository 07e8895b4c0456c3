#include "ui/qt/qt_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/qt/builder.h"
#include "ui/qt/fonts.h"
#include "ui/qt/frame.h"
#include "ui/qt/keys.h"
#include "ui/qt/qt_backend.h"
#include "ui/runtime/gui_input.h"
#include "ui/runtime/gui_model.h"

namespace korawin::ui::qt {

namespace {

// A dialog's Escape key and close box ask its procedure, which decides whether it closes.
class DialogShell : public QDialog {
 public:
  DialogShell(int window, QWidget* parent) : QDialog(parent), window_(window) {}
  void reject() override { gui::CloseBox(window_); }

 private:
  int window_;
};

int MouseButton(Qt::MouseButton b) {
  switch (b) {
    case Qt::RightButton:
      return kMouseRight;
    case Qt::MiddleButton:
      return kMouseCenter;
    default:
      return kMouseLeft;
  }
}

bool AnyStatusText(const WindowDesc& desc) {
  if (!desc.statusZones.empty()) return true;
  for (const ControlDesc* c : desc.Numbered())
    if (c && !c->status.empty()) return true;
  return false;
}

}  // namespace

QtWindow::QtWindow(QtBackend& backend, const OpenWindowCommand& open)
    : backend_(backend),
      number_(open.window),
      desc_(open.desc),
      units_(DescriptionFont(open.desc->font, QApplication::font())),
      state_(open.state) {
  geometryTimer_.setSingleShot(true);
  geometryTimer_.setInterval(120);
  connect(&geometryTimer_, &QTimer::timeout, this, [this] { ReportGeometry(); });
  if (desc_->kind == WindowDesc::Kind::Frame)
    BuildFrame(open);
  else
    BuildWindow(open);
  shell_->setProperty(kWindowProperty, number_);
  shell_->setWindowTitle(FromAnsi(state_.caption));
  shell_->setAccessibleName(StripMnemonic(FromAnsi(state_.caption)));
  for (size_t k = 0; k < views_.size() && k < open.controls.size(); ++k) {
    if (views_[k].desc) ApplyControl(views_[k], open.controls[k]);
  }
  ShowFirst();
}

QtWindow::~QtWindow() {
  closing_ = true;
  geometryTimer_.stop();
  if (!shell_) return;
  shell_->removeEventFilter(this);
  if (sub_ && sub_->mdiArea()) sub_->mdiArea()->removeSubWindow(sub_);
  delete shell_.data();
}

BuildHooks QtWindow::Hooks() {
  BuildHooks hooks;
  hooks.standard = [this](StdAction a) { backend_.Standard(number_, a); };
  hooks.refused = [this](QWidget* where, const QString& ch) { Refused(where, ch); };
  hooks.tooLong = [this](QWidget* where, int limit) { Tell(where, TooLongMessage(limit)); };
  hooks.filter = this;
  return hooks;
}

void QtWindow::BuildFrame(const OpenWindowCommand&) {
  auto* main = new QMainWindow;
  main->setObjectName(QString::fromLatin1(desc_->cname.empty() ? "frame" : desc_->cname.c_str()));
  main->setFont(DescriptionFont(desc_->font, QApplication::font()));
  WindowBuilder b(number_, *desc_, units_, &views_, Hooks());
  if (!desc_->menu.empty()) b.MenuBar(main->menuBar());
  if (!desc_->toolbar.empty()) {
    toolbar_ = main->addToolBar(QStringLiteral("toolbar"));
    toolbar_->setObjectName(QStringLiteral("toolbar"));
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b.Toolbar(toolbar_);
  }
  body_ = desc_->controls.empty() ? nullptr : b.Body(nullptr);
  frame_ = std::make_unique<FrameParts>(main, body_);
  zones_ = std::make_unique<StatusZones>(main->statusBar(), desc_->statusZones, units_);
  connect(frame_->Area(), &QMdiArea::subWindowActivated, this,
          [this](QMdiSubWindow* sub) { backend_.ChildActivated(sub); });
  for (QMenu* menu : main->menuBar()->findChildren<QMenu*>()) {
    if (!menu->property("korawinWindowList").toBool()) continue;
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { frame_->FillWindowList(menu); });
  }
  if (body_) body_->installEventFilter(this);
  main->installEventFilter(this);
  shell_ = main;
}

void QtWindow::BuildWindow(const OpenWindowCommand&) {
  QtWindow* frame = backend_.Frame();
  // A window over the frame says its status texts on the frame's status bar; a dialog whose
  // description lays out status zones of its own (the report preview) keeps its own bar.
  bool ownZones = desc_->kind == WindowDesc::Kind::Dialog && !desc_->statusZones.empty();
  content_ = BuildContent((!frame && AnyStatusText(*desc_)) || ownZones);
  QString name = QString::fromLatin1(desc_->cname.c_str());
  if (desc_->kind == WindowDesc::Kind::Child && frame) {
    sub_ = new QMdiSubWindow;
    sub_->setWidget(content_);
    sub_->setAttribute(Qt::WA_DeleteOnClose, false);
    frame->Frame()->Area()->addSubWindow(sub_);
    shell_ = sub_;
  } else if (desc_->kind == WindowDesc::Kind::Dialog) {
    auto* d = new DialogShell(number_, backend_.DialogParent());
    d->setWindowModality(desc_->modal ? Qt::WindowModal : Qt::NonModal);
    auto* box = new QVBoxLayout(d);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(content_);
    shell_ = d;
  } else {
    content_->setWindowFlag(Qt::Window);
    shell_ = content_;
  }
  shell_->setObjectName(name);
  shell_->setFont(DescriptionFont(desc_->font, QApplication::font()));
  shell_->installEventFilter(this);
}

QWidget* QtWindow::BuildContent(bool ownStatus) {
  auto* content = new QWidget;
  auto* box = new QVBoxLayout(content);
  box->setContentsMargins(0, 0, 0, 0);
  box->setSpacing(0);
  WindowBuilder b(number_, *desc_, units_, &views_, Hooks());
  if (!desc_->menu.empty()) {
    auto* bar = new QMenuBar(content);
    b.MenuBar(bar);
    box->setMenuBar(bar);
  }
  if (!desc_->toolbar.empty()) {
    toolbar_ = new QToolBar(content);
    toolbar_->setObjectName(QStringLiteral("toolbar"));
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b.Toolbar(toolbar_);
    box->addWidget(toolbar_);
  }
  body_ = b.Body(content);
  body_->setObjectName(QStringLiteral("body"));
  box->addWidget(body_, 1);
  if (ownStatus) {
    auto* bar = new QStatusBar(content);
    zones_ = std::make_unique<StatusZones>(bar, desc_->statusZones, units_);
    box->addWidget(bar);
  }
  if (!desc_->resizable) box->setSizeConstraint(QLayout::SetFixedSize);
  body_->installEventFilter(this);
  return content;
}

void QtWindow::ShowFirst() {
  applying_ = true;
  QWidget* inside = frame_ ? shell_.data() : content_.data();
  QSize want(units_.X(desc_->width), units_.Y(desc_->height));
  QRect screen = shell_->screen() ? shell_->screen()->availableGeometry() : QRect(0, 0, 1024, 768);
  if (frame_ && desc_->width <= 0) want = screen.size() * 4 / 5;
  want = want.expandedTo(inside->sizeHint());
  bool normal = !state_.hidden && !state_.maximized && !state_.iconized;
  // A window of its own takes its size before it shows; a child learns its frame's margins
  // only once it shows in the area.
  if (!sub_ && normal)
    shell_->resize(want.boundedTo(screen.size() * 9 / 10).expandedTo(inside->minimumSizeHint()));
  ApplyShowState(state_);
  if (sub_ && normal) {
    QSize delta = sub_->size() - inside->size();
    // No bigger than the area: pages scroll rather than hide under its edge. Room for the
    // caption beside the title bar's buttons.
    want = want.boundedTo(sub_->mdiArea()->viewport()->size() - delta);
    int title = sub_->fontMetrics().horizontalAdvance(sub_->windowTitle()) +
                6 * sub_->fontMetrics().height();
    want = want.expandedTo(QSize(title, 0)).expandedTo(inside->minimumSizeHint());
    sub_->resize(want + delta);
    // Placed where the area shows it whole: a window that would run past the area's right or
    // bottom edge moves back into it.
    QSize area = sub_->mdiArea()->viewport()->size();
    QPoint p = sub_->pos();
    int x = std::min(p.x(), area.width() - sub_->width());
    int y = std::min(p.y(), area.height() - sub_->height());
    sub_->move(std::max(0, x), std::max(0, y));
  }
  if (state_.geometry.width > 0) ApplyGeometry(state_.geometry);
  if (state_.busy) shell_->setCursor(Qt::WaitCursor);
  if (zones_) zones_->Show(state_.status);
  if (state_.inert) ApplyState(state_);
  applying_ = false;
  QTimer::singleShot(0, this, [this] {
    ready_ = true;
    ReportGeometry();
  });
}

void QtWindow::ApplyControls(const std::vector<std::pair<int, ControlState>>& changed) {
  if (!shell_) return;
  for (const auto& [feq, state] : changed) {
    if (feq >= 1 && static_cast<size_t>(feq) <= views_.size() &&
        views_[static_cast<size_t>(feq - 1)].desc)
      ApplyControl(views_[static_cast<size_t>(feq - 1)], state);
  }
}

void QtWindow::ApplyState(const WindowState& s) {
  if (!shell_) {
    state_ = s;
    return;
  }
  bool wasApplying = applying_;
  applying_ = true;
  if (s.caption != state_.caption) {
    shell_->setWindowTitle(FromAnsi(s.caption));
    shell_->setAccessibleName(StripMnemonic(FromAnsi(s.caption)));
  }
  bool zonesChanged = s.status != state_.status;
  if (frame_) {
    if (QMainWindow* main = qobject_cast<QMainWindow*>(shell_)) {
      main->menuBar()->setEnabled(!s.inert);
      if (toolbar_) toolbar_->setEnabled(!s.inert);
      if (body_) body_->setEnabled(!s.inert);
    }
  } else if (content_) {
    content_->setEnabled(!s.inert);
  }
  if (s.busy)
    shell_->setCursor(Qt::WaitCursor);
  else
    shell_->unsetCursor();
  QWidget* inside = frame_ ? shell_.data() : content_.data();
  if (s.minWidth != state_.minWidth || s.minHeight != state_.minHeight) {
    QSize least = inside->layout() ? inside->layout()->minimumSize() : QSize();
    inside->setMinimumSize(least.expandedTo(QSize(units_.X(s.minWidth), units_.Y(s.minHeight))));
  }
  bool showChanged =
      s.hidden != state_.hidden || s.maximized != state_.maximized || s.iconized != state_.iconized;
  bool moved = s.geometry.width > 0 && s.geometry != state_.geometry && s.geometry != reported_;
  state_ = s;
  if (showChanged) ApplyShowState(s);
  if (moved) ApplyGeometry(s.geometry);
  if (zonesChanged) {
    if (zones_)
      zones_->Show(s.status);
    else if (sub_)
      backend_.ChildActivated(sub_->mdiArea() ? sub_->mdiArea()->activeSubWindow() : nullptr);
  }
  applying_ = wasApplying;
}

void QtWindow::ApplyShowState(const WindowState& s) {
  if (s.hidden) {
    shell_->hide();
  } else if (s.iconized) {
    shell_->showMinimized();
  } else if (s.maximized) {
    // Without a window manager (a virtual screen) a maximize does nothing: a top-level window
    // then takes the screen's room itself.
    if (!sub_ && shell_->screen()) shell_->setGeometry(shell_->screen()->availableGeometry());
    shell_->showMaximized();
  } else {
    shell_->showNormal();
  }
}

void QtWindow::ApplyGeometry(const Geometry& g) {
  QWidget* inside = frame_ ? shell_.data() : content_.data();
  QSize delta = shell_->size() - inside->size();
  shell_->resize(QSize(units_.X(g.width), units_.Y(g.height)) + delta);
  shell_->move(units_.X(g.x), units_.Y(g.y));
  reported_ = g;
}

Geometry QtWindow::CurrentGeometry() const {
  QWidget* inside = frame_ ? shell_.data() : content_.data();
  QPoint p = shell_->pos();
  return Geometry{units_.ToX(p.x()), units_.ToY(p.y()), units_.ToX(inside->width()),
                  units_.ToY(inside->height())};
}

void QtWindow::ReportGeometry() {
  if (!shell_ || !ready_ || closing_) return;
  if (shell_->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized)) return;
  if (!shell_->isVisible()) return;
  const GuiModel::Window* w = Runtime::Model().Find(number_);
  if (!w) return;
  Geometry g = CurrentGeometry();
  normal_ = g;
  reported_ = g;
  const Geometry& known = w->state.geometry;
  if (g == known) return;
  bool sized = g.width != known.width || g.height != known.height;
  gui::Resized(number_, sized ? EventKind::Sized : EventKind::Moved, g);
}

void QtWindow::FocusControl(int feq) {
  if (!shell_ || feq < 1 || static_cast<size_t>(feq) > views_.size()) return;
  ControlView& v = views_[static_cast<size_t>(feq - 1)];
  if (v.focus) v.focus->setFocus(Qt::OtherFocusReason);
}

QStatusBar* QtWindow::StatusBar() const { return zones_ ? zones_->Bar() : nullptr; }

void QtWindow::ShowStatus(const QString& text, int timeoutMs) {
  QStatusBar* bar = StatusBar();
  if (!bar) {
    QtWindow* frame = backend_.Frame();
    if (frame && frame != this) bar = frame->StatusBar();
  }
  if (!bar) return;
  if (text.isEmpty())
    bar->clearMessage();
  else
    bar->showMessage(text, timeoutMs);
}

void QtWindow::ShowZones(const std::vector<std::string>& texts) {
  if (zones_) zones_->Show(texts);
}

void QtWindow::Refused(QWidget* where, const QString& ch) { Tell(where, RefusedCharMessage(ch)); }

void QtWindow::Tell(QWidget* where, const QString& message) {
  QToolTip::showText(where->mapToGlobal(QPoint(0, where->height())), message, where, QRect(), 5000);
  ShowStatus(message, 5000);
  QApplication::beep();
}

void QtWindow::PressDefault() {
  for (ControlView& v : views_) {
    auto* b = qobject_cast<QPushButton*>(v.widget.data());
    if (b && (v.shown.flags & kFlagDefault) && b->isEnabled() && b->isVisible()) {
      b->click();
      return;
    }
  }
}

// A press the control ignored travels on to its parents: it is reported once, for the control.
bool QtWindow::SeenMouse(const QEvent* event) {
  auto time = static_cast<const QMouseEvent*>(event)->timestamp();
  bool seen = event == lastMouse_ && time == lastMouseTime_;
  lastMouse_ = event;
  lastMouseTime_ = time;
  return seen;
}

ControlView* QtWindow::ViewOf(QObject* widget) {
  QVariant feq = widget->property(kFeqProperty);
  if (!feq.isValid()) return nullptr;
  int n = feq.toInt();
  if (n < 1 || static_cast<size_t>(n) > views_.size()) return nullptr;
  return &views_[static_cast<size_t>(n - 1)];
}

// ---------------------------------------------------------------------------------------------
// Events.

bool QtWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == shell_) return ShellEvent(event);
  if (watched == body_) {
    if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
      if (plain && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
        PressDefault();
        return true;
      }
    } else if (event->type() == QEvent::MouseButtonPress && !SeenMouse(event)) {
      gui::Mouse(number_, 0, MouseButton(static_cast<QMouseEvent*>(event)->button()));
    }
    return false;
  }
  if (auto* w = qobject_cast<QWidget*>(watched)) return ControlEvent(w, event);
  return false;
}

bool QtWindow::ShellEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::Close:
      if (closing_ || qobject_cast<QDialog*>(shell_)) return false;
      event->ignore();
      gui::CloseBox(number_);
      return true;
    case QEvent::Resize:
    case QEvent::Move:
      if (ready_ && !applying_) geometryTimer_.start();
      return false;
    case QEvent::WindowStateChange: {
      if (!ready_ || applying_) return false;
      const GuiModel::Window* w = Runtime::Model().Find(number_);
      if (!w) return false;
      Qt::WindowStates now = shell_->windowState();
      EventKind kind = (now & Qt::WindowMinimized)   ? EventKind::Iconized
                       : (now & Qt::WindowMaximized) ? EventKind::Maximized
                                                     : EventKind::Restored;
      bool known = kind == EventKind::Iconized    ? w->state.iconized
                   : kind == EventKind::Maximized ? w->state.maximized && !w->state.iconized
                                                  : !w->state.maximized && !w->state.iconized;
      if (!known) gui::Resized(number_, kind, normal_);
      return false;
    }
    case QEvent::StatusTip:
      // A window of its own shows the tips of its controls on its own bar, or on the frame's.
      if (sub_ || frame_) return false;
      ShowStatus(static_cast<QStatusTipEvent*>(event)->tip());
      return true;
    default:
      return false;
  }
}

bool QtWindow::ControlEvent(QWidget* widget, QEvent* event) {
  ControlView* v = ViewOf(widget);
  if (!v || !v->desc) return false;
  int feq = v->desc->feq;
  switch (event->type()) {
    case QEvent::FocusIn:
      gui::Focus(number_, feq);
      ShowStatus(FromAnsi(v->shown.status));
      return false;
    case QEvent::FocusOut:
      if (v->desc->type == ControlType::TextBox) {
        if (auto* e = qobject_cast<QPlainTextEdit*>(v->widget.data()))
          CommitText(&views_, number_, feq, e->toPlainText());
      }
      return false;
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress: {
      if (v->shown.alertKeys.empty()) return false;
      int key = AlertKeyOf(static_cast<QKeyEvent*>(event));
      const auto& keys = v->shown.alertKeys;
      if (!key || std::find(keys.begin(), keys.end(), key) == keys.end()) return false;
      if (event->type() == QEvent::ShortcutOverride) {
        event->accept();  // the key goes to the control, not to a shortcut
        return true;
      }
      if (v->desc->type == ControlType::List) return false;  // the list reports its own keys
      gui::Key(number_, feq, key);
      return true;
    }
    case QEvent::MouseButtonPress:
      if (!SeenMouse(event)) {
        gui::Mouse(number_, feq, MouseButton(static_cast<QMouseEvent*>(event)->button()));
      }
      return false;
    default:
      return false;
  }
}

}  // namespace korawin::ui::qt
