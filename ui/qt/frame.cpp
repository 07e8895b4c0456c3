#include "ui/qt/frame.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>
#include <QStatusBar>
#include <QVBoxLayout>

#include "ui/qt/text.h"

namespace korawin::ui::qt {

namespace {
constexpr char kListedProperty[] = "korawinListed";
}

StatusZones::StatusZones(QStatusBar* bar, const std::vector<int>& widths, const DialogUnits& units)
    : bar_(bar) {
  size_t count = std::max<size_t>(1, widths.size());
  for (size_t k = 0; k < count; ++k) {
    auto* label = new QLabel(bar);
    label->setTextFormat(Qt::PlainText);
    label->setObjectName(QStringLiteral("zone%1").arg(k));
    if (k == 0) {
      bar->addWidget(label, 1);
    } else {
      if (widths[k] > 0) label->setMinimumWidth(units.X(widths[k]));
      bar->addPermanentWidget(label, widths[k] > 0 ? 0 : 1);
    }
    zones_.push_back(label);
  }
}

void StatusZones::Show(const std::vector<std::string>& texts) {
  for (size_t k = 0; k < zones_.size(); ++k)
    zones_[k]->setText(k < texts.size() ? FromAnsi(texts[k]) : QString());
}

// ---------------------------------------------------------------------------------------------

FrameParts::FrameParts(QMainWindow* main, QWidget* body) {
  area_ = new QMdiArea;
  area_->setObjectName(QStringLiteral("childArea"));
  area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  area_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  area_->setActivationOrder(QMdiArea::ActivationHistoryOrder);
  if (!body) {
    main->setCentralWidget(area_);
    return;
  }
  auto* central = new QWidget;
  auto* box = new QVBoxLayout(central);
  box->setContentsMargins(0, 0, 0, 0);
  box->addWidget(body);
  box->addWidget(area_, 1);
  main->setCentralWidget(central);
}

void FrameParts::Tile() { area_->tileSubWindows(); }

void FrameParts::Cascade() { area_->cascadeSubWindows(); }

void FrameParts::ArrangeIcons() {
  int x = 0;
  for (QMdiSubWindow* sub : area_->subWindowList(QMdiArea::CreationOrder)) {
    if (!sub->isMinimized() || !sub->isVisible()) continue;
    QSize size = sub->size();
    if (x > 0 && x + size.width() > area_->viewport()->width()) x = 0;
    sub->move(x, area_->viewport()->height() - size.height());
    x += size.width();
  }
}

void FrameParts::FillWindowList(QMenu* menu) {
  for (QAction* a : menu->actions()) {
    if (a->property(kListedProperty).toBool()) {
      menu->removeAction(a);
      a->deleteLater();
    }
  }
  QList<QMdiSubWindow*> subs = area_->subWindowList(QMdiArea::CreationOrder);
  int n = 0;
  for (QMdiSubWindow* sub : subs) {
    if (!sub->isVisible() && !sub->isMinimized()) continue;
    if (n == 0) menu->addSeparator()->setProperty(kListedProperty, true);
    ++n;
    QString title = sub->windowTitle();
    title.replace(u'&', QStringLiteral("&&"));
    QAction* a = menu->addAction(n < 10 ? QStringLiteral("&%1 %2").arg(n).arg(title) : title);
    a->setProperty(kListedProperty, true);
    a->setCheckable(true);
    a->setChecked(sub == area_->activeSubWindow());
    QObject::connect(a, &QAction::triggered, area_, [area = area_, sub = QPointer(sub)] {
      if (!sub) return;
      if (sub->isMinimized()) sub->showNormal();
      area->setActiveSubWindow(sub);
    });
  }
}

}  // namespace korawin::ui::qt
