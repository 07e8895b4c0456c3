// The word and lexeme lists and the classification browsers on a copy of the demo database:
// what they show against the files read by the test itself, marks, tabs and locators, the
// fragment filter, renames and deletes through the entry forms, a pick list, the highlighted
// record across changes, and the INI place of a window.
#include <algorithm>
#include <atomic>
#include <set>

#include "app/app_windows.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/list_count.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "app/program.h"
#include "framework/window_manager.h"
#include "platform/codepage.h"
#include "storage/dat/dat_driver.h"
#include "tests/app/gui_fixture.h"
#include "ui/runtime/runtime.h"

namespace korawin::app::testing {
namespace {

namespace LL = ids::LexemeList;
namespace TB = ids::ThemeBrowser;
using Rows = std::vector<std::map<std::string, std::string>>;

std::string Cp(std::string_view utf8) { return platform::Utf8ToCp1251Lossy(utf8); }
std::string Trim(std::string s) {
  s.erase(0, s.find_first_not_of(' '));
  return s.erase(s.find_last_not_of(' ') + 1);
}
int KeyOf(std::string_view utf8) { return static_cast<unsigned char>(Cp(utf8)[0]); }

class ListsTest : public GuiFixture {
 protected:
  // Every record of file as the disk holds it now (UTF-8, blanks clipped), read through a
  // declaration of the test's own.
  Rows Disk(LexiconFile file, const std::vector<std::string>& fields) {
    DeclaredFile d = DeclareFile(file, &storage::dat::DatDriverEntry, dir_.path());
    storage::DriverArgs open;
    open.mode = storage::kOpenReadOnly | storage::kShareDenyNone;
    Rows out;
    if (storage::CallDriver(storage::kOpOpen, d.fd(), open) != 0) return out;
    EXPECT_EQ(storage::CallDriver(storage::kOpSetFile, d.fd()), 0);
    while (storage::CallDriver(storage::kOpNext, d.fd()) == 0) {
      auto& row = out.emplace_back();
      for (const std::string& f : fields) row[f] = Trim(platform::Cp1251ToUtf8(d.Field(f)));
    }
    EXPECT_EQ(storage::CallDriver(storage::kOpClose, d.fd()), 0);
    return out;
  }
  std::vector<std::string> DiskColumn(LexiconFile file, const std::string& field) {
    std::vector<std::string> out;
    for (auto& r : Disk(file, {field})) out.push_back(r[field]);
    return out;
  }
  static std::multiset<std::string> Bag(const std::vector<std::string>& v) {
    return {v.begin(), v.end()};
  }

  // Lets the counts arrive and the lists show them.
  bool Ready() { return WaitForCounts(std::chrono::seconds(20)) && driver_.Settle(); }
  std::string Count(int window, int feq) { return Trim(driver_.Text(window, feq)); }
  // The highlighted row's cell.
  std::string Current(int window, int list, size_t col = 0) {
    auto rows = Column(window, list, col);
    int at = driver_.Value(window, list);
    return at >= 1 && static_cast<size_t>(at) <= rows.size() ? rows[static_cast<size_t>(at) - 1]
                                                             : std::string();
  }
  // Every row of a list, page by page from the top (the rows are distinct).
  std::vector<std::string> AllRows(int window, int list, size_t col = 0) {
    EXPECT_TRUE(driver_.Scroll(window, list, ui::EventKind::ScrollTop));
    std::vector<std::string> out;
    for (int guard = 0; guard < 100; ++guard) {
      size_t before = out.size();
      for (const std::string& row : Column(window, list, col))
        if (std::find(out.begin(), out.end(), row) == out.end()) out.push_back(row);
      if (out.size() == before) break;
      EXPECT_TRUE(driver_.Scroll(window, list, ui::EventKind::PageDown));
    }
    return out;
  }
  // Chooses the row whose cell col is text; false when the page does not show it.
  bool ChooseText(int window, int list, const std::string& text, size_t col = 0) {
    auto rows = Column(window, list, col);
    auto it = std::find(rows.begin(), rows.end(), text);
    return it != rows.end() &&
           driver_.ChooseRow(window, list, static_cast<int>(it - rows.begin()) + 1);
  }
  // Runs a called procedure on a procedure thread of its own, as a card form would call it.
  int CallOnThread(int module, uint8_t request, std::function<void(uint8_t)> after) {
    return ui::Runtime::StartProcedure([=] { after(CallModule(module, request)); });
  }
};

TEST_F(ListsTest, MarksTabsAndLocatorsOfTheLexemeList) {
  Rows cards = Disk(LexiconFile::kSlovo, {"I_VERB", "METKA"});
  std::vector<std::string> marked, unmarked;
  for (auto& c : cards) (c["METKA"] == "*" ? marked : unmarked).push_back(c["I_VERB"]);
  ASSERT_FALSE(marked.empty());
  ASSERT_GT(unmarked.size(), 20u);

  int w = Open(modules::kLexemeList, "Список  Лексем");
  ASSERT_NE(w, 0);
  ASSERT_TRUE(Ready());
  EXPECT_EQ(Count(w, LL::Count), std::to_string(cards.size()));
  ASSERT_TRUE(driver_.ChooseTab(w, LL::Sheet, 2));
  ASSERT_TRUE(Ready());
  EXPECT_EQ(Bag(AllRows(w, LL::List, 1)), Bag(marked));
  EXPECT_EQ(Count(w, LL::Count), std::to_string(marked.size()));
  // The step locator jumps to the first marked lexeme of a letter.
  const std::string last = *std::max_element(marked.begin(), marked.end());
  ASSERT_TRUE(driver_.Key(w, LL::List, KeyOf(last)));
  EXPECT_EQ(Current(w, LL::List, 1).substr(0, 2), last.substr(0, 2));
  ASSERT_TRUE(driver_.ChooseTab(w, LL::Sheet, 3));
  ASSERT_TRUE(Ready());
  EXPECT_EQ(Count(w, LL::Count), std::to_string(unmarked.size()));
  EXPECT_EQ(Bag(AllRows(w, LL::List, 1)), Bag(unmarked));

  // The first tab: the incremental locator collects what is typed and shows it.
  ASSERT_TRUE(driver_.ChooseTab(w, LL::Sheet, 1));
  ASSERT_TRUE(driver_.Key(w, LL::List, KeyOf("с")));
  ASSERT_TRUE(driver_.Key(w, LL::List, KeyOf("л")));
  EXPECT_EQ(Current(w, LL::List, 1).rfind("сл", 0), 0u) << Current(w, LL::List, 1);
  EXPECT_EQ(Trim(driver_.Text(w, LL::Locator)), "сл");

  // The comment box follows the highlighted card.
  std::map<std::string, std::string> comments;
  for (auto& c : Disk(LexiconFile::kSlovo, {"I_VERB", "VIII"})) comments[c["I_VERB"]] = c["VIII"];
  ASSERT_TRUE(driver_.Scroll(w, LL::List, ui::EventKind::ScrollTop));
  for (int pages = 0; pages < 10; ++pages) {
    std::vector<std::string> page = Column(w, LL::List, 1);
    auto it = std::find_if(page.begin(), page.end(), [&](auto& v) { return !comments[v].empty(); });
    if (it == page.end()) {
      ASSERT_TRUE(driver_.Scroll(w, LL::List, ui::EventKind::PageDown));
      continue;
    }
    ASSERT_TRUE(driver_.ChooseRow(w, LL::List, static_cast<int>(it - page.begin()) + 1));
    EXPECT_EQ(Trim(driver_.Text(w, LL::SLO_VIII)), comments[*it]);
    break;
  }
  EXPECT_NE(Trim(driver_.Text(w, LL::SLO_VIII)), "");

  // A mark toggled on the highlighted card: the row stays highlighted and shows the mark.
  ASSERT_TRUE(driver_.ChooseRow(w, LL::List, 3));
  const std::string card = Current(w, LL::List, 1);
  const bool wasMarked = Current(w, LL::List, 0) == "*";
  ASSERT_TRUE(driver_.Press(w, LL::ToggleMark));
  ASSERT_TRUE(Ready());
  EXPECT_EQ(driver_.Value(w, LL::List), 3);
  EXPECT_EQ(Current(w, LL::List, 1), card);
  EXPECT_EQ(Current(w, LL::List, 0), wasMarked ? "" : "*");
  for (auto& c : Disk(LexiconFile::kSlovo, {"I_VERB", "METKA"})) {
    if (c["I_VERB"] == card) {
      EXPECT_EQ(c["METKA"], wasMarked ? "" : "*");
    }
  }
  EXPECT_EQ(Count(w, LL::Count), std::to_string(cards.size()));

  // Clearing every mark keeps the highlighted card; the marked tab is then empty and says so.
  ASSERT_TRUE(driver_.ChooseRow(w, LL::List, 5));
  const std::string kept = Current(w, LL::List, 1);
  ASSERT_TRUE(driver_.Press(w, LL::ClearMarks));
  EXPECT_EQ(Current(w, LL::List, 1), kept);
  EXPECT_NE(Clip(Glo().savedLexemePosition), "");
  for (auto& c : Disk(LexiconFile::kSlovo, {"METKA"})) EXPECT_EQ(c["METKA"], "");
  ASSERT_TRUE(driver_.ChooseTab(w, LL::Sheet, 2));
  ASSERT_TRUE(Ready());
  EXPECT_TRUE(driver_.Rows(w, LL::List).empty());
  EXPECT_EQ(Count(w, LL::Count), "0");
  EXPECT_EQ(Trim(driver_.Text(w, LL::Message)), "Помеченных лексем нет");
  EXPECT_TRUE(MessageTexts().empty());
}

TEST_F(ListsTest, CardButtonsTellTheCardWhatToDoAndTheCardRunsOnTheListsThread) {
  int w = Open(modules::kLexemeList, "Список  Лексем");
  ASSERT_NE(w, 0);
  ASSERT_TRUE(driver_.ChooseRow(w, LL::List, 4));
  const std::string card = Current(w, LL::List, 1);
  ASSERT_NE(card.find(" ("), std::string::npos) << card;
  ASSERT_TRUE(driver_.Press(w, LL::Change));
  int form = driver_.WaitFor(ids::CardForm041::kModule);
  ASSERT_NE(form, 0);
  EXPECT_EQ(driver_.ThreadOf(form), driver_.ThreadOf(w));
  EXPECT_EQ(Clip(Glo().cardAction), "chn");
  EXPECT_EQ(platform::Cp1251ToUtf8(Clip(Glo().lexemeHead)), card.substr(0, card.find(" (")));
  ASSERT_TRUE(driver_.Press(form, ids::CardForm041::Cancel));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(Current(w, LL::List, 1), card);

  // Entry by sample: the sample's card, on the list's own thread.
  ASSERT_TRUE(driver_.Press(w, LL::Sample));
  form = driver_.WaitFor(ids::CardForm038::kModule);
  ASSERT_NE(form, 0);
  EXPECT_EQ(driver_.ThreadOf(form), driver_.ThreadOf(w));
  EXPECT_EQ(Trim(driver_.Text(form, ids::CardForm038::SLO_I_VERB)), card);
  ASSERT_TRUE(driver_.Press(form, ids::CardForm038::Cancel));
  EXPECT_EQ(Current(w, LL::List, 1), card);

  // The browsers: "Chn", and the K4 browser "chn" with the head.
  int t = Open(modules::kThemeBrowser, "Список ТЕМ");
  ASSERT_TRUE(driver_.Press(t, TB::ChangeLexeme));
  form = driver_.WaitFor(ids::CardForm053::kModule);
  ASSERT_NE(form, 0);
  EXPECT_EQ(Clip(Glo().cardAction), "Chn");
  ASSERT_TRUE(driver_.Press(form, ids::CardForm053::Cancel));
  int k4 = Open(modules::kK4Browser, "Список ТОЛКОВАНИЙ К4");
  ASSERT_NE(k4, 0);
  const std::string lexeme = Current(k4, ids::K4Browser::LexemeList);
  ASSERT_TRUE(driver_.Press(k4, ids::K4Browser::ChangeLexeme));
  form = driver_.WaitFor(ids::CardForm053::kModule);
  ASSERT_NE(form, 0);
  EXPECT_EQ(Clip(Glo().cardAction), "chn");
  EXPECT_EQ(platform::Cp1251ToUtf8(Clip(Glo().lexemeHead)),
            Trim(lexeme.substr(0, lexeme.find('('))));
  ASSERT_TRUE(driver_.Press(form, ids::CardForm053::Cancel));
  EXPECT_TRUE(MessageTexts().empty());
}

TEST_F(ListsTest, FragmentFilterTakesEveryCharacterLiterally) {
  Rows cards = Disk(LexiconFile::kSlovo, {"I_VERB"});
  int w = Open(modules::kLexemeList, "Список  Лексем");
  ASSERT_NE(w, 0);
  // Quotes, brackets and percent signs would break a filter text they were spliced into; the
  // last one is 20 Cyrillic letters, the whole width of glo:fr1.
  for (std::string fragment : {"ть 1", "(о ", "'", "%)", "[", "", "ъ", "ПОЙТИ", "идти 1 (двигаться пе",
                               "(быстро передвигатьс"}) {
    SCOPED_TRACE(fragment);
    // glo:fr1 holds 20 characters, and the filter clips it.
    std::string held = Cp(fragment).substr(0, 20);
    held.erase(held.find_last_not_of(' ') + 1);
    std::vector<std::string> expected;
    for (auto& c : cards)
      if (Cp(c["I_VERB"]).find(held) != std::string::npos) expected.push_back(c["I_VERB"]);
    ASSERT_TRUE(driver_.Type(w, LL::Fragment, fragment));
    ASSERT_TRUE(driver_.Press(w, LL::Filter));
    int f = driver_.WaitFor("Отфильтрованныый список лексем");
    ASSERT_NE(f, 0);
    ASSERT_TRUE(Ready());
    EXPECT_EQ(Trim(driver_.Text(f, ids::LexemeFragmentList::Fragment)),
              Trim(platform::Cp1251ToUtf8(held)));
    EXPECT_EQ(Count(f, ids::LexemeFragmentList::Count), std::to_string(expected.size()));
    EXPECT_EQ(Bag(AllRows(f, ids::LexemeFragmentList::List, 1)), Bag(expected));
    ASSERT_TRUE(driver_.CloseBox(f));
  }
  EXPECT_TRUE(MessageTexts().empty());  // no "View Open Error"
}

TEST_F(ListsTest, WordListShowsTheLexemesOfTheHighlightedWord) {
  Rows cards = Disk(LexiconFile::kSlovo, {"I_VERB", "VERV"});
  std::vector<std::string> words = DiskColumn(LexiconFile::kDct, "VERV");
  int w = Open(modules::kWordList, "Список СЛОВ");
  ASSERT_NE(w, 0);
  ASSERT_TRUE(Ready());
  EXPECT_EQ(Count(w, ids::WordList::WordCount), std::to_string(words.size()));
  EXPECT_EQ(Trim(driver_.Text(w, ids::WordList::Message)), "");
  for (const std::string word : {"идти", "бить", "радоваться"}) {
    SCOPED_TRACE(word);
    for (int k = 0; k < 12; ++k) ASSERT_TRUE(driver_.Key(w, ids::WordList::WordList, ui::kKeyBackspace));
    for (char c : Cp(word)) ASSERT_TRUE(driver_.Key(w, ids::WordList::WordList, static_cast<unsigned char>(c)));
    ASSERT_EQ(Current(w, ids::WordList::WordList), word);
    ASSERT_TRUE(Ready());
    std::vector<std::string> expected;
    for (auto& c : cards)
      if (c["VERV"] == word) expected.push_back(c["I_VERB"]);
    std::vector<std::string> shown = Column(w, ids::WordList::LexemeList);
    EXPECT_EQ(Bag(shown), Bag(expected));
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end(), [](auto& a, auto& b) {
      return Cp(a) < Cp(b);
    }));
    EXPECT_EQ(Count(w, ids::WordList::LexemeCount), std::to_string(expected.size()));
  }
}

TEST_F(ListsTest, WordListOfAnEmptyDictionarySaysToRepairAndOpensTwiceFromTheFrame) {
  DeclaredFile dct = DeclareFile(LexiconFile::kDct, &storage::dat::DatDriverEntry, dir_.path());
  storage::DriverArgs open;
  open.mode = storage::kOpenReadWrite | storage::kShareDenyAll;
  ASSERT_EQ(storage::CallDriver(storage::kOpOpen, dct.fd(), open), 0);
  ASSERT_EQ(storage::CallDriver(storage::kOpEmpty, dct.fd()), 0);
  ASSERT_EQ(storage::CallDriver(storage::kOpClose, dct.fd()), 0);

  ui::Runtime::StartProcedure([] { RunMainFrame(); });
  int frame = driver_.WaitFor("Основное окно");
  ASSERT_NE(frame, 0);
  ASSERT_TRUE(driver_.Menu(frame, {"Просмотр базы", "Список слов"}));
  int first = driver_.WaitFor("Список СЛОВ");
  ASSERT_TRUE(driver_.Menu(frame, {"Просмотр базы", "Список слов"}));
  ASSERT_TRUE(Ready());
  int second = driver_.Find("Список СЛОВ");
  ASSERT_NE(first, 0);
  ASSERT_NE(second, first);
  for (int w : {first, second}) {
    EXPECT_TRUE(driver_.Rows(w, ids::WordList::WordList).empty());
    EXPECT_EQ(Trim(driver_.Text(w, ids::WordList::Message)),
              "Закройте  окно  \"СПИСОК СЛОВ\"  и нажмите кнопку \"РЕМОНТ БАЗЫ\"");
    EXPECT_EQ(Count(w, ids::WordList::WordCount), "0");
  }
}

TEST_F(ListsTest, ThemeRenameRewritesTheCardsThatHeldItAndADuplicateChangesNothing) {
  Rows before = Disk(LexiconFile::kSlovo, {"I_VERB", "TEMA"});
  std::vector<std::string> sound;
  for (auto& c : before)
    if (c["TEMA"] == "звук") sound.push_back(c["I_VERB"]);
  ASSERT_EQ(sound.size(), 2u);

  int t = Open(modules::kThemeBrowser, "Список ТЕМ");
  ASSERT_NE(t, 0);
  ASSERT_TRUE(Ready());
  ASSERT_TRUE(ChooseText(t, TB::EntryList, "звук"));
  ASSERT_TRUE(Ready());
  EXPECT_EQ(Bag(Column(t, TB::LexemeList)), Bag(sound));
  EXPECT_EQ(Count(t, TB::LexemeCount), "2");

  ASSERT_TRUE(driver_.Press(t, TB::Change));
  int form = driver_.WaitFor(ids::ThemeForm::kModule);
  ASSERT_NE(form, 0);
  EXPECT_EQ(driver_.Caption(form), "Тема");
  ASSERT_TRUE(driver_.Type(form, ids::ThemeForm::TEM_T, "звуки природы"));
  ASSERT_TRUE(driver_.Press(form, ids::ThemeForm::OK));
  ASSERT_TRUE(Ready());
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_TRUE(MessageTexts().empty());

  Rows after = Disk(LexiconFile::kSlovo, {"I_VERB", "TEMA"});
  ASSERT_EQ(after.size(), before.size());
  for (size_t k = 0; k < before.size(); ++k) {
    const bool held = before[k]["TEMA"] == "звук";
    EXPECT_EQ(after[k]["TEMA"], held ? "звуки природы" : before[k]["TEMA"]) << after[k]["I_VERB"];
  }
  std::vector<std::string> themes = DiskColumn(LexiconFile::kTema, "T");
  EXPECT_EQ(std::count(themes.begin(), themes.end(), "звук"), 0);
  EXPECT_EQ(std::count(themes.begin(), themes.end(), "звуки природы"), 1);
  EXPECT_EQ(Current(t, TB::EntryList), "звуки природы");
  EXPECT_EQ(Bag(Column(t, TB::LexemeList)), Bag(sound));

  // A text another theme has: the unique key refuses it before anything is written.
  ASSERT_TRUE(driver_.Press(t, TB::Change));
  form = driver_.WaitFor(ids::ThemeForm::kModule);
  ASSERT_TRUE(driver_.Type(form, ids::ThemeForm::TEM_T, "речь"));
  ASSERT_TRUE(driver_.Press(form, ids::ThemeForm::OK));
  ASSERT_EQ(backend_.Boxes().size(), 1u);
  EXPECT_EQ(backend_.Boxes()[0].box.caption, "Duplicate Key Error");
  EXPECT_TRUE(driver_.IsOpen(form));
  backend_.QueueAnswer(ui::ButtonNo);  // "Save Record": the change is given up
  ASSERT_TRUE(driver_.Press(form, ids::ThemeForm::Cancel));
  ASSERT_TRUE(Ready());
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(Disk(LexiconFile::kSlovo, {"I_VERB", "TEMA"}), after);
  EXPECT_EQ(DiskColumn(LexiconFile::kTema, "T"), themes);
}

TEST_F(ListsTest, ThemeDeleteIsRefusedWhileCardsUseItAndDoneWhenNoneDoes) {
  int t = Open(modules::kThemeBrowser, "Список ТЕМ");
  ASSERT_NE(t, 0);
  ASSERT_TRUE(ChooseText(t, TB::EntryList, "звук"));
  backend_.QueueAnswer(ui::ButtonYes);  // "Confirm Delete"
  backend_.QueueAnswer(ui::ButtonOk);   // message 30
  backend_.QueueAnswer(ui::ButtonNo);   // "try to delete it again?"
  ASSERT_TRUE(driver_.Press(t, TB::Delete));
  ASSERT_TRUE(Ready());
  std::vector<std::string> captions;
  for (auto& b : backend_.Boxes()) captions.push_back(b.box.caption);
  EXPECT_NE(std::find(captions.begin(), captions.end(), "Referential Integrity Delete Error"),
            captions.end());
  std::vector<std::string> themes = DiskColumn(LexiconFile::kTema, "T");
  EXPECT_EQ(std::count(themes.begin(), themes.end(), "звук"), 1);
  EXPECT_EQ(Current(t, TB::EntryList), "звук");

  // A theme no card uses goes.
  ASSERT_TRUE(driver_.Press(t, TB::Insert));
  int form = driver_.WaitFor(ids::ThemeForm::kModule);
  ASSERT_NE(form, 0);
  EXPECT_EQ(driver_.Caption(form), "Новая Тема");
  ASSERT_TRUE(driver_.Type(form, ids::ThemeForm::TEM_T, "абстрактная тема"));
  ASSERT_TRUE(driver_.Press(form, ids::ThemeForm::OK));
  ASSERT_TRUE(Ready());
  EXPECT_EQ(Current(t, TB::EntryList), "абстрактная тема");
  EXPECT_TRUE(Column(t, TB::LexemeList).empty());
  EXPECT_EQ(DiskColumn(LexiconFile::kTema, "T").size(), themes.size() + 1);
  backend_.QueueAnswer(ui::ButtonYes);
  ASSERT_TRUE(driver_.Press(t, TB::Delete));
  ASSERT_TRUE(Ready());
  EXPECT_EQ(DiskColumn(LexiconFile::kTema, "T"), themes);
  EXPECT_NE(Current(t, TB::EntryList), "абстрактная тема");
}

TEST_F(ListsTest, PickListOpensAtTheCardsEntryAndReturnsTheChosenOne) {
  Declared(LexiconFile::kTema).SetField("T", Cp("речь"));
  std::atomic<int> response{-1};
  std::string chosen;
  int thread = CallOnThread(modules::kThemePick, 4, [&](uint8_t r) {
    chosen = Trim(platform::Cp1251ToUtf8(Declared(LexiconFile::kTema).Field("T")));
    response = r;
  });
  int pick = driver_.WaitFor("Выбор Tематического класса");
  ASSERT_NE(pick, 0);
  EXPECT_EQ(Current(pick, ids::ThemePick::List), "речь");
  ASSERT_TRUE(ChooseText(pick, ids::ThemePick::List, "свет"));
  ASSERT_TRUE(driver_.Press(pick, ids::ThemePick::Select));
  ASSERT_TRUE(driver_.WaitThreadEnd(thread));
  EXPECT_EQ(response, framework::RequestCompleted);
  EXPECT_EQ(chosen, "свет");

  // Closed without a choice: cancelled.
  thread = CallOnThread(modules::kRolePick, 4, [&](uint8_t r) { response = r; });
  pick = driver_.WaitFor("Выбор  Роли");
  ASSERT_NE(pick, 0);
  ASSERT_TRUE(driver_.Press(pick, ids::RolePick::Close));
  ASSERT_TRUE(driver_.WaitThreadEnd(thread));
  EXPECT_EQ(response, framework::RequestCancelled);
}

TEST_F(ListsTest, RoleLexemesAreTheCardsHoldingTheRoleInAnySlot) {
  Rows cards = Disk(LexiconFile::kSlovo, {"I_VERB", "ACT41", "ACT42", "ACT43", "ACT44", "ACT45"});
  std::vector<std::string> expected;
  for (auto& c : cards)
    for (const char* slot : {"ACT41", "ACT42", "ACT43", "ACT44", "ACT45"})
      if (c[slot] == "Источник") {
        expected.push_back(c["I_VERB"]);
        break;
      }
  ASSERT_FALSE(expected.empty());
  int roles = Open(modules::kRoleList, "Список РОЛЕЙ");
  ASSERT_NE(roles, 0);
  ASSERT_TRUE(ChooseText(roles, ids::RoleList::List, "Источник"));
  ASSERT_TRUE(driver_.Press(roles, ids::RoleList::Lexemes));
  int lexemes = driver_.WaitFor(ids::RoleLexemes::kModule);
  ASSERT_NE(lexemes, 0);
  EXPECT_EQ(Trim(driver_.Text(lexemes, ids::RoleLexemes::Entry)), "Источник");
  EXPECT_EQ(Bag(AllRows(lexemes, ids::RoleLexemes::List)), Bag(expected));
  // The list moving on does not change what the lexeme window shows.
  ASSERT_TRUE(driver_.ChooseRow(roles, ids::RoleList::List, 1));
  EXPECT_EQ(Bag(AllRows(lexemes, ids::RoleLexemes::List)), Bag(expected));
}

TEST_F(ListsTest, HighlightStaysOnItsCardWhenAnotherWindowChangesIt) {
  int w = Open(modules::kLexemeList, "Список  Лексем");
  ASSERT_NE(w, 0);
  ASSERT_TRUE(driver_.ChooseRow(w, LL::List, 6));
  const std::string card = Current(w, LL::List, 1);
  const std::string mark = Current(w, LL::List, 0);
  int aux = Open(modules::kLexemeAuxList, "Browse the slovo File");
  ASSERT_NE(aux, 0);
  ASSERT_TRUE(ChooseText(aux, ids::LexemeAuxList::List, card, 1));
  ASSERT_TRUE(driver_.Press(aux, ids::LexemeAuxList::ToggleMark));
  ASSERT_EQ(Current(aux, ids::LexemeAuxList::List, 0), mark == "*" ? "" : "*");
  // Back in the lexeme list: it shows the new mark on the same card, still highlighted.
  ASSERT_TRUE(driver_.Resize(w, ui::EventKind::Sized, {10, 10, 520, 330}));
  ASSERT_TRUE(Ready());
  EXPECT_EQ(Current(w, LL::List, 1), card);
  EXPECT_EQ(Current(w, LL::List, 0), mark == "*" ? "" : "*");
}

TEST_F(ListsTest, ListsOpenWhereTheyWereClosed) {
  int t = Open(modules::kThemeBrowser, "Список ТЕМ");
  ASSERT_NE(t, 0);
  const ui::Geometry place{40, 50, 500, 300};
  ASSERT_TRUE(driver_.Resize(t, ui::EventKind::Moved, place));
  ASSERT_TRUE(driver_.CloseBox(t));
  ASSERT_TRUE(driver_.Settle());
  EXPECT_EQ(ProgramIni().Fetch(ids::ThemeBrowser::kModule, "XPos"), "40");
  t = Open(modules::kThemeBrowser, "Список ТЕМ");
  ASSERT_NE(t, 0);
  EXPECT_EQ(driver_.StateOf(t).geometry, place);
}

}  // namespace
}  // namespace korawin::app::testing
