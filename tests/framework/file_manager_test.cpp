#include "framework/file_manager.h"

#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "storage/field_values.h"
#include "tests/framework/fake_driver.h"
#include "ui/halt.h"
#include "ui/headless_message_box.h"

namespace korawin::framework {
namespace {

using storage::kKeyDup;
using storage::kKeyNoCase;
using storage::kKeyOpt;
using storage::kTypeLong;
using storage::kTypeString;
using testing::FakeStore;
using testing::TestFile;

int haltCalls = 0;

class FileManagerTest : public ::testing::Test {
 protected:
  FileManagerTest()
      // CARDS: ID LONG (unique key 1), NAME STRING(20) (key 2, dups, no case), 30-byte memo.
      : cards_("cards", {{"CRD:ID", kTypeLong, 4}, {"CRD:NAME", kTypeString, 20}},
               {{"CRD:BY_ID", 0, {1}}, {"CRD:BY_NAME", kKeyDup | kKeyNoCase | kKeyOpt, {2}}},
               30) {}

  void SetUp() override {
    FakeStore::Instance().Reset();
    haltCalls = 0;
    previousHalt_ = ui::SetHaltHandler([](int, std::string_view) { ++haltCalls; });
    errors_.Init();
    errors_.SetUi(&ui_);
    fm_.Init(cards_.fd, errors_);
    fm_.AddKey(1, "crd:BY_ID");
    fm_.AddKey(2, "crd:BY_NAME");
  }
  void TearDown() override {
    fm_.Kill();
    ui::SetHaltHandler(previousHalt_);
  }

  // Stores records with the given ids and names through the manager.
  void Store(const std::vector<std::pair<int32_t, std::string>>& rows) {
    ASSERT_EQ(fm_.Open(), LevelBenign);
    for (const auto& [id, name] : rows) {
      cards_.SetLong(1, id);
      cards_.Set(2, name);
      ASSERT_EQ(fm_.Insert(), LevelBenign);
    }
    EXPECT_EQ(LevelBenign, fm_.Close());
  }

  TestFile cards_;
  ErrorClass errors_;
  ui::HeadlessMessageUi ui_;
  FileManager fm_;
  ui::HaltHandler previousHalt_ = nullptr;
};

TEST_F(FileManagerTest, OpenIsCountedAndTheLastCloseClosesTheFile) {
  FakeStore::Instance().MakeFile("cards");
  EXPECT_EQ(fm_.Open(), LevelBenign);
  EXPECT_EQ(fm_.Open(), LevelBenign);
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpOpen), 1);
  EXPECT_EQ(LevelBenign, fm_.Close());
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpClose), 0);
  EXPECT_TRUE(fm_.Info().Used);
  EXPECT_EQ(LevelBenign, fm_.Close());
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpClose), 1);
  EXPECT_FALSE(fm_.Info().Used);
  (void)fm_.Close();  // unmatched: nothing happens
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpClose), 1);
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(FileManagerTest, LazyOpenDefersTheRealOpenToFirstUseKeepingTheBuffer) {
  FakeStore::Instance().MakeFile("cards");
  fm_.LazyOpen = true;
  EXPECT_EQ(fm_.Open(), LevelBenign);
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpOpen), 0);
  cards_.SetLong(1, 7);
  cards_.Set(2, "idti");
  cards_.SetMemo("memo text");
  EXPECT_EQ(fm_.Insert(), LevelBenign);
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpOpen), 1);
  auto rows = FakeStore::Instance().Records("cards");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(cards_.LongOf(rows.begin()->second, 1), 7);
  EXPECT_EQ(cards_.FieldOf(rows.begin()->second, 2), "idti");
  EXPECT_NE(rows.begin()->second.find("memo text"), std::string::npos);
  EXPECT_EQ(LevelBenign, fm_.Close());
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpClose), 1);
}

TEST_F(FileManagerTest, UsingALazyFileThatWasNeverOpenedEndsTheProgram) {
  FakeStore::Instance().MakeFile("cards");
  fm_.LazyOpen = true;
  EXPECT_EQ(fm_.TryNext(), LevelFatal);  // returns only because the halt is replaced
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.text,
            "Attempt to use file (cards) before it was opened  Press OK to end this application");
  EXPECT_EQ(haltCalls, 1);
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpOpen), 0);
}

TEST_F(FileManagerTest, AccessDeniedFallsBackToReadOnlyAfterOneNotice) {
  FakeStore::Instance().MakeFile("cards");
  fm_.OpenMode = storage::kOpenReadWrite | storage::kShareDenyNone;
  // Both tries with write access are refused (before and after the recover option).
  FakeStore::Instance().FailNext(storage::kOpOpen, storage::kErrAccessDenied, 2);
  EXPECT_EQ(fm_.Open(), LevelBenign);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.caption, "Access Denied");
  EXPECT_EQ(ui_.Last().box.text, "Could not get write access to cards so trying read-only.");
  EXPECT_EQ(FakeStore::Instance().LastOpenMode("cards"), storage::kShareDenyNone);
  std::vector<std::string> sent = FakeStore::Instance().Sent("cards");
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpSend), 1);
  EXPECT_EQ(haltCalls, 0);
}

TEST_F(FileManagerTest, ReadOnlyOpenThatIsRefusedIsAFileAccessError) {
  FakeStore::Instance().MakeFile("cards");
  fm_.OpenMode = storage::kShareDenyNone;  // read only already
  FakeStore::Instance().FailNext(storage::kOpOpen, storage::kErrAccessDenied, 10);
  EXPECT_EQ(fm_.TryOpen(), LevelNotify);
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(fm_.Info().LastError, FileAccessError);
  EXPECT_EQ(fm_.Open(), LevelFatal);
  EXPECT_EQ(ui_.Last().box.caption, "File Access Error");
  EXPECT_EQ(haltCalls, 1);
}

TEST_F(FileManagerTest, MissingFileIsCreatedOnlyWhenCreateIsSet) {
  EXPECT_EQ(fm_.Open(), LevelBenign);
  EXPECT_TRUE(FakeStore::Instance().Exists("cards"));
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpCreate), 1);
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(LevelBenign, fm_.Close());

  FakeStore::Instance().Reset();
  fm_.Create = false;
  EXPECT_EQ(fm_.Open(), LevelFatal);
  EXPECT_FALSE(FakeStore::Instance().Exists("cards"));
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.text,
            "File (cards) could not be opened.  Error: File Not Found (2).  Press OK to end "
            "this application");
  EXPECT_EQ(haltCalls, 1);
}

TEST_F(FileManagerTest, FailedCreateIsAFileCreationError) {
  FakeStore::Instance().FailNext(storage::kOpCreate, storage::kErrAccessDenied);
  EXPECT_EQ(fm_.Open(), LevelFatal);
  EXPECT_EQ(ui_.Last().box.caption, "File Creation Error");
  EXPECT_EQ(haltCalls, 1);
}

TEST_F(FileManagerTest, InvalidKeyIsRebuiltAfterTheNotice) {
  FakeStore::Instance().MakeFile("cards");
  FakeStore::Instance().FailNext(storage::kOpOpen, storage::kErrKeyRebuild);
  EXPECT_EQ(fm_.Open(), LevelBenign);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.text, "cards key file is invalid. Key must be rebuilt.");
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpBuildFile), 1);
  EXPECT_TRUE(fm_.Info().Used);

  EXPECT_EQ(LevelBenign, fm_.Close());
  ui_.Clear();
  FakeStore::Instance().FailNext(storage::kOpOpen, storage::kErrKeyRebuild);
  FakeStore::Instance().FailNext(storage::kOpBuildFile, storage::kErrAccessDenied);
  EXPECT_EQ(fm_.TryOpen(), LevelFatal);  // the failed rebuild is shown even when quiet
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.caption, "Key was not built");
  EXPECT_EQ(haltCalls, 1);
}

TEST_F(FileManagerTest, MismatchedHeaderEndsTheOpenWithoutTouchingTheFile) {
  FakeStore::Instance().MakeFile("cards");
  FakeStore::Instance().FailNext(storage::kOpOpen, storage::kErrInvalidRecordDeclaration, 5);
  EXPECT_EQ(fm_.Open(), LevelFatal);
  EXPECT_EQ(ui_.Last().box.caption, "File Access Error");
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpCreate), 0);
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpBuildFile), 0);
  EXPECT_FALSE(fm_.Info().Used);
}

TEST_F(FileManagerTest, NextRunsToTheEndSilentlyAndReportsReadErrors) {
  Store({{1, "a"}, {2, "b"}});
  EXPECT_EQ(LevelBenign, fm_.Open());
  ASSERT_EQ(fm_.TrySetOrder(0, false), LevelBenign);
  EXPECT_EQ(fm_.Next(), LevelBenign);
  EXPECT_EQ(fm_.Next(), LevelBenign);
  EXPECT_EQ(fm_.Next(), LevelNotify);
  EXPECT_TRUE(fm_.Info().AtEOF);
  EXPECT_TRUE(ui_.Boxes().empty());

  FakeStore::Instance().FailNext(storage::kOpNext, storage::kErrReadFault);
  EXPECT_EQ(fm_.TryNext(), LevelFatal);
  EXPECT_FALSE(fm_.Info().AtEOF);
  EXPECT_TRUE(ui_.Boxes().empty());
  FakeStore::Instance().FailNext(storage::kOpNext, storage::kErrReadFault);
  EXPECT_EQ(fm_.Next(), LevelNotify);
  EXPECT_EQ(ui_.Last().box.caption, "Record Retrieval Error");
  EXPECT_EQ(LevelBenign, fm_.Close());
}

TEST_F(FileManagerTest, DuplicateInsertNamesTheKeyThatRefusedIt) {
  Store({{1, "a"}});
  EXPECT_EQ(LevelBenign, fm_.Open());
  cards_.SetLong(1, 1);
  cards_.Set(2, "other");
  EXPECT_EQ(fm_.Insert(), LevelNotify);
  EXPECT_EQ(ui_.Last().box.text,
            "Adding this record creates a duplicate entry for the key: crd:BY_ID");
  EXPECT_EQ(FakeStore::Instance().Records("cards").size(), 1u);
  ui_.Clear();
  EXPECT_EQ(fm_.TryInsert(), LevelNotify);
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(fm_.Info().LastError, DuplicateKeyError);
  EXPECT_EQ(LevelBenign, fm_.Close());
}

TEST_F(FileManagerTest, ChangeByAnotherStationShowsTheirVersionAndWatchesItAgain) {
  Store({{1, "mine"}});
  EXPECT_EQ(LevelBenign, fm_.Open());
  (void)fm_.TrySetOrder(0, false);  // the test looks at the record it leaves
  ASSERT_EQ(fm_.Next(), LevelBenign);
  ASSERT_EQ(fm_.Watch(), LevelBenign);
  std::string theirs = FakeStore::Instance().Records("cards")[1];
  theirs.replace(4, 6, "theirs");
  FakeStore::Instance().Rewrite("cards", 1, theirs);

  cards_.Set(2, "edited");
  EXPECT_EQ(fm_.Update(FromForm), LevelNotify);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.text,
            "This record was changed by another station. Those changes will now be displayed. "
            "Use the Ditto Button or Ctrl+' to recall your changes.");
  EXPECT_EQ(cards_.Get(2), "theirs");
  EXPECT_TRUE(fm_.Info().Watching);

  // Watched afresh: a second change by the other station is caught again, quietly.
  theirs.replace(4, 6, "again!");
  FakeStore::Instance().Rewrite("cards", 1, theirs);
  cards_.Set(2, "edited");
  EXPECT_EQ(fm_.Update(UpdateQuiet), LevelNotify);
  EXPECT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(fm_.Info().LastError, RecordChangedByOther);
  EXPECT_EQ(cards_.Get(2), "again!");

  // Nobody interferes now: the write goes through.
  cards_.Set(2, "edited");
  EXPECT_EQ(fm_.Update(), LevelBenign);
  EXPECT_EQ(cards_.FieldOf(FakeStore::Instance().Records("cards")[1], 2), "edited");
  EXPECT_EQ(LevelBenign, fm_.Close());
}

TEST_F(FileManagerTest, FailedPutIsRecordNotUpdated) {
  Store({{1, "a"}});
  EXPECT_EQ(LevelBenign, fm_.Open());
  (void)fm_.TrySetOrder(0, false);  // the test looks at the record it leaves
  (void)fm_.Next();  // the test looks at the record it leaves
  FakeStore::Instance().FailNext(storage::kOpPut, storage::kErrWriteFault);
  EXPECT_EQ(fm_.Update(), LevelNotify);
  EXPECT_EQ(ui_.Last().box.text,
            "An error (Write Fault (329)) was experienced when making changes to the cards file.");
  EXPECT_EQ(LevelBenign, fm_.Close());
}

class Validating : public FileManager {
 public:
  Level ValidateField(int field) override {
    checked.push_back(field);
    return field == failAt ? LevelNotify : LevelBenign;
  }
  void PrimeFields() override { std::memcpy(Buffer + 4, "primed", 6); }
  std::vector<int> checked;
  int failAt = 0;
};

TEST_F(FileManagerTest, ValidationStopsAtTheFirstBadFieldAndBlocksTheInsert) {
  FakeStore::Instance().MakeFile("cards");
  Validating v;
  v.Init(cards_.fd, errors_);
  v.failAt = 2;
  EXPECT_EQ(LevelBenign, v.Open());
  int failed = 0;
  EXPECT_EQ(v.ValidateFields(1, 2, &failed), LevelNotify);
  EXPECT_EQ(failed, 2);
  EXPECT_EQ(v.Insert(), LevelNotify);
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpAdd), 0);

  // An alias validates and primes through the manager it stands for, whose record survives.
  TestFile alias("cards", {{"ALI:ID", kTypeLong, 4}, {"ALI:NAME", kTypeString, 20}}, {}, 30);
  FileManager a;
  a.Init(alias.fd, errors_);
  a.AliasedFile = &v;
  cards_.Set(2, "v's own");
  v.checked.clear();
  EXPECT_EQ(a.ValidateRecord(), LevelNotify);
  EXPECT_EQ(v.checked, (std::vector<int>{1, 2}));
  EXPECT_EQ(a.PrimeRecord(), LevelBenign);
  EXPECT_EQ(alias.Get(2), "primed");
  EXPECT_EQ(cards_.Get(2), "v's own");
  EXPECT_EQ(LevelBenign, v.Close());
}

TEST_F(FileManagerTest, SavedBuffersCoverTheRecordAndTheMemo) {
  cards_.SetLong(1, 5);
  cards_.Set(2, "before");
  cards_.SetMemo("memo before");
  uint16_t id = fm_.SaveBuffer();
  uint16_t other = fm_.SaveBuffer();
  EXPECT_TRUE(fm_.EqualBuffer(id));
  cards_.SetMemo("memo after");
  EXPECT_FALSE(fm_.EqualBuffer(id));  // a memo change alone counts
  cards_.SetMemo("memo before");
  cards_.Set(2, "after");
  EXPECT_FALSE(fm_.EqualBuffer(id));
  cards_.SetMemo("memo after");
  fm_.RestoreBuffer(id, false);
  EXPECT_EQ(cards_.Get(2), "before");
  EXPECT_EQ(cards_.Memo(), "memo before");
  fm_.RestoreBuffer(id, true);
  cards_.Set(2, "gone");
  fm_.RestoreBuffer(id, true);  // released: nothing comes back
  EXPECT_EQ(cards_.Get(2), "gone");
  EXPECT_TRUE(fm_.Buffers.size() == 2u);  // the other copy and its memo
  fm_.RestoreBuffer(other, true);
  EXPECT_TRUE(fm_.Buffers.empty());
}

TEST_F(FileManagerTest, RestoreFileResumesAScanInterruptedByNestedWork) {
  Store({{1, "c"}, {2, "a"}, {3, "b"}});
  EXPECT_EQ(LevelBenign, fm_.Open());
  (void)fm_.TrySetOrder(2, false);  // the test looks at the record it leaves
  ASSERT_EQ(fm_.Next(), LevelBenign);
  EXPECT_EQ(cards_.Get(2), "a");
  fm_.SaveFile();
  (void)fm_.TrySetOrder(0, false);  // the test looks at the record it leaves
  (void)fm_.Next();  // the test looks at the record it leaves
  (void)fm_.Next();  // the test looks at the record it leaves
  (void)fm_.Next();  // the test looks at the record it leaves
  EXPECT_EQ(cards_.Get(2), "b");
  cards_.Set(2, "scribbled");
  fm_.RestoreFile();
  EXPECT_EQ(cards_.Get(2), "a");
  ASSERT_EQ(fm_.Next(), LevelBenign);
  EXPECT_EQ(cards_.Get(2), "b");
  ASSERT_EQ(fm_.Next(), LevelBenign);
  EXPECT_EQ(cards_.Get(2), "c");
  EXPECT_EQ(LevelBenign, fm_.Close());
}

TEST_F(FileManagerTest, PositionAndRegetFindTheSameRecordAgain) {
  Store({{1, "a"}, {2, "b"}});
  EXPECT_EQ(LevelBenign, fm_.Open());
  (void)fm_.TrySetOrder(0, false);  // the test looks at the record it leaves
  (void)fm_.Next();  // the test looks at the record it leaves
  (void)fm_.Next();  // the test looks at the record it leaves
  std::string pos = fm_.Position();
  fm_.PrimaryKey = 1;
  std::string keyPos = fm_.Position();
  (void)fm_.TrySetOrder(0, false);  // the test looks at the record it leaves
  (void)fm_.Next();  // the test looks at the record it leaves
  EXPECT_EQ(cards_.Get(2), "a");
  EXPECT_EQ(fm_.TryReget(keyPos), LevelBenign);
  EXPECT_EQ(cards_.Get(2), "b");
  fm_.PrimaryKey = 0;
  (void)fm_.TrySetOrder(0, false);  // the test looks at the record it leaves
  (void)fm_.Next();  // the test looks at the record it leaves
  EXPECT_EQ(fm_.TryReget(pos), LevelBenign);
  EXPECT_EQ(cards_.Get(2), "b");
  EXPECT_EQ(fm_.TryReget("99"), LevelNotify);
  EXPECT_EQ(LevelBenign, fm_.Close());
}

TEST_F(FileManagerTest, EachThreadKeepsItsOwnOpenCount) {
  FakeStore::Instance().MakeFile("cards");
  ASSERT_EQ(fm_.Open(), LevelBenign);
  std::thread other([&] {
    EXPECT_EQ(fm_.Info().Opened, 0);
    EXPECT_EQ(fm_.Open(), LevelBenign);
    EXPECT_EQ(fm_.Info().Opened, 1);
    EXPECT_EQ(LevelBenign, fm_.Close());
    EXPECT_FALSE(fm_.Info().Used);
  });
  other.join();
  // The other thread's last close must not close the file under this one.
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpClose), 0);
  EXPECT_TRUE(fm_.Info().Used);
  EXPECT_EQ(fm_.Info().Opened, 1);
  EXPECT_EQ(LevelBenign, fm_.Close());
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpClose), 1);
}

class AutoIncTest : public FileManagerTest {
 protected:
  void SetUp() override {
    FileManagerTest::SetUp();
    fm_.Kill();
    fm_.Init(cards_.fd, errors_);
    fm_.AddKey(1, "crd:BY_ID", 1);
  }
};

TEST_F(AutoIncTest, NumbersStartAtOneAndFollowTheHighest) {
  FakeStore::Instance().MakeFile("cards");
  EXPECT_EQ(LevelBenign, fm_.Open());
  cards_.Set(2, "first");
  ASSERT_EQ(fm_.PrimeRecord(true), LevelBenign);
  EXPECT_EQ(cards_.GetLong(1), 1);
  EXPECT_TRUE(fm_.Info().AutoIncDone);
  cards_.Set(2, "first, completed");
  ASSERT_EQ(fm_.Insert(), LevelBenign);  // completes the reserved record
  EXPECT_FALSE(fm_.Info().AutoIncDone);
  auto rows = FakeStore::Instance().Records("cards");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(cards_.FieldOf(rows.begin()->second, 2), "first, completed");

  std::string high = rows.begin()->second;
  int32_t forty = 40;
  std::memcpy(high.data(), &forty, 4);
  FakeStore::Instance().Rewrite("cards", 9, high);
  ASSERT_EQ(fm_.PrimeRecord(), LevelBenign);
  EXPECT_EQ(cards_.GetLong(1), 41);
  EXPECT_EQ(cards_.Get(2), "");  // cleared before numbering

  fm_.CancelAutoInc();
  EXPECT_FALSE(fm_.Info().AutoIncDone);
  EXPECT_EQ(FakeStore::Instance().Records("cards").size(), 2u);
  EXPECT_EQ(LevelBenign, fm_.Close());
}

TEST_F(AutoIncTest, ThreeFailedAddsAskAndNoLeavesNothingAdded) {
  FakeStore::Instance().MakeFile("cards");
  EXPECT_EQ(LevelBenign, fm_.Open());
  FakeStore::Instance().FailNext(storage::kOpAdd, storage::kErrDuplicateKey, 3);
  ui_.QueueAnswer(ButtonNo);
  EXPECT_EQ(fm_.PrimeAutoInc(), LevelNotify);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.caption, "Auto Increment Error");
  EXPECT_NE(ui_.Last().box.text.find("Try Again?"), std::string::npos);
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpAdd), 3);
  EXPECT_TRUE(FakeStore::Instance().Records("cards").empty());
  EXPECT_FALSE(fm_.Info().AutoIncDone);

  // Yes gives three more attempts; the fourth add overall succeeds.
  ui_.Clear();
  FakeStore::Instance().FailNext(storage::kOpAdd, storage::kErrDuplicateKey, 3);
  ui_.QueueAnswer(ButtonYes);
  EXPECT_EQ(fm_.PrimeAutoInc(), LevelBenign);
  EXPECT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(FakeStore::Instance().Records("cards").size(), 1u);

  // Quiet: no question after the third failure.
  ui_.Clear();
  fm_.Info().AutoIncDone = false;
  FakeStore::Instance().FailNext(storage::kOpAdd, storage::kErrDuplicateKey, 3);
  EXPECT_EQ(fm_.TryPrimeAutoInc(), LevelNotify);
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(LevelBenign, fm_.Close());
}

TEST(AutoIncPrefix, NumberRestartsForANewPrefix) {
  FakeStore::Instance().Reset();
  TestFile lines("lines", {{"LIN:DOC", kTypeString, 4}, {"LIN:NO", kTypeLong, 4}},
                 {{"LIN:BY_DOC", 0, {1, 2}}});
  ErrorClass errors;
  errors.Init();
  ui::HeadlessMessageUi ui;
  errors.SetUi(&ui);
  FileManager fm;
  fm.Init(lines.fd, errors);
  fm.AddKey(1, "lin:BY_DOC", 2);
  FakeStore::Instance().MakeFile("lines");
  EXPECT_EQ(LevelBenign, fm.Open());
  auto add = [&](const std::string& doc) {
    lines.Set(1, doc);
    EXPECT_EQ(fm.Insert(), LevelBenign);
    return lines.GetLong(2);
  };
  EXPECT_EQ(add("bbb"), 1);
  EXPECT_EQ(add("bbb"), 2);
  EXPECT_EQ(add("aaa"), 1);  // a prefix sorting before the other one
  EXPECT_EQ(add("ccc"), 1);  // and one after
  EXPECT_EQ(add("bbb"), 3);
  EXPECT_EQ(add("aaa"), 2);
  EXPECT_TRUE(ui.Boxes().empty());
  EXPECT_EQ(LevelBenign, fm.Close());
  fm.Kill();
}

TEST(FieldValues, NumbersRoundTripThroughEveryNumericType) {
  for (uint8_t type : {storage::kTypeByte, storage::kTypeShort, storage::kTypeLong,
                       storage::kTypeULong, storage::kTypeReal, storage::kTypeDecimal}) {
    storage::FieldDescriptor f;
    f.type = type;
    f.offset = 2;
    f.size = type == storage::kTypeByte ? 1 : type == storage::kTypeShort ? 2
             : type == storage::kTypeReal ? 8 : type == storage::kTypeDecimal ? 4 : 4;
    char rec[16] = {};
    storage::WriteNumber(f, rec, 123);
    EXPECT_EQ(storage::ReadNumber(f, rec), 123) << int(type);
    storage::WriteNumber(f, rec, storage::ReadNumber(f, rec) + 1.0);
    EXPECT_EQ(storage::ReadNumber(f, rec), 124) << int(type);
    storage::ClearField(f, rec, true);
    EXPECT_GT(storage::ReadNumber(f, rec), 124) << int(type);
  }
  // Windows-1251 "Тема" against "тема".
  EXPECT_TRUE(storage::SameText("\xD2\xE5\xEC\xE0  ", "\xF2\xE5\xEC\xE0", true));
  EXPECT_FALSE(storage::SameText("\xD2\xE5\xEC\xE0", "\xF2\xE5\xEC\xE0", false));
}

}  // namespace
}  // namespace korawin::framework
