// Window descriptions: the column formats the windows store, and the faults a description can
// hold, each refused with a message that names where it is.
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "ui/desc/desc_json.h"
#include "ui/desc/popup_text.h"

namespace korawin::ui {
namespace {

ListFormat Parse(std::string_view utf8) {
  ListFormat f;
  std::string why;
  EXPECT_TRUE(ParseListFormat(platform::Utf8ToCp1251Lossy(utf8), &f, &why)) << utf8 << ": " << why;
  return f;
}

TEST(ListFormatTest, EveryStoredFormatParses) {
  // Every column format the windows of the program store.
  const char* formats[] = {
      "10L(2)@s1@284L(2)|M@s64@27L(1)|M@s10@36R(1)|M@d6@",
      "120L(2)@s30@",
      "12L(2)F@s1@265L(2)|M@s64@27L(1)|M@s10@36R(1)|M@d6@",
      "12L(2)F@s1@310L(2)|M@s64@27L(1)|M@s10@36R(1)|M@d6@",
      "200L(2)@s140@",
      "256L(2)~Лексемы, соответствующие активному слову~C(0)@s64@",
      "256L~Соответствующие лексемы~C@s64@",
      "272L(2)@s68@",
      "272L@s68@",
      "280L(2)@s70@",
      "600L(2)@s150@",
      "6L(2)|M@s1@230L(1)|M~I_VERB~L(2)@s64@656L(2)|M~F_M~@s164@840L(2)|M~K7~@s200@80L(2)|M"
      "~Лексема~C@s100@150L(2)|M~Противоположный вид~C@s164@146L(2)|M~Т-категория~@s140@656L(2)"
      "|M~TEMA~@s164@840L(2)|M~K7~@s210@760L(2)|M~K9~@s190@",
      "80L(2)@s20@[12R(1)@n3@/]",
      "80L(2)@s64@",
  };
  size_t columns[] = {4, 1, 4, 4, 1, 1, 1, 1, 1, 1, 1, 10, 2, 1};
  for (size_t k = 0; k < std::size(formats); ++k) {
    EXPECT_EQ(Parse(formats[k]).columns.size(), columns[k]) << formats[k];
  }

  ListFormat word = Parse("80L(2)@s20@[12R(1)@n3@/]");
  EXPECT_EQ(word.columns[1].align, 'R');
  EXPECT_EQ(word.columns[1].picture, "@n3");
  EXPECT_EQ(word.columns[1].group, 0);
  EXPECT_TRUE(word.columns[1].lastOnLine);
  ASSERT_EQ(word.groups.size(), 1u);
  EXPECT_EQ(word.groups[0].first, 1);

  ListFormat lexemes = Parse("256L(2)~Лексемы, соответствующие активному слову~C(0)@s64@");
  EXPECT_EQ(platform::Cp1251ToUtf8(lexemes.columns[0].heading),
            "Лексемы, соответствующие активному слову");
  EXPECT_EQ(lexemes.columns[0].headingAlign, 'C');
  EXPECT_EQ(lexemes.columns[0].indent, 2);

  ListFormat marks = Parse("12L(2)F@s1@310L(2)|M@s64@27L(1)|M@s10@36R(1)|M@d6@");
  EXPECT_TRUE(marks.columns[0].fixed);
  EXPECT_TRUE(marks.columns[1].rightBorder && marks.columns[1].resizable);
  EXPECT_EQ(marks.columns[3].picture, "@d6");
}

TEST(ListFormatTest, FaultsAreRefused) {
  const char* bad[] = {"", "L(2)@s20@", "80X@s20@", "80L(2)@s20", "80L(2)~open@s20@",
                       "80L(2)@q9@", "80L(2)@n0@", "[80L@s1@", "80L@s1@]", "[]", "80L(2x)@s1@"};
  for (const char* f : bad) {
    ListFormat out;
    std::string why;
    EXPECT_FALSE(ParseListFormat(f, &out, &why)) << f;
    EXPECT_NE(why.find("offset"), std::string::npos) << f;
  }
}

TEST(WindowDescTest, FaultsNameTheWindowAndControl) {
  struct Case {
    const char* json;
    const char* expect;
  };
  const Case cases[] = {
      {R"({"module":"m","window":"w","controls":[{"type":"list","id":"?L","format":"80X"}]})",
       "?L"},
      {R"({"module":"m","window":"w","controls":[{"type":"entry","id":"?E","picture":"@s"}]})",
       "picture"},
      {R"({"module":"m","window":"w","controls":[{"type":"entry","id":"?E"}]})", "picture"},
      {R"({"module":"m","window":"w","controls":[{"type":"button","id":"?B"},)"
       R"({"type":"button","id":"?b"}]})", "twice"},
      {R"({"module":"m","window":"w","controls":[{"type":"knob"}]})", "knob"},
      {R"({"module":"m","window":"w","controls":[{"type":"tab","text":"x"}]})", "sheet"},
      {R"({"module":"m","window":"w","controls":[{"type":"button","text":"ѣ"}]})", "1251"},
      {R"({"module":"m","window":"w","controls":[{"type":"button","colour":"red"}]})", "colour"},
      {R"({"module":"m","window":"w","menu":[{"type":"button"}]})", "menu"},
      {R"({"module":"m","controls":[]})", "window"},
      {R"([{"module":"m","window":"w"},)", "JSON"},
  };
  for (const Case& c : cases) {
    std::vector<WindowDesc> out;
    std::string why;
    EXPECT_FALSE(ParseWindowDescs(c.json, &out, &why)) << c.json;
    EXPECT_NE(why.find(c.expect), std::string::npos) << c.json << " -> " << why;
  }
}

TEST(WindowDescTest, ControlsAreNumberedInOrder) {
  const char* json = R"({"module":"m","window":"w","menu":[{"type":"menu","text":"&Файл",
    "controls":[{"type":"item","id":"?Exit","text":"E&xit","std":"close"},{"type":"separator"},
    {"type":"menu","text":"Sub","controls":[{"type":"item","id":"?Deep","text":"Deep"}]}]}],
    "controls":[{"type":"row","controls":[{"type":"button","id":"?OK","text":"OK"}]},
    {"type":"sheet","id":"?Sheet","controls":[{"type":"tab","text":"Один"}]}]})";
  std::vector<WindowDesc> out;
  std::string why;
  ASSERT_TRUE(ParseWindowDescs(json, &out, &why)) << why;
  const WindowDesc& w = out[0];
  EXPECT_EQ(w.Feq("?Exit"), 2);
  EXPECT_EQ(w.Feq("deep"), 4);
  EXPECT_EQ(w.Feq("?OK"), 5);
  EXPECT_EQ(w.Feq("?Sheet"), 6);
  EXPECT_EQ(w.controlCount, 7);
  EXPECT_EQ(w.Control(2)->std, StdAction::Close);
  EXPECT_EQ(platform::Cp1251ToUtf8(w.Control(7)->text), "Один");
  EXPECT_EQ(w.Feq("?Nothing"), 0);
}

TEST(PopupTextTest, ItemsSubmenusAndNames) {
  std::vector<PopupItem> items;
  ASSERT_TRUE(ParsePopupText("~&Find|~&Print|-|&Move{&Top|Page &Up|Page &Down|Bottom}|-|&Goto",
                             &items));
  ASSERT_EQ(items.size(), 6u);
  EXPECT_TRUE(items[0].disabled);
  EXPECT_EQ(items[1].number, 2);
  EXPECT_TRUE(items[2].separator);
  ASSERT_TRUE(items[3].submenu);
  EXPECT_EQ(items[3].items[1].number, 4);
  EXPECT_EQ(PopupItemName(items[3].items[1].text), "PageUp");
  EXPECT_EQ(items[5].number, 7);
  EXPECT_FALSE(ParsePopupText("a{b|c", &items));
  EXPECT_FALSE(ParsePopupText("a}b", &items));
}

}  // namespace
}  // namespace korawin::ui
