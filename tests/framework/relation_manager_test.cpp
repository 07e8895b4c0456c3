#include "framework/relation_manager.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "tests/framework/fake_driver.h"
#include "ui/halt.h"
#include "ui/headless_message_box.h"

namespace korawin::framework {
namespace {

using storage::kKeyDup;
using storage::kKeyNoCase;
using storage::kKeyOpt;
using storage::kTypeString;
using testing::FakeStore;
using testing::TestFile;

using Snapshot = std::map<std::string, std::map<uint32_t, std::string>>;

// Themes (parent) -> cards (child, by theme) -> notes (grandchild, by card id).
class RelationTest : public ::testing::Test {
 protected:
  RelationTest()
      : themes_("themes", {{"TEM:T", kTypeString, 20}}, {{"TEM:K_T", kKeyNoCase | kKeyOpt, {1}}}),
        cards_("cards", {{"CRD:ID", kTypeString, 10}, {"CRD:THEME", kTypeString, 30}},
               {{"CRD:BY_ID", 0, {1}}, {"CRD:BY_THEME", kKeyDup | kKeyNoCase | kKeyOpt, {2}}}),
        notes_("notes", {{"NOT:CARD", kTypeString, 10}, {"NOT:TEXT", kTypeString, 20}},
               {{"NOT:BY_CARD", kKeyDup | kKeyOpt, {1}}}) {}

  void SetUp() override {
    FakeStore::Instance().Reset();
    previousHalt_ = ui::SetHaltHandler([](int, std::string_view) {});
    errors_.Init();
    errors_.SetUi(&ui_);
    themeFm_.Init(themes_.fd, errors_);
    themeFm_.AddKey(1, "tem:K_T");
    cardFm_.Init(cards_.fd, errors_);
    cardFm_.AddKey(1, "crd:BY_ID");
    cardFm_.AddKey(2, "crd:BY_THEME");
    noteFm_.Init(notes_.fd, errors_);
    noteFm_.AddKey(1, "not:BY_CARD");
  }
  void TearDown() override {
    for (RelationManager* rm : {&themeRm_, &cardRm_, &noteRm_}) rm->Kill();
    for (FileManager* fm : {&themeFm_, &cardFm_, &noteFm_}) fm->Kill();
    ui::SetHaltHandler(previousHalt_);
  }

  void Relate(uint8_t themeUpdate, uint8_t themeDelete, uint8_t cardUpdate, uint8_t cardDelete,
              bool useLogout = true) {
    themeRm_.Init(themeFm_, useLogout);
    cardRm_.Init(cardFm_, useLogout);
    noteRm_.Init(noteFm_, useLogout);
    themeRm_.AddRelation(cardRm_, themeUpdate, themeDelete, 2, {{1, 2}});
    cardRm_.AddRelation(noteRm_, cardUpdate, cardDelete, 1, {{1, 1}});
    cardRm_.AddRelation(themeRm_);
    noteRm_.AddRelation(cardRm_);
  }

  // Two themes, three cards (two on "Motion", spelled differently), notes on two cards.
  void Fill() {
    for (FileManager* fm : {&themeFm_, &cardFm_, &noteFm_}) ASSERT_EQ(fm->Open(), LevelBenign);
    for (const char* t : {"Motion", "Rest"}) {
      themes_.Set(1, t);
      ASSERT_EQ(themeFm_.Insert(), LevelBenign);
    }
    for (auto [id, theme] : {std::pair{"c1", "Motion"}, {"c2", "MOTION"}, {"c3", "Rest"}}) {
      cards_.Set(1, id);
      cards_.Set(2, theme);
      ASSERT_EQ(cardFm_.Insert(), LevelBenign);
    }
    for (auto [card, text] : {std::pair{"c1", "n1"}, {"c1", "n2"}, {"c3", "n3"}}) {
      notes_.Set(1, card);
      notes_.Set(2, text);
      ASSERT_EQ(noteFm_.Insert(), LevelBenign);
    }
    for (FileManager* fm : {&themeFm_, &cardFm_, &noteFm_}) EXPECT_EQ(LevelBenign, fm->Close());
  }

  Snapshot Disk() {
    Snapshot s;
    for (const char* f : {"themes", "cards", "notes"}) s[f] = FakeStore::Instance().Records(f);
    return s;
  }

  // Reads the theme into the buffer as an edit would, remembering its linking values.
  void ReadTheme(const std::string& t) {
    EXPECT_EQ(LevelBenign, themeRm_.Open());
    themes_.Set(1, t);
    ASSERT_EQ(themeFm_.TryFetch(1), LevelBenign);
    themeRm_.SaveLinkingFields();
  }

  std::vector<std::string> CardThemes() {
    std::vector<std::string> out;
    for (auto& [rec, bytes] : FakeStore::Instance().Records("cards"))
      out.push_back(cards_.FieldOf(bytes, 1) + "=" + cards_.FieldOf(bytes, 2));
    return out;
  }

  std::vector<std::string> NoteTexts() {
    std::vector<std::string> out;
    for (auto& [rec, bytes] : FakeStore::Instance().Records("notes"))
      out.push_back(notes_.FieldOf(bytes, 2));
    return out;
  }

  TestFile themes_, cards_, notes_;
  ErrorClass errors_;
  ui::HeadlessMessageUi ui_;
  FileManager themeFm_, cardFm_, noteFm_;
  RelationManager themeRm_, cardRm_, noteRm_;
  ui::HaltHandler previousHalt_ = nullptr;
};

TEST_F(RelationTest, RestrictDeleteIsRefusedAndLeavesBothRecords) {
  Relate(RiCascade, RiRestrict, RiCascade, RiCascade);
  Fill();
  Snapshot before = Disk();
  ReadTheme("Motion");
  ui_.QueueAnswer(ButtonYes);  // confirm the delete
  ui_.QueueAnswer(ButtonOk);   // the refusal
  ui_.QueueAnswer(ButtonNo);   // do not try again
  EXPECT_EQ(themeRm_.Delete(true), LevelNotify);
  auto boxes = ui_.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].box.caption, "Confirm Delete");
  EXPECT_EQ(boxes[1].box.caption, "Referential Integrity Delete Error");
  EXPECT_EQ(boxes[1].box.text,
            "This record is referenced from the file cards. This record cannot be deleted while "
            "these references exist.");
  EXPECT_EQ(boxes[2].box.caption, "Record Delete Error");
  EXPECT_EQ(Disk(), before);

  // A theme no card uses goes without a question of integrity.
  ui_.Clear();
  themes_.Set(1, "Rest");
  FakeStore::Instance().Rewrite("cards", 3, [&] {
    std::string bytes = before["cards"][3];
    bytes.replace(10, 4, "    ");
    return bytes;
  }());
  ASSERT_EQ(themeFm_.TryFetch(1), LevelBenign);
  EXPECT_EQ(themeRm_.Delete(false), LevelBenign);
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(FakeStore::Instance().Records("themes").size(), 1u);
  EXPECT_EQ(LevelBenign, themeRm_.Close());
}

TEST_F(RelationTest, DeclinedConfirmationDeletesNothing) {
  Relate(RiCascade, RiCascade, RiCascade, RiCascade);
  Fill();
  Snapshot before = Disk();
  ReadTheme("Motion");
  ui_.QueueAnswer(ButtonNo);
  EXPECT_EQ(themeRm_.Delete(true), LevelNotify);
  EXPECT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(Disk(), before);
  EXPECT_EQ(LevelBenign, themeRm_.Close());
}

TEST_F(RelationTest, CascadeUpdateRewritesEveryLinkedCardBlankPadded) {
  Relate(RiCascade, RiRestrict, RiCascade, RiCascade);
  Fill();
  ReadTheme("Motion");
  themes_.Set(1, "Movement");
  EXPECT_EQ(themeRm_.Update(), LevelBenign);
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(CardThemes(), (std::vector<std::string>{"c1=Movement", "c2=Movement", "c3=Rest"}));
  std::string c1 = FakeStore::Instance().Records("cards")[1];
  EXPECT_EQ(c1.substr(10, 30), "Movement" + std::string(22, ' '));
  EXPECT_EQ(themes_.FieldOf(FakeStore::Instance().Records("themes")[1], 1), "Movement");
  // The saved linking values follow the write: a second update cascades from "Movement".
  themes_.Set(1, "Moving");
  EXPECT_EQ(themeRm_.Update(), LevelBenign);
  EXPECT_EQ(CardThemes(), (std::vector<std::string>{"c1=Moving", "c2=Moving", "c3=Rest"}));
  EXPECT_EQ(LevelBenign, themeRm_.Close());
}

TEST_F(RelationTest, CascadeReachesGrandchildrenThroughTheChildsOwnRules) {
  Relate(RiCascade, RiRestrict, RiCascade, RiCascade);
  Fill();
  EXPECT_EQ(LevelBenign, cardRm_.Open());
  cards_.Set(1, "c1");
  ASSERT_EQ(cardFm_.TryFetch(1), LevelBenign);
  cardRm_.SaveLinkingFields();
  cards_.Set(1, "c9");
  EXPECT_EQ(cardRm_.Update(), LevelBenign);
  std::vector<std::string> cardsOfNotes;
  for (auto& [rec, bytes] : FakeStore::Instance().Records("notes"))
    cardsOfNotes.push_back(notes_.FieldOf(bytes, 1));
  EXPECT_EQ(cardsOfNotes, (std::vector<std::string>{"c9", "c9", "c3"}));
  EXPECT_EQ(LevelBenign, cardRm_.Close());
}

TEST_F(RelationTest, RestrictUpdateIsRefusedAndTheOldValueComesBack) {
  Relate(RiRestrict, RiRestrict, RiCascade, RiCascade);
  Fill();
  Snapshot before = Disk();
  ReadTheme("Rest");
  themes_.Set(1, "Sleep");
  EXPECT_EQ(themeRm_.Update(), LevelNotify);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.caption, "Referential Integrity Update Error");
  EXPECT_EQ(themes_.Get(1), "Rest");
  EXPECT_EQ(Disk(), before);
  EXPECT_EQ(LevelBenign, themeRm_.Close());
}

TEST_F(RelationTest, RestrictUpdateWithoutTransactionsStillChangesNothing) {
  Relate(RiRestrict, RiRestrict, RiCascade, RiCascade, /*useLogout=*/false);
  Fill();
  Snapshot before = Disk();
  ReadTheme("Rest");
  themes_.Set(1, "Sleep");
  EXPECT_EQ(themeRm_.Update(), LevelNotify);
  EXPECT_EQ(Disk(), before);
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpLogout), 0);
  EXPECT_EQ(LevelBenign, themeRm_.Close());
}

TEST_F(RelationTest, CascadeDeleteRemovesChildrenAndGrandchildren) {
  Relate(RiCascade, RiCascade, RiCascade, RiCascade);
  Fill();
  ReadTheme("motion");
  EXPECT_EQ(themeRm_.Delete(false), LevelBenign);
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(CardThemes(), (std::vector<std::string>{"c3=Rest"}));
  EXPECT_EQ(NoteTexts(), (std::vector<std::string>{"n3"}));
  EXPECT_EQ(FakeStore::Instance().Records("themes").size(), 1u);
  EXPECT_EQ(LevelBenign, themeRm_.Close());
}

TEST_F(RelationTest, ClearRulesBlankTheLinkingFields) {
  Relate(RiClear, RiClear, RiCascade, RiCascade);
  Fill();
  ReadTheme("Motion");
  themes_.Set(1, "Movement");
  EXPECT_EQ(themeRm_.Update(), LevelBenign);
  EXPECT_EQ(CardThemes(), (std::vector<std::string>{"c1=", "c2=", "c3=Rest"}));
  ReadTheme("Rest");
  EXPECT_EQ(themeRm_.Delete(false), LevelBenign);
  EXPECT_EQ(CardThemes(), (std::vector<std::string>{"c1=", "c2=", "c3="}));
  EXPECT_EQ(NoteTexts().size(), 3u);  // clearing a card's theme touches none of its notes
  EXPECT_EQ(LevelBenign, themeRm_.Close());
  EXPECT_EQ(LevelBenign, themeRm_.Close());
}

TEST_F(RelationTest, FailureInsideACascadeUpdateLeavesEverythingAsBefore) {
  Relate(RiCascade, RiRestrict, RiCascade, RiCascade);
  Fill();
  Snapshot before = Disk();
  ReadTheme("Motion");
  themes_.Set(1, "Movement");
  // The theme and the first card are written; the second card's write fails.
  FakeStore::Instance().FailNext(storage::kOpPut, storage::kErrWriteFault, 1, 2);
  EXPECT_EQ(themeRm_.Update(), LevelNotify);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.text,
            "An error (Write Fault (329)) was experienced when making changes to the cards file.");
  EXPECT_EQ(Disk(), before);
  EXPECT_EQ(themes_.Get(1), "Motion");
  EXPECT_GE(FakeStore::Instance().Calls(storage::kOpRollback), 1);
  EXPECT_EQ(LevelBenign, themeRm_.Close());
}

TEST_F(RelationTest, FailureInsideACascadeDeleteLeavesEverythingAsBefore) {
  Relate(RiCascade, RiCascade, RiCascade, RiCascade);
  Fill();
  Snapshot before = Disk();
  ReadTheme("Motion");
  // Two notes of c1 go, then deleting c1 itself fails.
  FakeStore::Instance().FailNext(storage::kOpDelete, storage::kErrWriteFault, 1, 2);
  ui_.QueueAnswer(ButtonOk);
  ui_.QueueAnswer(ButtonNo);
  EXPECT_EQ(themeRm_.Delete(false), LevelNotify);
  auto boxes = ui_.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].box.caption, "Record was not deleted");
  EXPECT_EQ(boxes[1].box.caption, "Record Delete Error");
  EXPECT_EQ(Disk(), before);
  EXPECT_EQ(LevelBenign, themeRm_.Close());
}

TEST_F(RelationTest, RetryingAFailedDeleteCanSucceed) {
  Relate(RiCascade, RiCascade, RiCascade, RiCascade);
  Fill();
  ReadTheme("Rest");
  FakeStore::Instance().FailNext(storage::kOpDelete, storage::kErrWriteFault);
  ui_.QueueAnswer(ButtonOk);
  ui_.QueueAnswer(ButtonYes);  // try again
  EXPECT_EQ(themeRm_.Delete(false), LevelBenign);
  EXPECT_EQ(CardThemes(), (std::vector<std::string>{"c1=Motion", "c2=MOTION"}));
  EXPECT_EQ(NoteTexts(), (std::vector<std::string>{"n1", "n2"}));
  EXPECT_EQ(LevelBenign, themeRm_.Close());
}

TEST_F(RelationTest, DriverWithoutTransactionsTurnsThemOffForGood) {
  Relate(RiCascade, RiRestrict, RiCascade, RiCascade);
  Fill();
  FakeStore::Instance().SetNoTransactions(true);
  ReadTheme("Motion");
  themes_.Set(1, "Movement");
  EXPECT_EQ(themeRm_.Update(), LevelBenign);
  EXPECT_FALSE(themeRm_.UseLogout);
  EXPECT_EQ(CardThemes(), (std::vector<std::string>{"c1=Movement", "c2=Movement", "c3=Rest"}));
  int logouts = FakeStore::Instance().Calls(storage::kOpLogout);
  themes_.Set(1, "Moving");
  EXPECT_EQ(themeRm_.Update(), LevelBenign);
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpLogout), logouts);
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(LevelBenign, themeRm_.Close());
}

TEST_F(RelationTest, RefusedLogoutCancelsTheOperation) {
  Relate(RiCascade, RiRestrict, RiCascade, RiCascade);
  Fill();
  Snapshot before = Disk();
  ReadTheme("Motion");
  themes_.Set(1, "Movement");
  FakeStore::Instance().FailNext(storage::kOpLogout, storage::kErrUnableToLog);
  EXPECT_EQ(themeRm_.Update(), LevelNotify);
  EXPECT_EQ(ui_.Last().box.caption, "Transaction cancelled");
  EXPECT_EQ(Disk(), before);
  EXPECT_TRUE(themeRm_.UseLogout);
  EXPECT_EQ(LevelBenign, themeRm_.Close());
}

TEST_F(RelationTest, WalksVisitEveryFileOnceDespiteTheCycle) {
  Relate(RiCascade, RiRestrict, RiCascade, RiCascade);
  Fill();
  int opens = FakeStore::Instance().Calls(storage::kOpOpen);
  EXPECT_EQ(cardRm_.Open(), LevelBenign);
  EXPECT_EQ(FakeStore::Instance().Calls(storage::kOpOpen), opens + 3);
  for (FileManager* fm : {&themeFm_, &cardFm_, &noteFm_}) EXPECT_EQ(fm->Info().Opened, 1);

  cardRm_.SetQuickScan(true, true);
  for (const char* f : {"themes", "cards", "notes"})
    EXPECT_EQ(FakeStore::Instance().Sent(f), std::vector<std::string>{"QUICKSCAN=on"}) << f;
  cardRm_.SetQuickScan(false, false);
  EXPECT_EQ(FakeStore::Instance().Sent("cards").back(), "QUICKSCAN=off");
  EXPECT_EQ(FakeStore::Instance().Sent("themes").size(), 1u);

  EXPECT_EQ(cardRm_.Close(), LevelBenign);
  for (FileManager* fm : {&themeFm_, &cardFm_, &noteFm_}) {
    EXPECT_EQ(fm->Info().Opened, 0);
    EXPECT_FALSE(fm->Info().Used);
  }
}

TEST_F(RelationTest, WalksFromTwoThreadsStayWhole) {
  Relate(RiCascade, RiRestrict, RiCascade, RiCascade);
  Fill();
  std::atomic<int> broken{0};
  auto work = [&](RelationManager& start) {
    for (int i = 0; i < 300; ++i) {
      EXPECT_EQ(LevelBenign, start.Open());
      for (FileManager* fm : {&themeFm_, &cardFm_, &noteFm_})
        if (fm->Info().Opened != 1) ++broken;
      EXPECT_EQ(LevelBenign, start.Close());
      for (FileManager* fm : {&themeFm_, &cardFm_, &noteFm_})
        if (fm->Info().Opened != 0) ++broken;
    }
  };
  std::thread a(work, std::ref(themeRm_));
  std::thread b(work, std::ref(noteRm_));
  a.join();
  b.join();
  EXPECT_EQ(broken.load(), 0);
  EXPECT_TRUE(ui_.Boxes().empty());
}

}  // namespace
}  // namespace korawin::framework
