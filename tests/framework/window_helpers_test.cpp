// The window helpers: the thumb's step tables, the view manager's filter text, the toolbar's
// tip tables, popup names, the INI round trip of real windows (moved, maximised, absurd), the
// resizer's strategies and the file selection.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "framework/ini_window.h"
#include "framework/popup.h"
#include "framework/resizer.h"
#include "framework/select_file.h"
#include "framework/step.h"
#include "framework/toolbar.h"
#include "framework/view_manager.h"
#include "tests/framework/fake_driver.h"
#include "tests/framework/framework_windows.h"
#include "ui/headless/test_driver.h"
#include "ui/runtime/window.h"

namespace korawin::framework {
namespace {

namespace fs = std::filesystem;
namespace L = ids::CardList;

TEST(StepStringClass, BuiltInTables) {
  StepStringClass letters;
  letters.Init(StepLetters, StepLookupLetters);
  letters.SetLimit("SLOVO ABC", "SLOVO XYZ  ");
  EXPECT_EQ(letters.Root, "SLOVO ");
  EXPECT_EQ(letters.GetValue(1), "SLOVO   ");
  EXPECT_EQ(letters.GetValue(100), "SLOVO ZN");
  EXPECT_EQ(letters.GetValue(50), "SLOVO MF");
  EXPECT_EQ(letters.GetPercentile("SLOVO MF"), 50);
  EXPECT_EQ(letters.GetPercentile("SLOVO mike"), 50);  // upper-cased first
  EXPECT_EQ(letters.GetPercentile("SLOVO ZULU"), 100);
  EXPECT_EQ(letters.GetPercentile("SLOVO \x01"), 1);  // below every entry: 0 becomes 1
  letters.Controls |= StepDescending;
  EXPECT_EQ(letters.GetValue(1), "SLOVO Z ");  // entry 99
  EXPECT_EQ(letters.GetPercentile("SLOVO ZULU"), 1);

  StepStringClass names;
  names.Init(StepLetters, StepLookupNames);
  names.SetLimit("", "");
  EXPECT_EQ(names.GetValue(1), "   ");
  EXPECT_EQ(names.GetValue(2), "ALB");
  EXPECT_EQ(names.GetValue(100), "YOR");
  EXPECT_EQ(names.GetPercentile("KORAWIN"), 49);  // "KORA" from "KOR" on
  EXPECT_EQ(StepNameTable().size(), 300u);
  EXPECT_EQ(StepTwoLetterTable().substr(0, 8), "  AFANAT");
}

TEST(StepStringClass, ComputedTableSpansTheRange) {
  StepStringClass step;
  step.Init(StepLetters | StepDigits, StepLookupComputed);
  // Upper-case letters (Cyrillic ones too) and digits, in code order.
  EXPECT_EQ(step.SortChars.substr(0, 36), "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  EXPECT_NE(step.SortChars.find('\xC0'), std::string::npos);
  EXPECT_EQ(step.SortChars.find('a'), std::string::npos);
  step.SetLimit("CARD AAAA", "CARD ZZZZ");
  EXPECT_EQ(step.Root, "CARD ");
  EXPECT_EQ(step.Ref.size(), 400u);
  EXPECT_EQ(step.GetValue(1), "CARD AAAA");
  // Every entry sorts after the one before it, and a value maps back near its step.
  for (int k = 2; k <= 100; ++k) EXPECT_LE(step.GetValue(k - 1), step.GetValue(k)) << k;
  for (int k : {10, 37, 64, 90}) {
    int back = step.GetPercentile(step.GetValue(k));
    EXPECT_GE(back, k) << k;
    EXPECT_LE(back, k + 1) << k;
  }
  EXPECT_NEAR(step.GetPercentile("CARD M"), 48, 2);  // M lies about half way from A to Z
  StepStringClass down;
  down.Init(StepLetters | StepDescending, StepLookupComputed);
  down.SetLimit("ZZ", "AA");  // a descending key lists the high value first
  EXPECT_EQ(down.GetPercentile("ZZ"), 1);
  EXPECT_GE(down.GetPercentile("AB"), 95);
  EXPECT_GT(down.GetPercentile("BA"), down.GetPercentile("YA"));
}

TEST(ViewManager, FilterTextJoinsRangeAndFiltersInIdOrder) {
  korawin::testing::TestFile file(
      "cards", {{"CRD:ID", storage::kTypeLong, 4}, {"CRD:THEME", storage::kTypeString, 10}},
      {{"CRD:K_ID", 0, {1}}, {"CRD:BY_THEME", storage::kKeyNoCase | storage::kKeyDup, {2, 1}}});
  ErrorClass errors;
  errors.Init();
  FileManager fm;
  fm.Init(file.fd, errors);
  RelationManager rm;
  rm.Init(fm, false);
  storage::ViewDeclaration decl;
  decl.primary = &file.fd;
  storage::View view(decl);
  ViewManager vm;
  vm.Init(view, rm);

  char theme[10];
  std::memset(theme, ' ', sizeof theme);
  std::memcpy(theme, "Rest", 4);
  EXPECT_EQ(vm.AddSortOrder(2), 1);
  EXPECT_EQ(vm.CurrentOrder().Order, "UPPER(CRD:THEME),CRD:ID");
  vm.AddRange(1, lang::Variable::String(theme, sizeof theme));
  EXPECT_EQ(vm.CurrentOrder().FreeElement, 0);  // the ID after the theme
  vm.SetFilter("CRD:ID > 3");
  vm.SetFilter("CRD:ID < 9", "1 First");
  EXPECT_EQ(vm.FilterText(),
            "UPPER(CRD:THEME) = UPPER('Rest') AND (CRD:ID < 9) AND (CRD:ID > 3)");
  vm.SetFilter("  ", "1 First");
  EXPECT_EQ(vm.FilterText(), "UPPER(CRD:THEME) = UPPER('Rest') AND (CRD:ID > 3)");
  // The range values go into a new record.
  file.Set(2, "Motion");
  file.SetLong(1, 7);
  EXPECT_EQ(vm.PrimeRecord(false), LevelBenign);
  EXPECT_EQ(file.Get(2), "Rest");
  EXPECT_EQ(file.GetLong(1), 0);

  int32_t low = 3, high = 7;
  EXPECT_EQ(vm.AddSortOrder(1), 2);
  vm.AddRange(0, lang::Variable::Of(&low), lang::Variable::Of(&high));
  EXPECT_EQ(vm.FilterText(), "CRD:ID >= 3 AND CRD:ID <= 7");
  vm.SetFilter(std::string(6000, 'x'));
  EXPECT_EQ(vm.FilterText().size(), kMaxFilterText);
  ASSERT_TRUE(vm.SetOrder(1));
  EXPECT_FALSE(vm.SetOrder(1));
  vm.Kill();
  rm.Kill();
  fm.Kill();
}

TEST(ToolbarTips, TablesHoldTheirEntries) {
  auto list = ReadTipTable(ListTipTable());
  ASSERT_EQ(list.size(), 8u);
  EXPECT_EQ(list[0], (std::pair<int, std::string>{2008, "Go to the Next Record"}));
  EXPECT_EQ(list[2], (std::pair<int, std::string>{2004, "Go to the Last Page"}));
  auto change = ReadTipTable(ChangeTipTable());
  ASSERT_EQ(change.size(), 7u);
  EXPECT_EQ(change[6], (std::pair<int, std::string>{2009, "Save changes and go to previous record"}));
  auto insert = ReadTipTable(InsertTipTable());
  ASSERT_EQ(insert.size(), 2u);
  EXPECT_EQ(insert[1], (std::pair<int, std::string>{2008, "Save record and add another"}));
  // A table cut short keeps its whole entries.
  std::span<const uint8_t> cut = ChangeTipTable().first(40);
  EXPECT_EQ(ReadTipTable(cut).size(), 1u);
}

TEST(PopupClass, ItemsAreNamedAndEnabledByName) {
  PopupClass popup;
  popup.Init(nullptr);
  ASSERT_TRUE(popup.AddMenu("&Move{&Top|Page &Up|Page &Down|Bottom}|-|~&Print"));
  EXPECT_FALSE(popup.AddMenu("&Broken{"));
  EXPECT_EQ(popup.NameOf(2), "PageUp");
  EXPECT_EQ(popup.NameOf(5), "Print");
  EXPECT_FALSE(popup.GetItemEnabled("Print"));
  popup.SetItemEnable("Print", true);
  popup.SetItemEnable("Top", false);
  popup.SetItemCheck("Bottom", true);
  EXPECT_EQ(popup.MenuText(), "&Move{~&Top|Page &Up|Page &Down|+Bottom}|-|&Print");
  EXPECT_EQ(popup.AddItem("&Insert", "!&Insert"), "!&Insert");
  EXPECT_EQ(popup.NameOf(6), "!&Insert");
  EXPECT_EQ(popup.Ask(), "");  // no window to show it in
}

class WindowHelpersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterFrameworkTestWindows();
    char tmpl[] = "/tmp/korawin-helpers-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    ini_.Init(dir_ + "/korawin1.INI");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Opens the card list on a procedure of its own, placed as the INI says; remembered there
  // when it closes.
  int OpenRemembered() {
    thread_ = ui::Runtime::StartProcedure([this] {
      auto w = ui::Window::Open(L::kModule, L::kWindow);
      FetchWindow(ini_, "Cards", *w);
      while (w->Accept().kind != ui::EventKind::None) {
        if (w->EventNow() == ui::EventKind::CloseWindow) {
          UpdateWindow(ini_, "Cards", *w);
          w->Close();
        }
      }
    });
    return driver_.WaitFor("Список карточек");
  }
  void CloseRemembered(int w) {
    ASSERT_TRUE(driver_.CloseBox(w));
    ASSERT_TRUE(driver_.WaitThreadEnd(thread_));
  }
  std::string FileText() {
    std::ifstream in(dir_ + "/korawin1.INI", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string dir_;
  INIClass ini_;
  ui::HeadlessBackend backend_;
  ui::TestDriver driver_{backend_};
  int thread_ = 0;
};

TEST_F(WindowHelpersTest, IniRoundTripOfAMovedAndOfAMaximisedWindow) {
  int w = OpenRemembered();
  ASSERT_NE(w, 0);
  EXPECT_EQ(driver_.StateOf(w).geometry, ui::Geometry{});  // nothing stored: as designed
  ASSERT_TRUE(driver_.Resize(w, ui::EventKind::Moved, {30, 40, 250, 170}));
  CloseRemembered(w);
  EXPECT_EQ(FileText(), "[Cards]\r\nMaximize=No\r\nXPos=30\r\nYPos=40\r\nHeight=170\r\nWidth=250\r\n");

  w = OpenRemembered();
  EXPECT_EQ(driver_.StateOf(w).geometry, (ui::Geometry{30, 40, 250, 170}));
  EXPECT_FALSE(driver_.StateOf(w).maximized);
  // Maximised from another normal place: only "Maximize" is written.
  ASSERT_TRUE(driver_.Resize(w, ui::EventKind::Maximized, {60, 70, 300, 200}));
  CloseRemembered(w);
  EXPECT_EQ(FileText(), "[Cards]\r\nMaximize=Yes\r\nXPos=30\r\nYPos=40\r\nHeight=170\r\nWidth=250\r\n");

  w = OpenRemembered();
  EXPECT_TRUE(driver_.StateOf(w).maximized);
  EXPECT_EQ(driver_.StateOf(w).geometry, (ui::Geometry{30, 40, 250, 170}));
  CloseRemembered(w);
}

TEST_F(WindowHelpersTest, AbsurdIniGivesAWindowOnScreen) {
  {
    std::ofstream out(dir_ + "/korawin1.INI");
    out << "junk line\n[Cards]\n=\nMaximize=No\nXPos=-5000\nYPos=99999\nWidth=99999\n"
           "Height=100\nthis is not a key\n";
  }
  int w = OpenRemembered();
  ASSERT_NE(w, 0);
  // The designed size, with the caption on the screen.
  EXPECT_EQ(driver_.StateOf(w).geometry,
            (ui::Geometry{0, kScreenHeight - kVisibleHeight, 260, 160}));
  ASSERT_TRUE(driver_.Press(w, L::Close));
  ASSERT_TRUE(driver_.WaitThreadEnd(thread_));

  {
    std::ofstream out(dir_ + "/korawin1.INI");
    out << "[Other]\nMaximize=Yes\n[Cards]\nMaximize=Yes\nXPos=abc\n";
  }
  w = OpenRemembered();
  EXPECT_TRUE(driver_.StateOf(w).maximized);
  EXPECT_EQ(driver_.StateOf(w).geometry, ui::Geometry{});
  ASSERT_TRUE(driver_.Press(w, L::Close));
  ASSERT_TRUE(driver_.WaitThreadEnd(thread_));

  fs::remove(dir_ + "/korawin1.INI");
  w = OpenRemembered();  // no file at all
  EXPECT_EQ(driver_.StateOf(w).geometry, ui::Geometry{});
  EXPECT_FALSE(driver_.StateOf(w).maximized);
  ASSERT_TRUE(driver_.Press(w, L::Close));
  ASSERT_TRUE(driver_.WaitThreadEnd(thread_));

  // The program's own file is made in its configuration folder.
  const char* old = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  INIClass program;
  program.Init(kProgramIni);
  EXPECT_TRUE(fs::exists(dir_ + "/korawin1/korawin1.INI"));
  if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(WindowHelpersTest, ResizerPlacesControlsByTheirStrategies) {
  struct Seen {
    ResizeRect list0, list1, close0, close1, insert0, insert1, locator1, listBack;
    uint16_t insertCode = 0;
    bool sameSize = true;
  } seen;
  thread_ = ui::Runtime::StartProcedure([&seen] {
    auto w = ui::Window::Open(L::kModule, L::kWindow);
    WindowResizeClass r;
    r.Init(*w, AppStrategySpread, true, false);
    r.SetStrategy(L::List, 0x303, ResizeConstantRight | ResizeConstantBottom);
    r.SetStrategy(L::Close, 0x202, ResizeLockWidth | ResizeLockHeight);
    r.SetStrategy(L::Insert, 0x505, ResizeLockWidth | ResizeLockHeight);
    seen.insertCode = r.Control(L::Insert)->PositionalStrategy;
    seen.list0 = r.Geometry(L::List);
    seen.close0 = r.Geometry(L::Close);
    seen.insert0 = r.Geometry(L::Insert);
    seen.sameSize = !r.ResizeTo(260, 160);
    r.ResizeTo(360, 210);
    seen.list1 = r.Geometry(L::List);
    seen.close1 = r.Geometry(L::Close);
    seen.insert1 = r.Geometry(L::Insert);
    seen.locator1 = r.Geometry(L::Locator);
    r.ResizeTo(260, 160);
    seen.listBack = r.Geometry(L::List);
    while (w->Accept().kind != ui::EventKind::CloseWindow) {
    }
  });
  int w = driver_.WaitFor("Список карточек");
  ASSERT_NE(w, 0);
  EXPECT_EQ(driver_.StateOf(w).minWidth, 260);
  EXPECT_EQ(driver_.StateOf(w).minHeight, 160);
  ASSERT_TRUE(driver_.CloseBox(w));
  ASSERT_TRUE(driver_.WaitThreadEnd(thread_));
  EXPECT_TRUE(seen.sameSize);
  EXPECT_GT(seen.list0.Width, 0);
  // The list keeps its corner and grows with the window.
  EXPECT_EQ(seen.list1, (ResizeRect{seen.list0.XPos, seen.list0.YPos, seen.list0.Width + 100,
                                    seen.list0.Height + 50}));
  // Close keeps its distance from the right and bottom edges and its size.
  EXPECT_EQ(seen.close1, (ResizeRect{seen.close0.XPos + 100, seen.close0.YPos + 50,
                                     seen.close0.Width, seen.close0.Height}));
  // Insert lies left and low: "nearest" fixes it to the left and the bottom.
  EXPECT_EQ(seen.insertCode, 0x203);
  EXPECT_EQ(seen.insert1, (ResizeRect{seen.insert0.XPos, seen.insert0.YPos + 50,
                                      seen.insert0.Width, seen.insert0.Height}));
  EXPECT_GT(seen.locator1.Width, 0);
  EXPECT_EQ(seen.listBack, seen.list0);  // back at the initial size: the initial geometry
}

TEST_F(WindowHelpersTest, FileSelectionAsksWithItsDefaults) {
  SelectFileClass select;
  select.Init();
  select.DefaultDirectory = dir_;
  backend_.QueueFile(dir_ + "/card.txt");
  EXPECT_EQ(select.Ask(), dir_ + "/card.txt");
  select.WindowTitle = "Card";
  select.Flags = SelectFileSave;
  EXPECT_EQ(select.Ask("Text|*.txt"), "");  // cancelled
  auto dialogs = backend_.FileDialogs();
  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(dialogs[0].title, "Select A File");
  EXPECT_EQ(dialogs[0].mask, "All Files|*.*");
  EXPECT_EQ(dialogs[0].directory, dir_);
  EXPECT_FALSE(dialogs[0].save);
  EXPECT_EQ(dialogs[1].mask, "Text|*.txt");
  EXPECT_TRUE(dialogs[1].save);
}

}  // namespace
}  // namespace korawin::framework
