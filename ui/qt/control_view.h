// One control of a window as the widgets show it, and how a control's state reaches them.
#pragma once

#include <QFont>
#include <QPalette>
#include <QPointer>
#include <QString>
#include <vector>

#include "ui/desc/window_desc.h"
#include "ui/runtime/state.h"

class QAction;
class QLabel;
class QTabWidget;
class QWidget;

namespace korawin::ui::qt {

// Widget properties that tie a widget to its window and control.
inline constexpr char kWindowProperty[] = "korawinWindow";
inline constexpr char kFeqProperty[] = "korawinFeq";

struct ControlView {
  const ControlDesc* desc = nullptr;
  QPointer<QWidget> widget;    // the control's widget; null for menus, items, toolbar buttons
  QPointer<QWidget> focus;     // the widget that takes keys (a list's view, a spin's entry)
  QPointer<QAction> action;    // menus, menu items and toolbar buttons
  QPointer<QTabWidget> sheet;  // a tab: the sheet that holds it
  QPointer<QWidget> page;      // a tab: its page
  QFont font;                  // the control's own font, when its description names one
  bool ownFont = false;
  // What the GUI model held when the widget last took it: the widget differs from it only while
  // the user edits.
  ControlState shown;
  bool applied = false;
};

// Shows state in the control's widgets.
void ApplyControl(ControlView& view, const ControlState& state);
// Shows the GUI model's state of a control again, after the runtime refused what the user did
// (the control is read-only or hidden, or its window waits for another).
void Resync(std::vector<ControlView>* views, int window, int feq);
// Hands text the user typed into an entry, text box or spin to the runtime, when it differs
// from what the GUI model holds.
void CommitText(std::vector<ControlView>* views, int window, int feq, const QString& text);
// Hands the runtime what the user typed into the window's entries and text boxes and it has not
// taken yet (an edit goes when its control loses the focus): a button pressed by its mnemonic
// or shortcut, by the default key or by assistive technology takes no focus, so the edit would
// otherwise reach the runtime after the press, or never.
void CommitEdits(std::vector<ControlView>* views, int window);
// The text a prompt shows: with its "&" mark when it has a buddy to take the mnemonic.
QString PromptText(const QLabel* label, const QString& text);

}  // namespace korawin::ui::qt
