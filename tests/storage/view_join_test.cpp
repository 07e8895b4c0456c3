// Views that join further files to their primary file.
#include <gtest/gtest.h>

#include "tests/storage/view_test_util.h"

namespace korawin::storage::testing {
namespace {

using Rows = std::vector<std::string>;

class ViewJoinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lang::PUSHSCOPE(1);
    lex_ = std::make_unique<MemoryTable>(
        "LEX", std::vector<MemoryField>{{"LX:NAME", kTypeString, 10}, {"LX:THEME", kTypeString, 10}},
        std::vector<MemoryKey>{{"LX:BY_NAME", {1}, 0}});
    themes_ = std::make_unique<MemoryTable>(
        "THEMES", std::vector<MemoryField>{{"TH:T", kTypeString, 10}, {"TH:NOTE", kTypeString, 10}},
        std::vector<MemoryKey>{{"TH:BY_T", {1, 2}, kKeyDup | kKeyNoCase}});
    notes_ = std::make_unique<MemoryTable>(
        "NOTES", std::vector<MemoryField>{{"NT:NOTE", kTypeString, 10}, {"NT:TEXT", kTypeString, 10}},
        std::vector<MemoryKey>{{"NT:BY_NOTE", {1}, kKeyDup}});
    for (MemoryTable* t : {lex_.get(), themes_.get(), notes_.get()}) {
      BindFields(*t);
      ASSERT_EQ(CallDriver(kOpOpen, t->fd()), 0);
    }
    auto lex = [&](const char* name, const char* theme) {
      lex_->Set(1, name);
      lex_->Set(2, theme);
      lex_->Insert();
    };
    lex("c", "Y");  // the key folds case: "Y" finds "y"
    lex("a", "x");
    lex("b", "none");
    auto theme = [&](const char* t, const char* note) {
      themes_->Set(1, t);
      themes_->Set(2, note);
      themes_->Insert();
    };
    theme("y", "n3");
    theme("x", "n2");
    theme("x", "n1");
    theme("z", "n4");
    notes_->Set(1, "n2");
    notes_->Set(2, "two");
    notes_->Insert();
    notes_->Set(1, "n3");
    notes_->Set(2, "three");
    notes_->Insert();
  }
  void TearDown() override {
    view_.reset();
    lang::POPSCOPE();
  }

  ViewJoin ThemeJoin(bool inner) {
    ViewJoin j;
    j.file = &themes_->fd();
    j.key = 1;
    j.linkFields = {2};
    j.inner = inner;
    return j;
  }
  void Open(std::vector<ViewJoin> joins, const char* order = "LX:NAME") {
    view_ = std::make_unique<View>(ViewDeclaration{&lex_->fd(), {1}, std::move(joins)});
    ASSERT_EQ(CallView(kOpOpen, *view_), 0);
    ASSERT_EQ(SetProperty(*view_, kViewPropertyOrder, order), 0);
  }
  std::string Row() const {
    std::string r = lex_->Get(1) + ":" + themes_->Get(2);
    if (view_->FileCount() > 2) r += ":" + notes_->Get(2);
    return r;
  }
  Rows Read(bool forward = true, int limit = 100) {
    return Walk(*view_, forward, [&] { return Row(); }, limit);
  }

  std::unique_ptr<MemoryTable> lex_, themes_, notes_;
  std::unique_ptr<View> view_;
};

TEST_F(ViewJoinTest, InnerJoinSkipsUnmatchedRecordsOuterJoinYieldsThemOnce) {
  Open({ThemeJoin(true)});
  EXPECT_EQ(Read(), (Rows{"a:n1", "a:n2", "c:n3"}));
  EXPECT_EQ(CallView(kOpNext, *view_), kErrRecordNotAvailable);
  EXPECT_EQ(Read(false), (Rows{"c:n3", "a:n2", "a:n1"}));
  DriverArgs count;
  ASSERT_EQ(CallView(kOpRecordsFile, *view_, count), 0);
  EXPECT_EQ(count.value, 3);

  themes_->Set(2, "stale");  // an outer join without a match clears the joined buffer
  Open({ThemeJoin(false)});
  EXPECT_EQ(Read(), (Rows{"a:n1", "a:n2", "b:", "c:n3"}));
  ASSERT_EQ(CallView(kOpRecordsFile, *view_, count), 0);
  EXPECT_EQ(count.value, 4);
}

TEST_F(ViewJoinTest, WalksTurnAroundInsideTheRecordsOfOneEnclosingRecord) {
  Open({ThemeJoin(false)});
  EXPECT_EQ(Read(true, 2), (Rows{"a:n1", "a:n2"}));
  EXPECT_EQ(Read(false, 1), (Rows{"a:n1"}));
  EXPECT_EQ(Read(true, 3), (Rows{"a:n2", "b:", "c:n3"}));
  EXPECT_EQ(Read(false, 2), (Rows{"b:", "a:n2"}));
}

TEST_F(ViewJoinTest, FilterSeesTheJoinedRecord) {
  Open({ThemeJoin(true)});
  ASSERT_EQ(SetProperty(*view_, kViewPropertyFilter, "th:note = 'n2' or lx:name = 'c'"), 0);
  EXPECT_EQ(Read(), (Rows{"a:n2", "c:n3"}));
  EXPECT_EQ(Read(false), (Rows{"c:n3", "a:n2"}));
}

TEST_F(ViewJoinTest, NestedJoinsAndJoinsByExpression) {
  ViewJoin notes;
  notes.file = &notes_->fd();
  notes.key = 1;
  notes.linkFields = {2};
  notes.inner = true;
  ViewJoin themes = ThemeJoin(false);
  themes.joins = {notes};
  Open({themes});
  // n1 has no note, so the theme record drops out; "b" has no theme and stays once.
  EXPECT_EQ(Read(), (Rows{"a:n2:two", "b::", "c:n3:three"}));
  EXPECT_EQ(Read(false), (Rows{"c:n3:three", "b::", "a:n2:two"}));

  ViewJoin byText;
  byText.file = &themes_->fd();
  byText.expression = "upper(th:t) = upper(lx:theme) and th:note <> 'n2'";
  byText.inner = true;
  Open({byText});
  EXPECT_EQ(Read(), (Rows{"a:n1", "c:n3"}));
  ViewJoin unbound = byText;
  unbound.expression = "th:t = nobody:here";
  Open({unbound});
  EXPECT_EQ(CallView(kOpNext, *view_), 801);
}

TEST_F(ViewJoinTest, PositionsNameTheJoinedRecordToo) {
  for (const char* order : {"LX:NAME", "-TH:NOTE"}) {  // along the key, then sorted
    SCOPED_TRACE(order);
    Open({ThemeJoin(true)}, order);
    Rows all = Read();
    ASSERT_EQ(all.size(), 3u);
    ASSERT_EQ(SetView(*view_, 0), 0);
    Read(true, 2);
    DriverArgs pos;
    ASSERT_EQ(CallView(kOpPositionFile, *view_, pos), 0);
    Read();
    DriverArgs again;
    again.text = pos.result;
    ASSERT_EQ(CallView(kOpRegetFile, *view_, again), 0);
    EXPECT_EQ(Row(), all[1]);
    ASSERT_EQ(CallView(kOpResetFile, *view_, again), 0);
    EXPECT_EQ(Read(), (Rows{all[1], all[2]}));
    ASSERT_EQ(CallView(kOpResetFile, *view_, again), 0);
    EXPECT_EQ(Read(false), (Rows{all[1], all[0]}));
  }
}

TEST_F(ViewJoinTest, SortingByAJoinedFieldAndFlushRereadsJoinedRecords) {
  Open({ThemeJoin(false)}, "-TH:NOTE, LX:NAME");
  EXPECT_EQ(Read(), (Rows{"c:n3", "a:n2", "a:n1", "b:"}));
  Open({ThemeJoin(true)});
  EXPECT_EQ(Read(true, 1), (Rows{"a:n1"}));
  // Another station rewrites the joined record; FLUSH makes the view read it again.
  themes_->Set(1, "x");
  themes_->Set(2, "n1b");
  themes_->Overwrite(3);
  EXPECT_EQ(Read(true, 1), (Rows{"a:n2"}));
  ASSERT_EQ(CallView(kOpFlush, *view_), 0);
  EXPECT_EQ(Read(false, 1), (Rows{"a:n1b"}));
}

TEST(ViewDescriptionTest, DescribesProjectionJoinsAndNesting) {
  MemoryTable a("A", {{"A:K", kTypeString, 4}, {"A:L", kTypeLong, 4}}, {{"A:BY_K", {1}, 0}});
  MemoryTable b("B", {{"B:K", kTypeString, 4}}, {{"B:BY_K", {1}, kKeyDup}});
  ViewJoin inner{&b.fd(), 1, {1}, "", true, {1}, {}};
  ViewJoin outer{&b.fd(), 0, {}, "B:K = A:K", false, {}, {inner}};
  View v(ViewDeclaration{&a.fd(), {1, 2}, {outer}});
  EXPECT_EQ(DescribeView(v),
            "VIEW(A)\n  PROJECT(FIELD(A:K),FIELD(A:L))\n  JOIN('B:K = A:K')\n"
            "    JOIN(B:BY_K,FIELD(B:K)),INNER\n      PROJECT(FIELD(B:K))\n    END\n  END\nEND\n");
  EXPECT_EQ(v.FileCount(), 3);
  EXPECT_EQ(v.FileIndex(b.fd()), 1);
}

}  // namespace
}  // namespace korawin::storage::testing
