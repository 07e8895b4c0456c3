#include "ui/qt/requests.h"

#include <QCursor>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <map>
#include <memory>

#include "ui/desc/popup_text.h"
#include "ui/qt/text.h"

namespace korawin::ui::qt {

namespace {

// Keeps a promise once: with the answer, or with "none" when the widget goes away first.
template <typename T>
class Answer {
 public:
  explicit Answer(std::shared_ptr<std::promise<T>> promise) : promise_(std::move(promise)) {}
  void Give(T value) {
    if (given_) return;
    given_ = true;
    promise_->set_value(std::move(value));
  }

 private:
  std::shared_ptr<std::promise<T>> promise_;
  bool given_ = false;
};

template <typename T>
std::shared_ptr<Answer<T>> Keep(QObject* widget, std::shared_ptr<std::promise<T>> promise, T none) {
  auto answer = std::make_shared<Answer<T>>(std::move(promise));
  QObject::connect(widget, &QObject::destroyed, [answer, none] { answer->Give(none); });
  return answer;
}

struct BoxButton {
  Button value;
  const char* name;
  const char* label;
  QMessageBox::ButtonRole role;
};

constexpr BoxButton kBoxButtons[] = {
    {ButtonOk, "ok", "OK", QMessageBox::AcceptRole},
    {ButtonYes, "yes", "&Да", QMessageBox::YesRole},
    {ButtonNo, "no", "&Нет", QMessageBox::NoRole},
    {ButtonCancel, "cancel", "Отмена", QMessageBox::RejectRole},
};

QMessageBox::Icon BoxIcon(Icon icon) {
  switch (icon) {
    case Icon::Hand:
      return QMessageBox::Critical;
    case Icon::Question:
      return QMessageBox::Question;
    case Icon::Exclamation:
      return QMessageBox::Warning;
    case Icon::Information:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

void AddItems(QMenu* menu, const std::vector<PopupItem>& items) {
  for (const PopupItem& item : items) {
    if (item.separator) {
      menu->addSeparator();
    } else if (item.submenu) {
      QMenu* sub = menu->addMenu(FromAnsi(item.text));
      sub->setEnabled(!item.disabled);
      AddItems(sub, item.items);
    } else {
      QAction* a = menu->addAction(FromAnsi(item.text));
      a->setData(item.number);
      a->setEnabled(!item.disabled);
      a->setCheckable(item.checked);
      a->setChecked(item.checked);
    }
  }
}

}  // namespace

QWidget* OpenMessageBox(const MessageCommand& command, QWidget* parent) {
  const MessageBoxRequest& req = command.box;
  auto* box = new QMessageBox(parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setObjectName(QStringLiteral("messageBox"));
  box->setTextFormat(Qt::PlainText);
  // A bar in a message breaks its line; blanks stand as they are.
  box->setText(FromAnsi(req.text).replace(u'|', u'\n'));
  box->setWindowTitle(FromAnsi(req.caption));
  box->setIcon(BoxIcon(req.icon));
  unsigned offered = req.buttons & (ButtonOk | ButtonYes | ButtonNo | ButtonCancel);
  if (!offered) offered = ButtonOk;
  unsigned chosenDefault = EffectiveDefault(req);
  std::map<unsigned, QPushButton*> buttons;
  for (const BoxButton& b : kBoxButtons) {
    if (!(offered & b.value)) continue;
    QPushButton* button = box->addButton(QString::fromUtf8(b.label), b.role);
    button->setObjectName(QString::fromLatin1(b.name));
    button->setProperty("korawinButton", static_cast<uint>(b.value));
    if (b.value == chosenDefault) box->setDefaultButton(button);
    buttons[b.value] = button;
  }
  QPushButton* escape = buttons.count(ButtonCancel) ? buttons[ButtonCancel]
                        : buttons.count(ButtonNo)   ? buttons[ButtonNo]
                        : buttons.size() == 1       ? buttons.begin()->second
                                                    : nullptr;
  // Without a button that cancels, Escape and the close box close the box without one.
  if (escape) box->setEscapeButton(escape);
  auto answer = Keep<unsigned>(box, command.answer, ButtonNone);
  QObject::connect(box, &QMessageBox::finished, box, [box, answer] {
    QAbstractButton* clicked = box->clickedButton();
    answer->Give(clicked ? clicked->property("korawinButton").toUInt() : ButtonNone);
  });
  box->open();
  return box;
}

QStringList NameFilters(const QString& mask) {
  QStringList parts = mask.split(u'|');
  QStringList out;
  for (qsizetype k = 0; k + 1 < parts.size(); k += 2) {
    QStringList patterns;
    for (QString p : parts[k + 1].split(u';', Qt::SkipEmptyParts)) {
      p = p.trimmed();
      // "*.*" means every file here, with or without a dot.
      patterns << (p == QLatin1String("*.*") ? QStringLiteral("*") : p);
    }
    if (patterns.isEmpty()) continue;
    out << QStringLiteral("%1 (%2)").arg(parts[k].trimmed(), patterns.join(u' '));
  }
  if (out.isEmpty()) out << QStringLiteral("Все файлы (*)");
  return out;
}

QWidget* OpenFileDialog(const FileDialogCommand& command, QWidget* parent) {
  const FileDialogRequest& req = command.request;
  QString title = FromAnsi(req.title);
  if (title.isEmpty())
    title = req.save ? QStringLiteral("Сохранить файл") : QStringLiteral("Открыть файл");
  auto* d = new QFileDialog(parent, title, QString::fromStdString(req.directory));
  d->setAttribute(Qt::WA_DeleteOnClose);
  d->setObjectName(QStringLiteral("fileDialog"));
  d->setAcceptMode(req.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  d->setFileMode(req.folder ? QFileDialog::Directory
                            : req.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (req.folder) d->setOption(QFileDialog::ShowDirsOnly);
  d->setNameFilters(NameFilters(FromAnsi(req.mask)));
  if (!req.file.empty()) d->selectFile(QString::fromStdString(req.file));
  auto answer = Keep<std::string>(d, command.answer, std::string());
  QObject::connect(d, &QFileDialog::finished, d, [d, answer](int result) {
    QStringList files = d->selectedFiles();
    // Paths stay in the file system's own encoding: they name files, they are not texts of
    // the database.
    std::string path;
    if (result == QDialog::Accepted && !files.isEmpty()) path = files.first().toStdString();
    answer->Give(path);
  });
  d->open();
  return d;
}

QWidget* OpenPopup(const PopupCommand& command, QWidget* parent) {
  std::vector<PopupItem> items;
  auto* menu = new QMenu(parent);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->setObjectName(QStringLiteral("popup"));
  auto answer = Keep<int>(menu, command.answer, 0);
  if (!ParsePopupText(command.menu, &items)) {
    answer->Give(0);
    menu->deleteLater();
    return menu;
  }
  AddItems(menu, items);
  QObject::connect(menu, &QMenu::triggered, menu,
                   [answer](QAction* a) { answer->Give(a->data().toInt()); });
  // The menu hides before it reports the item chosen: a dismissal is known only afterwards.
  QObject::connect(menu, &QMenu::aboutToHide, menu,
                   [answer] { QTimer::singleShot(0, [answer] { answer->Give(0); }); });
  menu->popup(QCursor::pos());
  return menu;
}

}  // namespace korawin::ui::qt
