// Ordering, filtering and positioning of a view over one file.
#include <gtest/gtest.h>

#include "tests/storage/view_test_util.h"

namespace korawin::storage::testing {
namespace {

class ViewPipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lang::PUSHSCOPE(1);
    words_ = MakeWords();
    BindFields(*words_);
    // Record order: pear, Apple, fig, (blank), banana, cherry, apricot.
    AddWord(*words_, "pear", 40);
    AddWord(*words_, "Apple", 10);
    AddWord(*words_, "fig", 30, "*");
    AddWord(*words_, "", 30);
    AddWord(*words_, "banana", 20, "*");
    AddWord(*words_, "cherry", 30);
    AddWord(*words_, "apricot", 10);
    ASSERT_EQ(CallDriver(kOpOpen, words_->fd()), 0);
    view_ = std::make_unique<View>(ViewDeclaration{&words_->fd(), {1, 2}, {}});
    ASSERT_EQ(CallView(kOpOpen, *view_), 0);
  }
  void TearDown() override {
    view_.reset();
    lang::POPSCOPE();
  }
  std::vector<std::string> Names(bool forward = true, int limit = 100) {
    return Walk(*view_, forward, [&] { return words_->Get(1); }, limit);
  }

  std::unique_ptr<MemoryTable> words_;
  std::unique_ptr<View> view_;
};

using List = std::vector<std::string>;

TEST_F(ViewPipelineTest, OrderOfAKeyWalksTheKeyAndLeavesOutItsBlankRecords) {
  ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, " +UPPER(w:name)"), 0);
  EXPECT_EQ(Names(), (List{"Apple", "apricot", "banana", "cherry", "fig", "pear"}));
  DriverArgs a;
  ASSERT_EQ(CallView(kOpRecordsFile, *view_, a), 0);
  EXPECT_EQ(a.value, 6);
  // The key delivered the order: the file was walked along key 1, never sorted in memory.
  EXPECT_GT(words_->calls[kOpSetKey], 0);
  EXPECT_EQ(words_->calls[kOpSetFile], 0);
  // Backwards from the start of the order gives the last record first.
  ASSERT_EQ(SetView(*view_, 0), 0);
  EXPECT_EQ(Names(false), (List{"pear", "fig", "cherry", "banana", "apricot", "Apple"}));
}

TEST_F(ViewPipelineTest, OrderNoKeyDeliversIsSortedStablyWithEveryRecord) {
  // A plain name item on a NOCASE key is case-sensitive, so no key delivers it.
  ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, "W:NAME"), 0);
  EXPECT_EQ(Names(), (List{"", "Apple", "apricot", "banana", "cherry", "fig", "pear"}));
  // Equal numbers keep record order; the second item breaks ties descending.
  ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, "w:num, -w:name"), 0);
  EXPECT_EQ(Names(), (List{"apricot", "Apple", "banana", "fig", "cherry", "", "pear"}));
  ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, "w:num"), 0);
  EXPECT_EQ(Names(), (List{"Apple", "apricot", "banana", "fig", "", "cherry", "pear"}));
  // A descending item matches the descending key and reads along it.
  const int before = words_->calls[kOpSetKey];
  ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, "-w:num"), 0);
  EXPECT_EQ(Names(), (List{"pear", "fig", "", "cherry", "banana", "Apple", "apricot"}));
  EXPECT_GT(words_->calls[kOpSetKey], before);
}

TEST_F(ViewPipelineTest, FilterPassesOnlyMatchingRecordsAndCountsThem) {
  ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, "UPPER(W:NAME)"), 0);
  ASSERT_EQ(SetProperty(*view_, kViewPropertyFilter, "(w:mark='*')"), 0);
  EXPECT_EQ(Names(), (List{"banana", "fig"}));
  DriverArgs a;
  ASSERT_EQ(CallView(kOpRecordsFile, *view_, a), 0);
  EXPECT_EQ(a.value, 2);
  ASSERT_EQ(SetProperty(*view_, kViewPropertyFilter, "w:num > 100"), 0);
  ASSERT_EQ(CallView(kOpRecordsFile, *view_, a), 0);
  EXPECT_EQ(a.value, 0);
  EXPECT_EQ(CallView(kOpNext, *view_), kErrRecordNotAvailable);
  EXPECT_EQ(CallView(kOpPrevious, *view_), kErrRecordNotAvailable);
}

TEST_F(ViewPipelineTest, RefusedTextsLeaveTheViewWithoutFilterOrOrder) {
  ASSERT_EQ(SetProperty(*view_, kViewPropertyFilter, "w:num = 10"), 0);
  EXPECT_EQ(SetProperty(*view_, kViewPropertyFilter, "(w:mark='*' and nobody:there=1)"), 801);
  EXPECT_EQ(ErrorCode(), 801);
  EXPECT_EQ(Names().size(), 7u);  // no filter left, record order
  EXPECT_EQ(SetProperty(*view_, kViewPropertyFilter, "w:num = = 3"), 800);
  EXPECT_EQ(Names().size(), 7u);
  ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, "-w:num"), 0);
  EXPECT_EQ(SetProperty(*view_, kViewPropertyOrder, "w:num w:name"), 800);
  EXPECT_EQ(Names(), (List{"pear", "Apple", "fig", "", "banana", "cherry", "apricot"}));
  EXPECT_EQ(SetProperty(*view_, kViewPropertyOrder, "UPPER(w:name),"), 800);
  EXPECT_EQ(Names().front(), "pear");
}

TEST_F(ViewPipelineTest, ChangingOrderOrFilterBetweenReadsStartsOver) {
  ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, "UPPER(W:NAME)"), 0);
  EXPECT_EQ(Names(true, 3), (List{"Apple", "apricot", "banana"}));
  ASSERT_EQ(SetProperty(*view_, kViewPropertyFilter, "w:num >= 30"), 0);
  EXPECT_EQ(Names(true, 1), (List{"cherry"}));
  ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, "-W:NUM"), 0);
  EXPECT_EQ(Names(true, 1), (List{"pear"}));
}

TEST_F(ViewPipelineTest, SetWithItemsStartsAtTheBufferValues) {
  for (const char* order : {"UPPER(W:NAME)", "W:NAME"}) {  // along the key, then sorted
    SCOPED_TRACE(order);
    ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, order), 0);
    words_->Set(1, "b");
    ASSERT_EQ(SetView(*view_, 1), 0);
    words_->Set(1, "zzz");  // captured at SET time, later changes do not count
    EXPECT_EQ(Names(true, 2), (List{"banana", "cherry"}));
    words_->Set(1, "banana");
    ASSERT_EQ(SetView(*view_, 1), 0);
    EXPECT_EQ(Names(false, 2), (List{"banana", "apricot"}));
    words_->Set(1, "q");
    ASSERT_EQ(SetView(*view_, 5), 0);  // cut to the one item
    EXPECT_EQ(CallView(kOpNext, *view_), kErrRecordNotAvailable);
    ASSERT_EQ(SetView(*view_, 0), 0);
    EXPECT_EQ(Names(true, 1).front(), order[0] == 'U' ? "Apple" : "");
  }
}

TEST_F(ViewPipelineTest, SetOnASecondComponentKeyValueWithDuplicates) {
  ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, "W:NUM"), 0);
  words_->SetLong(2, 30);
  ASSERT_EQ(SetView(*view_, 1), 0);
  EXPECT_EQ(Names(true, 4), (List{"fig", "", "cherry", "pear"}));
  words_->SetLong(2, 30);
  ASSERT_EQ(SetView(*view_, 1), 0);
  EXPECT_EQ(Names(false, 4), (List{"cherry", "", "fig", "banana"}));
}

TEST_F(ViewPipelineTest, EndsAnswer33AndTheWalkTurnsAround) {
  for (const char* order : {"UPPER(W:NAME)", "W:NAME"}) {
    SCOPED_TRACE(order);
    ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, order), 0);
    ASSERT_EQ(SetProperty(*view_, kViewPropertyFilter, "w:name <> 'fig'"), 0);
    List all = Names();
    EXPECT_EQ(CallView(kOpNext, *view_), kErrRecordNotAvailable);
    List back = Names(false);
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, all);
    EXPECT_EQ(CallView(kOpPrevious, *view_), kErrRecordNotAvailable);
    // Forward two, back one: the first record again.
    ASSERT_EQ(Names(true, 2).size(), 2u);
    EXPECT_EQ(Names(false, 1).front(), all[0]);
    DriverArgs skip;
    skip.number = 3;
    ASSERT_EQ(CallView(kOpSkip, *view_, skip), 0);
    EXPECT_EQ(words_->Get(1), all[3]);
    skip.number = -2;
    ASSERT_EQ(CallView(kOpSkip, *view_, skip), 0);
    EXPECT_EQ(words_->Get(1), all[1]);
  }
}

TEST_F(ViewPipelineTest, PositionsComeBackThroughRegetAndReset) {
  for (const char* order : {"UPPER(W:NAME)", "W:NAME", ""}) {
    SCOPED_TRACE(order);
    ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, order), 0);
    List firstThree = Names(true, 3);
    DriverArgs pos;
    ASSERT_EQ(CallView(kOpPositionFile, *view_, pos), 0);
    const std::string third = pos.result;
    List more = Names(true, 2);
    // REGET reads the record without moving the sequence.
    DriverArgs reget;
    reget.text = third;
    ASSERT_EQ(CallView(kOpRegetFile, *view_, reget), 0);
    EXPECT_EQ(words_->Get(1), firstThree[2]);
    List after = Names(true, 1);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after[0], firstThree[2]);
    // RESET: both directions start with the record itself.
    ASSERT_EQ(CallView(kOpResetFile, *view_, reget), 0);
    EXPECT_EQ(Names(true, 2), (List{firstThree[2], more[0]}));
    ASSERT_EQ(CallView(kOpResetFile, *view_, reget), 0);
    EXPECT_EQ(Names(false, 2), (List{firstThree[2], firstThree[1]}));
  }
  DriverArgs bad;
  bad.text = "garbage";
  EXPECT_EQ(CallView(kOpResetFile, *view_, bad), kErrRecordNotFound);
  EXPECT_EQ(CallView(kOpRegetFile, *view_, bad), kErrRecordNotFound);
}

TEST_F(ViewPipelineTest, ResetViewFileStartsAtTheFilesCurrentRecord) {
  ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, "UPPER(W:NAME)"), 0);
  DriverArgs get;
  get.number = 6;  // cherry, read directly from the file
  ASSERT_EQ(CallDriver(kOpGetFilePtr, words_->fd(), get), 0);
  DriverArgs reset;
  reset.number = 0;
  ASSERT_EQ(CallView(kOpResetViewFile, *view_, reset), 0);
  EXPECT_EQ(Names(true, 2), (List{"cherry", "fig"}));
  reset.number = 3;
  EXPECT_EQ(CallView(kOpResetViewFile, *view_, reset), kErrInvalidParameters);
}

TEST_F(ViewPipelineTest, CountingWithAFilterKeepsTheSequence) {
  ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, "UPPER(W:NAME)"), 0);
  ASSERT_EQ(SetProperty(*view_, kViewPropertyFilter, "w:num <> 20"), 0);
  EXPECT_EQ(Names(true, 2), (List{"Apple", "apricot"}));
  DriverArgs a;
  ASSERT_EQ(CallView(kOpRecordsFile, *view_, a), 0);
  EXPECT_EQ(a.value, 5);
  EXPECT_EQ(words_->Get(1), "apricot");  // the buffer is what the last read left
  EXPECT_EQ(Names(true, 1), (List{"cherry"}));
  EXPECT_EQ(Names(false, 1), (List{"apricot"}));
  // Counted at the end: the walk still knows it is past the end.
  List rest = Names();
  ASSERT_EQ(CallView(kOpRecordsFile, *view_, a), 0);
  EXPECT_EQ(CallView(kOpNext, *view_), kErrRecordNotAvailable);
  EXPECT_EQ(Names(false, 1), (List{"pear"}));
}

TEST_F(ViewPipelineTest, WritesGoToThePrimaryRecordAndFlushShowsThem) {
  ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, "W:NUM, W:NAME"), 0);  // sorted in memory
  EXPECT_EQ(Names(true, 2), (List{"Apple", "apricot"}));
  words_->SetLong(2, 99);
  ASSERT_EQ(CallView(kOpPut, *view_), 0);
  EXPECT_EQ(CallView(kOpFlush, *view_), 0);
  // The sequence goes on from apricot in its new place: last.
  EXPECT_EQ(CallView(kOpNext, *view_), kErrRecordNotAvailable);
  EXPECT_EQ(Names(false, 2), (List{"apricot", "pear"}));
  ASSERT_EQ(SetView(*view_, 0), 0);
  EXPECT_EQ(Names(), (List{"Apple", "banana", "", "cherry", "fig", "pear", "apricot"}));
  // DELETE through the view removes the current record; the walk goes on around it.
  ASSERT_EQ(SetView(*view_, 0), 0);
  EXPECT_EQ(Names(true, 2), (List{"Apple", "banana"}));
  ASSERT_EQ(CallView(kOpDelete, *view_), 0);
  EXPECT_EQ(Names(true, 1), (List{""}));
  EXPECT_EQ(Names(false, 2), (List{"Apple"}));
  DriverArgs a;
  ASSERT_EQ(CallView(kOpRecordsFile, *view_, a), 0);
  EXPECT_EQ(a.value, 6);
  // WATCH asks the primary's driver to watch the next record read.
  const int watches = words_->calls[kOpWatch];
  ASSERT_EQ(CallView(kOpWatch, *view_), 0);
  ASSERT_EQ(CallView(kOpNext, *view_), 0);
  EXPECT_EQ(words_->calls[kOpWatch], watches + 1);
  ASSERT_EQ(CallView(kOpNext, *view_), 0);
  EXPECT_EQ(words_->calls[kOpWatch], watches + 1);
  ASSERT_EQ(CallView(kOpHoldFile, *view_), 0);
  ASSERT_EQ(CallView(kOpRelease, *view_), 0);
  EXPECT_EQ(words_->calls[kOpHoldFile], 1);
  // A write the primary refuses comes back unchanged.
  words_->Set(1, "fig");
  EXPECT_EQ(CallView(kOpPut, *view_), kErrDuplicateKey);
}

TEST_F(ViewPipelineTest, EntriesOfClosedAndOpenViews) {
  EXPECT_EQ(CallView(kOpOpen, *view_), kErrFileAlreadyOpen);
  EXPECT_EQ(CallView(kOpBlobSize, *view_), kErrUnsupportedFunction);
  EXPECT_EQ(CallView(kOpAdd, *view_), kErrUnsupportedFunction);
  EXPECT_EQ(CallView(kOpGetFileKey, *view_), kErrUnsupportedFunction);
  ASSERT_EQ(CallView(kOpClose, *view_), 0);
  EXPECT_FALSE(view_->is_open());
  EXPECT_EQ(CallView(kOpNext, *view_), kErrFileNotOpen);
  EXPECT_EQ(CallView(kOpAdd, *view_), kErrUnsupportedFunction);
  // Reopened, the view has forgotten its order and filter.
  ASSERT_EQ(CallView(kOpOpen, *view_), 0);
  EXPECT_EQ(Names().front(), "pear");
  // A join on a key the joined file lacks is refused at OPEN.
  ViewJoin badKey;
  badKey.file = &words_->fd();
  badKey.key = 9;
  badKey.linkFields = {1};
  View broken(ViewDeclaration{&words_->fd(), {}, {badKey}});
  EXPECT_EQ(CallView(kOpOpen, broken), kErrInvalidParameters);
}

}  // namespace
}  // namespace korawin::storage::testing
