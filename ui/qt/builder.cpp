#include "ui/qt/builder.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "lang/picture.h"
#include "ui/qt/entry_guard.h"
#include "ui/qt/fonts.h"
#include "ui/qt/keys.h"
#include "ui/qt/list_control.h"
#include "ui/runtime/event.h"
#include "ui/runtime/gui_input.h"
#include "ui/runtime/gui_model.h"
#include "ui/runtime/runtime.h"

namespace korawin::ui::qt {

namespace {

bool IsField(ControlType t) {
  switch (t) {
    case ControlType::Entry:
    case ControlType::TextBox:
    case ControlType::Spin:
    case ControlType::List:
    case ControlType::Display:
    case ControlType::Progress:
      return true;
    default:
      return false;
  }
}

bool NumericPicture(const std::string& picture) {
  size_t k = !picture.empty() && picture[0] == '@' ? 1 : 0;
  if (k >= picture.size()) return false;
  char c = static_cast<char>(picture[k] | 0x20);
  return c == 'n' || c == 'd' || c == 't' || c == 'p';
}

// True when text marks a mnemonic ("&Слово", not "A && B").
bool HasMnemonic(const QString& text) {
  for (qsizetype i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != u'&') continue;
    if (text[i + 1] != u'&') return true;
    ++i;
  }
  return false;
}

QString ObjectName(const ControlDesc& c) {
  if (c.id.empty()) return QStringLiteral("feq%1").arg(c.feq);
  QString name = QString::fromLatin1(c.id.data() + (c.id[0] == '?' ? 1 : 0));
  for (QChar& ch : name)
    if (!ch.isLetterOrNumber()) ch = u'_';
  return name;
}

// A tab's page scrolls when its controls need more height than a screen may give; across, it
// keeps the width its controls need.
class TabPage : public QScrollArea {
 public:
  explicit TabPage(QWidget* page) {
    setWidget(page);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);
  }
  // The height a page shows before it scrolls: what the screen leaves beside the window's
  // caption, tabs, buttons and margins (some ten lines), and never less than 28 lines.
  static int Cap(const QFontMetrics& fm) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int room = screen ? screen->availableGeometry().height() * 9 / 10 - 10 * fm.height() : 0;
    return std::max(28 * fm.height(), room);
  }

  QSize sizeHint() const override {
    QSize s = widget()->sizeHint();
    if (s.height() > Cap(fontMetrics())) {
      s.setHeight(Cap(fontMetrics()));
      s.rwidth() += verticalScrollBar()->sizeHint().width();
    }
    return s + QSize(2 * frameWidth(), 2 * frameWidth());
  }
  QSize minimumSizeHint() const override {
    QSize m = widget()->minimumSizeHint();
    return QSize(m.width() + verticalScrollBar()->sizeHint().width() + 2 * frameWidth(),
                 std::min(m.height(), 6 * fontMetrics().height()));
  }
};

QKeySequence StandardKey(StdAction a, bool frame) {
  switch (a) {
    case StdAction::Cut:
      return QKeySequence(QKeySequence::Cut);
    case StdAction::Copy:
      return QKeySequence(QKeySequence::Copy);
    case StdAction::Paste:
      return QKeySequence(QKeySequence::Paste);
    case StdAction::Close:
      return frame ? QKeySequence(QKeySequence::Quit) : QKeySequence();
    case StdAction::HelpIndex:
      return QKeySequence(QKeySequence::HelpContents);
    default:
      return QKeySequence();
  }
}

}  // namespace

WindowBuilder::WindowBuilder(int window, const WindowDesc& desc, const DialogUnits& units,
                             std::vector<ControlView>* views, BuildHooks hooks)
    : window_(window), desc_(desc), units_(units), views_(views), hooks_(std::move(hooks)) {
  views_->assign(static_cast<size_t>(desc.controlCount), ControlView{});
  for (int feq = 1; feq <= desc.controlCount; ++feq)
    (*views_)[static_cast<size_t>(feq - 1)].desc = desc.Control(feq);
}

QWidget* WindowBuilder::Body(QWidget* parent) {
  auto* body = new QWidget(parent);
  auto* box = new QVBoxLayout(body);
  AddAll(desc_.controls, box, true);
  // Buttons' own keys work anywhere in their window, and only there.
  for (ControlView& v : *views_) {
    auto* button = qobject_cast<QPushButton*>(v.widget.data());
    if (!button || v.desc->key.empty()) continue;
    int key = KeyFromName(v.desc->key);
    QKeySequence main = SequenceOf(key);
    std::vector<QKeySequence> keys = {main};
    // Enter is also the keypad's Enter.
    if ((key & ~(kKeyShift | kKeyCtrl | kKeyAlt)) == kKeyEnter && !main.isEmpty()) {
      keys.push_back(QKeySequence(QKeyCombination(main[0].keyboardModifiers(), Qt::Key_Enter)));
    }
    for (const QKeySequence& seq : keys) {
      if (seq.isEmpty()) continue;
      auto* shortcut = new QShortcut(seq, body);
      shortcut->setContext(Qt::WidgetWithChildrenShortcut);
      QObject::connect(shortcut, &QShortcut::activated, button, [button] {
        if (button->isEnabled() && button->isVisible()) button->click();
      });
    }
  }
  return body;
}

WindowBuilder::Item WindowBuilder::Make(const ControlDesc& c) {
  switch (c.type) {
    case ControlType::Row:
      return MakeRow(c);
    case ControlType::Column: {
      auto* v = new QVBoxLayout;
      v->setContentsMargins(0, 0, 0, 0);
      AddAll(c.children, v, true);
      Item it{nullptr, v, false, false};
      for (const ControlDesc& k : c.children) {
        it.grows |= k.type == ControlType::List || k.type == ControlType::TextBox || k.stretch > 0;
        it.widens |= k.type == ControlType::List || k.type == ControlType::TextBox;
      }
      return it;
    }
    case ControlType::Form:
      return MakeForm(c);
    case ControlType::Group: {
      auto* g = new QGroupBox(FromAnsi(c.text));
      auto* v = new QVBoxLayout(g);
      Register(c, g);
      Item it{g, nullptr, false, false};
      AddAll(c.children, v, true);
      for (const ControlDesc& k : c.children) {
        it.grows |= k.type == ControlType::List || k.type == ControlType::TextBox || k.stretch > 0;
        it.widens |= k.type == ControlType::List || k.type == ControlType::TextBox;
      }
      return it;
    }
    case ControlType::Sheet:
      return MakeSheet(c);
    case ControlType::Option:
      return MakeOption(c);
    default: {
      QWidget* w = MakeControl(c);
      bool big = c.type == ControlType::List || c.type == ControlType::TextBox;
      bool wide = big || c.type == ControlType::Progress ||
                  w->sizePolicy().horizontalPolicy() == QSizePolicy::Expanding;
      return Item{w, nullptr, big, wide && w->maximumWidth() == QWIDGETSIZE_MAX};
    }
  }
}

void WindowBuilder::AddAll(const std::vector<ControlDesc>& controls, QBoxLayout* box,
                           bool packTop) {
  bool grows = false;
  for (const ControlDesc& c : controls) {
    if (c.type == ControlType::Stretch) {
      box->addStretch(std::max(1, c.stretch));
      grows = true;
      continue;
    }
    Item it = Make(c);
    int stretch = it.grows ? std::max(1, c.stretch) : c.stretch;
    if (it.widget)
      box->addWidget(it.widget, stretch);
    else
      box->addLayout(it.layout, stretch);
    grows |= stretch > 0;
  }
  // Nothing takes the room left over: the controls stay together at the top.
  if (packTop && !grows) box->addStretch(1);
}

WindowBuilder::Item WindowBuilder::MakeRow(const ControlDesc& c) {
  auto* h = new QHBoxLayout;
  h->setContentsMargins(0, 0, 0, 0);
  std::vector<std::pair<const ControlDesc*, Item>> items;
  Item row{nullptr, h, false, false};
  bool stretched = false, buttons = true;
  for (const ControlDesc& k : c.children) {
    if (k.type == ControlType::Stretch) {
      items.push_back({&k, Item{}});
      stretched = true;
      continue;
    }
    Item it = Make(k);
    row.grows |= it.grows;
    row.widens |= it.widens || k.stretch > 0;
    buttons &= k.type == ControlType::Button;
    items.push_back({&k, it});
  }
  // A row of buttons alone stands to the right, as a window's buttons do; other rows keep
  // their controls at their own widths from the left.
  if (!row.widens && !stretched && buttons) h->addStretch(1);
  for (auto& [k, it] : items) {
    if (k->type == ControlType::Stretch) {
      h->addStretch(std::max(1, k->stretch));
      continue;
    }
    int stretch = it.widens ? std::max(1, k->stretch) : k->stretch;
    // Beside a list or text box that grows downwards, the others keep to the top.
    Qt::Alignment align = row.grows && !it.grows ? Qt::AlignTop : Qt::Alignment();
    if (it.widget)
      h->addWidget(it.widget, stretch, align);
    else
      h->addLayout(it.layout, stretch);
  }
  if (!row.widens && !stretched && !buttons) h->addStretch(1);
  return row;
}

WindowBuilder::Item WindowBuilder::MakeForm(const ControlDesc& c) {
  auto* f = new QFormLayout;
  f->setContentsMargins(0, 0, 0, 0);
  f->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
  f->setRowWrapPolicy(QFormLayout::DontWrapRows);
  Item form{nullptr, f, false, false};
  for (size_t k = 0; k + 1 < c.children.size(); k += 2) {
    Item label = Make(c.children[k]);
    Item field = Make(c.children[k + 1]);
    QWidget* lw = label.widget;
    if (!lw) {
      lw = new QWidget;
      lw->setLayout(label.layout);
    }
    if (field.widget)
      f->addRow(lw, field.widget);
    else
      f->addRow(lw, field.layout);
    form.grows |= field.grows;
    form.widens |= field.widens;
  }
  return form;
}

WindowBuilder::Item WindowBuilder::MakeSheet(const ControlDesc& c) {
  auto* sheet = new QTabWidget;
  Register(c, sheet);
  Item it{sheet, nullptr, false, true};
  for (const ControlDesc& tab : c.children) {
    auto* inner = new QWidget;
    auto* v = new QVBoxLayout(inner);
    AddAll(tab.children, v, true);
    for (const ControlDesc& k : tab.children)
      it.grows |= k.type == ControlType::List || k.type == ControlType::TextBox || k.stretch > 0;
    auto* page = new TabPage(inner);
    // A page that scrolls takes what height the window can give.
    it.grows |= inner->sizeHint().height() > TabPage::Cap(inner->fontMetrics());
    sheet->addTab(page, FromAnsi(tab.text));
    if (tab.feq > 0) {
      ControlView& v = (*views_)[static_cast<size_t>(tab.feq - 1)];
      v.sheet = sheet;
      v.page = page;
      page->setObjectName(ObjectName(tab));
    }
  }
  int window = window_, feq = c.feq;
  auto* views = views_;
  QObject::connect(sheet, &QTabWidget::currentChanged, sheet, [=](int index) {
    if (!gui::ChooseTab(window, feq, index + 1)) Resync(views, window, feq);
  });
  return it;
}

WindowBuilder::Item WindowBuilder::MakeOption(const ControlDesc& c) {
  auto* box = new QGroupBox(FromAnsi(c.text));
  auto* v = new QVBoxLayout(box);
  auto* group = new QButtonGroup(box);
  Register(c, box);
  int k = 0;
  for (const ControlDesc& radio : c.children) {
    auto* r = new QRadioButton(FromAnsi(radio.text));
    group->addButton(r, ++k);
    v->addWidget(r);
    if (radio.feq > 0) Register(radio, r);
  }
  int window = window_, feq = c.feq;
  auto* views = views_;
  QObject::connect(group, &QButtonGroup::idClicked, box, [=](int id) {
    if (!gui::ChooseRadio(window, feq, id)) Resync(views, window, feq);
  });
  return Item{box, nullptr, false, false};
}

QWidget* WindowBuilder::MakeEntry(const ControlDesc& c) {
  auto* e = new QLineEdit;
  int chars = lang::PictureWidth(c.picture);
  if (chars > 0) e->setMaxLength(chars);
  auto refused = hooks_.refused;
  e->setValidator(new EntryValidator(
      c.flags & kFlagUpper,
      [refused, e](const QString& ch) {
        if (refused) refused(e, ch);
      },
      e));
  int width = EntryWidth(c);
  e->setMinimumWidth(std::min(width, units_.Chars(40)));
  // Short entries keep their width; long ones take what room there is.
  if (c.width > 0 || chars <= 30) e->setMaximumWidth(width);
  if (NumericPicture(c.picture)) e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  int window = window_, feq = c.feq;
  auto* views = views_;
  QObject::connect(e, &QLineEdit::editingFinished, e,
                   [=] { CommitText(views, window, feq, e->text()); });
  if (c.flags & kFlagImmediate) {
    QObject::connect(e, &QLineEdit::textEdited, e,
                     [=](const QString& text) { CommitText(views, window, feq, text); });
  }
  return e;
}

int WindowBuilder::EntryWidth(const ControlDesc& c) const {
  if (c.width > 0) return units_.X(c.width);
  int chars = lang::PictureWidth(c.picture);
  // The picture's characters and a little room for the frame and the cursor.
  return units_.Chars(std::max(chars, 2) + 2);
}

QWidget* WindowBuilder::MakeControl(const ControlDesc& c) {
  if (c.type != ControlType::Prompt && !IsField(c.type)) {
    prompt_ = nullptr;
    promptName_.clear();
  }
  int window = window_, feq = c.feq;
  auto* views = views_;
  QString text = FromAnsi(c.text);
  switch (c.type) {
    case ControlType::Prompt: {
      auto* l = new QLabel(StripMnemonic(text));
      l->setTextFormat(Qt::PlainText);
      // A prompt as wide as the field under it heads a column.
      if (c.width > 0) l->setFixedWidth(units_.X(c.width));
      Register(c, l);
      QString plain = StripMnemonic(text).trimmed();
      while (plain.endsWith(u':')) plain.chop(1);
      promptName_ = plain.trimmed();
      promptText_ = text;
      prompt_ = HasMnemonic(text) ? l : nullptr;
      return l;
    }
    case ControlType::Entry: {
      QWidget* e = MakeEntry(c);
      Register(c, e);
      NameField(e, c);
      return e;
    }
    case ControlType::TextBox: {
      auto* e = new QPlainTextEdit;
      e->setTabChangesFocus(true);
      auto refused = hooks_.refused;
      auto tooLong = hooks_.tooLong;
      GuardTextBox(
          e,
          [refused, e](const QString& ch) {
            if (refused) refused(e, ch);
          },
          [tooLong, e](int limit) {
            if (tooLong) tooLong(e, limit);
          });
      int lines = c.lines > 0 ? c.lines : (c.height > 0 ? std::max(2, c.height / 8) : 3);
      e->setMinimumHeight(lines * e->fontMetrics().lineSpacing() + 2 * e->frameWidth() + 8);
      e->setMinimumWidth(c.width > 0 ? units_.X(c.width) : units_.Chars(30));
      e->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
      Register(c, e);
      NameField(e, c);
      return e;
    }
    case ControlType::Button: {
      auto* b = new QPushButton(text);
      b->setAutoDefault(true);
      // A width from the description holds unless the caption needs more.
      if (c.width > 0) {
        int caption = b->fontMetrics().horizontalAdvance(StripMnemonic(text)) + units_.Chars(3);
        b->setFixedWidth(std::max(units_.X(c.width), caption));
      }
      Register(c, b);
      auto standard = hooks_.standard;
      StdAction std = c.std;
      QObject::connect(b, &QPushButton::clicked, b, [=] {
        CommitEdits(views, window);
        if (std != StdAction::None && standard) standard(std);
        gui::Press(window, feq);
      });
      return b;
    }
    case ControlType::Check: {
      auto* b = new QCheckBox(text);
      Register(c, b);
      QObject::connect(b, &QCheckBox::clicked, b, [=](bool on) {
        if (!gui::Check(window, feq, on)) Resync(views, window, feq);
      });
      return b;
    }
    case ControlType::Spin: {
      auto* s = new QSpinBox;
      s->setKeyboardTracking(false);
      s->setRange(static_cast<int>(c.low), static_cast<int>(std::max(c.low, c.high)));
      s->setSingleStep(std::max(1, static_cast<int>(c.step)));
      s->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      int chars = std::max(lang::PictureWidth(c.picture), 2);
      s->setMinimumWidth(units_.Chars(chars + 5));
      s->setMaximumWidth(units_.Chars(chars + 8));
      Register(c, s);
      NameField(s, c);
      QObject::connect(s, &QSpinBox::valueChanged, s,
                       [=](int value) { CommitText(views, window, feq, QString::number(value)); });
      return s;
    }
    case ControlType::List: {
      if (c.flags & kFlagDrop) {
        // A drop-down list: one row shown, the others on demand.
        auto* box = new QComboBox;
        const int window = window_, feq = c.feq;
        QObject::connect(box, &QComboBox::activated, box,
                         [window, feq](int index) { gui::ChooseRow(window, feq, index + 1); });
        if (c.width > 0) box->setMinimumWidth(units_.X(c.width));
        Register(c, box);
        NameField(box, c);
        return box;
      }
      auto* l = new ListControl(window_, c, units_, nullptr);
      Register(c, l, l->View());
      NameField(l->View(), c);
      if (l->View()->accessibleName().isEmpty()) {
        QStringList headings;
        for (int k = 0; k < l->Model()->columnCount(); ++k) {
          QString h = l->Model()->headerData(k, Qt::Horizontal, Qt::DisplayRole).toString();
          if (!h.isEmpty()) headings << h;
        }
        l->View()->setAccessibleName(headings.join(QStringLiteral(", ")));
      }
      return l;
    }
    case ControlType::Progress: {
      auto* p = new QProgressBar;
      p->setRange(static_cast<int>(c.low), static_cast<int>(c.high > c.low ? c.high : 100));
      Register(c, p);
      NameField(p, c);
      return p;
    }
    case ControlType::Image: {
      // The picture at its own size, scrolled when it is larger than the control.
      auto* area = new QScrollArea;
      area->setAlignment(Qt::AlignCenter);
      area->setWidgetResizable(true);
      auto* l = new QLabel;
      l->setAlignment(Qt::AlignCenter);
      area->setWidget(l);
      if (c.width > 0 && c.height > 0) area->setMinimumSize(units_.X(c.width), units_.Y(c.height));
      Register(c, area);
      if (!c.tip.empty()) area->setAccessibleName(FromAnsi(c.tip));
      return area;
    }
    case ControlType::Display: {
      auto* l = new QLabel;
      l->setTextFormat(Qt::PlainText);
      l->setTextInteractionFlags(Qt::TextSelectableByMouse);
      int chars = lang::PictureWidth(c.picture);
      int width = c.width > 0 ? units_.X(c.width) : units_.Chars(std::clamp(chars, 2, 60));
      l->setMinimumWidth(std::min(width, units_.Chars(60)));
      if (NumericPicture(c.picture)) l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      if (chars > 60) l->setWordWrap(true);
      Register(c, l);
      // A label reads out its text; the prompt tells what the text is.
      if (!promptName_.isEmpty()) l->setAccessibleDescription(promptName_);
      prompt_ = nullptr;
      promptName_.clear();
      return l;
    }
    default: {
      auto* w = new QWidget;
      Register(c, w);
      return w;
    }
  }
}

void WindowBuilder::Register(const ControlDesc& c, QWidget* widget, QWidget* focus) {
  if (c.feq < 1) return;
  ControlView& v = (*views_)[static_cast<size_t>(c.feq - 1)];
  v.widget = widget;
  v.focus = focus ? focus : widget;
  widget->setObjectName(ObjectName(c));
  for (QWidget* w : {widget, v.focus.data()}) {
    w->setProperty(kWindowProperty, window_);
    w->setProperty(kFeqProperty, c.feq);
    if (hooks_.filter) w->installEventFilter(hooks_.filter);
  }
  if (!c.font.empty()) {
    v.font = DescriptionFont(c.font, widget->font());
    v.ownFont = true;
    widget->setFont(v.font);
  }
  if (c.flags & kFlagSkip) v.focus->setFocusPolicy(Qt::ClickFocus);
}

void WindowBuilder::NameField(QWidget* field, const ControlDesc& c) {
  if (!promptName_.isEmpty()) {
    field->setAccessibleName(promptName_);
    if (prompt_) {
      prompt_->setBuddy(field);
      prompt_->setText(PromptText(prompt_, promptText_));
    }
  } else if (!c.tip.empty()) {
    field->setAccessibleName(FromAnsi(c.tip));
  }
  prompt_ = nullptr;
  promptName_.clear();
}

// ---------------------------------------------------------------------------------------------
// Menus and toolbar.

void WindowBuilder::MenuBar(QMenuBar* bar) {
  for (const ControlDesc& c : desc_.menu) {
    if (c.type == ControlType::Menu) {
      auto* m = new QMenu(FromAnsi(c.text), bar);
      bar->addMenu(m);
      AddMenu(c, m);
    } else if (c.type == ControlType::Item) {
      QAction* a = bar->addAction(FromAnsi(c.text));
      WireAction(c, a);
    }
  }
}

void WindowBuilder::AddMenu(const ControlDesc& c, QMenu* m) {
  m->setToolTipsVisible(true);
  m->setObjectName(ObjectName(c));
  if (c.feq > 0) {
    (*views_)[static_cast<size_t>(c.feq - 1)].action = m->menuAction();
    m->menuAction()->setStatusTip(FromAnsi(c.status));
  }
  if (c.std == StdAction::WindowList) m->setProperty("korawinWindowList", true);
  for (const ControlDesc& k : c.children) {
    switch (k.type) {
      case ControlType::Menu: {
        auto* sub = new QMenu(FromAnsi(k.text), m);
        m->addMenu(sub);
        AddMenu(k, sub);
        break;
      }
      case ControlType::Item:
        AddMenuItem(k, m);
        break;
      case ControlType::Separator:
        m->addSeparator();
        break;
      default:
        break;
    }
  }
}

void WindowBuilder::AddMenuItem(const ControlDesc& c, QMenu* into) {
  QAction* a = into->addAction(FromAnsi(c.text));
  WireAction(c, a);
  if (c.std == StdAction::WindowList) into->setProperty("korawinWindowList", true);
}

void WindowBuilder::WireAction(const ControlDesc& c, QAction* a) {
  a->setObjectName(ObjectName(c));
  a->setStatusTip(FromAnsi(c.status));
  if (!c.tip.empty()) a->setToolTip(FromAnsi(c.tip));
  QKeySequence key = !c.key.empty() ? SequenceOf(KeyFromName(c.key))
                                    : StandardKey(c.std, desc_.kind == WindowDesc::Kind::Frame);
  if (!key.isEmpty()) a->setShortcut(key);
  if (c.feq > 0) (*views_)[static_cast<size_t>(c.feq - 1)].action = a;
  int window = window_, feq = c.feq;
  auto standard = hooks_.standard;
  StdAction std = c.std;
  auto* views = views_;
  QObject::connect(a, &QAction::triggered, a, [=] {
    CommitEdits(views, window);
    if (std != StdAction::None && standard) standard(std);
    gui::Press(window, feq);
  });
}

void WindowBuilder::Toolbar(QToolBar* toolbar) {
  for (const ControlDesc& c : desc_.toolbar) {
    if (c.type == ControlType::Button) {
      QAction* a = toolbar->addAction(FromAnsi(c.text));
      WireAction(c, a);
      if (QWidget* b = toolbar->widgetForAction(a)) {
        b->setObjectName(ObjectName(c));
        b->setProperty(kWindowProperty, window_);
        b->setProperty(kFeqProperty, c.feq);
      }
    } else if (c.type == ControlType::Stretch) {
      auto* spacer = new QWidget;
      spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
      toolbar->addWidget(spacer);
    } else {
      Item it = Make(c);
      QWidget* w = it.widget;
      if (!w) {
        w = new QWidget;
        w->setLayout(it.layout);
      }
      toolbar->addWidget(w);
    }
  }
}

}  // namespace korawin::ui::qt
