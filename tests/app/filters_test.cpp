// The lexeme filters on a copy of the demo database: each filter's result against the cards
// chosen in the test from what is on disk, blank and unmatched fragments, fragments taken from
// a pick list and shared between filters, and the result's card and marks.
#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "app/app_windows.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "app/texts.h"
#include "framework/window_manager.h"
#include "tests/app/gui_fixture.h"
#include "tests/app/lexicon_disk.h"

namespace korawin::app::testing {
namespace {

namespace M = modules;
using Card = std::map<std::string, std::string>;
using Fragments = std::vector<std::pair<const char*, std::string>>;  // field, fragment

class FiltersTest : public GuiFixture {
 protected:
  void SetUp() override {
    GuiFixture::SetUp();
    // Every pick list is closed without a choice unless a test says otherwise.
    for (int pick : {M::kTaxPick, M::kThemePick, M::kRolePick, M::kTClassPick, M::kK4Pick,
                     M::kK6Pick, M::kK81Pick, M::kK82Pick})
      RegisterCalled(pick, [](uint8_t) { return uint8_t{framework::RequestCancelled}; });
  }

  // The lexemes whose fields hold the fragments: each given fragment in one of its fields.
  std::vector<std::string> Expected(const std::vector<Fragments>& all) {
    std::vector<std::string> out;
    for (Card& card : DiskCards(dir_.path())) {
      bool pass = true;
      for (const Fragments& anyOf : all) {
        bool found = anyOf.front().second.empty();
        for (const auto& [field, fragment] : anyOf)
          found = found || card[field].find(fragment) != std::string::npos;
        pass = pass && found;
      }
      if (pass) out.push_back(card["I_VERB"]);
    }
    return out;
  }

  // Types the fragments into the constructor's entries, filters, and returns the lexemes of
  // the result (its list grown to show them all).
  std::vector<std::string> Filter(int constructorModule, const char* caption,
                                  const std::vector<std::pair<int, std::string>>& typed,
                                  int filterButton, const char* resultCaption, int list,
                                  int* result = nullptr) {
    int constructor = Open(constructorModule, caption);
    EXPECT_NE(constructor, 0) << caption;
    for (const auto& [entry, text] : typed) EXPECT_TRUE(driver_.Type(constructor, entry, text));
    EXPECT_TRUE(driver_.Press(constructor, filterButton));
    int shown = driver_.WaitFor(resultCaption);
    EXPECT_NE(shown, 0) << resultCaption;
    // A taller list fills its new rows.
    EXPECT_TRUE(driver_.ShowRows(shown, list, 200));
    EXPECT_TRUE(driver_.Scroll(shown, list, ui::EventKind::ScrollTop));
    if (result) *result = shown;
    return Column(shown, list, 1);
  }
};

TEST_F(FiltersTest, EachFilterShowsTheLexemesHoldingItsFragments) {
  const size_t all = DiskCards(dir_.path()).size();
  struct Case {
    const char* name;
    std::vector<std::string> shown, expected;
  };
  std::vector<Case> cases;
  {
    namespace C = ids::RoleFilter;
    cases.push_back({"roles",
                     Filter(M::kRoleFilter, C::kModule, {{C::FrRol, "Адрес"}}, C::Filter,
                            ids::RoleFilterList::kModule, ids::RoleFilterList::List),
                     Expected({{{"ACT41", "Адрес"},
                                {"ACT42", "Адрес"},
                                {"ACT43", "Адрес"},
                                {"ACT44", "Адрес"},
                                {"ACT45", "Адрес"}}})});
  }
  {
    namespace C = ids::TClassFilter;
    cases.push_back({"T-classes",
                     Filter(M::kTClassFilter, C::kModule, {{C::FrTcl, "живот"}}, C::Filter,
                            ids::TClassFilterList::kModule, ids::TClassFilterList::List),
                     Expected({{{"ACT51", "живот"},
                                {"ACT52", "живот"},
                                {"ACT53", "живот"},
                                {"ACT54", "живот"},
                                {"ACT55", "живот"}}})});
  }
  {
    namespace C = ids::ExplicationFilter;
    cases.push_back(
        {"explications",
         Filter(M::kExplicationFilter, C::kModule, {{C::FrK4, "перемещ"}, {C::FrK81, "неконтр"}},
                C::Filter, ids::ExplicationFilterList::kModule, ids::ExplicationFilterList::List),
         Expected({{{"V_4", "перемещ"}}, {{"V8B", "неконтр"}}})});
  }
  {
    namespace C = ids::TaxThemeFilter;
    cases.push_back(
        {"T-categories and themes",
         Filter(M::kTaxThemeFilter, C::kModule, {{C::FrTkat, "процесс"}, {C::FrTema, "движ"}},
                C::Filter, ids::TaxThemeFilterList::kModule, ids::TaxThemeFilterList::List),
         Expected({{{"IV", "процесс"}}, {{"TEMA", "движ"}}})});
  }
  {
    // glo:FrTema still holds "движ": the field is shared; it is typed over here.
    namespace C = ids::ThemeK82Filter;
    cases.push_back(
        {"theme and K8.2",
         Filter(M::kThemeK82Filter, C::kModule, {{C::FrTema, "речь"}, {C::FrK82, "голос"}},
                C::Filter, ids::ThemeK82FilterList::kModule, ids::ThemeK82FilterList::List),
         Expected({{{"TEMA", "речь"}}, {{"V8E", "голос"}}})});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(c.expected.empty());
    EXPECT_LT(c.expected.size(), all);
    EXPECT_EQ(c.shown, c.expected);
  }
  // The pick lists that opened on the fragments closed without a word.
  EXPECT_TRUE(MessageTexts().empty());
}

TEST_F(FiltersTest, BlankFragmentsShowAllAndFragmentsMatchWithTheirCase) {
  namespace C = ids::TaxThemeFilter;
  namespace R = ids::TaxThemeFilterList;
  int result = 0;
  auto shown = Filter(M::kTaxThemeFilter, C::kModule, {}, C::Filter, R::kModule, R::List, &result);
  EXPECT_EQ(shown.size(), DiskCards(dir_.path()).size());
  EXPECT_EQ(driver_.Text(result, R::Message), "");
  // "Движ" is no theme's beginning: every theme is written in small letters.
  int constructor = driver_.Find(C::kModule);
  ASSERT_TRUE(driver_.Type(constructor, C::FrTema, "Движ"));
  ASSERT_TRUE(driver_.Press(constructor, C::Filter));
  ASSERT_TRUE(driver_.Settle());
  int second = driver_.Find(R::kModule);
  ASSERT_NE(second, result);
  EXPECT_TRUE(driver_.Rows(second, R::List).empty());
  EXPECT_EQ(driver_.Text(second, R::Message), "Таких лексем нет");
  EXPECT_EQ(driver_.Text(second, R::Tema), "Движ");
  // The first result kept the fragments of its own opening.
  EXPECT_EQ(Column(result, R::List, 1).size(), DiskCards(dir_.path()).size());
  EXPECT_EQ(driver_.Text(result, R::Tema), "");
}

// A fragment that is no whole entry opens the pick list; the entry chosen replaces the
// fragment, cut to the fragment's 40 characters, and shows in the other filter sharing it.
TEST_F(FiltersTest, AChosenEntryBecomesTheFragmentInBothFiltersSharingIt) {
  const std::string longest =
      "X перемещается в направлении Z; конечная точка не обязательно достигнута";
  RegisterCalled(M::kK6Pick, [longest](uint8_t request) {
    EXPECT_EQ(request, 4);
    Declared(LexiconFile::kP7).SetField("F", Ansi(longest));
    return uint8_t{framework::RequestCompleted};
  });
  RegisterCalled(M::kK82Pick, [](uint8_t) {
    Declared(LexiconFile::kP8e).SetField("F", Ansi("голос"));
    return uint8_t{framework::RequestCompleted};
  });
  namespace C = ids::ExplicationFilter;
  int constructor = Open(M::kExplicationFilter, C::kModule);
  ASSERT_TRUE(driver_.Type(constructor, C::FrK6, "X перемещ"));
  EXPECT_EQ(driver_.Text(constructor, C::FrK6), Utf8(Ansi(longest).substr(0, 40)));
  ASSERT_TRUE(driver_.Press(constructor, C::PickK82));
  EXPECT_EQ(driver_.Text(constructor, C::FrK82), "голос");
  int other = Open(M::kThemeK82Filter, ids::ThemeK82Filter::kModule);
  EXPECT_EQ(driver_.Text(other, ids::ThemeK82Filter::FrK82), "голос");
  // A role fragment holds 30 characters: the rest is cut, and the user told.
  namespace R = ids::RoleFilter;
  int roles = Open(M::kRoleFilter, R::kModule);
  ASSERT_TRUE(driver_.Type(roles, R::FrRol, std::string(35, 'r')));
  EXPECT_EQ(driver_.Text(roles, R::FrRol), std::string(30, 'r'));
  EXPECT_EQ(Clip(Glo().frRol), std::string(30, 'r'));
  ASSERT_EQ(MessageTexts().size(), 1u);
  EXPECT_NE(MessageTexts()[0].find("30"), std::string::npos);
}

TEST_F(FiltersTest, TheResultOpensTheCardAndMarksItsLexemes) {
  namespace C = ids::ThemeK82Filter;
  namespace R = ids::ThemeK82FilterList;
  int result = 0;
  auto shown = Filter(M::kThemeK82Filter, C::kModule, {{C::FrTema, "речь"}}, C::Filter, R::kModule,
                      R::List, &result);
  ASSERT_GE(shown.size(), 3u);
  ASSERT_TRUE(driver_.ChooseRow(result, R::List, 2));
  ASSERT_TRUE(driver_.Press(result, R::Change));
  int card = driver_.WaitFor(ids::CardForm041::kModule);
  ASSERT_NE(card, 0);
  EXPECT_EQ(driver_.Text(card, ids::CardForm041::SLO_I_VERB), shown[1]);
  EXPECT_EQ(Clip(Glo().cardAction), "chn");
  ASSERT_TRUE(driver_.Press(card, ids::CardForm041::Cancel));
  EXPECT_FALSE(driver_.IsOpen(card));

  const std::string before = DiskCard(dir_.path(), shown[1]).at("METKA");
  ASSERT_TRUE(driver_.ChooseRow(result, R::List, 2));
  ASSERT_TRUE(driver_.Press(result, R::ToggleMark));
  EXPECT_NE(DiskCard(dir_.path(), shown[1]).at("METKA"), before);
  EXPECT_EQ(Column(result, R::List, 0)[1], before == "*" ? "" : "*");
  ASSERT_TRUE(driver_.Press(result, R::ClearMarks));
  for (Card& c : DiskCards(dir_.path())) EXPECT_EQ(c["METKA"], "") << c["I_VERB"];
  EXPECT_EQ(Column(result, R::List, 0), std::vector<std::string>(shown.size(), ""));
}

}  // namespace
}  // namespace korawin::app::testing
