// The repair and the two other batch passes over a real database in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/batch_passes.h"
#include "app/exchange.h"
#include "app/repair.h"
#include "platform/codepage.h"
#include "storage/dat/collation.h"
#include "storage/driver.h"
#include "tests/support/temp_dir.h"
#include "ui/headless_message_box.h"

namespace korawin::app {
namespace {

using storage::CallDriver;
using storage::DriverArgs;

std::string W(const char* utf8) { return *platform::Utf8ToCp1251(utf8); }

std::string Trim(std::string_view s) {
  size_t n = s.find_last_not_of(' ');
  return n == std::string_view::npos ? std::string() : std::string(s.substr(0, n + 1));
}

class Database {
 public:
  // Collation first: key layouts take the tables active when the files are first used.
  explicit Database(bool cyrillicFolding = false) {
    storage::dat::Collation c;
    if (cyrillicFolding) {
    EXPECT_EQ(0, storage::dat::Collation::Parse("VELCASE=WINDOWS\nVELCOLSEQ=WINDOWS\n", &c));
  }
    storage::dat::SetActiveCollation(c);
    files_ = std::make_unique<LexiconFiles>(LexiconFiles::InFolder(dir_));
    std::string error;
    EXPECT_EQ(0, CreateDatabase(*files_, &error)) << error;
  }
  ~Database() { storage::dat::SetActiveCollation(storage::dat::Collation()); }

  const LexiconFiles& files() { return *files_; }
  DeclaredFile& operator[](LexiconFile f) { return (*files_)[f]; }

  // Adds cards to SLOVO: each a list of (field, UTF-8 value) pairs.
  void AddCards(const std::vector<std::vector<std::pair<const char*, std::string>>>& cards) {
    DeclaredFile& slovo = (*this)[LexiconFile::kSlovo];
    DriverArgs open;
    open.mode = storage::kOpenReadWrite | storage::kShareDenyAll;
    ASSERT_EQ(0, CallDriver(storage::kOpOpen, slovo.fd(), open));
    for (const auto& card : cards) {
      slovo.Clear();
      for (const auto& [field, value] : card) {
        if (std::strcmp(field, "EXA_MEMO") == 0) {
          std::string m = W(value.c_str());
          std::copy(m.begin(), m.end(), slovo.memo.begin());
        } else {
          slovo.SetField(field, W(value.c_str()));
        }
      }
      ASSERT_EQ(0, CallDriver(storage::kOpAdd, slovo.fd())) << value_of(card);
    }
    ASSERT_EQ(0, CallDriver(storage::kOpClose, slovo.fd()));
  }

  // The records of a file along its first key: field values (UTF-8, trimmed) joined by "|";
  // numbers as decimals.
  std::vector<std::string> Rows(LexiconFile which, int key = 1) {
    DeclaredFile& d = (*this)[which];
    std::vector<std::string> rows;
    DriverArgs open;
    open.mode = storage::kOpenReadOnly | storage::kShareDenyNone;
    EXPECT_EQ(0, CallDriver(storage::kOpOpen, d.fd(), open)) << d.fd().name;
    DriverArgs set;
    set.key = key;
    EXPECT_EQ(0, CallDriver(storage::kOpSetKey, d.fd(), set));
    while (CallDriver(storage::kOpNext, d.fd()) == 0) {
      std::string row;
      for (const storage::FieldDescriptor& f : d.fd().fields) {
        if (!row.empty()) row += "|";
        const char* p = d.record.data() + f.offset;
        if (f.type == storage::kTypeString)
          row += platform::Cp1251ToUtf8(Trim(std::string_view(p, f.size)));
        else
          row += std::to_string(static_cast<unsigned char>(p[0]));
      }
      rows.push_back(row);
    }
    EXPECT_EQ(0, CallDriver(storage::kOpClose, d.fd()));
    return rows;
  }

  // One field of every card along K_SLO.
  std::vector<std::string> SlovoField(const char* name) {
    std::vector<std::string> out;
    DeclaredFile& s = (*this)[LexiconFile::kSlovo];
    DriverArgs open;
    open.mode = storage::kOpenReadOnly | storage::kShareDenyNone;
    EXPECT_EQ(0, CallDriver(storage::kOpOpen, s.fd(), open));
    DriverArgs set;
    set.key = 1;
    EXPECT_EQ(0, CallDriver(storage::kOpSetKey, s.fd(), set));
    while (CallDriver(storage::kOpNext, s.fd()) == 0)
      out.push_back(name == std::string("EXA_MEMO")
                        ? platform::Cp1251ToUtf8(Trim(std::string_view(s.memo.data(), s.memo.size())))
                        : platform::Cp1251ToUtf8(Trim(s.Field(name))));
    EXPECT_EQ(0, CallDriver(storage::kOpClose, s.fd()));
    return out;
  }

  const std::string& dir() const { return dir_; }

 private:
  static std::string value_of(const std::vector<std::pair<const char*, std::string>>& card) {
    return card.empty() ? std::string() : card.front().second;
  }
  test::TempDir temp_{"repair"};
  std::string dir_ = temp_.path();
  std::unique_ptr<LexiconFiles> files_;
};

using Rows = std::vector<std::string>;
constexpr LexiconFile kDerived[] = {LexiconFile::kDct, LexiconFile::kTax, LexiconFile::kP4,
                                    LexiconFile::kP7,  LexiconFile::kP8b, LexiconFile::kP8e,
                                    LexiconFile::kAk2, LexiconFile::kAk3, LexiconFile::kTema};

TEST(Repair, EmptySlovoEmptiesTheListsAndStillAsksAndAnswers) {
  Database db;
  // Stale entries in the lists, and an ABC row the repair must leave alone.
  DeclaredFile& tema = db[LexiconFile::kTema];
  DriverArgs open;
  open.mode = storage::kOpenReadWrite | storage::kShareDenyAll;
  ASSERT_EQ(0, CallDriver(storage::kOpOpen, tema.fd(), open));
  tema.SetField("T", "old");
  ASSERT_EQ(0, CallDriver(storage::kOpAdd, tema.fd()));
  EXPECT_EQ(0, CallDriver(storage::kOpClose, tema.fd()));
  DeclaredFile& abc = db[LexiconFile::kAbc];
  ASSERT_EQ(0, CallDriver(storage::kOpOpen, abc.fd(), open));
  abc.SetField("LEXEMA", "x 1");
  abc.SetField("SLOVO", "x");
  ASSERT_EQ(0, CallDriver(storage::kOpAdd, abc.fd()));
  EXPECT_EQ(0, CallDriver(storage::kOpClose, abc.fd()));

  ui::HeadlessMessageUi ui;
  PassReport report;
  EXPECT_EQ(0, RepairDatabase(db.files(), ui, nullptr, &report));
  EXPECT_EQ(0, report.lexemes);
  for (LexiconFile f : kDerived) EXPECT_EQ(Rows(), db.Rows(f)) << FileLabel(f);
  EXPECT_EQ(Rows{"x 1|x"}, db.Rows(LexiconFile::kAbc));
  auto boxes = ui.Boxes();
  ASSERT_EQ(2u, boxes.size());
  EXPECT_EQ(W("Восстановить данные?"), boxes[0].box.text);
  EXPECT_EQ(W("        ГОТОВО!    | Продолжить работу?"), boxes[1].box.text);
  for (const auto& b : boxes) {
    EXPECT_EQ("", b.box.caption);
    EXPECT_EQ(ui::Icon::None, b.box.icon);
    EXPECT_EQ(unsigned{ui::ButtonOk}, b.box.buttons);
  }
  EXPECT_TRUE(ui.Beeps().empty());
}

TEST(Repair, LexemesOfOneWordFormOneGroupAndGetTheirWord) {
  Database db;
  db.AddCards({{{"I_VERB", "бить 2"}, {"TEMA", "воздействие"}},
               {{"I_VERB", "бить"}, {"VERV", "неверно"}},
               {{"I_VERB", "бить 1"}, {"TEMA", "воздействие"}},
               {{"I_VERB", "брать 1"}}});
  ui::HeadlessMessageUi ui;
  std::vector<std::pair<int64_t, int64_t>> progress;
  PassReport report;
  ASSERT_EQ(0, RepairDatabase(db.files(), ui,
                              [&](int64_t done, int64_t total) { progress.emplace_back(done, total); },
                              &report));
  EXPECT_EQ((Rows{"бить|3", "брать|1"}), db.Rows(LexiconFile::kDct));
  EXPECT_EQ((Rows{"бить", "бить", "бить", "брать"}), db.SlovoField("VERV"));
  EXPECT_EQ(Rows{"воздействие"}, db.Rows(LexiconFile::kTema));
  EXPECT_EQ(4u, ui.Beeps().size());
  EXPECT_EQ(ui::Sound::Exclamation, ui.Beeps().front());
  ASSERT_EQ(4u, progress.size());
  EXPECT_EQ(std::make_pair(int64_t{4}, int64_t{4}), progress.back());
  EXPECT_EQ(2, report.words);

  // A second run over the repaired database gives the same lists.
  ASSERT_EQ(0, RepairDatabase(db.files(), ui, nullptr, &report));
  EXPECT_EQ((Rows{"бить|3", "брать|1"}), db.Rows(LexiconFile::kDct));
}

TEST(Repair, LongValuesAreCutToTheirTargets) {
  Database db;
  std::string longWord = "перевоспитыватьсяяяяяяяяяяяяяяяяяяя";  // 35 letters
  std::string v7(160, 'k');
  v7 += " tail";
  db.AddCards({{{"I_VERB", longWord + " 1"}, {"V_7", v7}, {"V_4", "K4 value"}}});
  ui::HeadlessMessageUi ui;
  ASSERT_EQ(0, RepairDatabase(db.files(), ui, nullptr, nullptr));
  std::string w = W(longWord.c_str());
  EXPECT_EQ(Rows{platform::Cp1251ToUtf8(w.substr(0, 20))}, db.SlovoField("VERV"));
  EXPECT_EQ(Rows{platform::Cp1251ToUtf8(w.substr(0, 32)) + "|1"}, db.Rows(LexiconFile::kDct));
  EXPECT_EQ(Rows{std::string(150, 'k')}, db.Rows(LexiconFile::kP7));
  EXPECT_EQ(Rows{"K4 value"}, db.Rows(LexiconFile::kP4));
}

TEST(Repair, VocabulariesKeepOneSpellingPerValueAndSkipBlanks) {
  Database db;
  db.AddCards({{{"I_VERB", "а 1"}, {"ACT41", "Агенс"}, {"ACT42", "Цель"}, {"ACT43", "Источник"},
                {"ACT44", "Маршрут"}, {"ACT45", "Средство"}, {"ACT51", "лицо"}, {"IV", "действие"},
                {"V8B", "контролируемое"}, {"V8E", "ноги"}},
               {{"I_VERB", "б 1"}, {"ACT41", "Агенс"}, {"ACT43", "Цель"}, {"ACT52", "место"},
                {"IV", "действие"}}});
  ui::HeadlessMessageUi ui;
  PassReport report;
  ASSERT_EQ(0, RepairDatabase(db.files(), ui, nullptr, &report));
  EXPECT_EQ(5u, db.Rows(LexiconFile::kAk2).size());
  EXPECT_EQ((Rows{"лицо", "место"}), db.Rows(LexiconFile::kAk3));
  EXPECT_EQ(Rows{"действие"}, db.Rows(LexiconFile::kTax));
  EXPECT_EQ(Rows{"контролируемое"}, db.Rows(LexiconFile::kP8b));
  EXPECT_EQ(Rows{"ноги"}, db.Rows(LexiconFile::kP8e));
  EXPECT_EQ(Rows(), db.Rows(LexiconFile::kTema));
  EXPECT_EQ(Rows(), db.Rows(LexiconFile::kP7));
  EXPECT_EQ(5 + 2 + 1 + 1 + 1, report.added);
}

// Themes and words that differ only in case, with and without Cyrillic folding in the keys.
void CaseScenario(bool folding, const Rows& themes, const Rows& words) {
  Database db(folding);
  db.AddCards({{{"I_VERB", "Бить 1"}, {"TEMA", "Движение"}},
               {{"I_VERB", "бить 2"}, {"TEMA", "движение"}},
               {{"I_VERB", "бить 3"}}});
  ui::HeadlessMessageUi ui;
  ASSERT_EQ(0, RepairDatabase(db.files(), ui, nullptr, nullptr));
  EXPECT_EQ(themes, db.Rows(LexiconFile::kTema));
  EXPECT_EQ(words, db.Rows(LexiconFile::kDct));
}

TEST(Repair, CaseFoldingDecidesWhatCountsAsOneValue) {
  // With folding, "Бить 1" sorts beside the others and its group's record comes first; the
  // second group (two lexemes of "бить") is refused by the case-insensitive key.
  CaseScenario(true, Rows{"Движение"}, Rows{"Бить|1"});
  // Without it the Cyrillic capitals sort before the small letters and nothing folds.
  CaseScenario(false, Rows{"Движение", "движение"}, Rows{"Бить|1", "бить|2"});
}

TEST(Repair, CountsAboveAByteAreClipped) {
  Database db;
  std::vector<std::vector<std::pair<const char*, std::string>>> cards;
  for (int i = 0; i < 300; ++i) cards.push_back({{"I_VERB", "идти " + std::to_string(1000 + i)}});
  cards.push_back({{"I_VERB", "лететь 1"}});
  db.AddCards(cards);
  ui::HeadlessMessageUi ui;
  ASSERT_EQ(0, RepairDatabase(db.files(), ui, nullptr, nullptr));
  EXPECT_EQ((Rows{"идти|255", "лететь|1"}), db.Rows(LexiconFile::kDct));
}

TEST(Repair, ABlankWordNeitherSwallowsLaterWordsNorReachesTheList) {
  Database db;
  std::string full(64, 'x');  // no blank at all: the word is empty
  db.AddCards({{{"I_VERB", " начало с пробела"}},
               {{"I_VERB", "бить 1"}},
               {{"I_VERB", "бить 2"}},
               {{"I_VERB", full}},
               {{"I_VERB", "ехать 1"}}});
  ui::HeadlessMessageUi ui;
  ASSERT_EQ(0, RepairDatabase(db.files(), ui, nullptr, nullptr));
  EXPECT_EQ((Rows{"бить|2", "ехать|1"}), db.Rows(LexiconFile::kDct));
  // In K_SLO order the 64 x's (Latin) come before the Cyrillic words.
  EXPECT_EQ((Rows{"", "", "бить", "бить", "ехать"}), db.SlovoField("VERV"));
}

TEST(Repair, AMissingSlovoIsReportedAndTheBoxesStillAppear) {
  Database db;
  std::remove((db.dir() + "/slovo.dat").c_str());
  ui::HeadlessMessageUi ui;
  PassReport report;
  EXPECT_EQ(storage::kErrFileNotFound, RepairDatabase(db.files(), ui, nullptr, &report));
  EXPECT_NE(std::string::npos, report.failedWhere.find("slovo.dat"));
  EXPECT_EQ(2u, ui.Boxes().size());
  EXPECT_EQ(Rows(), db.Rows(LexiconFile::kDct));
}

TEST(BatchPasses, PrepareAbcPairsEveryLexemeWithItsWord) {
  Database db;
  db.AddCards({{{"I_VERB", "бить 2"}}, {{"I_VERB", "бить 1"}}, {{"I_VERB", "ехать 1"}}});
  ui::HeadlessMessageUi ui;
  ASSERT_EQ(0, RepairDatabase(db.files(), ui, nullptr, nullptr));
  PassReport report;
  ASSERT_EQ(0, PrepareAbc(db.files(), &report));
  EXPECT_EQ(3, report.added);
  EXPECT_EQ((Rows{"бить 1|бить", "бить 2|бить", "ехать 1|ехать"}), db.Rows(LexiconFile::kAbc));
  // Rebuilt, not appended to.
  ASSERT_EQ(0, PrepareAbc(db.files(), &report));
  EXPECT_EQ(3u, db.Rows(LexiconFile::kAbc).size());
  // The second key lists the lexemes of one word together.
  Rows byWord = db.Rows(LexiconFile::kAbc, 2);
  ASSERT_EQ(3u, byWord.size());
  EXPECT_TRUE(byWord[0].ends_with("|бить") && byWord[1].ends_with("|бить"));
  EXPECT_EQ("ехать 1|ехать", byWord[2]);
}

TEST(BatchPasses, MoveExamplesFillsOnlyEmptyMemos) {
  Database db;
  db.AddCards({{{"I_VERB", "а 1"}, {"EXAMPLE", "Пример из строки."}},
               {{"I_VERB", "б 1"}, {"EXAMPLE", "Старый."}, {"EXA_MEMO", "Уже в мемо."}},
               {{"I_VERB", "в 1"}}});
  ui::HeadlessMessageUi ui;
  PassReport report;
  ASSERT_EQ(0, MoveExamples(db.files(), ui, nullptr, &report));
  EXPECT_EQ((Rows{"Пример из строки.", "Уже в мемо.", ""}), db.SlovoField("EXA_MEMO"));
  EXPECT_EQ(1, report.added);
  EXPECT_EQ(3u, ui.Beeps().size());
  ASSERT_EQ(1u, ui.Boxes().size());
  EXPECT_EQ(W("ГОТОВО! Продолжить работу?"), ui.Last().box.text);
  // A second run changes nothing.
  ASSERT_EQ(0, MoveExamples(db.files(), ui, nullptr, &report));
  EXPECT_EQ(0, report.added);
  EXPECT_EQ((Rows{"Пример из строки.", "Уже в мемо.", ""}), db.SlovoField("EXA_MEMO"));
}

}  // namespace
}  // namespace korawin::app
