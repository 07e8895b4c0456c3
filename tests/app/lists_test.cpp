#include "app/app_windows.h"
#include "app/list_count.h"
#include "app/modules.h"
#include "tests/app/gui_fixture.h"

namespace korawin::app::testing {
namespace {

class ListsTest : public GuiFixture {};

TEST_F(ListsTest, Smoke) {
  int w = Open(modules::kLexemeList, "Список  Лексем");
  ASSERT_NE(w, 0);
  ASSERT_TRUE(WaitForCounts(std::chrono::seconds(10)));
  ASSERT_TRUE(driver_.Settle());
  for (auto& s : Column(w, ids::LexemeList::List, 1)) printf("%s\n", s.c_str());
  printf("count [%s]\n", driver_.Text(w, ids::LexemeList::Count).c_str());
  ASSERT_TRUE(driver_.ChooseTab(w, ids::LexemeList::Sheet, 2));
  ASSERT_TRUE(WaitForCounts(std::chrono::seconds(10)));
  ASSERT_TRUE(driver_.Settle());
  for (auto& s : Column(w, ids::LexemeList::List, 1)) printf("M %s\n", s.c_str());
  printf("count [%s]\n", driver_.Text(w, ids::LexemeList::Count).c_str());
  int t = Open(modules::kThemeBrowser, "Список ТЕМ");
  ASSERT_NE(t, 0);
  ASSERT_TRUE(WaitForCounts(std::chrono::seconds(10)));
  ASSERT_TRUE(driver_.Settle());
  for (auto& s : Column(t, ids::ThemeBrowser::EntryList)) printf("T %s\n", s.c_str());
  for (auto& s : Column(t, ids::ThemeBrowser::LexemeList)) printf("L %s\n", s.c_str());
  printf("counts [%s] [%s]\n", driver_.Text(t, ids::ThemeBrowser::EntryCount).c_str(), driver_.Text(t, ids::ThemeBrowser::LexemeCount).c_str());
  for (auto& m : MessageTexts()) printf("MSG %s\n", m.c_str());
}

}  // namespace
}  // namespace korawin::app::testing
