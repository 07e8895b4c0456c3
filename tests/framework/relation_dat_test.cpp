// Referential integrity over real DAT files with keys: themes -> cards (by theme, NOCASE) ->
// notes (by card). Restrict, cascade, a write failure inside a cascade undone by the
// transaction, and a damaged key file rebuilt by the file manager's open.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

#include "framework/relation_manager.h"
#include "storage/dat/dat_driver.h"
#include "storage/dat/dat_file.h"
#include "storage/dat/halt.h"
#include "tests/framework/fake_driver.h"
#include "tests/storage/dat_test_util.h"
#include "tests/support/fault_fs.h"
#include "ui/halt.h"
#include "ui/headless_message_box.h"

namespace korawin::framework {
namespace {

using storage::kKeyDup;
using storage::kKeyNoCase;
using storage::kKeyOpt;
using storage::kTypeString;
using testing::TestFile;

// Record number -> record bytes, for each file.
using Snapshot = std::map<std::string, std::map<int64_t, std::string>>;

class RelationDatTest : public ::testing::Test {
 protected:
  RelationDatTest()
      : themes_("themes", {{"TEM:T", kTypeString, 20}}, {{"TEM:K_T", kKeyNoCase | kKeyOpt, {1}}}),
        cards_("cards", {{"CRD:ID", kTypeString, 10}, {"CRD:THEME", kTypeString, 30}},
               {{"CRD:BY_ID", 0, {1}}, {"CRD:BY_THEME", kKeyDup | kKeyNoCase | kKeyOpt, {2}}}),
        notes_("notes", {{"NOT:CARD", kTypeString, 10}, {"NOT:TEXT", kTypeString, 20}},
               {{"NOT:BY_CARD", kKeyDup | kKeyOpt, {1}}}) {
    for (TestFile* t : {&themes_, &cards_, &notes_}) {
      t->fd.driver = &storage::dat::DatDriverEntry;
      t->fd.name = dir_.File(t->fd.label);
      t->fd.attributes |= storage::kFileCreate;
    }
  }

  void SetUp() override {
    previousHalt_ = ui::SetHaltHandler([](int, std::string_view) { FAIL() << "halted"; });
    previousDatHalt_ = storage::dat::SetHaltHandler(
        [](const std::string& message) { FAIL() << "driver halted: " << message; });
    errors_.Init();
    errors_.SetUi(&ui_);
    themeFm_.Init(themes_.fd, errors_);
    themeFm_.AddKey(1, "tem:K_T");
    cardFm_.Init(cards_.fd, errors_);
    cardFm_.AddKey(1, "crd:BY_ID");
    cardFm_.AddKey(2, "crd:BY_THEME");
    noteFm_.Init(notes_.fd, errors_);
    noteFm_.AddKey(1, "not:BY_CARD");
    themeRm_.Init(themeFm_, true);
    cardRm_.Init(cardFm_, true);
    noteRm_.Init(noteFm_, true);
  }
  void TearDown() override {
    for (RelationManager* rm : {&themeRm_, &cardRm_, &noteRm_}) rm->Kill();
    for (FileManager* fm : {&themeFm_, &cardFm_, &noteFm_}) fm->Kill();
    ui::SetHaltHandler(previousHalt_);
    storage::dat::SetHaltHandler(previousDatHalt_);
  }

  void Relate(uint8_t themeUpdate, uint8_t themeDelete) {
    themeRm_.AddRelation(cardRm_, themeUpdate, themeDelete, 2, {{1, 2}});
    cardRm_.AddRelation(noteRm_, RiCascade, RiCascade, 1, {{1, 1}});
    cardRm_.AddRelation(themeRm_);
    noteRm_.AddRelation(cardRm_);
  }

  // Two themes; cards c1 and c2 on "Motion" (spelled differently), c3 on "Rest"; notes.
  // The files are created by the first open.
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
    EXPECT_TRUE(ui_.Boxes().empty());
  }

  // What each file holds, read through a descriptor of its own; every key is checked against
  // the data on the way.
  Snapshot Disk() {
    Snapshot s;
    for (TestFile* t : {&themes_, &cards_, &notes_}) {
      storage::FileDescriptor copy;
      copy.driver = t->fd.driver;
      copy.name = t->fd.name;
      copy.label = t->fd.label;
      copy.recordSize = t->fd.recordSize;
      copy.fields = t->fd.fields;
      copy.keys = t->fd.keys;
      std::vector<char> buffer(t->fd.recordSize);
      copy.record = buffer.data();
      storage::DriverArgs open;
      open.mode = 0x40;
      EXPECT_EQ(storage::CallDriver(storage::kOpOpen, copy, open), 0) << t->fd.label;
      std::string fault;
      EXPECT_EQ(storage::dat::DatFile::Of(copy).Check(&fault), 0) << fault;
      storage::DriverArgs a;
      EXPECT_EQ(storage::CallDriver(storage::kOpSetFile, copy, a), 0);
      while (storage::CallDriver(storage::kOpNext, copy, a) == 0) {
        EXPECT_EQ(0, storage::CallDriver(storage::kOpPointerFile, copy, a));
        s[t->fd.label][a.value] = std::string(buffer.data(), buffer.size());
      }
      EXPECT_EQ(0, storage::CallDriver(storage::kOpClose, copy, a));
    }
    return s;
  }

  std::vector<std::string> CardThemes() {
    std::vector<std::string> out;
    Snapshot disk = Disk();
    for (auto& [rec, bytes] : disk["cards"])
      out.push_back(cards_.FieldOf(bytes, 1) + "=" + cards_.FieldOf(bytes, 2));
    return out;
  }

  void ReadTheme(const std::string& t) {
    ASSERT_EQ(themeRm_.Open(), LevelBenign);
    themes_.Set(1, t);
    ASSERT_EQ(themeFm_.TryFetch(1), LevelBenign);
    themeRm_.SaveLinkingFields();
  }

  storage::dat::testing::TempDir dir_;
  TestFile themes_, cards_, notes_;
  ErrorClass errors_;
  ui::HeadlessMessageUi ui_;
  FileManager themeFm_, cardFm_, noteFm_;
  RelationManager themeRm_, cardRm_, noteRm_;
  ui::HaltHandler previousHalt_ = nullptr;
  storage::dat::HaltHandler previousDatHalt_ = nullptr;
};

TEST_F(RelationDatTest, RestrictDeleteIsRefusedAndLeavesBothRecords) {
  Relate(RiCascade, RiRestrict);
  Fill();
  Snapshot before = Disk();
  ReadTheme("motion");  // found without regard to case
  ui_.QueueAnswer(ButtonYes);  // confirm
  ui_.QueueAnswer(ButtonOk);   // the refusal
  ui_.QueueAnswer(ButtonNo);   // do not try again
  EXPECT_EQ(themeRm_.Delete(true), LevelNotify);
  auto boxes = ui_.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[1].box.caption, "Referential Integrity Delete Error");
  EXPECT_EQ(boxes[2].box.caption, "Record Delete Error");
  EXPECT_EQ(LevelBenign, themeRm_.Close());
  EXPECT_EQ(Disk(), before);
}

TEST_F(RelationDatTest, CascadeUpdateRewritesEveryCardOfTheThemeBlankPadded) {
  Relate(RiCascade, RiRestrict);
  Fill();
  ReadTheme("Motion");
  themes_.Set(1, "Movement");
  EXPECT_EQ(themeRm_.Update(), LevelBenign);
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(LevelBenign, themeRm_.Close());
  EXPECT_EQ(CardThemes(), (std::vector<std::string>{"c1=Movement", "c2=Movement", "c3=Rest"}));
  Snapshot after = Disk();
  EXPECT_EQ(after["cards"][1].substr(10, 30), "Movement" + std::string(22, ' '));
  // The cards are found under the new theme by their key.
  ASSERT_EQ(cardFm_.Open(), LevelBenign);
  cards_.Set(2, "MOVEMENT");
  ASSERT_EQ(cardFm_.TrySetOrder(2, true), LevelBenign);
  int found = 0;
  while (cardFm_.TryNext() == LevelBenign && cards_.Get(2) == "Movement") ++found;
  EXPECT_EQ(found, 2);
  EXPECT_EQ(LevelBenign, cardFm_.Close());
}

TEST_F(RelationDatTest, WriteFailureInsideACascadeLeavesEverythingAsBefore) {
  test::FaultFileSystem fs;
  test::ScopedFileSystem scoped(fs);
  Relate(RiCascade, RiRestrict);
  Fill();
  Snapshot before = Disk();
  ReadTheme("Motion");
  themes_.Set(1, "Movement");
  // The theme and the first card are written; the second card's record write fails.
  const std::string cardsData = storage::dat::DataFilePath(cards_.fd.name);
  fs.SetPathFilter([&](const std::string& path) { return path == cardsData; });
  fs.FailNth(test::FaultOp::kWrite, 2, EIO);
  EXPECT_EQ(themeRm_.Update(), LevelNotify);
  fs.SetPathFilter(nullptr);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.caption, "Record was not updated");
  EXPECT_EQ(themes_.Get(1), "Motion");
  EXPECT_EQ(LevelBenign, themeRm_.Close());
  EXPECT_EQ(Disk(), before);
}

TEST_F(RelationDatTest, CascadeDeleteRemovesCardsAndNotesInOneTransaction) {
  Relate(RiCascade, RiCascade);
  Fill();
  ReadTheme("Motion");
  EXPECT_EQ(themeRm_.Delete(false), LevelBenign);
  EXPECT_EQ(LevelBenign, themeRm_.Close());
  Snapshot after = Disk();
  EXPECT_EQ(after["themes"].size(), 1u);
  EXPECT_EQ(CardThemes(), (std::vector<std::string>{"c3=Rest"}));
  ASSERT_EQ(after["notes"].size(), 1u);
  EXPECT_EQ(notes_.FieldOf(after["notes"].begin()->second, 2), "n3");
  // No journal or marker is left behind.
  for (const char* marker : {"themes.LOG", "cards.LOG", "notes.LOG"})
    EXPECT_FALSE(storage::dat::testing::Exists(dir_.File(marker))) << marker;
}

// The card is read under WATCH and another station rewrites it before the save. The save
// inside the transaction fails with 89 and shows the other station's version; that version is
// then watched, so the next save goes through (and would again detect a change).
TEST_F(RelationDatTest, RecordChangedByAnotherStationIsShownAndWatchedAfresh) {
  Relate(RiCascade, RiRestrict);
  Fill();
  ASSERT_EQ(cardRm_.Open(), LevelBenign);
  cards_.Set(1, "c3");
  ASSERT_EQ(cardFm_.TryFetch(1), LevelBenign);
  ASSERT_EQ(cardFm_.Watch(), LevelBenign);
  cardRm_.SaveLinkingFields();

  // The other station: its own descriptor of the cards, opened shared.
  storage::FileDescriptor other;
  other.driver = cards_.fd.driver;
  other.name = cards_.fd.name;
  other.label = cards_.fd.label;
  other.recordSize = cards_.fd.recordSize;
  other.fields = cards_.fd.fields;
  other.keys = cards_.fd.keys;
  std::vector<char> buffer(other.recordSize);
  other.record = buffer.data();
  storage::DriverArgs a;
  a.mode = storage::kOpenReadWrite | storage::kShareDenyNone;
  ASSERT_EQ(storage::CallDriver(storage::kOpOpen, other, a), 0);
  a.number = 3;
  ASSERT_EQ(storage::CallDriver(storage::kOpGetFilePtr, other, a), 0);
  ASSERT_EQ(cards_.FieldOf(std::string(buffer.data(), buffer.size()), 1), "c3");
  std::memcpy(buffer.data() + 10, "Motion", 6);
  ASSERT_EQ(storage::CallDriver(storage::kOpPut, other, a), 0);

  cards_.Set(2, "rest, changed here");
  EXPECT_EQ(cardRm_.Update(FromForm), LevelNotify);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.caption, "Record Was Not Updated");
  EXPECT_EQ(cards_.Get(2), "Motion");  // the other station's version
  // Saved again: this station now knows that version.
  cards_.Set(2, "Rest");
  EXPECT_EQ(cardRm_.Update(FromForm), LevelBenign);
  EXPECT_EQ(ui_.Boxes().size(), 1u) << ui_.Last().box.text;
  EXPECT_EQ(LevelBenign, cardRm_.Close());
  EXPECT_EQ(0, storage::CallDriver(storage::kOpClose, other, a));
  EXPECT_EQ(CardThemes(), (std::vector<std::string>{"c1=Motion", "c2=MOTION", "c3=Rest"}));
}

// A form frames its own transaction around the card and a note it keeps in step: the card's
// update joins it. Refused with 89, everything is rolled back (the note as well) before the
// message shows, and the other station's version is watched afresh; the next attempt commits
// both together.
TEST_F(RelationDatTest, FramedTransactionTakesTheUpdateInAndRollsBackAsOne) {
  Relate(RiCascade, RiRestrict);
  Fill();
  Snapshot before = Disk();
  ASSERT_EQ(cardRm_.Open(), LevelBenign);
  cards_.Set(1, "c3");
  ASSERT_EQ(cardFm_.TryFetch(1), LevelBenign);
  ASSERT_EQ(cardFm_.Watch(), LevelBenign);
  cardRm_.SaveLinkingFields();
  // The other station rewrites c3 (record 3) meanwhile.
  storage::FileDescriptor other;
  other.driver = cards_.fd.driver;
  other.name = cards_.fd.name;
  other.label = cards_.fd.label;
  other.recordSize = cards_.fd.recordSize;
  other.fields = cards_.fd.fields;
  other.keys = cards_.fd.keys;
  std::vector<char> buffer(other.recordSize);
  other.record = buffer.data();
  storage::DriverArgs a;
  a.mode = storage::kOpenReadWrite | storage::kShareDenyNone;
  ASSERT_EQ(storage::CallDriver(storage::kOpOpen, other, a), 0);
  a.number = 3;
  ASSERT_EQ(storage::CallDriver(storage::kOpGetFilePtr, other, a), 0);
  std::memcpy(buffer.data() + 10, "Motion", 6);
  ASSERT_EQ(storage::CallDriver(storage::kOpPut, other, a), 0);
  before = Disk();

  auto attempt = [&](const char* theme) {
    TransactionFrame frame;
    EXPECT_EQ(frame.Begin({&cardFm_, &noteFm_}), LevelBenign);
    EXPECT_TRUE(frame.Active());
    notes_.Set(1, "c3");
    notes_.Set(2, theme);
    EXPECT_EQ(storage::CallDriver(storage::kOpAdd, notes_.fd), 0);
    cards_.Set(2, theme);
    if (Level l = cardRm_.Update(FromForm)) return l;
    return frame.Commit();
  };
  // The message shows once the files are back as they were.
  struct Spy : ui::HeadlessMessageUi {
    std::function<void()> onShow;
    unsigned ShowMessage(const ui::MessageBoxRequest& box) override {
      onShow();
      return HeadlessMessageUi::ShowMessage(box);
    }
  } spy;
  spy.onShow = [&] { EXPECT_EQ(Disk(), before); };
  errors_.SetUi(&spy);
  EXPECT_EQ(attempt("Sleep"), LevelNotify);
  errors_.SetUi(&ui_);
  ASSERT_EQ(spy.Boxes().size(), 1u);
  EXPECT_EQ(spy.Last().box.caption, "Record Was Not Updated");
  EXPECT_EQ(cards_.Get(2), "Motion");
  EXPECT_EQ(Disk(), before);
  EXPECT_EQ(attempt("Sleep"), LevelBenign);
  EXPECT_TRUE(ui_.Boxes().empty());
  (void)cardRm_.Close();  // 0
  EXPECT_EQ(storage::CallDriver(storage::kOpClose, other, a), 0);
  EXPECT_EQ(CardThemes(), (std::vector<std::string>{"c1=Motion", "c2=MOTION", "c3=Sleep"}));
  EXPECT_EQ(Disk()["notes"].size(), 4u);
  EXPECT_FALSE(storage::dat::testing::Exists(dir_.File("cards.LOG")));
}

TEST_F(RelationDatTest, DamagedKeyFileIsRebuiltByTheOpen) {
  Relate(RiCascade, RiRestrict);
  Fill();
  Snapshot before = Disk();
  // The theme key of the cards lost everything after its header.
  const std::string keyPath = dir_.File("cards.K02");
  storage::dat::testing::WriteAll(keyPath, storage::dat::testing::ReadAll(keyPath).substr(0, 40));
  ASSERT_EQ(cardFm_.Open(), LevelBenign);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.caption, "Invalid Key");
  // The rebuilt key finds both Motion cards.
  cards_.Set(2, "motion");
  ASSERT_EQ(cardFm_.TrySetOrder(2, true), LevelBenign);
  std::vector<std::string> ids;
  while (cardFm_.TryNext() == LevelBenign && cards_.Get(2) != "Rest") ids.push_back(cards_.Get(1));
  EXPECT_EQ(ids, (std::vector<std::string>{"c1", "c2"}));
  EXPECT_EQ(LevelBenign, cardFm_.Close());
  EXPECT_EQ(Disk(), before);
}

}  // namespace
}  // namespace korawin::framework
