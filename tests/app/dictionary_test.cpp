#include "app/dictionary.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

#include <gtest/gtest.h>

#include "lang/bind.h"
#include "storage/dat/dat_driver.h"
#include "tests/framework/fake_driver.h"
#include "ui/halt.h"
#include "ui/headless_message_box.h"

namespace korawin::app {
namespace {

using framework::LevelBenign;
using framework::LevelFatal;
using framework::LevelNotify;
using testing::FakeStore;
namespace fs = std::filesystem;

int haltCalls = 0;

class DictionaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    haltCalls = 0;
    previousHalt_ = ui::SetHaltHandler([](int, std::string_view) { ++haltCalls; });
    errors_.Init();
    errors_.SetUi(&ui_);
  }
  void TearDown() override {
    KillDictionary();
    SetDatabaseFolder("");
    ui::SetHaltHandler(previousHalt_);
  }

  framework::ErrorClass errors_;
  ui::HeadlessMessageUi ui_;
  ui::HaltHandler previousHalt_ = nullptr;
};

// ---- Through the in-memory driver: the relations and the validation --------------------

class DictionaryRulesTest : public DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    FakeStore::Instance().Reset();
    InitDictionary(errors_, &FakeStore::Entry);
  }

  void Add(LexiconFile which, std::vector<std::pair<const char*, std::string>> values) {
    DeclaredFile& d = Declared(which);
    d.Clear();
    for (auto& [field, value] : values) d.SetField(field, value);
    // As the forms do: through the relation manager, which opens the related files too.
    ASSERT_EQ(Relate(which).Open(), LevelBenign);
    ASSERT_EQ(Access(which).Insert(), LevelBenign);
    EXPECT_EQ(LevelBenign, Relate(which).Close());
  }

  std::vector<std::string> Column(LexiconFile which, const char* field) {
    DeclaredFile probe = DeclareFile(which, nullptr, "");
    int i = probe.FieldIndex(field);
    const storage::FieldDescriptor& f = probe.fd().fields[static_cast<size_t>(i)];
    std::vector<std::string> out;
    for (auto& [rec, bytes] : FakeStore::Instance().Records(Declared(which).fd().name))
      out.push_back(bytes.substr(f.offset, f.size));
    return out;
  }

  // Reads an entry by its key as the classification browsers do before an edit.
  void ReadEntry(LexiconFile which, const char* field, const std::string& value) {
    EXPECT_EQ(LevelBenign, Relate(which).Open());
    Declared(which).SetField(field, value);
    ASSERT_EQ(Access(which).TryFetch(1), LevelBenign);
    Relate(which).SaveLinkingFields();
  }
};

TEST_F(DictionaryRulesTest, RenamingAThemeRewritesEveryCardHoldingIt) {
  Add(LexiconFile::kTema, {{"T", "Motion"}});
  Add(LexiconFile::kSlovo, {{"I_VERB", "idti 1"}, {"TEMA", "Motion"}});
  Add(LexiconFile::kSlovo, {{"I_VERB", "begat 1"}, {"TEMA", "motion"}});
  Add(LexiconFile::kSlovo, {{"I_VERB", "spat 1"}, {"TEMA", "Sleep"}});
  ReadEntry(LexiconFile::kTema, "T", "Motion");
  Declared(LexiconFile::kTema).SetField("T", "Movement");
  EXPECT_EQ(Relate(LexiconFile::kTema).Update(), LevelBenign);
  EXPECT_EQ(LevelBenign, Relate(LexiconFile::kTema).Close());
  std::string moved = "Movement" + std::string(164 - 8, ' ');
  EXPECT_EQ(Column(LexiconFile::kSlovo, "TEMA"),
            (std::vector<std::string>{moved, moved, "Sleep" + std::string(159, ' ')}));
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(DictionaryRulesTest, RenamingAK6EntryPadsTheCardsLongerField) {
  std::string old(150, 'a');  // the whole 150 characters of P_7:F
  Add(LexiconFile::kP7, {{"F", old}});
  Add(LexiconFile::kSlovo, {{"I_VERB", "x"}, {"V_7", old}});
  ReadEntry(LexiconFile::kP7, "F", old);
  Declared(LexiconFile::kP7).SetField("F", std::string(150, 'b'));
  EXPECT_EQ(Relate(LexiconFile::kP7).Update(), LevelBenign);
  EXPECT_EQ(LevelBenign, Relate(LexiconFile::kP7).Close());
  EXPECT_EQ(Column(LexiconFile::kSlovo, "V_7"),
            std::vector<std::string>{std::string(150, 'b') + std::string(60, ' ')});
}

TEST_F(DictionaryRulesTest, UsedThemeCannotBeDeletedUnusedOneCan) {
  Add(LexiconFile::kTema, {{"T", "Motion"}});
  Add(LexiconFile::kTema, {{"T", "Unused"}});
  Add(LexiconFile::kSlovo, {{"I_VERB", "idti 1"}, {"TEMA", "Motion"}});
  auto before = FakeStore::Instance().Records(Declared(LexiconFile::kTema).fd().name);
  ReadEntry(LexiconFile::kTema, "T", "Motion");
  ui_.QueueAnswer(ui::ButtonOk);  // the refusal
  ui_.QueueAnswer(ui::ButtonNo);  // do not try again
  EXPECT_EQ(Relate(LexiconFile::kTema).Delete(false), LevelNotify);
  EXPECT_EQ(ui_.Boxes().front().box.caption, "Referential Integrity Delete Error");
  EXPECT_EQ(FakeStore::Instance().Records(Declared(LexiconFile::kTema).fd().name), before);
  EXPECT_EQ(LevelBenign, Relate(LexiconFile::kTema).Close());

  ui_.Clear();
  ReadEntry(LexiconFile::kTema, "T", "Unused");
  EXPECT_EQ(Relate(LexiconFile::kTema).Delete(false), LevelBenign);
  EXPECT_EQ(LevelBenign, Relate(LexiconFile::kTema).Close());
  EXPECT_EQ(FakeStore::Instance().Records(Declared(LexiconFile::kTema).fd().name).size(), 1u);
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(DictionaryRulesTest, WordsUsedByCardsOrPairsAreProtected) {
  Add(LexiconFile::kSlovo, {{"I_VERB", "idti 1"}, {"VERV", "idti"}});
  Add(LexiconFile::kDct, {{"VERV", "idti"}});
  ReadEntry(LexiconFile::kDct, "VERV", "idti");
  Declared(LexiconFile::kDct).SetField("VERV", "xodit");
  EXPECT_EQ(Relate(LexiconFile::kDct).Update(), LevelNotify);
  EXPECT_EQ(ui_.Last().box.caption, "Referential Integrity Update Error");
  EXPECT_EQ(ui_.Last().box.text,
            "This record is referenced from the file slovo.dat. Linking field(s) have been "
            "restricted from change and have been reset to original values.");
  EXPECT_EQ(Declared(LexiconFile::kDct).Field("VERV").substr(0, 5), "idti ");
  EXPECT_EQ(LevelBenign, Relate(LexiconFile::kDct).Close());
}

TEST_F(DictionaryRulesTest, AWordMustBeTheWordOfSomeCard) {
  Add(LexiconFile::kSlovo, {{"I_VERB", "idti 1"}, {"VERV", "idti"}});
  EXPECT_EQ(LevelBenign, Relate(LexiconFile::kDct).Open());
  Declared(LexiconFile::kDct).SetField("VERV", "begat");
  EXPECT_EQ(Access(LexiconFile::kDct).Insert(), LevelNotify);
  EXPECT_EQ(ui_.Last().box.caption, "Field contents error");
  EXPECT_EQ(ui_.Last().box.text, "The value of dct:VERV must be found in the slovo file.");
  EXPECT_TRUE(FakeStore::Instance().Records(Declared(LexiconFile::kDct).fd().name).empty());

  // Longer than SLO:VERV: only the first 20 characters have to match a card.
  ui_.Clear();
  Add(LexiconFile::kSlovo, {{"I_VERB", "dlinnoe 1"}, {"VERV", std::string(20, 'd')}});
  Declared(LexiconFile::kDct).SetField("VERV", std::string(20, 'd') + "extra");
  EXPECT_EQ(Access(LexiconFile::kDct).Insert(), LevelBenign);
  Declared(LexiconFile::kDct).SetField("VERV", "idti");
  EXPECT_EQ(Access(LexiconFile::kDct).Insert(), LevelBenign);
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(LevelBenign, Relate(LexiconFile::kDct).Close());
}

TEST_F(DictionaryRulesTest, TwoCardsCannotShareALexeme) {
  Add(LexiconFile::kSlovo, {{"I_VERB", "idti 1"}});
  EXPECT_EQ(LevelBenign, Access(LexiconFile::kSlovo).Open());
  Declared(LexiconFile::kSlovo).Clear();
  Declared(LexiconFile::kSlovo).SetField("I_VERB", "IDTI 1");
  EXPECT_EQ(Access(LexiconFile::kSlovo).Insert(), LevelNotify);
  EXPECT_EQ(ui_.Last().box.text,
            "Adding this record creates a duplicate entry for the key: SLO:K_SLO");
  EXPECT_EQ(LevelBenign, Access(LexiconFile::kSlovo).Close());
}

TEST_F(DictionaryRulesTest, SetUpFollowsTheFileTable) {
  EXPECT_EQ(Access(LexiconFile::kAbc).FileNameValue, "abc");
  framework::FileManager& slovo = Access(LexiconFile::kSlovo);
  ASSERT_EQ(slovo.Keys.size(), 9u);
  EXPECT_EQ(slovo.Keys[1].Description, "SLO:K_VERV");
  EXPECT_EQ(slovo.Keys[8].Description, "SLO:BY_ACP");
  EXPECT_FALSE(slovo.HasAutoInc);
  EXPECT_TRUE(slovo.Create);
  EXPECT_EQ(slovo.LockRecover, 10);
  EXPECT_TRUE(Relate(LexiconFile::kSlovo).UseLogout);

  // SLOVO: only the reverse declarations, in the table's order.
  std::vector<framework::FileManager*> reverse;
  for (const framework::Relation& r : Relate(LexiconFile::kSlovo).Relations) {
    EXPECT_EQ(r.UpdateMode, framework::RiNone);
    reverse.push_back(r.File->Me);
  }
  EXPECT_EQ(reverse, (std::vector<framework::FileManager*>{
                         &Access(LexiconFile::kP8e), &Access(LexiconFile::kP8b),
                         &Access(LexiconFile::kP7), &Access(LexiconFile::kTema),
                         &Access(LexiconFile::kTax), &Access(LexiconFile::kP4),
                         &Access(LexiconFile::kDct)}));
  const auto& dct = Relate(LexiconFile::kDct).Relations;
  ASSERT_EQ(dct.size(), 2u);
  EXPECT_EQ(dct[0].File, &Relate(LexiconFile::kAbc));
  EXPECT_EQ(dct[0].HisKey, 2);
  EXPECT_EQ(dct[1].File, &Relate(LexiconFile::kSlovo));
  EXPECT_EQ(dct[1].DeleteMode, framework::RiRestrict);
  EXPECT_TRUE(Relate(LexiconFile::kAk2).Relations.empty());
}

TEST_F(DictionaryRulesTest, FieldsAreBoundUnderTheirDataNames) {
  Declared(LexiconFile::kSlovo).SetField("METKA", "*");
  lang::SymbolInfo info;
  ASSERT_TRUE(lang::LookupName("slo:metka", &info));
  EXPECT_EQ(info.kind, lang::kSymbolVariable);
  EXPECT_EQ(info.var.size, 1u);
  EXPECT_EQ(*static_cast<const char*>(info.var.address), '*');
  ASSERT_TRUE(lang::LookupName("AK2:A", &info));
  EXPECT_EQ(info.var.address, Declared(LexiconFile::kAk2).fd().record);
  ASSERT_TRUE(lang::LookupName("SLO:EXA_MEMO", &info));
  EXPECT_EQ(info.var.size, 10000u);
  ASSERT_TRUE(lang::LookupName("SLO:DATE", &info));
  EXPECT_EQ(info.var.type, lang::kTypeLong);
}

// ---- Through the DAT driver on a real folder --------------------------------------------

class DictionaryDiskTest : public DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    dir_ = fs::temp_directory_path() /
           ("korawin-dict-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    SetDatabaseFolder(dir_.string());
  }
  void TearDown() override {
    DictionaryTest::TearDown();
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(DictionaryDiskTest, MissingFilesAreCreatedOnFirstOpen) {
  InitDictionary(errors_);
  EXPECT_EQ(Relate(LexiconFile::kSlovo).Open(), LevelBenign);
  for (const char* name : {"slovo.dat", "tema.dat", "taxonom.dat", "p_4.dat", "p_7.dat",
                           "p8b.dat", "p8e.dat", "dct.dat"})
    EXPECT_TRUE(fs::exists(dir_ / name)) << name;
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(LevelBenign, Relate(LexiconFile::kSlovo).Close());
  EXPECT_FALSE(fs::exists(dir_ / "ak2.dat"));  // in no relation with SLOVO
}

TEST_F(DictionaryDiskTest, FileOfAnotherLayoutIsRefusedAndLeftAlone) {
  // A DCT-shaped file where SLOVO belongs.
  {
    DeclaredFile other = DeclareFile(LexiconFile::kDct, &storage::dat::DatDriverEntry,
                                     dir_.string());
    other.fd().name = (dir_ / "slovo.dat").string();
    ASSERT_EQ(storage::CallDriver(storage::kOpCreate, other.fd()), 0);
    EXPECT_EQ(0, storage::CallDriver(storage::kOpClose, other.fd()));
  }
  std::ifstream in(dir_ / "slovo.dat", std::ios::binary);
  std::string before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();

  InitDictionary(errors_);
  EXPECT_EQ(Access(LexiconFile::kSlovo).Open(), LevelFatal);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.caption, "File Access Error");
  EXPECT_NE(ui_.Last().box.text.find("Invalid Record Declaration (47)"), std::string::npos);
  EXPECT_EQ(haltCalls, 1);
  std::ifstream again(dir_ / "slovo.dat", std::ios::binary);
  std::string after((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
  EXPECT_EQ(after, before);
}

TEST_F(DictionaryDiskTest, FileHeldAgainstWritingOpensReadOnlyAfterTheNotice) {
  InitDictionary(errors_);
  ASSERT_EQ(Access(LexiconFile::kAk2).Open(), LevelBenign);  // creates it
  EXPECT_EQ(LevelBenign, Access(LexiconFile::kAk2).Close());

  DeclaredFile holder = DeclareFile(LexiconFile::kAk2, &storage::dat::DatDriverEntry,
                                    dir_.string());
  storage::DriverArgs a;
  a.mode = storage::kOpenReadOnly | storage::kShareDenyWrite;
  ASSERT_EQ(storage::CallDriver(storage::kOpOpen, holder.fd(), a), 0);

  EXPECT_EQ(Access(LexiconFile::kAk2).Open(), LevelBenign);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Last().box.caption, "Access Denied");
  EXPECT_NE(ui_.Last().box.text.find("so trying read-only."), std::string::npos);
  EXPECT_EQ(haltCalls, 0);
  EXPECT_EQ(LevelBenign, Access(LexiconFile::kAk2).Close());
  EXPECT_EQ(0, storage::CallDriver(storage::kOpClose, holder.fd()));
}

}  // namespace
}  // namespace korawin::app
