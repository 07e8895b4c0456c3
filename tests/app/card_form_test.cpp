// The lexeme card on a copy of the demo database, called as the lists call it: the three copies
// of the form, the word file kept as the repair keeps it, the questions on closing, another
// station's change, the pick lists and the bad input of the identifier and the examples.
#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "app/app_windows.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "app/program.h"
#include "app/texts.h"
#include "framework/window_manager.h"
#include "platform/clock.h"
#include "storage/dat/collation.h"
#include "storage/dat/dat_driver.h"
#include "storage/dat/dat_file.h"
#include "tests/app/gui_fixture.h"
#include "tests/app/lexicon_disk.h"
#include "tests/support/fault_fs.h"
#include "ui/runtime/runtime.h"
#include "ui/runtime/window.h"

namespace korawin::app::testing {
namespace {

namespace C = ids::CardForm041;
using F = LexiconFile;
using framework::ChangeRecord;
using framework::DeleteRecord;
using framework::InsertRecord;

const char* ModuleName(int module) {
  switch (module) {
    case modules::kCardForm041:
      return C::kModule;
    case modules::kCardForm053:
      return ids::CardForm053::kModule;
    default:
      return ids::CardForm038::kModule;
  }
}

class CardTest : public GuiFixture {
 protected:
  // Calls a card form on a thread of its own as a list does: for a change or a delete (and the
  // sample of an entry by sample) the card of lexeme is read under WATCH, for an insert the
  // record is primed; CardAction is set first. Returns the card's window.
  int Call(int module, uint8_t request, const std::string& lexeme = "",
           const std::string& cardAction = "") {
    response_ = -1;
    thread_ = ui::Runtime::StartProcedure([=, this] {
      EXPECT_EQ(Relate(F::kSlovo).Open(), framework::LevelBenign);
      framework::FileManager& slovo = Access(F::kSlovo);
      if (request == InsertRecord) {
        EXPECT_EQ(slovo.PrimeRecord(), framework::LevelBenign);
      } else {
        Declared(F::kSlovo).Clear();
        Declared(F::kSlovo).SetField("I_VERB", Ansi(lexeme));
        EXPECT_EQ(slovo.TryFetch(1), framework::LevelBenign) << lexeme;
        EXPECT_EQ(slovo.Watch(), framework::LevelBenign);
      }
      Assign(Glo().cardAction, cardAction);
      framework::GlobalRequest = request;
      response_ = CallModule(module, request);
      (void)Relate(F::kSlovo).Close();  // 0
    });
    return driver_.WaitFor(ModuleName(module));
  }
  // Waits for the caller to have its answer.
  int Response() {
    EXPECT_TRUE(driver_.WaitThreadEnd(thread_));
    return response_.load();
  }
  std::string Text(int card, int feq) { return driver_.Text(card, feq); }
  void ExpectWordsAsRepaired() { EXPECT_EQ(DiskWords(dir_.path()), WordsAfterRepair(dir_.path())); }
  size_t Boxes() { return backend_.Boxes().size(); }
  void TearDown() override {
    if (HasFailure())
      for (const std::string& t : MessageTexts()) std::printf("  box: %s\n", t.c_str());
    GuiFixture::TearDown();
  }

  std::atomic<int> response_{-1};
  int thread_ = 0;
};

TEST_F(CardTest, EachCopyOpensOnItsRequestWithItsCaption) {
  int card = Call(modules::kCardForm041, ChangeRecord, "бить 1 (ударять)", "chn");
  ASSERT_NE(card, 0);
  EXPECT_EQ(driver_.Caption(card), "Лексема бить 1");
  EXPECT_EQ(Text(card, C::SLO_I_VERB), "бить 1 (ударять)");
  EXPECT_EQ(Text(card, C::CurrentLex), "бить 1 (ударять)");
  EXPECT_EQ(Utf8(Clip(Glo().currentLex)), "бить 1 (ударять)");
  EXPECT_EQ(Utf8(Clip(Glo().oldWord)), "бить");
  EXPECT_EQ(Utf8(Clip(Glo().lexemeHead)), "бить 1");
  EXPECT_EQ(Text(card, C::SLO_NAME), "Лебедева");
  ASSERT_TRUE(driver_.Press(card, C::Cancel));
  EXPECT_EQ(Response(), framework::RequestCancelled);
  EXPECT_EQ(Boxes(), 0u);

  card = Call(modules::kCardForm053, InsertRecord);
  EXPECT_EQ(driver_.Caption(card), "Новая лексема");
  EXPECT_EQ(Text(card, C::SLO_I_VERB), "");
  ASSERT_TRUE(driver_.CloseBox(card));
  EXPECT_EQ(Response(), framework::RequestCancelled);

  // A delete shows the card first; it goes on OK, after the question.
  card = Call(modules::kCardForm041, DeleteRecord, "шептать (говорить шёпотом)", "del");
  EXPECT_EQ(driver_.Caption(card), "Удаляем лексему");
  ASSERT_TRUE(driver_.Press(card, C::Cancel));
  EXPECT_EQ(Response(), framework::RequestCancelled);
  EXPECT_FALSE(DiskCard(dir_.path(), "шептать (говорить шёпотом)").empty());

  // Entry by sample shows the sample; its caller passes no request.
  card = Call(modules::kCardForm038, 0, "бить 1 (ударять)");
  EXPECT_EQ(driver_.Caption(card), "Adding a slovo Record");
  EXPECT_EQ(Text(card, C::SLO_I_VERB), "бить 1 (ударять)");
  ASSERT_TRUE(driver_.Press(card, C::Cancel));
  EXPECT_EQ(Response(), framework::RequestCancelled);
  EXPECT_EQ(Boxes(), 0u);
}

// Whatever CardAction the calling list left, the word file ends as the repair would make it
// from the cards: a word's count goes up with an added card, moves with a changed word part,
// goes down with a deleted card; a new word is added, a word left without cards removed.
TEST_F(CardTest, WordFileFollowsEveryCopyOfTheFormAsTheRepairWould) {
  const std::map<std::string, int> demo = DiskWords(dir_.path());
  ASSERT_EQ(demo, WordsAfterRepair(dir_.path()));
  ASSERT_EQ(demo.at("бить"), 5);
  ASSERT_EQ(demo.count("колоть"), 0u);
  struct Way {
    int module;
    const char* action;
  };
  const Way ways[] = {{modules::kCardForm041, "add"},
                      {modules::kCardForm041, "Chn"},
                      {modules::kCardForm053, "chn"},
                      {modules::kCardForm053, "del"}};
  for (const Way& way : ways) {
    SCOPED_TRACE(std::string(ModuleName(way.module)) + " " + way.action);
    int card = Call(way.module, InsertRecord, "", way.action);
    ASSERT_TRUE(driver_.Type(card, C::SLO_I_VERB, "бить 9 (пробное)"));
    ASSERT_TRUE(driver_.Press(card, C::OK));
    ASSERT_EQ(Response(), framework::RequestCompleted);
    EXPECT_EQ(DiskWords(dir_.path()).at("бить"), 6);
    EXPECT_EQ(DiskCard(dir_.path(), "бить 9 (пробное)").at("VERV"), "бить");
    ExpectWordsAsRepaired();

    card = Call(way.module, ChangeRecord, "бить 9 (пробное)", way.action);
    ASSERT_TRUE(driver_.Type(card, C::SLO_I_VERB, "колоть 1 (пробное)"));
    ASSERT_TRUE(driver_.Press(card, C::OK));
    ASSERT_EQ(Response(), framework::RequestCompleted);
    EXPECT_EQ(DiskWords(dir_.path()).at("бить"), 5);
    EXPECT_EQ(DiskWords(dir_.path()).at("колоть"), 1);
    ExpectWordsAsRepaired();

    card = Call(way.module, DeleteRecord, "колоть 1 (пробное)", way.action);
    backend_.QueueAnswer(ui::ButtonYes);
    ASSERT_TRUE(driver_.Press(card, C::OK));
    ASSERT_EQ(Response(), framework::RequestCompleted);
    EXPECT_TRUE(DiskCard(dir_.path(), "колоть 1 (пробное)").empty());
    EXPECT_EQ(DiskWords(dir_.path()), demo);
  }

  // By sample: a card like "бить 1" with its own identifier; the sample stays as it was.
  const auto sample = DiskCard(dir_.path(), "бить 1 (ударять)");
  int card = Call(modules::kCardForm038, 0, "бить 1 (ударять)");
  ASSERT_TRUE(driver_.Type(card, C::SLO_I_VERB, "Бить 6 (колотить)"));
  ASSERT_TRUE(driver_.Press(card, C::OK));
  ASSERT_EQ(Response(), framework::RequestCompleted);
  auto added = DiskCard(dir_.path(), "Бить 6 (колотить)");
  ASSERT_FALSE(added.empty());
  EXPECT_EQ(added.at("TEMA"), sample.at("TEMA"));
  EXPECT_EQ(added.at("EXA_MEMO"), sample.at("EXA_MEMO"));
  EXPECT_EQ(DiskCard(dir_.path(), "бить 1 (ударять)"), sample);
  // Spelt with a capital, it is a group of its own to the repair: "бить" keeps its five.
  ExpectWordsAsRepaired();
  EXPECT_EQ(DiskWords(dir_.path()).at("бить"), 5);
  EXPECT_EQ(Boxes(), 4u);  // the four questions "Confirm Delete", nothing else
}

TEST_F(CardTest, TheCardIsSignedAndDatedAndItsExamplesFollowTheMemo) {
  Assign(Glo().authorName, Ansi("Тестов"));
  int card = Call(modules::kCardForm041, InsertRecord, "", "add");
  ASSERT_TRUE(driver_.Type(card, C::SLO_I_VERB, "петь 1 (издавать звуки голосом)"));
  ASSERT_TRUE(driver_.Type(card, C::SLO_EXA_MEMO, "Птицы поют.\r\nОна поёт песню."));
  ASSERT_TRUE(driver_.Press(card, C::OK));
  ASSERT_EQ(Response(), framework::RequestCompleted);
  auto saved = DiskCard(dir_.path(), "петь 1 (издавать звуки голосом)");
  EXPECT_EQ(saved.at("NAME"), "Тестов");
  EXPECT_EQ(saved.at("DATE"), std::to_string(platform::Today()));
  EXPECT_EQ(saved.at("EXAMPLE"), "Птицы поют.\r\nОна поёт песню.");
  EXPECT_EQ(saved.at("EXA_MEMO"), "Птицы поют.\r\nОна поёт песню.");
  EXPECT_EQ(saved.at("VERV"), "петь");

  // An earlier author keeps the card; a card without one is signed.
  card = Call(modules::kCardForm041, ChangeRecord, "бить 1 (ударять)", "chn");
  ASSERT_TRUE(driver_.Type(card, C::SLO_VI, "побить"));
  ASSERT_TRUE(driver_.Press(card, C::OK));
  ASSERT_EQ(Response(), framework::RequestCompleted);
  EXPECT_EQ(DiskCard(dir_.path(), "бить 1 (ударять)").at("NAME"), "Лебедева");
  card = Call(modules::kCardForm053, ChangeRecord, "идти 6 (быть к лицу)", "Chn");
  ASSERT_TRUE(driver_.Press(card, C::OK));
  ASSERT_EQ(Response(), framework::RequestCompleted);
  EXPECT_EQ(DiskCard(dir_.path(), "идти 6 (быть к лицу)").at("NAME"), "Тестов");
  ExpectWordsAsRepaired();
}

TEST_F(CardTest, ClosingAChangedCardAsksWhetherToSaveIt) {
  const auto before = DiskCard(dir_.path(), "резать 1 (разделять ножом)");
  int card = Call(modules::kCardForm041, ChangeRecord, "резать 1 (разделять ножом)", "chn");
  ASSERT_TRUE(driver_.Type(card, C::SLO_F_M, "X режет Y"));
  backend_.QueueAnswer(ui::ButtonCancel);
  ASSERT_TRUE(driver_.Press(card, C::Cancel));
  ASSERT_EQ(Boxes(), 1u);
  EXPECT_EQ(backend_.Boxes()[0].box.caption, "Save Record");
  EXPECT_TRUE(driver_.IsOpen(card));
  backend_.QueueAnswer(ui::ButtonNo);
  ASSERT_TRUE(driver_.CloseBox(card));
  EXPECT_EQ(Response(), framework::RequestCancelled);
  EXPECT_EQ(DiskCard(dir_.path(), "резать 1 (разделять ножом)"), before);

  card = Call(modules::kCardForm041, ChangeRecord, "резать 1 (разделять ножом)", "chn");
  ASSERT_TRUE(driver_.Type(card, C::SLO_F_M, "X режет Y"));
  backend_.QueueAnswer(ui::ButtonYes);
  ASSERT_TRUE(driver_.CloseBox(card));
  EXPECT_EQ(Response(), framework::RequestCompleted);
  EXPECT_EQ(DiskCard(dir_.path(), "резать 1 (разделять ножом)").at("F_M"), "X режет Y");
  EXPECT_EQ(Boxes(), 3u);
}

// The program's close goes through the card's close path, the card standing on the thread of
// the list that called it: Cancel keeps the card, the list and the frame; No closes them all
// and writes nothing.
TEST_F(CardTest, ClosingTheProgramAsksForAChangedCardOnAListsThread) {
  std::atomic<bool> frameEnded{false};
  int frameThread = ui::Runtime::StartProcedure([&] {
    RunMainFrame();
    frameEnded = true;
  });
  int frame = driver_.WaitFor("Основное окно");
  ASSERT_NE(frame, 0);
  int splash = driver_.WaitFor("korawin1$koraw029");
  if (splash) driver_.Mouse(splash, 0, ui::kMouseLeft);
  const auto before = DiskCard(dir_.path(), "видеть 2 (понимать)");
  int listThread = ui::Runtime::StartProcedure([] {
    auto list = ui::Window::Open(ids::LexemeList::kModule, ids::LexemeList::kWindow);
    EXPECT_EQ(Relate(F::kSlovo).Open(), framework::LevelBenign);
    Declared(F::kSlovo).Clear();
    Declared(F::kSlovo).SetField("I_VERB", Ansi("видеть 2 (понимать)"));
    EXPECT_EQ(Access(F::kSlovo).TryFetch(1), framework::LevelBenign);
    EXPECT_EQ(Access(F::kSlovo).Watch(), framework::LevelBenign);
    CallModule(modules::kCardForm041, ChangeRecord);
    (void)Relate(F::kSlovo).Close();  // 0
    while (list->Accept().kind != ui::EventKind::None) {
      ui::EventKind k = list->EventNow();
      if (k == ui::EventKind::CloseWindow || k == ui::EventKind::CloseDown) list->Close();
    }
  });
  int card = driver_.WaitFor(C::kModule);
  ASSERT_NE(card, 0);
  ASSERT_TRUE(driver_.Type(card, C::SLO_F_M, "X видит Y (пробная легенда)"));

  backend_.QueueAnswer(ui::ButtonCancel);
  ASSERT_TRUE(driver_.Menu(frame, {"Регистрация", "Exit"}));
  ASSERT_EQ(Boxes(), 1u);
  EXPECT_EQ(backend_.Boxes()[0].box.caption, "Save Record");
  EXPECT_TRUE(driver_.IsOpen(card));
  EXPECT_TRUE(driver_.IsOpen(frame));
  EXPECT_TRUE(ui::Runtime::ThreadRunning(listThread));

  backend_.QueueAnswer(ui::ButtonNo);
  ASSERT_TRUE(driver_.CloseBox(frame));
  EXPECT_TRUE(driver_.WaitThreadEnd(frameThread));
  EXPECT_TRUE(frameEnded.load());
  EXPECT_FALSE(ui::Runtime::ThreadRunning(listThread));
  EXPECT_EQ(Boxes(), 2u);
  EXPECT_EQ(DiskCard(dir_.path(), "видеть 2 (понимать)"), before);
}

// Another station rewrites the card while it is open here: the save is refused with the
// other station's card shown, nothing of this station's is written (the word file neither),
// the ditto key gives the user's text back and the next OK saves it.
TEST_F(CardTest, AnotherStationsChangeIsShownAndTheDittoKeyGivesTheUsersTextBack) {
  int card = Call(modules::kCardForm041, ChangeRecord, "ломать 1 (разрушать)", "chn");
  ASSERT_TRUE(driver_.Type(card, C::SLO_I_VERB, "рушить 1 (разрушать)"));
  ASSERT_TRUE(driver_.Type(card, C::SLO_VI, "сломать"));
  {
    ui::RuntimeLock::Acquire();
    DeclaredFile other = DeclareFile(F::kSlovo, &storage::dat::DatDriverEntry, dir_.path());
    storage::DriverArgs open;
    open.mode = storage::kOpenReadWrite | storage::kShareDenyNone;
    EXPECT_EQ(0, storage::CallDriver(storage::kOpOpen, other.fd(), open));
    other.SetField("I_VERB", Ansi("ломать 1 (разрушать)"));
    storage::DriverArgs get;
    get.key = 1;
    EXPECT_EQ(0, storage::CallDriver(storage::kOpGetFileKey, other.fd(), get));
    other.SetField("F_M", Ansi("X ломает Y (другая станция)"));
    EXPECT_EQ(0, storage::CallDriver(storage::kOpPut, other.fd()));
    EXPECT_EQ(storage::CallDriver(storage::kOpClose, other.fd()), 0);
    ui::RuntimeLock::Release();
  }
  const auto theirs = DiskCard(dir_.path(), "ломать 1 (разрушать)");
  const auto words = DiskWords(dir_.path());
  ASSERT_TRUE(driver_.Press(card, C::OK));
  ASSERT_TRUE(driver_.IsOpen(card));
  ASSERT_EQ(Boxes(), 1u);
  EXPECT_EQ(backend_.Boxes()[0].box.caption, "Record Was Not Updated");
  EXPECT_NE(backend_.Boxes()[0].box.text.find("Those changes will now be displayed"),
            std::string::npos);
  EXPECT_EQ(Text(card, C::SLO_I_VERB), "ломать 1 (разрушать)");
  EXPECT_EQ(Text(card, C::SLO_F_M), "X ломает Y (другая станция)");
  EXPECT_EQ(DiskCard(dir_.path(), "ломать 1 (разрушать)"), theirs);
  EXPECT_EQ(DiskWords(dir_.path()), words);

  ASSERT_TRUE(driver_.Key(card, C::SLO_I_VERB, ui::kKeyCtrl | '\''));
  EXPECT_EQ(Text(card, C::SLO_I_VERB), "рушить 1 (разрушать)");
  ASSERT_TRUE(driver_.Press(card, C::OK));
  EXPECT_EQ(Response(), framework::RequestCompleted);
  auto saved = DiskCard(dir_.path(), "рушить 1 (разрушать)");
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ(saved.at("F_M"), "X ломает Y (другая станция)");
  EXPECT_EQ(DiskWords(dir_.path()).at("рушить"), 1);
  EXPECT_EQ(DiskWords(dir_.path()).at("ломать"), 2);
  ExpectWordsAsRepaired();
}

// A write of the word file that fails in the middle of a save takes the card's write back
// with it; the user is told and may try again.
TEST_F(CardTest, AFailedWriteOfTheWordFileTakesTheCardBackWithIt) {
  test::FaultFileSystem fs;
  test::ScopedFileSystem scoped(fs);
  const auto cards = DiskRows(dir_.path(), F::kSlovo);
  const auto words = DiskWords(dir_.path());
  int card = Call(modules::kCardForm041, ChangeRecord, "бить 2 (разбивать)", "chn");
  ASSERT_TRUE(driver_.Type(card, C::SLO_I_VERB, "разбить 1 (пробное)"));
  const std::string dct = storage::dat::DataFilePath(Declared(F::kDct).fd().name);
  fs.SetPathFilter([dct](const std::string& path) { return path == dct; });
  fs.FailNth(test::FaultOp::kWrite, 1, EIO);
  backend_.QueueAnswer(ui::ButtonOk);
  backend_.QueueAnswer(ui::ButtonCancel);
  ASSERT_TRUE(driver_.Press(card, C::OK));
  fs.SetPathFilter(nullptr);
  ASSERT_TRUE(driver_.IsOpen(card));
  ASSERT_EQ(Boxes(), 2u);
  EXPECT_EQ(backend_.Boxes()[0].box.caption, "Record was not updated");
  EXPECT_EQ(backend_.Boxes()[1].box.caption, "Record Update Error");
  EXPECT_EQ(DiskRows(dir_.path(), F::kSlovo), cards);
  EXPECT_EQ(DiskWords(dir_.path()), words);
  ASSERT_TRUE(driver_.Press(card, C::OK));
  EXPECT_EQ(Response(), framework::RequestCompleted);
  EXPECT_EQ(DiskWords(dir_.path()).at("разбить"), 1);
  ExpectWordsAsRepaired();
}

TEST_F(CardTest, PickButtonsFillTheirOwnFieldOnlyWhenAnEntryIsChosen) {
  // Stand-ins for the pick lists: the theme list chooses "время", the T-class list is closed
  // without a choice.
  RegisterCalled(modules::kThemePick, [](uint8_t request) {
    EXPECT_EQ(request, 4);
    Declared(F::kTema).SetField("T", Ansi("время"));
    return uint8_t{framework::RequestCompleted};
  });
  RegisterCalled(modules::kTClassPick, [](uint8_t) {
    Declared(F::kAk3).SetField("A", Ansi("что-то постороннее"));
    return uint8_t{framework::RequestCancelled};
  });
  int card = Call(modules::kCardForm041, ChangeRecord, "идти 1 (двигаться пешком)", "chn");
  const std::string act53 = Text(card, C::SLO_ACT53);
  ASSERT_TRUE(driver_.Press(card, C::PickTEMA));
  EXPECT_EQ(Text(card, C::SLO_TEMA), "время");
  ASSERT_TRUE(driver_.ChooseTab(card, C::Sheet, 2));
  ASSERT_TRUE(driver_.Press(card, C::PickACT53));
  EXPECT_EQ(Text(card, C::SLO_ACT53), act53);
  EXPECT_EQ(driver_.Focus(card), C::SLO_ACT53);
  // A role typed by hand joins the roles.
  ASSERT_TRUE(driver_.Type(card, C::SLO_ACT43, "Пробная роль"));
  ASSERT_TRUE(driver_.Press(card, C::OK));
  EXPECT_EQ(Response(), framework::RequestCompleted);
  EXPECT_EQ(DiskCard(dir_.path(), "идти 1 (двигаться пешком)").at("TEMA"), "время");
  auto roles = DiskRows(dir_.path(), F::kAk2);
  EXPECT_NE(std::find(roles.begin(), roles.end(), "Пробная роль"), roles.end());
}

TEST_F(CardTest, ExamplesWidenInTheirOwnWindowAndEditTheCard) {
  // The print and export buttons start their procedures on threads of their own; those read
  // the card through glo:CurrentLex.
  static std::atomic<int> started{0};
  static std::string printed;
  for (int module : {modules::kCardReport, modules::kCardReport2, modules::kCardExport}) {
    RegisterStarted(module, [module] {
      printed = Utf8(Clip(Glo().currentLex));
      started += module;
    });
  }
  int card =
      Call(modules::kCardForm041, ChangeRecord, "нести 1 (перемещать, держа в руках)", "chn");
  for (int button : {C::Print, C::PrintAlt, C::Export}) ASSERT_TRUE(driver_.Press(card, button));
  for (int k = 0;
       k < 100 && started != modules::kCardReport + modules::kCardReport2 + modules::kCardExport;
       ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(started.load(), modules::kCardReport + modules::kCardReport2 + modules::kCardExport);
  EXPECT_EQ(printed, "нести 1 (перемещать, держа в руках)");

  ASSERT_TRUE(driver_.Press(card, C::ExpandEXA_MEMO));
  int wide = driver_.WaitFor(ids::ExamplesExpand::kModule);
  ASSERT_NE(wide, 0);
  EXPECT_EQ(driver_.Text(wide, ids::ExamplesExpand::SLO_EXA_MEMO), Text(card, C::SLO_EXA_MEMO));
  ASSERT_TRUE(driver_.Type(wide, ids::ExamplesExpand::SLO_EXA_MEMO, "Он несёт сумку."));
  ASSERT_TRUE(driver_.Press(wide, ids::ExamplesExpand::OK));
  EXPECT_FALSE(driver_.IsOpen(wide));
  EXPECT_EQ(Text(card, C::SLO_EXA_MEMO), "Он несёт сумку.");
  EXPECT_EQ(driver_.Focus(card), C::SLO_EXA_MEMO);
  ASSERT_TRUE(driver_.Press(card, C::OK));
  EXPECT_EQ(Response(), framework::RequestCompleted);
  auto saved = DiskCard(dir_.path(), "нести 1 (перемещать, держа в руках)");
  EXPECT_EQ(saved.at("EXA_MEMO"), "Он несёт сумку.");
  EXPECT_EQ(saved.at("EXAMPLE"), "Он несёт сумку.");
}

TEST_F(CardTest, BadIdentifiersAndExamplesAreRefusedOrCutWithAMessage) {
  const auto words = DiskWords(dir_.path());
  const auto cards = DiskRows(dir_.path(), F::kSlovo);
  // Another card's identifier, spelt in other case: refused by K_SLO, nothing written.
  int card = Call(modules::kCardForm041, InsertRecord, "", "add");
  ASSERT_TRUE(driver_.Type(card, C::SLO_I_VERB, "БИТЬ 1 (Ударять)"));
  ASSERT_TRUE(driver_.Press(card, C::OK));
  ASSERT_TRUE(driver_.IsOpen(card));
  ASSERT_EQ(Boxes(), 1u);
  EXPECT_EQ(backend_.Boxes()[0].box.caption, "Duplicate Key Error");
  EXPECT_NE(backend_.Boxes()[0].box.text.find("K_SLO"), std::string::npos);
  EXPECT_EQ(driver_.Focus(card), C::SLO_I_VERB);
  // An identifier of blanks only.
  ASSERT_TRUE(driver_.Type(card, C::SLO_I_VERB, "   "));
  ASSERT_TRUE(driver_.Press(card, C::OK));
  ASSERT_TRUE(driver_.IsOpen(card));
  ASSERT_EQ(Boxes(), 2u);
  EXPECT_NE(MessageTexts()[1].find("Лексема"), std::string::npos);
  EXPECT_EQ(DiskWords(dir_.path()), words);
  EXPECT_EQ(DiskRows(dir_.path(), F::kSlovo), cards);

  // 64 characters ending in "(", so no blank: a card without a word part; and examples of
  // exactly the memo's 10,000 characters.
  const std::string longId = std::string(63, 'x') + "(";
  std::string memo;  // Windows-1251
  while (memo.size() < 10000) memo += Ansi("Пример " + std::to_string(memo.size()) + ". ");
  memo = Utf8(memo.substr(0, 9999) + ".");
  ASSERT_TRUE(driver_.Type(card, C::SLO_I_VERB, longId));
  ASSERT_TRUE(driver_.Type(card, C::SLO_EXA_MEMO, memo));
  ASSERT_TRUE(driver_.Press(card, C::OK));
  ASSERT_EQ(Response(), framework::RequestCompleted);
  EXPECT_EQ(Boxes(), 2u);
  auto saved = DiskCard(dir_.path(), longId);
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ(saved.at("EXA_MEMO"), memo);
  EXPECT_EQ(saved.at("VERV"), "");
  EXPECT_EQ(DiskWords(dir_.path()), words);
  ExpectWordsAsRepaired();
  card = Call(modules::kCardForm041, ChangeRecord, longId, "chn");
  EXPECT_EQ(driver_.Caption(card), "Лексема " + std::string(32, 'x'));  // 40 in all
  EXPECT_EQ(Clip(Glo().lexemeHead), std::string(35, 'x'));

  // One more character of examples: cut to the memo's size, and the user is told.
  ASSERT_TRUE(driver_.Type(card, C::SLO_EXA_MEMO, memo + "!"));
  ASSERT_EQ(Boxes(), 3u);
  EXPECT_NE(MessageTexts()[2].find("10000"), std::string::npos);
  EXPECT_EQ(Text(card, C::SLO_EXA_MEMO), memo);
  // A word part of no characters: the identifier begins with its blank.
  ASSERT_TRUE(driver_.Type(card, C::SLO_I_VERB, " безсловная (пробная)"));
  ASSERT_TRUE(driver_.Press(card, C::OK));
  EXPECT_EQ(Response(), framework::RequestCompleted);
  EXPECT_EQ(DiskCard(dir_.path(), " безсловная (пробная)").at("EXA_MEMO"), memo);
  EXPECT_EQ(DiskWords(dir_.path()), words);
  ExpectWordsAsRepaired();
}

}  // namespace
}  // namespace korawin::app::testing
