#include "ui/qt/list_control.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>

#include "lang/picture.h"
#include "ui/qt/keys.h"
#include "ui/qt/text.h"
#include "ui/runtime/gui_input.h"

namespace korawin::ui::qt {

namespace {

Qt::Alignment AlignmentOf(char a) {
  switch (a) {
    case 'R':
    case 'D':
      return Qt::AlignRight | Qt::AlignVCenter;
    case 'C':
      return Qt::AlignHCenter | Qt::AlignVCenter;
    default:
      return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

// Pictures pad cells with blanks; the column's alignment places the text instead.
QString CellText(std::string_view cell, char align) {
  QString s = FromAnsi(cell);
  qsizetype end = s.size();
  while (end > 0 && s[end - 1] == u' ') --end;
  qsizetype begin = 0;
  if (align != 'L') {
    while (begin < end && s[begin] == u' ') ++begin;
  }
  return s.mid(begin, end - begin);
}

// Indents and right borders of the format's columns.
class ListDelegate : public QStyledItemDelegate {
 public:
  ListDelegate(const ListFormat& format, const DialogUnits& units, QObject* parent)
      : QStyledItemDelegate(parent), format_(format), units_(units) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem opt = option;
    const ListColumn* c = Column(index.column());
    if (c && c->indent > 0) {
      int indent = units_.X(c->indent);
      if (c->align == 'R' || c->align == 'D')
        opt.rect.setRight(opt.rect.right() - indent);
      else if (c->align != 'C')
        opt.rect.setLeft(opt.rect.left() + indent);
    }
    if (c && c->underline) opt.font.setUnderline(true);
    QStyledItemDelegate::paint(painter, opt, index);
    if (c && c->rightBorder) {
      painter->save();
      painter->setPen(option.palette.color(QPalette::Mid));
      painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
      painter->restore();
    }
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    s.setHeight(RowHeight(option.fontMetrics));
    return s;
  }

  // Every row has the same height, so the rows that fit can be told before any row arrives.
  static int RowHeight(const QFontMetrics& fm) {
    return fm.height() + std::max(4, fm.height() / 3);
  }

 private:
  const ListColumn* Column(int k) const {
    if (k < 0 || static_cast<size_t>(k) >= format_.columns.size()) return nullptr;
    return &format_.columns[static_cast<size_t>(k)];
  }
  const ListFormat& format_;
  const DialogUnits& units_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

ListModel::ListModel(const ListFormat& format, QObject* parent)
    : QAbstractTableModel(parent),
      format_(format),
      columns_(std::max<int>(1, static_cast<int>(format.columns.size()))) {
  for (size_t k = 0; k < format.columns.size(); ++k) {
    const ListColumn& c = format.columns[k];
    QString h = FromAnsi(c.heading);
    // Groups are shown flat: a group's heading stands over its first column.
    if (h.isEmpty() && c.group >= 0) {
      const ListGroup& g = format.groups[static_cast<size_t>(c.group)];
      if (g.first == static_cast<int>(k)) h = FromAnsi(g.heading);
    }
    headings_ << h;
  }
}

void ListModel::SetRows(const std::vector<ListRow>& rows) {
  beginResetModel();
  rows_.clear();
  for (const ListRow& r : rows) {
    QStringList cells;
    for (int k = 0; k < columns_; ++k) {
      char align = static_cast<size_t>(k) < format_.columns.size()
                       ? format_.columns[static_cast<size_t>(k)].align
                       : 'L';
      cells << (static_cast<size_t>(k) < r.cells.size()
                    ? CellText(r.cells[static_cast<size_t>(k)], align)
                    : QString());
    }
    rows_.push_back(std::move(cells));
  }
  endResetModel();
}

bool ListModel::HasHeadings() const {
  return std::any_of(headings_.begin(), headings_.end(),
                     [](const QString& h) { return !h.isEmpty(); });
}

int ListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columns_;
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || static_cast<size_t>(index.row()) >= rows_.size()) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
      return rows_[static_cast<size_t>(index.row())][index.column()];
    case Qt::TextAlignmentRole:
      return static_cast<size_t>(index.column()) < format_.columns.size()
                 ? QVariant(AlignmentOf(format_.columns[static_cast<size_t>(index.column())].align))
                 : QVariant();
    default:
      return {};
  }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= headings_.size()) return {};
  if (role == Qt::DisplayRole) return headings_[section];
  if (role == Qt::TextAlignmentRole && static_cast<size_t>(section) < format_.columns.size()) {
    const ListColumn& c = format_.columns[static_cast<size_t>(section)];
    return QVariant(AlignmentOf(c.headingAlign ? c.headingAlign : c.align));
  }
  return {};
}

// ---------------------------------------------------------------------------------------------

ListView::ListView(int window, int feq, QWidget* parent)
    : QTreeView(parent), window_(window), feq_(feq) {
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFrameShape(QFrame::NoFrame);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
}

int ListView::RowHeight() const { return ListDelegate::RowHeight(fontMetrics()); }

int ListView::RowsThatFit() const { return std::max(1, viewport()->height() / RowHeight()); }

void ListView::ReportRows() {
  int rows = RowsThatFit();
  if (rows == reported_ || !isVisible()) return;
  reported_ = rows;
  gui::ListRowsShown(window_, feq_, rows);
}

bool ListView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Resize || event->type() == QEvent::Show) ReportRows();
  return QTreeView::viewportEvent(event);
}

void ListView::keyPressEvent(QKeyEvent* event) {
  int alert = AlertKeyOf(event);
  if (alert && std::find(alertKeys_.begin(), alertKeys_.end(), alert) != alertKeys_.end()) {
    gui::Key(window_, feq_, alert);
    return;
  }
  int row = currentIndex().isValid() ? currentIndex().row() : -1;
  int last = model() ? model()->rowCount() - 1 : -1;
  bool ctrl = event->modifiers() & Qt::ControlModifier;
  auto scroll = [&](EventKind kind) { gui::Scroll(window_, feq_, kind); };
  switch (event->key()) {
    case Qt::Key_Up:
      if (row <= 0) return scroll(EventKind::ScrollUp);
      break;
    case Qt::Key_Down:
      if (row >= last) return scroll(EventKind::ScrollDown);
      break;
    case Qt::Key_PageUp:
      return scroll(EventKind::PageUp);
    case Qt::Key_PageDown:
      return scroll(EventKind::PageDown);
    case Qt::Key_Home:
      if (ctrl) return scroll(EventKind::ScrollTop);
      break;
    case Qt::Key_End:
      if (ctrl) return scroll(EventKind::ScrollBottom);
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (row >= 0 && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        gui::ChooseRow(window_, feq_, row + 1, true);
        return;
      }
      event->ignore();  // the window's default button may take it
      return;
    case Qt::Key_Backspace:
      gui::Key(window_, feq_, kKeyBackspace);
      return;
    default: {
      // Characters go to the procedure's locator.
      QString ch;
      int code = CharKeyOf(event, &ch);
      if (code > 0) {
        gui::Key(window_, feq_, code);
        return;
      }
      if (code < 0) {
        QApplication::beep();
        return;
      }
      break;
    }
  }
  QTreeView::keyPressEvent(event);
}

void ListView::wheelEvent(QWheelEvent* event) {
  wheel_ += event->angleDelta().y();
  int lines = std::max(1, QApplication::wheelScrollLines());
  while (wheel_ >= 120 || wheel_ <= -120) {
    EventKind kind = wheel_ > 0 ? EventKind::ScrollUp : EventKind::ScrollDown;
    wheel_ += wheel_ > 0 ? -120 : 120;
    for (int k = 0; k < lines; ++k) gui::Scroll(window_, feq_, kind);
  }
  event->accept();
}

// ---------------------------------------------------------------------------------------------

ListControl::ListControl(int window, const ControlDesc& desc, const DialogUnits& units,
                         QWidget* parent)
    : QFrame(parent), window_(window), feq_(desc.feq) {
  setFrameShape(QFrame::StyledPanel);
  setFrameShadow(QFrame::Sunken);
  model_ = new ListModel(desc.columns, this);
  view_ = new ListView(window, desc.feq, this);
  view_->setModel(model_);
  view_->setItemDelegate(new ListDelegate(desc.columns, units, view_));
  bar_ = new QScrollBar(Qt::Vertical, this);
  bar_->setRange(0, 100);
  bar_->setPageStep(10);
  bar_->setFocusPolicy(Qt::NoFocus);
  bar_->hide();
  auto* box = new QHBoxLayout(this);
  box->setContentsMargins(0, 0, 0, 0);
  box->setSpacing(0);
  box->addWidget(view_, 1);
  box->addWidget(bar_);
  setFocusProxy(view_);

  QHeaderView* header = view_->header();
  header->setHidden(!model_->HasHeadings());
  // A last column of text takes the room left over; numbers keep their place beside the text.
  const auto& cols = desc.columns.columns;
  header->setStretchLastSection(cols.empty() || cols.back().align == 'L');
  header->setSectionsMovable(false);
  int total = 0;
  for (size_t k = 0; k < desc.columns.columns.size(); ++k) {
    const ListColumn& c = desc.columns.columns[k];
    // A column shows at least the whole of a date or a number and ten characters of a text,
    // whatever the width its format gives in dialog units.
    int least = lang::PictureWidth(c.picture);
    if (c.picture.size() > 1 && (c.picture[1] == 's' || c.picture[1] == 'S'))
      least = std::min(least, 10);
    int w = std::max({units.X(c.width), units.Chars(2), units.Chars(least + 1)});
    view_->setColumnWidth(static_cast<int>(k), w);
    header->setSectionResizeMode(static_cast<int>(k),
                                 c.resizable ? QHeaderView::Interactive : QHeaderView::Fixed);
    total += w;
  }
  // Wide formats scroll sideways rather than make the window wider than a screen; a width
  // the description gives holds, so that a wide list shares its window with others.
  int width = (desc.width > 0 ? units.X(desc.width) : std::min(total, units.Chars(100))) +
              bar_->sizeHint().width() + 2 * frameWidth();
  // The rows the description asks for, else as many as its height holds.
  int chrome = (header->isHidden() ? 0 : header->sizeHint().height()) + 2 * frameWidth();
  int lines = desc.lines > 0    ? desc.lines
              : desc.height > 0 ? std::max(1, (units.Y(desc.height) - chrome) / view_->RowHeight())
                                : 10;
  int height = lines * view_->RowHeight() + chrome;
  setMinimumSize(std::max(width, units.Chars(10)), height);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

  connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& now) {
            if (!applying_ && now.isValid()) gui::ChooseRow(window_, feq_, now.row() + 1);
          });
  connect(view_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) gui::ChooseRow(window_, feq_, index.row() + 1, true);
  });
  connect(bar_, &QScrollBar::actionTriggered, this, [this](int action) { OnScrollAction(action); });
  connect(bar_, &QScrollBar::sliderReleased, this,
          [this] { gui::DragThumb(window_, feq_, bar_->sliderPosition()); });
}

void ListControl::OnScrollAction(int action) {
  EventKind kind = EventKind::None;
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
      kind = EventKind::ScrollDown;
      break;
    case QAbstractSlider::SliderSingleStepSub:
      kind = EventKind::ScrollUp;
      break;
    case QAbstractSlider::SliderPageStepAdd:
      kind = EventKind::PageDown;
      break;
    case QAbstractSlider::SliderPageStepSub:
      kind = EventKind::PageUp;
      break;
    case QAbstractSlider::SliderToMinimum:
      kind = EventKind::ScrollTop;
      break;
    case QAbstractSlider::SliderToMaximum:
      kind = EventKind::ScrollBottom;
      break;
    default:
      return;  // a drag reports where it ends
  }
  // The thumb stays where the procedure put it until the procedure moves it.
  bar_->setSliderPosition(std::max(0, thumb_));
  gui::Scroll(window_, feq_, kind);
}

void ListControl::Apply(const ControlState& state) {
  applying_ = true;
  if (state.rows != rows_) {
    rows_ = state.rows;
    model_->SetRows(rows_);
  }
  int row = state.value - 1;
  if (row >= 0 && row < model_->rowCount()) {
    QModelIndex index = model_->index(row, 0);
    view_->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  } else {
    view_->selectionModel()->clear();
  }
  thumb_ = state.thumb;
  bar_->setVisible(thumb_ >= 0);
  if (thumb_ >= 0 && !bar_->isSliderDown()) {
    bar_->blockSignals(true);
    bar_->setValue(thumb_);
    bar_->blockSignals(false);
  }
  view_->SetAlertKeys(state.alertKeys);
  applying_ = false;
}

}  // namespace korawin::ui::qt
