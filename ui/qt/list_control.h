// The list control: one page of rows that the procedure formatted, in the columns of the list's
// format. The procedure owns the scrolling: the list shows its own scroll bar with the thumb the
// procedure sets, and every move past the page (arrow keys at its edges, page keys, the wheel,
// the scroll bar) goes back to the procedure as a scroll event.
#pragma once

#include <QAbstractTableModel>
#include <QFrame>
#include <QStringList>
#include <QTreeView>
#include <vector>

#include "ui/desc/window_desc.h"
#include "ui/runtime/state.h"

class QScrollBar;

namespace korawin::ui::qt {

class DialogUnits;

// The rows of the page, one cell per column of the format.
class ListModel : public QAbstractTableModel {
 public:
  ListModel(const ListFormat& format, QObject* parent);
  void SetRows(const std::vector<ListRow>& rows);
  // True when a column or group of the format has a heading.
  bool HasHeadings() const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const ListFormat& format_;
  int columns_;
  QStringList headings_;
  std::vector<QStringList> rows_;
};

// The view over the page: turns keys and the wheel that would leave the page into scroll events
// of the procedure, and reports how many rows fit.
class ListView : public QTreeView {
 public:
  ListView(int window, int feq, QWidget* parent);
  // The height of one row, the same for every row.
  int RowHeight() const;
  // Rows that fit in the view now.
  int RowsThatFit() const;
  void SetAlertKeys(std::vector<int> keys) { alertKeys_ = std::move(keys); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  void ReportRows();
  int window_;
  int feq_;
  int reported_ = -1;
  int wheel_ = 0;
  std::vector<int> alertKeys_;
};

// The list control as the window holds it: the view and the procedure's scroll bar in one frame.
class ListControl : public QFrame {
 public:
  ListControl(int window, const ControlDesc& desc, const DialogUnits& units, QWidget* parent);
  // Shows the state: rows, the highlighted row, the thumb, the alert keys.
  void Apply(const ControlState& state);
  ListView* View() const { return view_; }
  ListModel* Model() const { return model_; }
  QScrollBar* Bar() const { return bar_; }

 private:
  void OnScrollAction(int action);
  int window_;
  int feq_;
  ListModel* model_;
  ListView* view_;
  QScrollBar* bar_;
  std::vector<ListRow> rows_;
  int thumb_ = -1;
  bool applying_ = false;
};

}  // namespace korawin::ui::qt
