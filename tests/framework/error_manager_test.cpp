#include "framework/error_manager.h"

#include <deque>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "storage/driver.h"
#include "ui/halt.h"
#include "ui/headless_message_box.h"

namespace korawin::framework {
namespace {

struct Def {
  uint16_t id;
  uint8_t level;
  std::string title;
  std::string text;
};

// A message table in the block format, as an application would declare one.
std::vector<uint8_t> Table(const std::vector<Def>& defs) {
  std::vector<uint8_t> b = {static_cast<uint8_t>(defs.size()),
                            static_cast<uint8_t>(defs.size() >> 8)};
  for (const Def& d : defs) {
    b.push_back(static_cast<uint8_t>(d.id));
    b.push_back(static_cast<uint8_t>(d.id >> 8));
    b.push_back(d.level);
    b.push_back(static_cast<uint8_t>(d.title.size()));
    b.insert(b.end(), d.title.begin(), d.title.end());
    b.push_back(static_cast<uint8_t>(d.text.size()));
    b.insert(b.end(), d.text.begin(), d.text.end());
  }
  return b;
}

struct HaltRecord {
  int calls = 0;
  int code = -1;
  std::string text;
  size_t boxesBefore = 0;
};
HaltRecord halted;
ui::HeadlessMessageUi* haltUi = nullptr;

class ErrorClassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    halted = HaltRecord{};
    haltUi = &ui_;
    previousHalt_ = ui::SetHaltHandler([](int code, std::string_view text) {
      ++halted.calls;
      halted.code = code;
      halted.text = std::string(text);
      halted.boxesBefore = haltUi->Boxes().size();
    });
    storage::SetError(0);
    errors_.SetUi(&ui_);
    errors_.Init();
  }
  void TearDown() override {
    errors_.Kill();
    ui::SetHaltHandler(previousHalt_);
    haltUi = nullptr;
  }
  // Adds a table that lives as long as the test.
  void Add(const std::vector<Def>& defs) {
    tables_.push_back(Table(defs));
    ASSERT_TRUE(errors_.AddErrors(tables_.back()));
  }
  std::string Expanded(uint16_t id) {
    errors_.SetId(id);
    return errors_.SubstituteTokens();
  }

  ui::HeadlessMessageUi ui_;
  ErrorClass errors_;
  std::deque<std::vector<uint8_t>> tables_;
  ui::HaltHandler previousHalt_ = nullptr;
};

TEST(DefaultErrors, BlockHoldsTheTableInOrderWithExactTexts) {
  std::span<const uint8_t> b = DefaultErrors();
  ASSERT_GE(b.size(), 2u);
  EXPECT_EQ(b[0], 39);
  EXPECT_EQ(b[1], 0);
  // Walk the block by hand: every byte belongs to an entry, nothing is left over.
  size_t p = 2;
  std::vector<uint16_t> ids;
  std::vector<int> levels;
  std::vector<std::string> titles, texts;
  for (int i = 0; i < 39; ++i) {
    ASSERT_LE(p + 4, b.size());
    ids.push_back(static_cast<uint16_t>(b[p] | b[p + 1] << 8));
    levels.push_back(b[p + 2]);
    size_t n = b[p + 3];
    titles.emplace_back(reinterpret_cast<const char*>(&b[p + 4]), n);
    p += 4 + n;
    ASSERT_LT(p, b.size());
    n = b[p];
    texts.emplace_back(reinterpret_cast<const char*>(&b[p + 1]), n);
    p += 1 + n;
  }
  EXPECT_EQ(p, b.size());
  EXPECT_EQ(ids, (std::vector<uint16_t>{27, 26, 10, 24, 17, 18, 16, 14, 31, 30, 4, 6, 7,
                                        34, 33, 20, 38, 12, 8,  13, 32, 19, 36, 37, 23, 25,
                                        11, 9,  35, 21, 1,  40, 3,  28, 5,  15, 22, 2,  39}));
  EXPECT_EQ(std::set<uint16_t>(ids.begin(), ids.end()).size(), 39u);
  EXPECT_EQ(levels[0], LevelNotify);
  EXPECT_EQ(levels[1], LevelFatal);
  EXPECT_EQ(levels[13], LevelUser);
  EXPECT_EQ(levels[38], LevelProgram);
  EXPECT_EQ(titles[0], "Invalid Key");
  EXPECT_EQ(texts[0], "%File key file is invalid. Key must be rebuilt.");
  // Double blanks and texts without a final full stop are kept as they are.
  EXPECT_EQ(texts[20],
            "Attempts to automatically number this record have failed.  Error: %ErrorText. "
            "Try Again?");
  EXPECT_EQ(texts[24], "File (%File) could not be opened.  Error: %ErrorText.");
  EXPECT_EQ(texts[30],
            "Error: (%ErrorText) attempting to access a record from the %File file.  Returning "
            "to previous window.");
  EXPECT_EQ(texts[15], "This form cannot be used to insert a record");
  EXPECT_EQ(texts[38], "Attempt to use file (%File) before it was opened");
  EXPECT_EQ(titles[34], "Add New Record?");
  EXPECT_EQ(texts[12],
            "This record was changed by another station. Those changes will now be displayed. "
            "Use the Ditto Button or Ctrl+' to recall your changes.");
}

TEST_F(ErrorClassTest, InitLoadsTheBuiltInTableWithoutCopyingTexts) {
  ASSERT_EQ(errors_.Errors.size(), 39u);
  EXPECT_EQ(errors_.Errors.front().Id, InvalidKey);
  EXPECT_EQ(errors_.Errors.back().Id, FileUsageError);
  std::span<const uint8_t> block = DefaultErrors();
  auto inBlock = [&](std::string_view s) {
    auto* q = reinterpret_cast<const uint8_t*>(s.data());
    return q >= block.data() && q + s.size() <= block.data() + block.size();
  };
  for (const ErrorEntry& e : errors_.Errors) EXPECT_TRUE(inBlock(e.Message) && inBlock(e.Title));
  errors_.Kill();
  EXPECT_TRUE(errors_.Errors.empty());
}

TEST_F(ErrorClassTest, LaterTableOverridesAndPreviousReachesTheOverriddenText) {
  Add({{NoRecords, LevelNotify, "Nothing to do", "Empty list. %Previous"},
       {InvalidKey, LevelNotify, "Key", "Rebuild needed: %Previous"}});
  errors_.SetFile("SLOVO");
  EXPECT_EQ(Expanded(NoRecords), "Empty list. There are no records available to process.");
  EXPECT_EQ(errors_.Current().Title, "Nothing to do");
  // The overridden text is expanded like the message itself.
  EXPECT_EQ(Expanded(InvalidKey), "Rebuild needed: SLOVO key file is invalid. Key must be rebuilt.");
  // An entry with no earlier entry of its id: %Previous is empty.
  Add({{200, LevelNotify, "T", "[%Previous]"}});
  EXPECT_EQ(Expanded(200), "[]");
  // Expansion leaves the entry current.
  EXPECT_EQ(errors_.Current().Id, 200);
  EXPECT_EQ(errors_.Current().Message, "[%Previous]");
}

TEST_F(ErrorClassTest, TruncatedTableKeepsWholeEntriesOnly) {
  std::vector<uint8_t> t = Table({{201, LevelNotify, "One", "first"},
                                  {202, LevelNotify, "Two", "second"}});
  t.resize(t.size() - 3);
  tables_.push_back(t);
  EXPECT_FALSE(errors_.AddErrors(tables_.back()));
  EXPECT_EQ(errors_.Errors.size(), 40u);
  EXPECT_EQ(Expanded(201), "first");
  EXPECT_NE(errors_.Current().Title, "Two");
  errors_.SetId(202);
  EXPECT_NE(errors_.Current().Title, "Two");
  static const uint8_t kShort[] = {5};
  EXPECT_FALSE(errors_.AddErrors(kShort));
  EXPECT_EQ(errors_.Errors.size(), 40u);
}

TEST_F(ErrorClassTest, TextsWithoutTokensAndTitlesAreShownAsStored) {
  Add({{210, LevelNotify, "%File trouble", "Nothing to expand here."}});
  errors_.SetFile("dct.dat");
  EXPECT_EQ(errors_.TakeError(210), LevelNotify);
  EXPECT_EQ(ui_.Last().box.text, "Nothing to expand here.");
  EXPECT_EQ(ui_.Last().box.caption, "%File trouble");
}

TEST_F(ErrorClassTest, ErrorTextShowsTheDriversOwnErrorForCode90) {
  storage::SetDriverError(storage::kErrFileSystem, 112, "Disk is full   ");
  errors_.SetFile("slovo.dat   ");
  errors_.SetErrors();
  EXPECT_EQ(errors_.SaveFileError, "Disk is full");
  EXPECT_EQ(errors_.SaveFileErrorCode, "112");
  EXPECT_EQ(Expanded(RecordNotUpdated),
            "An error (Disk is full (112)) was experienced when making changes to the "
            "slovo.dat file.");

  storage::SetError(storage::kErrFileNotFound);
  errors_.SetErrors();
  EXPECT_EQ(errors_.SaveFileErrorCode, "");
  EXPECT_EQ(Expanded(RecordNotUpdated),
            "An error (File Not Found (2)) was experienced when making changes to the "
            "slovo.dat file.");

  // Code 90 without a driver text still says what happened.
  storage::SetError(storage::kErrFileSystem);
  errors_.SetErrors();
  EXPECT_EQ(Expanded(RecordNotUpdated),
            "An error (File System Error (90)) was experienced when making changes to the "
            "slovo.dat file.");
}

TEST_F(ErrorClassTest, LongerTokensWinOverTheirPrefixes) {
  Add({{220, LevelNotify, "T",
        "[%FileError|%FileErrorCode|%File|%ErrorCode|%Error|%Message|%Field]"}});
  storage::SetDriverError(storage::kErrFileSystem, 7, "Bad sector");
  errors_.SetErrors();
  errors_.SetFile("AK2");
  errors_.SetField("AK2:a  ");
  errors_.MessageText = "extra";
  EXPECT_EQ(Expanded(220), "[Bad sector|7|AK2|90|Bad sector|extra|AK2:a]");
}

TEST_F(ErrorClassTest, ValueCarryingItsOwnTokenDoesNotLoop) {
  Add({{230, LevelNotify, "T", "%File and %File; %Field"}});
  errors_.SetFile("%File%File");
  errors_.SetField("x%Fieldy");
  EXPECT_EQ(Expanded(230), "%File%File and %File%File; x%Fieldy");
}

TEST_F(ErrorClassTest, ExpansionIsCutAt2000Characters) {
  std::string text;
  for (int i = 0; i < 10; ++i) text += "%Message";
  Add({{240, LevelNotify, "T", text}});
  (void)errors_.ThrowMessage(240, std::string(300, 'z'));  // the test looks at the message shown
  EXPECT_EQ(errors_.MessageText.size(), 255u);
  EXPECT_EQ(ui_.Last().box.text, std::string(2000, 'z'));
}

TEST_F(ErrorClassTest, ContextSurvivesUntilSetAgain) {
  errors_.SetFile("tema.dat");
  (void)errors_.TakeError(InvalidKey);  // the test looks at the message shown
  (void)errors_.TakeError(RecordNotRead);  // the test looks at the message shown
  EXPECT_EQ(ui_.Last().box.text,
            "A record held by another station was encountered reading from the tema.dat file.");
  errors_.SetFile(std::string(300, 'f'));
  EXPECT_EQ(errors_.FileName.size(), 255u);
}

TEST_F(ErrorClassTest, UserLevelAsksYesNoAndMapsTheAnswer) {
  ui_.QueueAnswer(ButtonYes);
  EXPECT_EQ(errors_.TakeError(ConfirmDelete), LevelBenign);
  ui::HeadlessMessageUi::Shown s = ui_.Last();
  EXPECT_EQ(s.box.text, "Are you sure you want to delete the highlighted record?");
  EXPECT_EQ(s.box.caption, "Confirm Delete");
  EXPECT_EQ(s.box.icon, ui::Icon::Exclamation);
  EXPECT_EQ(s.box.buttons, ButtonYes + ButtonNo);
  EXPECT_EQ(s.box.defaultButton, ButtonYes);
  ui_.QueueAnswer(ButtonNo);
  EXPECT_EQ(errors_.TakeError(ConfirmDelete), LevelCancel);
  ui_.QueueAnswer(ButtonNone);  // closed
  EXPECT_EQ(errors_.TakeError(AutoIncrementError), LevelCancel);
  // A table entry of level 4 is asked the same way.
  Add({{250, LevelCancel, "Again?", "Retry?"}});
  ui_.QueueAnswer(ButtonYes);
  EXPECT_EQ(errors_.TakeError(250), LevelBenign);
  EXPECT_EQ(ui_.Last().box.buttons, ButtonYes + ButtonNo);
  EXPECT_EQ(halted.calls, 0);
}

TEST_F(ErrorClassTest, NotifyShowsInformationWithOk) {
  storage::SetError(storage::kErrDuplicateKey);
  EXPECT_EQ(errors_.ThrowMessage(DuplicateKeyError, "SLO:K_SLO"), LevelNotify);
  ui::HeadlessMessageUi::Shown s = ui_.Last();
  EXPECT_EQ(s.box.text, "Adding this record creates a duplicate entry for the key: SLO:K_SLO");
  EXPECT_EQ(s.box.caption, "Duplicate Key Error");
  EXPECT_EQ(s.box.icon, ui::Icon::Information);
  EXPECT_EQ(static_cast<int>(s.box.icon), 32516);
  EXPECT_EQ(s.box.buttons, ButtonOk);
  EXPECT_EQ(errors_.SaveErrorCode, 40);
  EXPECT_EQ(errors_.SaveError, "Creates Duplicate Key");
}

TEST_F(ErrorClassTest, BenignLevelShowsNothing) {
  Add({{260, LevelBenign, "Quiet", "never shown"}});
  EXPECT_EQ(errors_.TakeError(260), LevelBenign);
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(ErrorClassTest, FatalMessageEndsTheProgramAfterOk) {
  storage::SetError(storage::kErrFileNotFound);
  errors_.SetFile("slovo.dat");
  (void)errors_.Throw(FileAccessError);  // the test looks at the message shown
  ui::HeadlessMessageUi::Shown s = ui_.Last();
  EXPECT_EQ(s.box.text,
            "File (slovo.dat) could not be opened.  Error: File Not Found (2).  Press OK to end "
            "this application");
  EXPECT_EQ(s.box.caption, "File Access Error");
  EXPECT_EQ(s.box.icon, ui::Icon::Information);
  EXPECT_EQ(s.box.buttons, ButtonOk);
  EXPECT_EQ(halted.calls, 1);
  EXPECT_EQ(halted.code, 0);
  EXPECT_EQ(halted.text, "File Access Error");
  EXPECT_EQ(halted.boxesBefore, 1u);  // the box came first
}

TEST_F(ErrorClassTest, ProgramAndUnknownLevelsEndLikeFatal) {
  errors_.SetFile("p_4.dat");
  (void)errors_.TakeError(FileUsageError);  // the test looks at the message shown
  EXPECT_EQ(ui_.Last().box.text,
            "Attempt to use file (p_4.dat) before it was opened  Press OK to end this "
            "application");
  EXPECT_EQ(halted.calls, 1);
  Add({{270, 9, "Odd Level", "odd"}});
  (void)errors_.TakeError(270);  // the test looks at the message shown
  EXPECT_EQ(ui_.Last().box.text, "odd  Press OK to end this application");
  EXPECT_EQ(halted.calls, 2);
  EXPECT_EQ(halted.text, "Odd Level");
}

TEST_F(ErrorClassTest, UnknownIdShowsANoticeNamingIt) {
  EXPECT_EQ(errors_.TakeError(29), LevelNotify);
  ui::HeadlessMessageUi::Shown s = ui_.Last();
  EXPECT_NE(s.box.text.find("29"), std::string::npos);
  EXPECT_NE(s.box.caption, "Invalid Key");
  EXPECT_EQ(s.box.buttons, ButtonOk);
  EXPECT_EQ(halted.calls, 0);
  // Without Init nothing is known at all, and nothing breaks.
  ErrorClass bare;
  bare.SetUi(&ui_);
  EXPECT_EQ(bare.TakeError(InvalidKey), LevelNotify);
  EXPECT_NE(ui_.Last().box.text.find("27"), std::string::npos);
}

TEST_F(ErrorClassTest, ShowMessageAsksThreeWayWithoutCapturingErrors) {
  storage::SetError(storage::kErrRecordNotFound);
  errors_.SetErrors();
  storage::SetError(storage::kErrAccessDenied);
  ui_.QueueAnswer(ButtonNo);
  EXPECT_EQ(errors_.ShowMessage(SaveRecord, ButtonYes + ButtonNo + ButtonCancel, ButtonCancel),
            ButtonNo);
  ui::HeadlessMessageUi::Shown s = ui_.Last();
  EXPECT_EQ(s.box.caption, "Save Record");
  EXPECT_EQ(s.box.icon, ui::Icon::Exclamation);
  EXPECT_EQ(s.box.buttons, ButtonYes + ButtonNo + ButtonCancel);
  EXPECT_EQ(s.box.defaultButton, ButtonCancel);
  EXPECT_EQ(errors_.SaveErrorCode, storage::kErrRecordNotFound);
  EXPECT_EQ(errors_.Current().Id, SaveRecord);
  // Fatal entries asked this way do not end the program.
  errors_.ShowMessage(FileAccessError, ButtonOk, ButtonOk);
  EXPECT_EQ(halted.calls, 0);
}

class CountingErrors : public ErrorClass {
 public:
  Level TakeNotify() override {
    ++notified;
    return LevelNotify;
  }
  int notified = 0;
};

TEST_F(ErrorClassTest, DerivedHandlersReceiveTheDispatch) {
  CountingErrors e;
  e.SetUi(&ui_);
  e.Init();
  EXPECT_EQ(e.TakeError(NoRecords), LevelNotify);
  EXPECT_EQ(e.notified, 1);
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(ErrorClassTest, ProceduresOnSeveralThreadsReportSafely) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([this, t] {
      for (int i = 0; i < 50; ++i) {
        storage::SetError(storage::kErrRecordHeld);
        errors_.SetFile("file" + std::to_string(t));
        (void)errors_.Throw(RecordNotRead);  // the test looks at the message shown
      }
    });
  for (auto& th : threads) th.join();
  std::vector<ui::HeadlessMessageUi::Shown> boxes = ui_.Boxes();
  ASSERT_EQ(boxes.size(), 200u);
  for (const auto& s : boxes) EXPECT_EQ(s.box.caption, "Record not read");
}

TEST(ErrorClassDeathTest, FatalMessageEndsTheProcessWithCodeZero) {
  ui::SetHaltHandler(nullptr);
  auto run = [] {
    ui::HeadlessMessageUi ui;
    ErrorClass errors;
    errors.SetUi(&ui);
    errors.Init();
    (void)errors.TakeError(KeyNotBuilt);  // the test looks at the message shown
    std::exit(5);  // not reached when the halt works
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace korawin::framework
