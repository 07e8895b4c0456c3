// Builds a window's widgets from its description: the body laid out from the description's
// rows, columns, forms, groups and sheets, the menu bar and the toolbar. Every control's
// widget is wired so that what the user does reaches the runtime through ui/runtime/gui_input.h.
#pragma once

#include <QString>
#include <functional>
#include <vector>

#include "ui/desc/window_desc.h"
#include "ui/qt/control_view.h"
#include "ui/qt/text.h"

class QBoxLayout;
class QLabel;
class QLayout;
class QMenu;
class QMenuBar;
class QObject;
class QToolBar;
class QWidget;

namespace korawin::ui::qt {

struct BuildHooks {
  // A standard action that the backend carries out itself (cut, tile ...).
  std::function<void(StdAction)> standard;
  // An entry refused a character; the window tells the user.
  std::function<void(QWidget* where, const QString& ch)> refused;
  // A text box refused text beyond the limit of its variable; the window tells the user.
  std::function<void(QWidget* where, int limit)> tooLong;
  // Filters the events of every control's widget (focus, keys, mouse).
  QObject* filter = nullptr;
};

class WindowBuilder {
 public:
  // views gets one entry per control (index feq - 1).
  WindowBuilder(int window, const WindowDesc& desc, const DialogUnits& units,
                std::vector<ControlView>* views, BuildHooks hooks);

  // The body with its controls, laid out; parent gets it.
  QWidget* Body(QWidget* parent);
  void MenuBar(QMenuBar* bar);
  // Fills toolbar with the description's toolbar controls.
  void Toolbar(QToolBar* toolbar);

 private:
  struct Item {
    QWidget* widget = nullptr;
    QLayout* layout = nullptr;
    bool grows = false;   // wants the room left over downwards
    bool widens = false;  // wants the room left over across
  };

  void AddAll(const std::vector<ControlDesc>& controls, QBoxLayout* box, bool packTop);
  Item Make(const ControlDesc& c);
  Item MakeRow(const ControlDesc& c);
  Item MakeForm(const ControlDesc& c);
  Item MakeSheet(const ControlDesc& c);
  Item MakeOption(const ControlDesc& c);
  QWidget* MakeControl(const ControlDesc& c);
  QWidget* MakeEntry(const ControlDesc& c);
  void AddMenu(const ControlDesc& c, QMenu* into);
  void AddMenuItem(const ControlDesc& c, QMenu* into);
  void Register(const ControlDesc& c, QWidget* widget, QWidget* focus = nullptr);
  // A prompt just before a field names the field (and with "&", takes its mnemonic).
  void NameField(QWidget* field, const ControlDesc& c);
  void WireAction(const ControlDesc& c, QAction* action);
  int EntryWidth(const ControlDesc& c) const;

  int window_;
  const WindowDesc& desc_;
  const DialogUnits& units_;
  std::vector<ControlView>* views_;
  BuildHooks hooks_;
  QLabel* prompt_ = nullptr;  // the prompt waiting for its field
  QString promptName_;
  QString promptText_;
};

}  // namespace korawin::ui::qt
