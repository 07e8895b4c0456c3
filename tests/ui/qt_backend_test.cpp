// The Qt backend driven through real widgets (offscreen): the sample frame, list and form on
// their procedure threads; what assistive technology sees of them; the fonts the descriptions
// name.
#include "ui/qt/qt_backend.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/codepage.h"
#include "tests/ui/sample_procedures.h"
#include "tests/ui/sample_windows.h"
#include "ui/qt/control_view.h"
#include "ui/qt/fonts.h"
#include "ui/qt/requests.h"
#include "ui/runtime/gui_model.h"
#include "ui/runtime/runtime_internal.h"
#include "ui/runtime/window.h"

namespace korawin::ui::qt {
namespace {

namespace L = ids::SampleList;
namespace F = ids::SampleForm;

void App() {
  static int argc = 1;
  static char name[] = "ui_qt_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    auto* a = new QApplication(argc, argv);
    a->setQuitOnLastWindowClosed(false);
    InstallFontSubstitutions();
    return a;
  }();
  (void)app;
}

// Runs the event loop until cond holds; false after 20 seconds.
bool WaitUntil(const std::function<bool()>& cond) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Runs the event loop until every procedure waits and the GUI has shown all they sent.
bool Settle() {
  for (int round = 0; round < 100; ++round) {
    if (!WaitUntil([] { return WaitIdle(std::chrono::milliseconds(0)); })) return false;
    // What the widgets did meanwhile (a list that learnt its size) may wake a procedure.
    QCoreApplication::processEvents();
    if (WaitIdle(std::chrono::milliseconds(0))) return true;
  }
  return false;
}

// A shown window (the frame, a child or a dialog) by its description's C++ name.
QWidget* FindWindow(const QString& name) {
  for (QWidget* w : QApplication::allWidgets()) {
    if (w->objectName() == name && w->isVisible() &&
        (w->isWindow() || qobject_cast<QMdiSubWindow*>(w))) {
      return w;
    }
  }
  return nullptr;
}

// Types text as key presses (QTest's own typing takes Latin-1 only).
void TypeText(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
  }
}

std::string Ansi(const char* utf8) { return platform::Utf8ToCp1251Lossy(utf8); }

QString Cell(QTreeView* view, int row, int column) {
  return view->model()->data(view->model()->index(row, column)).toString();
}

class QtBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    RegisterSampleWindows();
    sample::ResetItems(30);
    backend_ = std::make_unique<QtBackend>();
    Runtime::Start(backend_.get());
  }
  void TearDown() override {
    for (int t : Runtime::Threads()) Runtime::PostToThread(t, EventKind::CloseDown);
    EXPECT_TRUE(WaitUntil([] { return Runtime::Threads().empty(); }));
    Runtime::Stop();
    backend_.reset();
  }
  std::unique_ptr<QtBackend> backend_;
};

TEST_F(QtBackendTest, ListAndFormInTheFrame) {
  int frameThread = Runtime::StartProcedure(sample::FrameProcedure);
  ASSERT_TRUE(Settle());
  auto* frame = qobject_cast<QMainWindow*>(FindWindow("SampleFrame"));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->windowTitle(), "Образцы");
  EXPECT_EQ(frame->statusBar()->findChild<QLabel*>("zone0")->text(), "Готово");
  EXPECT_EQ(frame->statusBar()->findChild<QLabel*>("zone1")->text(), "Образцов: 30");
  EXPECT_EQ(frame->findChild<QAction*>("Copy")->shortcut(), QKeySequence(QKeySequence::Copy));
  EXPECT_EQ(frame->findChild<QAction*>("Exit")->shortcut(), QKeySequence(QKeySequence::Quit));
  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame));

  // The menu item starts the list on a thread of its own, inside the frame.
  frame->findChild<QAction*>("OpenList")->trigger();
  ASSERT_TRUE(WaitUntil([] { return FindWindow("SampleList"); }) && Settle());
  auto* list = qobject_cast<QMdiSubWindow*>(FindWindow("SampleList"));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->windowTitle(), "Список образцов");
  int listWindow = list->property(kWindowProperty).toInt();
  auto* view = list->findChild<QTreeView*>();
  ASSERT_NE(view, nullptr);
  EXPECT_FALSE(view->header()->isHidden());
  EXPECT_EQ(view->model()->headerData(1, Qt::Horizontal).toString(), "Число");
  // The procedure shows exactly the rows that fit.
  int page = view->model()->rowCount();
  EXPECT_EQ(page, view->viewport()->height() / view->sizeHintForRow(0));
  ASSERT_GE(page, 3);
  EXPECT_EQ(Cell(view, 0, 0), "бить");
  EXPECT_EQ(Cell(view, 1, 1), "8");
  // A field's status text shows while it has focus.
  list->findChild<QLineEdit*>("Fragment")->setFocus();
  EXPECT_EQ(frame->statusBar()->currentMessage(), "Фрагмент слова");
  auto* bar = view->parentWidget()->findChild<QScrollBar*>(QString(), Qt::FindDirectChildrenOnly);
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->value(), 0);

  // Page Down is the procedure's: it shows the next page and moves the thumb.
  view->setFocus();
  QTest::keyClick(view, Qt::Key_PageDown);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Cell(view, 0, 0),
            QString::fromStdString(platform::Cp1251ToUtf8(sample::Items()[page].word)));
  EXPECT_GT(bar->value(), 0);

  // A click chooses the second row; "Изменить" opens the form on the list's thread.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                    view->visualRect(view->model()->index(1, 0)).center());
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Runtime::Model().Control(listWindow, L::Browse)->value, 2);
  QString chosen = Cell(view, 1, 0);
  QTest::mouseClick(list->findChild<QPushButton*>("Change"), Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([] { return FindWindow("SampleForm"); }) && Settle());
  QWidget* form = FindWindow("SampleForm");
  EXPECT_FALSE(list->widget()->isEnabled());  // the list waits for its form
  auto* word = form->findChild<QLineEdit*>("Word");
  ASSERT_NE(word, nullptr);
  EXPECT_EQ(word->text(), chosen);
  EXPECT_EQ(word->maxLength(), 20);

  // A character Windows-1251 lacks never gets in; the status bar says why.
  word->setFocus();
  word->selectAll();
  TypeText(word, "сделать");
  TypeText(word, "ā");
  EXPECT_EQ(word->text(), "сделать");
  EXPECT_TRUE(frame->statusBar()->currentMessage().contains("Windows-1251"));

  // Leaving the entry hands its text over; Enter in the spin takes the number and presses the
  // default button.
  auto* number = form->findChild<QSpinBox*>("Number");
  number->setFocus();
  ASSERT_TRUE(Settle());
  int formWindow = form->property(kWindowProperty).toInt();
  EXPECT_EQ(Runtime::Model().Control(formWindow, F::Word)->text, Ansi("сделать"));
  number->selectAll();
  QTest::keyClicks(number, "12");
  QTest::keyClick(number, Qt::Key_Return);
  ASSERT_TRUE(WaitUntil([] { return !FindWindow("SampleForm"); }) && Settle());
  EXPECT_TRUE(list->widget()->isEnabled());
  EXPECT_EQ(Cell(view, 1, 0), "сделать");
  EXPECT_EQ(Cell(view, 1, 1), "12");

  // The Window menu lists the open children.
  QMenu* windows = nullptr;
  for (QMenu* m : frame->menuBar()->findChildren<QMenu*>())
    if (m->title() == "&Window") windows = m;
  ASSERT_NE(windows, nullptr);
  windows->popup(QPoint());
  EXPECT_EQ(windows->actions().last()->text(), "&1 Список образцов");
  windows->hide();

  // Closing asks first, in a message box that waits without blocking the GUI.
  QTest::mouseClick(list->findChild<QPushButton*>("Close"), Qt::LeftButton);
  QMessageBox* box = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] { return (box = frame->findChild<QMessageBox*>("messageBox")) && box->isVisible(); }));
  EXPECT_EQ(box->text(), "Закрыть список образцов?");
  EXPECT_EQ(box->defaultButton()->objectName(), "yes");
  QTest::mouseClick(box->findChild<QPushButton*>("yes"), Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([] { return !FindWindow("SampleList"); }));

  // The frame's close box goes to its procedure, which ends.
  frame->close();
  EXPECT_TRUE(WaitUntil([&] { return !Runtime::ThreadRunning(frameThread); }));
  EXPECT_TRUE(WaitUntil([] { return !FindWindow("SampleFrame"); }));
}

TEST_F(QtBackendTest, SamplePairIsAccessible) {
  int thread = Runtime::StartProcedure(sample::ListProcedure);
  ASSERT_TRUE(WaitUntil([] { return FindWindow("SampleList"); }) && Settle());
  QWidget* list = FindWindow("SampleList");
  QAccessibleInterface* window = QAccessible::queryAccessibleInterface(list);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->text(QAccessible::Name), "Список образцов");

  // The list's rows and cells, with the highlighted row selected.
  auto* view = list->findChild<QTreeView*>();
  QAccessibleInterface* table = QAccessible::queryAccessibleInterface(view);
  ASSERT_TRUE(table && table->tableInterface());
  EXPECT_EQ(table->tableInterface()->rowCount(), view->model()->rowCount());
  EXPECT_EQ(table->tableInterface()->columnCount(), 2);
  EXPECT_EQ(table->tableInterface()->columnDescription(0), "Слово");
  QAccessibleInterface* cell = table->tableInterface()->cellAt(1, 1);
  ASSERT_TRUE(cell && cell->tableCellInterface());
  EXPECT_EQ(cell->text(QAccessible::Name), "8");
  EXPECT_TRUE(table->tableInterface()->cellAt(0, 0)->tableCellInterface()->isSelected());
  EXPECT_EQ(table->tableInterface()->cellAt(0, 0)->text(QAccessible::Name), "бить");

  // The entry by its prompt, with its tip; the sheet's tabs.
  QAccessibleInterface* entry =
      QAccessible::queryAccessibleInterface(list->findChild<QLineEdit*>("Fragment"));
  EXPECT_EQ(entry->role(), QAccessible::EditableText);
  EXPECT_EQ(entry->text(QAccessible::Name), "Фрагмент");
  EXPECT_EQ(entry->text(QAccessible::Description), "Введите фрагмент");
  QAccessibleInterface* tabs = QAccessible::queryAccessibleInterface(list->findChild<QTabBar*>());
  ASSERT_GE(tabs->childCount(), 2);
  EXPECT_EQ(tabs->child(1)->role(), QAccessible::PageTab);
  EXPECT_EQ(tabs->child(1)->text(QAccessible::Name), "Помеченные");

  // A button by its caption, pressed through its accessible action: the form opens.
  QAccessibleInterface* change =
      QAccessible::queryAccessibleInterface(list->findChild<QPushButton*>("Change"));
  EXPECT_EQ(change->role(), QAccessible::Button);
  EXPECT_EQ(change->text(QAccessible::Name), "Изменить");
  ASSERT_TRUE(change->actionInterface());
  ASSERT_TRUE(
      change->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
  change->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  ASSERT_TRUE(WaitUntil([] { return FindWindow("SampleForm"); }) && Settle());
  QWidget* form = FindWindow("SampleForm");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(form->findChild<QLineEdit*>("Word"))
                ->text(QAccessible::Name),
            "Слово");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(form->findChild<QSpinBox*>("Number"))
                ->text(QAccessible::Name),
            "Число");

  // Its close box leaves the form without saving; closing down ends the list.
  form->close();
  ASSERT_TRUE(WaitUntil([] { return !FindWindow("SampleForm"); }));
  Runtime::PostToThread(thread, EventKind::CloseDown);
  EXPECT_TRUE(WaitUntil([&] { return !Runtime::ThreadRunning(thread); }));
}

TEST_F(QtBackendTest, CardExpandsInAModalDialog) {
  int thread = Runtime::StartProcedure(sample::CardProcedure);
  ASSERT_TRUE(WaitUntil([] { return FindWindow("SampleCard"); }) && Settle());
  QWidget* card = FindWindow("SampleCard");
  auto* examples = card->findChild<QPlainTextEdit*>("EXA_MEMO");
  EXPECT_EQ(examples->toPlainText(), "Что ты делаешь?\nОн делает уроки.");

  // The dialog runs on the card's thread, modal over it; the text box hands its text over when
  // it loses focus to the button.
  QTest::mouseClick(card->findChild<QPushButton*>("ExpandExamples"), Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([] { return FindWindow("SampleExpand"); }) && Settle());
  auto* dialog = qobject_cast<QDialog*>(FindWindow("SampleExpand"));
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
  EXPECT_FALSE(card->isEnabled());
  auto* text = dialog->findChild<QPlainTextEdit*>("Text");
  EXPECT_EQ(text->toPlainText(), examples->toPlainText());
  dialog->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
  text->setFocus();
  text->moveCursor(QTextCursor::End);
  QTest::keyClick(text, Qt::Key_Return);
  TypeText(text, "Мы делаем.");
  QTest::mouseClick(dialog->findChild<QPushButton*>("OK"), Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([] { return !FindWindow("SampleExpand"); }) && Settle());
  EXPECT_TRUE(card->isEnabled());
  EXPECT_EQ(examples->toPlainText(), "Что ты делаешь?\nОн делает уроки.\nМы делаем.");

  // Escape goes to the dialog's procedure, which closes it and keeps the card as it was.
  QTest::mouseClick(card->findChild<QPushButton*>("ExpandExamples"), Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([] { return FindWindow("SampleExpand"); }) && Settle());
  dialog = qobject_cast<QDialog*>(FindWindow("SampleExpand"));
  TypeText(dialog->findChild<QPlainTextEdit*>("Text"), "лишнее");
  QTest::keyClick(dialog, Qt::Key_Escape);
  ASSERT_TRUE(WaitUntil([] { return !FindWindow("SampleExpand"); }) && Settle());
  EXPECT_EQ(examples->toPlainText(), "Что ты делаешь?\nОн делает уроки.\nМы делаем.");
  Runtime::PostToThread(thread, EventKind::CloseDown);
  EXPECT_TRUE(WaitUntil([&] { return !Runtime::ThreadRunning(thread); }));
}

// Typing stops at the width of the variable behind a control, in Windows-1251 bytes: an entry
// whose picture is wider than its variable, and a text box, whose only limit is its variable.
TEST_F(QtBackendTest, TypingStopsAtTheVariablesWidth) {
  namespace C = ids::SampleCard;
  static char word[8];
  static char memo[12];
  std::memset(word, ' ', sizeof word);
  std::memset(memo, ' ', sizeof memo);
  int thread = Runtime::StartProcedure([] {
    auto w = Window::Open(C::kModule, C::kWindow);
    w->Use(C::I_VERB, lang::Variable::String(word, sizeof word));
    w->Use(C::EXA_MEMO, lang::Variable::Field(lang::kTypeMemo, memo, sizeof memo));
    w->Display();
    while (w->Accept().kind != EventKind::None) {
      if (w->EventNow() == EventKind::CloseDown) w->Close();
    }
  });
  ASSERT_TRUE(WaitUntil([] { return FindWindow("SampleCard"); }) && Settle());
  QWidget* card = FindWindow("SampleCard");
  auto* entry = card->findChild<QLineEdit*>("I_VERB");
  EXPECT_EQ(entry->maxLength(), 8);  // the picture says 64
  entry->setFocus();
  TypeText(entry, "делать 12345");
  EXPECT_EQ(entry->text(), "делать 1");

  auto* box = card->findChild<QPlainTextEdit*>("EXA_MEMO");
  box->setFocus();
  TypeText(box, "Мы");
  QTest::keyClick(box, Qt::Key_Return);
  TypeText(box, "делаем уроки");  // 3 + 12 bytes: the last three do not get in
  EXPECT_EQ(box->toPlainText(), "Мы\nделаем ур");
  auto* bar = card->window()->findChild<QStatusBar*>();
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->currentMessage().contains("не больше 12 знаков"))
      << bar->currentMessage().toStdString();
  // Nor does a character Windows-1251 lacks, whatever the room.
  QTest::keyClick(box, Qt::Key_Backspace);
  TypeText(box, "ā");
  EXPECT_EQ(box->toPlainText(), "Мы\nделаем у");
  EXPECT_TRUE(bar->currentMessage().contains("Windows-1251"));
  entry->setFocus();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(std::string(memo, sizeof memo), Ansi("Мы\nделаем у "));
  Runtime::PostToThread(thread, EventKind::CloseDown);
  EXPECT_TRUE(WaitUntil([&] { return !Runtime::ThreadRunning(thread); }));
}

// A button pressed without taking the focus (its mnemonic, the default key, assistive
// technology) finds what was just typed into the entry that keeps the focus.
TEST_F(QtBackendTest, AButtonPressedWithoutTheFocusSeesTheTextJustTyped) {
  namespace C = ids::SampleCard;
  static char word[8];
  static std::string seen;  // written by the procedure before it sets pressed
  static std::atomic<bool> pressed;
  std::memset(word, ' ', sizeof word);
  pressed = false;
  int thread = Runtime::StartProcedure([] {
    auto w = Window::Open(C::kModule, C::kWindow);
    w->Use(C::I_VERB, lang::Variable::String(word, sizeof word));
    w->Display();
    while (w->Accept().kind != EventKind::None) {
      if (w->EventNow() == EventKind::Accepted && w->Field() == C::OK) {
        seen.assign(word, sizeof word);
        pressed = true;
      }
      if (w->EventNow() == EventKind::CloseDown) w->Close();
    }
  });
  ASSERT_TRUE(WaitUntil([] { return FindWindow("SampleCard"); }) && Settle());
  QWidget* card = FindWindow("SampleCard");
  auto* entry = card->findChild<QLineEdit*>("I_VERB");
  entry->setFocus();
  TypeText(entry, "делать");
  QPushButton* ok = nullptr;
  for (auto* b : card->findChildren<QPushButton*>())
    if (b->text() == "OK") ok = b;
  ASSERT_NE(ok, nullptr);
  ok->click();
  ASSERT_TRUE(WaitUntil([] { return pressed.load(); }));
  EXPECT_EQ(seen, Ansi("делать  "));
  Runtime::PostToThread(thread, EventKind::CloseDown);
  EXPECT_TRUE(WaitUntil([&] { return !Runtime::ThreadRunning(thread); }));
}

TEST_F(QtBackendTest, PopupAnswersTheItemChosen) {
  std::atomic<int> chosen{-1}, dismissed{-1};
  int thread = Runtime::StartProcedure([&] {
    auto w = Window::Open(L::kModule, L::kWindow);
    chosen = w->Popup("&Find|-|&Goto");
    dismissed = w->Popup("&Find|&Goto");
  });
  QMenu* menu = nullptr;
  ASSERT_TRUE(
      WaitUntil([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }));
  QTest::keyClick(menu, Qt::Key_Down);
  QTest::keyClick(menu, Qt::Key_Down);
  QTest::keyClick(menu, Qt::Key_Return);
  ASSERT_TRUE(WaitUntil([&] { return chosen != -1; }));
  EXPECT_EQ(chosen.load(), 2);
  ASSERT_TRUE(
      WaitUntil([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }));
  QTest::keyClick(menu, Qt::Key_Escape);
  ASSERT_TRUE(WaitUntil([&] { return dismissed != -1; }));
  EXPECT_EQ(dismissed.load(), 0);
  EXPECT_TRUE(WaitUntil([&] { return !Runtime::ThreadRunning(thread); }));
}

TEST_F(QtBackendTest, FileDialogAnswersThePathChosen) {
  QTemporaryDir dir;
  std::string chosen = "-";
  int thread = Runtime::StartProcedure([&] {
    FileDialogRequest request;
    request.title = Ansi("Сохранить карточку");
    request.mask = "Text files|*.Txt|All files|*.*";
    request.directory = dir.path().toStdString();
    request.file = "card.txt";
    request.save = true;
    chosen = Runtime::FileDialog(request);
  });
  QFileDialog* dialog = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if ((dialog = qobject_cast<QFileDialog*>(w)) && dialog->isVisible()) return true;
    return false;
  }));
  EXPECT_EQ(dialog->windowTitle(), "Сохранить карточку");
  EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(dialog->nameFilters(), QStringList({"Text files (*.Txt)", "All files (*)"}));
  static_cast<QDialog*>(dialog)->accept();  // as its Save button does
  ASSERT_TRUE(WaitUntil([&] { return !Runtime::ThreadRunning(thread); }));
  EXPECT_EQ(chosen, dir.filePath("card.txt").toStdString());
}

TEST(QtFontsTest, DescriptionFontsCarryCyrillic) {
  App();
  for (const QString& name : DescriptionFontNames()) {
    QFont font(name);
    QString family = QFontInfo(font).family();
    EXPECT_TRUE(FontCandidates(name).contains(family) || family == name)
        << name.toStdString() << " became " << family.toStdString();
    QFontMetrics metrics(font);
    for (QChar c : QStringLiteral("АБВЖЩЯЁабвжщяё"))
      EXPECT_TRUE(metrics.inFont(c)) << name.toStdString() << " lacks " << QString(c).toStdString();
  }
}

TEST(QtRequestsTest, MaskBecomesNameFilters) {
  EXPECT_EQ(NameFilters("Text files|*.Txt|All files|*.*"),
            QStringList({"Text files (*.Txt)", "All files (*)"}));
  EXPECT_EQ(NameFilters("Cards|*.txt;*.doc"), QStringList({"Cards (*.txt *.doc)"}));
  EXPECT_EQ(NameFilters(""), QStringList({"Все файлы (*)"}));
}

}  // namespace
}  // namespace korawin::ui::qt
