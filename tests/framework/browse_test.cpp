// The browse list on a real window and a real DAT file: paging at both ends of the data and of
// an empty file, RetainRow, the "View Open Error" fallback, the thumb, both locators, the keys,
// popup and toolbar of the list, and selection for a caller.
#include <cstring>

#include "tests/framework/card_fixture.h"

namespace korawin::framework::testing {
namespace {

using ui::EventKind;

class BrowseTest : public CardFixture {
 protected:
  using CardFixture::Names;
  std::vector<std::string> Names(size_t from, size_t count) {
    return {Alphabet().begin() + static_cast<std::ptrdiff_t>(from),
            Alphabet().begin() + static_cast<std::ptrdiff_t>(from + count)};
  }
  bool Scroll(int list, EventKind kind) { return driver_.Scroll(list, L::List, kind); }
};

TEST_F(BrowseTest, PagesThroughBothEndsOfTheData) {
  Fill(Names(0, 12));  // ALPHA .. LIMA
  int list = Start();
  ASSERT_NE(list, 0);
  EXPECT_EQ(Shown(list), Names(0, 5));
  EXPECT_EQ(Highlight(list), 1);
  EXPECT_EQ(ThumbOf(list), 50);

  // Inside the page only the highlight moves; on its edge the page shifts under it.
  for (int k = 0; k < 4; ++k) ASSERT_TRUE(Scroll(list, EventKind::ScrollDown));
  EXPECT_EQ(Shown(list), Names(0, 5));
  EXPECT_EQ(Highlight(list), 5);
  ASSERT_TRUE(Scroll(list, EventKind::ScrollDown));
  EXPECT_EQ(Shown(list), Names(1, 5));
  EXPECT_EQ(Highlight(list), 5);

  ASSERT_TRUE(Scroll(list, EventKind::PageDown));
  EXPECT_EQ(Shown(list), Names(6, 5));
  // One record is left: the page takes it and the highlight goes to the end.
  ASSERT_TRUE(Scroll(list, EventKind::PageDown));
  EXPECT_EQ(Shown(list), Names(7, 5));
  EXPECT_EQ(Highlight(list), 5);
  EXPECT_EQ(ThumbOf(list), 100);
  ASSERT_TRUE(Scroll(list, EventKind::ScrollDown));
  EXPECT_EQ(Shown(list), Names(7, 5));
  EXPECT_EQ(ThumbOf(list), 100);

  ASSERT_TRUE(Scroll(list, EventKind::PageUp));
  EXPECT_EQ(Shown(list), Names(2, 5));
  EXPECT_EQ(Highlight(list), 5);
  EXPECT_EQ(ThumbOf(list), 50);
  ASSERT_TRUE(Scroll(list, EventKind::PageUp));  // two records above: the highlight moves up
  EXPECT_EQ(Shown(list), Names(0, 5));
  EXPECT_EQ(Highlight(list), 2);

  ASSERT_TRUE(Scroll(list, EventKind::ScrollBottom));
  EXPECT_EQ(Shown(list), Names(7, 5));
  EXPECT_EQ(Highlight(list), 5);
  EXPECT_EQ(ThumbOf(list), 100);
  ASSERT_TRUE(Scroll(list, EventKind::ScrollTop));
  EXPECT_EQ(Shown(list), Names(0, 5));
  EXPECT_EQ(Highlight(list), 1);
  ASSERT_TRUE(Scroll(list, EventKind::ScrollUp));
  EXPECT_EQ(Shown(list), Names(0, 5));
  EXPECT_EQ(ThumbOf(list), 0);

  // Without a step object a drag pages: below the middle up, above it down, ends to the ends.
  ASSERT_TRUE(driver_.DragThumb(list, L::List, 70));
  EXPECT_EQ(Shown(list), Names(5, 5));
  ASSERT_TRUE(driver_.DragThumb(list, L::List, 100));
  EXPECT_EQ(Shown(list), Names(7, 5));
  ASSERT_TRUE(driver_.DragThumb(list, L::List, 30));
  EXPECT_EQ(Shown(list), Names(2, 5));
  ASSERT_TRUE(driver_.DragThumb(list, L::List, 1));
  EXPECT_EQ(Shown(list), Names(0, 5));

  // A list grown taller in a window that kept its size (its layout settled after the first
  // fill) fills its new rows at once.
  ASSERT_TRUE(driver_.ShowRows(list, L::List, 8));
  EXPECT_EQ(Shown(list), Names(0, 8));
  Finish(list);
  EXPECT_TRUE(Captions().empty());
}

TEST_F(BrowseTest, EmptyFileAndAFileShorterThanAPage) {
  int list = Start();
  ASSERT_NE(list, 0);
  EXPECT_TRUE(Shown(list).empty());
  EXPECT_EQ(Highlight(list), 0);
  EXPECT_EQ(ThumbOf(list), -1);
  for (EventKind k : {EventKind::ScrollDown, EventKind::PageDown, EventKind::ScrollBottom,
                      EventKind::ScrollUp, EventKind::PageUp, EventKind::ScrollTop})
    ASSERT_TRUE(Scroll(list, k));
  EXPECT_TRUE(Shown(list).empty());
  Finish(list);

  Fill(Names(0, 3));
  list = Start();
  EXPECT_EQ(Shown(list), Names(0, 3));
  EXPECT_EQ(ThumbOf(list), -1);  // no scroll bar while the page is not full
  ASSERT_TRUE(Scroll(list, EventKind::PageDown));
  EXPECT_EQ(Shown(list), Names(0, 3));
  EXPECT_EQ(Highlight(list), 3);
  ASSERT_TRUE(Scroll(list, EventKind::ScrollBottom));
  EXPECT_EQ(Shown(list), Names(0, 3));
  ASSERT_TRUE(Scroll(list, EventKind::PageUp));
  EXPECT_EQ(Highlight(list), 1);
  Finish(list);
  EXPECT_TRUE(Captions().empty());
}

TEST_F(BrowseTest, RetainRowKeepsTheChangedRecordOnItsLine) {
  Fill(Names(0, 20));
  for (bool retain : {true, false}) {
    SCOPED_TRACE(retain ? "RetainRow" : "without RetainRow");
    configureList = [retain](CardList& l) { l.browse.RetainRow = retain; };
    int list = Start();
    ASSERT_TRUE(Scroll(list, EventKind::PageDown));
    ASSERT_EQ(Shown(list)[0], "FOXTROT");
    ASSERT_TRUE(driver_.ChooseRow(list, L::List, 3));
    ASSERT_EQ(Shown(list)[2], retain ? "HOTEL" : "HOTEL2");
    const std::string name = retain ? "HOTEL2" : "HOTEL3";
    ASSERT_TRUE(driver_.Press(list, L::Change));
    int form = driver_.WaitFor("Карточка");
    ASSERT_NE(form, 0);
    ASSERT_TRUE(driver_.Type(form, F::Name, name));
    ASSERT_TRUE(driver_.Press(form, F::OK));
    EXPECT_FALSE(driver_.IsOpen(form));
    EXPECT_EQ(lastResponse.load(), RequestCompleted);
    if (retain) {
      EXPECT_EQ(Shown(list), (std::vector<std::string>{"FOXTROT", "GOLF", name, "INDIA", "JULIETT"}));
      EXPECT_EQ(Highlight(list), 3);
    } else {
      EXPECT_EQ(Shown(list), (std::vector<std::string>{name, "INDIA", "JULIETT", "KILO", "LIMA"}));
      EXPECT_EQ(Highlight(list), 1);
    }
    Finish(list);
  }
  // With too few records above it the record goes as high as it can.
  configureList = [](CardList& l) { l.browse.RetainRow = true; };
  int list = Start();
  ASSERT_TRUE(driver_.ChooseRow(list, L::List, 3));
  ASSERT_TRUE(driver_.Press(list, L::Change));
  int form = driver_.WaitFor("Карточка");
  ASSERT_TRUE(driver_.Type(form, F::Name, "AAA"));
  ASSERT_TRUE(driver_.Press(form, F::OK));
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"AAA", "ALPHA", "BRAVO", "DELTA", "ECHO"}));
  EXPECT_EQ(Highlight(list), 1);
  Finish(list);
  EXPECT_TRUE(Captions().empty());
}

char gTheme[10];

TEST_F(BrowseTest, RangeValueWithAQuoteGivesViewOpenErrorAndTheWholeList) {
  Fill({"ALPHA", "BRAVO", "CHARLIE"}, "Motion");
  Fill({"DELTA", "ECHO"}, "Rest");
  configureList = [](CardList& l) {
    l.browse.AddSortOrder(kKeyTheme);
    l.browse.AddRange(kTheme - 1, lang::Variable::String(gTheme, sizeof gTheme));
  };
  std::memset(gTheme, ' ', sizeof gTheme);
  std::memcpy(gTheme, "rest", 4);  // the key folds case
  int list = Start();
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"DELTA", "ECHO"}));
  Finish(list);
  EXPECT_TRUE(Captions().empty());

  std::memcpy(gTheme, "it's", 4);
  list = Start();
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"ALPHA", "BRAVO", "CHARLIE", "DELTA", "ECHO"}));
  auto boxes = backend_.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].box.caption, "View Open Error");
  EXPECT_NE(boxes[0].box.text.find("Filter and Range Limits ignored."), std::string::npos);
  // The list keeps running unfiltered; the refused text is not offered again.
  ASSERT_TRUE(Scroll(list, EventKind::ScrollDown));
  EXPECT_EQ(backend_.Boxes().size(), 1u);
  Finish(list);
}

TEST_F(BrowseTest, ThumbFollowsTheStepTable) {
  Fill(Alphabet());
  configureList = [](CardList& l) {
    l.step.Init(StepLetters, StepLookupLetters);
    l.browse.AddStep(l.step);
  };
  int list = Start();
  EXPECT_EQ(Shown(list), Names(0, 5));
  EXPECT_EQ(ThumbOf(list), 2);  // "ALP" lies between "AF" and "AN"
  // Step 50 stands for "MF": the first record from there is MIKE.
  ASSERT_TRUE(driver_.DragThumb(list, L::List, 50));
  EXPECT_EQ(Shown(list), Names(12, 5));
  EXPECT_EQ(Highlight(list), 1);
  EXPECT_EQ(ThumbOf(list), 50);
  // Step 95 stands for "Y ": YANKEE, on a page topped up from above.
  ASSERT_TRUE(driver_.DragThumb(list, L::List, 95));
  EXPECT_EQ(Shown(list), Names(21, 5));
  EXPECT_EQ(Highlight(list), 4);
  EXPECT_EQ(ThumbOf(list), 95);
  ASSERT_TRUE(driver_.DragThumb(list, L::List, 1));
  EXPECT_EQ(Shown(list), Names(0, 5));
  Finish(list);
}

TEST_F(BrowseTest, StepLocatorJumpsByTheFirstLetter) {
  Fill(Alphabet());
  configureList = [](CardList& l) {
    l.stepLocator.Init(l.browse, l.Field(kName));
    l.browse.AddLocator(l.stepLocator);
  };
  int list = Start();
  ASSERT_TRUE(driver_.Key(list, L::List, 'k'));
  EXPECT_EQ(Shown(list), Names(10, 5));  // KILO ..
  EXPECT_EQ(Highlight(list), 1);
  ASSERT_TRUE(Scroll(list, EventKind::ScrollDown));
  // LIMA already starts with L: the key is not taken and nothing moves.
  ASSERT_TRUE(driver_.Key(list, L::List, 'L'));
  EXPECT_EQ(Shown(list), Names(10, 5));
  EXPECT_EQ(Highlight(list), 2);
  ASSERT_TRUE(driver_.Key(list, L::List, 'Z'));
  EXPECT_EQ(Shown(list), Names(21, 5));
  EXPECT_EQ(Highlight(list), 5);
  Finish(list);
}

TEST_F(BrowseTest, IncrementalLocatorFollowsWhatIsTyped) {
  Fill(Alphabet());
  configureList = [](CardList& l) {
    l.incLocator.Init(l.browse, l.Field(kName), L::Locator);
    l.browse.AddLocator(l.incLocator);
  };
  int list = Start();
  ASSERT_TRUE(driver_.Key(list, L::List, 'j'));
  ASSERT_TRUE(driver_.Key(list, L::List, 'u'));
  EXPECT_EQ(driver_.Text(list, L::Locator), "ju");
  EXPECT_EQ(Shown(list), Names(9, 5));  // JULIETT ..
  ASSERT_TRUE(driver_.Key(list, L::List, 'x'));
  EXPECT_EQ(driver_.Text(list, L::Locator), "jux");
  EXPECT_EQ(Shown(list), Names(10, 5));  // nothing starts with "JUX": KILO
  ASSERT_TRUE(driver_.Key(list, L::List, ui::kKeyBackspace));
  EXPECT_EQ(driver_.Text(list, L::Locator), "ju");
  EXPECT_EQ(Shown(list), Names(9, 5));
  // Scrolling forgets what was typed.
  ASSERT_TRUE(Scroll(list, EventKind::ScrollDown));
  EXPECT_EQ(driver_.Text(list, L::Locator), "");
  // Past the last card: the last page, its last row highlighted.
  ASSERT_TRUE(driver_.Key(list, L::List, 'z'));
  ASSERT_TRUE(driver_.Key(list, L::List, 'z'));
  EXPECT_EQ(Shown(list), Names(21, 5));
  EXPECT_EQ(Highlight(list), 5);
  Finish(list);
}

TEST_F(BrowseTest, AlertKeysPopupAndToolbarPressTheButtons) {
  Fill(Names(0, 12));
  int list = Start();
  std::vector<int> keys = driver_.Control(list, L::List).alertKeys;
  for (const char* name : {"Insert", "Ctrl+Enter", "Delete"})
    EXPECT_NE(std::find(keys.begin(), keys.end(), ui::KeyFromName(name)), keys.end()) << name;

  // The popup mimics the buttons: its second item is Change.
  backend_.QueueChoice(2);
  ASSERT_TRUE(driver_.Mouse(list, L::List, ui::kMouseRight));
  EXPECT_EQ(backend_.Popups().back(), "&Insert|&Change|&Delete");
  int form = driver_.WaitFor("Карточка");
  ASSERT_NE(form, 0);
  EXPECT_EQ(driver_.Text(form, F::Name), "ALPHA");
  ASSERT_TRUE(driver_.Press(form, F::Cancel));

  // The Delete key asks to confirm the delete; No keeps the record.
  backend_.QueueAnswer(ButtonNo);
  ASSERT_TRUE(driver_.Key(list, L::List, ui::KeyFromName("Delete")));
  EXPECT_EQ(Captions(), std::vector<std::string>{"Confirm Delete"});
  EXPECT_EQ(Names().size(), 12u);

  // The list target's tips, and its navigation.
  EXPECT_EQ(driver_.Control(list, L::TbTop).tip, "Go to the First Page");
  EXPECT_EQ(driver_.Control(list, L::TbNext).tip, "Go to the Next Record");
  EXPECT_EQ(driver_.Control(list, L::TbInsert).tip, "Insert a new Record");
  ASSERT_TRUE(driver_.Press(list, L::TbBottom));
  EXPECT_EQ(Shown(list), Names(7, 5));
  ASSERT_TRUE(driver_.Press(list, L::TbTop));
  EXPECT_EQ(Shown(list), Names(0, 5));

  // Insert from the toolbar; on the form "next" saves and starts another record.
  ASSERT_TRUE(driver_.Press(list, L::TbInsert));
  form = driver_.WaitFor("Карточка");
  ASSERT_NE(form, 0);
  EXPECT_EQ(driver_.Control(form, F::TbInsert).tip, "Save record and add another");
  EXPECT_EQ(driver_.Control(form, F::TbNext).tip, "Save record and add another");
  ASSERT_TRUE(driver_.Type(form, F::Name, "AARDVARK"));
  ASSERT_TRUE(driver_.Press(form, F::TbNext));
  form = driver_.WaitFor("Карточка");
  ASSERT_NE(form, 0);
  EXPECT_EQ(driver_.Text(form, F::Name), "");
  EXPECT_EQ(forms.load(), 4);  // change, delete, insert and the next insert
  ASSERT_TRUE(driver_.Press(form, F::Cancel));
  EXPECT_FALSE(driver_.IsOpen(form));
  EXPECT_EQ(Shown(list)[0], "AARDVARK");
  EXPECT_EQ(Names().size(), 13u);
  Finish(list);
}

TEST_F(BrowseTest, SelectingHandsTheChosenRecordToTheCaller) {
  Fill(Names(0, 8));
  configureList = [](CardList& l) {
    l.browse.Selecting = true;
    l.browse.SelectControl = L::Select;
  };
  int list = Start();
  ASSERT_TRUE(Scroll(list, EventKind::PageDown));
  ASSERT_TRUE(driver_.ChooseRow(list, L::List, 2));
  backend_.QueueChoice(4);  // the popup's Select
  ASSERT_TRUE(driver_.Mouse(list, L::List, ui::kMouseRight));
  EXPECT_EQ(backend_.Popups().back(), "&Insert|&Change|&Delete|&Select");
  EXPECT_TRUE(driver_.WaitThreadEnd(thread_));
  EXPECT_EQ(cards_.Get(kName), "ECHO");
}

}  // namespace
}  // namespace korawin::framework::testing
