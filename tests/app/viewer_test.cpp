// The text viewer "Просмотр  ASCII File" on the headless backend: CARD.TXT of the working
// folder in either code page, the open dialog when there is none, moving through the file,
// find, goto and the print options' range check.
#include <gtest/gtest.h>

#include <fstream>

#include "app/app_windows.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "framework/ascii_viewer.h"
#include "framework/framework_windows.h"
#include "platform/codepage.h"
#include "tests/app/gui_fixture.h"
#include "tests/support/temp_dir.h"

namespace korawin::app::testing {
namespace {

namespace V = ids::TextViewer;
constexpr char kCaption[] = "Просмотр  ASCII File";
// The popup's items as the runtime numbers them.
enum Item { kFind = 1, kPrint, kTop, kPageUp, kPageDown, kBottom, kGoto, kOpen };

class ViewerTest : public GuiFixture {
 protected:
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_.File(name), std::ios::binary) << bytes;
  }
  // Lines "<prefix> n" for n = 1 to count, ended by CR LF, in Windows-1251.
  static std::string Numbered(int count, const std::string& prefix) {
    std::string out;
    for (int n = 1; n <= count; ++n) out += prefix + " " + std::to_string(n) + "\r\n";
    return out;
  }
  int OpenViewer() { return Open(modules::kTextViewer, kCaption); }
  std::vector<std::string> Lines(int w) { return Column(w, V::AsciiBox); }
  // Chooses item of the list's popup menu.
  bool Popup(int w, int item) {
    backend_.QueueChoice(item);
    return driver_.Mouse(w, V::AsciiBox, ui::kMouseRight);
  }
};

TEST_F(ViewerTest, ReadsCardTxtInWindows1251AndUtf8AndMovesThroughIt) {
  for (bool utf8 : {false, true}) {
    SCOPED_TRACE(utf8);
    std::string text = Numbered(100, "Строка ёлки");
    Write("CARD.TXT", utf8 ? text : platform::Utf8ToCp1251Lossy(text));
    int w = OpenViewer();
    ASSERT_NE(w, 0);
    std::vector<std::string> lines = Lines(w);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Строка ёлки 1");
    size_t page = lines.size();
    ASSERT_TRUE(Popup(w, kPageDown));
    EXPECT_EQ(Lines(w)[0], "Строка ёлки " + std::to_string(page + 1));
    ASSERT_TRUE(Popup(w, kBottom));
    EXPECT_EQ(Lines(w).back(), "Строка ёлки 100");
    EXPECT_EQ(Lines(w).size(), page);
    ASSERT_TRUE(Popup(w, kTop));
    EXPECT_EQ(Lines(w)[0], "Строка ёлки 1");
    ASSERT_TRUE(driver_.Scroll(w, V::AsciiBox, ui::EventKind::ScrollDown));
    EXPECT_EQ(Lines(w)[0], "Строка ёлки 2");
    // Goto: the line chosen is selected and shown.
    ASSERT_TRUE(Popup(w, kGoto));
    int go = driver_.WaitFor("Goto");
    ASSERT_NE(go, 0);
    ASSERT_TRUE(driver_.Settle());
    ASSERT_TRUE(driver_.Type(go, ids::AsciiGoto::LineNo, "77"));
    ASSERT_TRUE(driver_.Press(go, ids::AsciiGoto::Go));
    lines = Lines(w);
    int row = driver_.Value(w, V::AsciiBox);
    ASSERT_GE(row, 1);
    EXPECT_EQ(lines[static_cast<size_t>(row - 1)], "Строка ёлки 77");
    CloseAll();
  }
}

TEST_F(ViewerTest, OneLineFileStaysOnItsLineAndWithoutCardTxtTheUserChoosesAFile) {
  // No CARD.TXT: the open dialog; cancelled, the window closes.
  int thread = StartModule(modules::kTextViewer);
  ASSERT_NE(thread, 0);
  ASSERT_TRUE(driver_.WaitThreadEnd(thread));
  ASSERT_EQ(backend_.FileDialogs().size(), 1u);
  EXPECT_EQ(backend_.FileDialogs()[0].title, "Select an Ascii File");
  EXPECT_EQ(backend_.FileDialogs()[0].mask, "Text files|*.Txt|All files|*.*");

  // A file chosen in the dialog, of one line ended by LF alone.
  Write("one.txt", "only line\n");
  backend_.QueueFile(dir_.File("one.txt"));
  int w = OpenViewer();
  ASSERT_NE(w, 0);
  EXPECT_EQ(Lines(w), (std::vector<std::string>{"only line"}));
  ASSERT_TRUE(Popup(w, kPageDown));
  ASSERT_TRUE(Popup(w, kBottom));
  EXPECT_EQ(Lines(w), (std::vector<std::string>{"only line"}));
}

TEST_F(ViewerTest, FindHonoursMatchCaseAndDirection) {
  Write("CARD.TXT", platform::Utf8ToCp1251Lossy("первая\r\nвторая\r\nТретья Строка\r\nчетвёртая\r\n"));
  int w = OpenViewer();
  ASSERT_NE(w, 0);
  ASSERT_TRUE(driver_.ChooseRow(w, V::AsciiBox, 1));
  namespace F = ids::AsciiFind;
  ASSERT_TRUE(Popup(w, kFind));
  int find = driver_.WaitFor("Find");
  ASSERT_NE(find, 0);
  ASSERT_TRUE(driver_.Settle());
  ASSERT_TRUE(driver_.Type(find, F::FindText, "строка"));
  ASSERT_TRUE(driver_.Check(find, F::MatchCase, true));
  ASSERT_TRUE(driver_.Press(find, F::Next));
  EXPECT_EQ(driver_.Value(w, V::AsciiBox), 1);  // not found with the case kept
  ASSERT_TRUE(driver_.Check(find, F::MatchCase, false));
  ASSERT_TRUE(driver_.Press(find, F::Next));
  EXPECT_EQ(driver_.Value(w, V::AsciiBox), 3);
  // Up from line 3: "вто" is on line 2.
  ASSERT_TRUE(driver_.Type(find, F::FindText, "ВТО"));
  ASSERT_TRUE(driver_.ChooseRadio(find, F::Direction, 1));
  ASSERT_TRUE(driver_.Press(find, F::Next));
  EXPECT_EQ(driver_.Value(w, V::AsciiBox), 2);
  ASSERT_TRUE(driver_.Press(find, F::Cancel));
}

TEST_F(ViewerTest, PrintRangeIsCheckedAndPrintsThroughThePreview) {
  Write("CARD.TXT", Numbered(40, "line"));
  int w = OpenViewer();
  ASSERT_NE(w, 0);
  namespace O = ids::AsciiPrintOptions;
  ASSERT_TRUE(Popup(w, kPrint));
  int options = driver_.WaitFor("Print Options");
  ASSERT_NE(options, 0);
  ASSERT_TRUE(driver_.Settle());
  ASSERT_TRUE(driver_.ChooseRadio(options, O::Range, 3));
  ASSERT_TRUE(driver_.Type(options, O::FirstLine, "30"));
  ASSERT_TRUE(driver_.Type(options, O::LastLine, "20"));
  ASSERT_TRUE(driver_.Press(options, O::Print));
  ASSERT_EQ(MessageTexts().size(), 1u);
  EXPECT_EQ(MessageTexts()[0], "The value of first line  must be between 1 and 40.");
  EXPECT_EQ(driver_.Focus(options), O::FirstLine);
  // Lines 1 to 40 into the preview, which is left without printing.
  ASSERT_TRUE(driver_.ChooseRadio(options, O::Range, 1));
  ASSERT_TRUE(driver_.Press(options, O::Print));
  int preview = driver_.WaitFor("Report Preview");
  ASSERT_NE(preview, 0);
  ASSERT_TRUE(driver_.Settle());
  EXPECT_EQ(driver_.Status(preview, 1), "Page 1 of 1");
  ASSERT_TRUE(driver_.Press(preview, ids::PrintPreview::PRTPREV_TBAREXIT));
  EXPECT_EQ(driver_.Find("Report Preview"), 0);
}

// The file side alone: the code page decided on the whole file, lines that fill a record.
TEST(AsciiFileTest, CodePageIsDecidedOnTheWholeFileAndFullLinesStayWhole) {
  test::TempDir dir("ascii");
  auto lines = [](const std::string& path) {
    framework::AsciiFileClass file;
    std::string name = path;
    EXPECT_TRUE(file.Init(&name, nullptr));
    std::vector<std::string> out;
    for (std::string line; file.GetLine(static_cast<int64_t>(out.size()) + 1, &line);)
      out.push_back(platform::Cp1251ToUtf8(line));
    return std::make_pair(file.Utf8(), out);
  };
  // A UTF-8 character cut by the first megabyte's end; a byte-order mark before the text.
  std::string big = "\xEF\xBB\xBF" + std::string((1 << 20) - 4, 'a') + "жизнь\n";
  std::ofstream(dir.File("big.txt"), std::ios::binary) << big << "вторая\n";
  auto [utf8, got] = lines(dir.File("big.txt"));
  EXPECT_TRUE(utf8);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front().substr(0, 3), "aaa");
  EXPECT_EQ(got.back(), "вторая");
  // Valid UTF-8 for a megabyte, then a Windows-1251 byte: the whole file is Windows-1251.
  std::string mixed = std::string(1 << 20, 'b') + "\r\n" + platform::Utf8ToCp1251Lossy("ёж") + "\r\n";
  std::ofstream(dir.File("mixed.txt"), std::ios::binary) << mixed;
  auto [mixedUtf8, mixedLines] = lines(dir.File("mixed.txt"));
  EXPECT_FALSE(mixedUtf8);
  EXPECT_EQ(mixedLines.back(), "ёж");
  // A line of exactly 255 characters with CR LF is one line, not one and an empty one.
  std::string full(255, 'x');
  std::ofstream(dir.File("full.txt"), std::ios::binary) << full << "\r\n" << "next\r\n";
  auto [fullUtf8, fullLines] = lines(dir.File("full.txt"));
  EXPECT_EQ(fullLines, (std::vector<std::string>{full, "next"}));
}

}  // namespace
}  // namespace korawin::app::testing
