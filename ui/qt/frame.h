// The parts of the frame window beyond its controls: the area that holds the child windows,
// the status bar's zones, the Window menu's list of children, and the standard actions on the
// children (tile, cascade, arrange icons).
#pragma once

#include <string>
#include <vector>

class QLabel;
class QMainWindow;
class QMdiArea;
class QMenu;
class QStatusBar;
class QWidget;

namespace korawin::ui::qt {

class DialogUnits;

// The zones of a status bar, as wide as a description asks (dialog units; the first zone takes
// what room is left). Status texts of controls and menu items cover the first zone while they
// show.
class StatusZones {
 public:
  StatusZones(QStatusBar* bar, const std::vector<int>& widths, const DialogUnits& units);
  // Shows one text per zone; missing texts leave their zones blank.
  void Show(const std::vector<std::string>& texts);
  QStatusBar* Bar() const { return bar_; }

 private:
  QStatusBar* bar_;
  std::vector<QLabel*> zones_;
};

class FrameParts {
 public:
  // Puts an area for child windows into main, under body when there is one.
  FrameParts(QMainWindow* main, QWidget* body);
  QMdiArea* Area() const { return area_; }
  void Tile();
  void Cascade();
  // Lines up the iconized children along the bottom of the area.
  void ArrangeIcons();
  // Lists the open children at the end of menu, the active one checked.
  void FillWindowList(QMenu* menu);

 private:
  QMdiArea* area_;
};

}  // namespace korawin::ui::qt
