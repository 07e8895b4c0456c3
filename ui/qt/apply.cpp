// How a control's state reaches its widgets. Called when a window opens and whenever its
// procedure changed the control.
#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>

#include "lang/picture.h"
#include "platform/paths.h"
#include "ui/qt/control_view.h"
#include "ui/qt/entry_guard.h"
#include "ui/qt/list_control.h"
#include "ui/qt/text.h"
#include "ui/runtime/gui_input.h"
#include "ui/runtime/gui_model.h"
#include "ui/runtime/runtime.h"

namespace korawin::ui::qt {

namespace {

constexpr uint32_t kNoColor = 0xFFFFFFFFu;

QColor Rgb(uint32_t c) { return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

// Without a look of its own a control takes its window's font and colours.
void ApplyLook(ControlView& v, QWidget* w, const Look& look) {
  if (look == Look{}) {
    w->setFont(v.ownFont ? v.font : QFont());
    w->setPalette(QPalette());
    w->setAutoFillBackground(false);
    return;
  }
  QFont f = v.ownFont ? v.font : (w->parentWidget() ? w->parentWidget()->font() : w->font());
  if (look.fontSize > 0) f.setPointSize(look.fontSize);
  if (look.bold) f.setBold(true);
  if (look.italic) f.setItalic(true);
  w->setFont(f);
  QPalette p = w->parentWidget() ? w->parentWidget()->palette() : w->palette();
  if (look.color != kNoColor) {
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
      p.setColor(role, Rgb(look.color));
  }
  if (look.background != kNoColor) {
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
      p.setColor(role, Rgb(look.background));
  }
  w->setAutoFillBackground(look.background != kNoColor);
  w->setPalette(p);
}

void ApplyAction(ControlView& v, const ControlState& s) {
  QAction* a = v.action;
  QString text = FromAnsi(s.text);
  if (v.desc->type == ControlType::Menu && a->menu()) a->menu()->setTitle(text);
  a->setText(text);
  a->setEnabled(!(s.flags & kFlagDisabled));
  a->setVisible(!(s.flags & kFlagHidden));
  a->setToolTip(s.tip.empty() ? StripMnemonic(text) : FromAnsi(s.tip));
  a->setStatusTip(FromAnsi(s.status));
  if (s.flags & kFlagChecked) a->setCheckable(true);
  if (a->isCheckable()) a->setChecked(s.flags & kFlagChecked);
}

void ApplyTab(ControlView& v, const ControlState& s) {
  QTabWidget* sheet = v.sheet;
  int index = sheet->indexOf(v.page);
  if (index < 0) return;
  sheet->setTabText(index, FromAnsi(s.text));
  sheet->setTabVisible(index, !(s.flags & kFlagHidden));
  sheet->setTabEnabled(index, !(s.flags & kFlagDisabled));
  sheet->setTabToolTip(index, FromAnsi(s.tip));
  v.page->setStatusTip(FromAnsi(s.status));
}

// An image names its file; a name that is not there shows nothing rather than a broken frame.
void ApplyImage(QLabel* label, const ControlState& s) {
  std::string name = !s.icon.empty() ? s.icon : s.text;
  if (name.empty()) {
    label->clear();
    return;
  }
  QPixmap pixmap(FromAnsi(platform::ResolveExisting(name)));
  if (pixmap.isNull())
    label->clear();
  else
    label->setPixmap(pixmap);
}

// An entry takes the procedure's text only when the procedure changed it, so that what the user
// is typing survives a change of the entry's other attributes.
bool TextChanged(const ControlView& v, const ControlState& s) {
  return !v.applied || s.text != v.shown.text;
}

}  // namespace

QString PromptText(const QLabel* label, const QString& text) {
  return label->buddy() ? text : StripMnemonic(text);
}

void ApplyControl(ControlView& v, const ControlState& s) {
  if (v.action) ApplyAction(v, s);
  if (v.desc->type == ControlType::Tab && v.sheet && v.page) ApplyTab(v, s);
  QWidget* w = v.widget;
  if (!w) {
    v.shown = s;
    v.applied = true;
    return;
  }
  QString text = FromAnsi(s.text);
  QString tip = FromAnsi(s.tip);
  w->setVisible(!(s.flags & kFlagHidden));
  w->setEnabled(!(s.flags & kFlagDisabled));
  w->setToolTip(tip);
  w->setStatusTip(FromAnsi(s.status));
  if (!tip.isEmpty()) w->setAccessibleDescription(tip);
  if (!v.applied || s.look != v.shown.look) ApplyLook(v, w, s.look);

  switch (v.desc->type) {
    case ControlType::Prompt:
      if (auto* l = qobject_cast<QLabel*>(w)) l->setText(PromptText(l, text));
      break;
    case ControlType::Display:
      if (auto* l = qobject_cast<QLabel*>(w)) l->setText(text);
      break;
    case ControlType::Image:
      if (auto* area = qobject_cast<QScrollArea*>(w)) {
        if (auto* l = qobject_cast<QLabel*>(area->widget())) ApplyImage(l, s);
      } else if (auto* l = qobject_cast<QLabel*>(w)) {
        ApplyImage(l, s);
      }
      break;
    case ControlType::Entry:
      if (auto* e = qobject_cast<QLineEdit*>(w)) {
        // One Windows-1251 byte per character: typing stops at the picture's width or the
        // variable's, whichever is less.
        int chars = lang::PictureWidth(v.desc->picture);
        if (s.maxBytes > 0 && (chars <= 0 || s.maxBytes < chars)) chars = s.maxBytes;
        if (chars > 0 && e->maxLength() != chars) e->setMaxLength(chars);
        if (TextChanged(v, s) && e->text() != text) {
          e->setText(text);
          // A text longer than the entry shows its beginning, as it is read.
          if (!e->hasFocus()) e->setCursorPosition(0);
        }
        e->setReadOnly(s.flags & kFlagReadOnly);
        e->setEchoMode((s.flags & kFlagPassword) ? QLineEdit::Password : QLineEdit::Normal);
      }
      break;
    case ControlType::TextBox:
      if (auto* e = qobject_cast<QPlainTextEdit*>(w)) {
        e->setProperty(kMaxBytesProperty, s.maxBytes);
        e->setProperty(kCrLfProperty, s.text.find("\r\n") != std::string::npos);
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (TextChanged(v, s) && e->toPlainText() != text) e->setPlainText(text);
        e->setReadOnly(s.flags & kFlagReadOnly);
      }
      break;
    case ControlType::Button:
      if (auto* b = qobject_cast<QPushButton*>(w)) {
        b->setText(text);
        b->setDefault(s.flags & kFlagDefault);
        if (text.isEmpty() && !tip.isEmpty()) b->setAccessibleName(tip);
      }
      break;
    case ControlType::Check:
      if (auto* b = qobject_cast<QCheckBox*>(w)) {
        b->setText(text);
        b->setChecked(s.value != 0);
      }
      break;
    case ControlType::Radio:
      if (auto* b = qobject_cast<QRadioButton*>(w)) b->setText(text);
      break;
    case ControlType::Option:
      if (auto* g = w->findChild<QButtonGroup*>()) {
        // With no choice every radio is clear, which an exclusive group does not allow.
        g->setExclusive(false);
        for (QAbstractButton* b : g->buttons()) b->setChecked(g->id(b) == s.value);
        g->setExclusive(true);
      }
      break;
    case ControlType::Group:
      if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(text);
      break;
    case ControlType::Spin:
      if (auto* b = qobject_cast<QSpinBox*>(w)) {
        QSignalBlocker block(b);
        b->setRange(static_cast<int>(s.low), static_cast<int>(s.high));
        b->setValue(s.value);
        b->setReadOnly(s.flags & kFlagReadOnly);
      }
      break;
    case ControlType::Progress:
      if (auto* p = qobject_cast<QProgressBar*>(w)) {
        p->setRange(static_cast<int>(s.low), static_cast<int>(s.high));
        p->setValue(s.value);
      }
      break;
    case ControlType::List:
      if (auto* l = dynamic_cast<ListControl*>(w)) {
        l->Apply(s);
      } else if (auto* box = qobject_cast<QComboBox*>(w)) {
        QSignalBlocker block(box);
        QStringList items;
        for (const ListRow& r : s.rows) items << (r.cells.empty() ? QString() : FromAnsi(r.cells[0]));
        QStringList shown;
        for (int k = 0; k < box->count(); ++k) shown << box->itemText(k);
        if (shown != items) {
          box->clear();
          box->addItems(items);
        }
        box->setCurrentIndex(s.value >= 1 && s.value <= items.size() ? s.value - 1 : -1);
      }
      break;
    case ControlType::Sheet:
      if (auto* t = qobject_cast<QTabWidget*>(w)) {
        QSignalBlocker block(t);
        if (s.value >= 1 && s.value <= t->count()) t->setCurrentIndex(s.value - 1);
      }
      break;
    default:
      break;
  }
  v.shown = s;
  v.applied = true;
}

void Resync(std::vector<ControlView>* views, int window, int feq) {
  const ControlState* s = Runtime::Model().Control(window, feq);
  if (!s || feq < 1 || static_cast<size_t>(feq) > views->size()) return;
  ControlView& v = (*views)[static_cast<size_t>(feq - 1)];
  v.applied = false;  // the entry's text too
  ApplyControl(v, *s);
}

void CommitEdits(std::vector<ControlView>* views, int window) {
  for (size_t i = 0; i < views->size(); ++i) {
    const ControlView& v = (*views)[i];
    if (!v.desc || !v.widget) continue;
    const int feq = static_cast<int>(i) + 1;
    if (v.desc->type == ControlType::Entry) {
      if (auto* e = qobject_cast<QLineEdit*>(v.widget.data()))
        CommitText(views, window, feq, e->text());
    } else if (v.desc->type == ControlType::TextBox) {
      if (auto* box = qobject_cast<QPlainTextEdit*>(v.widget.data()))
        CommitText(views, window, feq, box->toPlainText());
    }
  }
}

void CommitText(std::vector<ControlView>* views, int window, int feq, const QString& typed) {
  std::string ansi;
  const ControlState* s = Runtime::Model().Control(window, feq);
  if (!s) return;
  // A memo read from the data keeps the line ends it came with.
  QString text = typed;
  if (s->text.find("\r\n") != std::string::npos) text.replace(u'\n', QStringLiteral("\r\n"));
  if (!ToAnsi(text, &ansi) || s->text == ansi) return;
  if (gui::Type(window, feq, ansi))
    (*views)[static_cast<size_t>(feq - 1)].shown.text = ansi;
  else
    Resync(views, window, feq);
}

}  // namespace korawin::ui::qt
