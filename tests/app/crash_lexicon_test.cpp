// Crash recovery over the lexicon's own files: cards written in transactions, the cascades of
// the dictionary's relation managers, EMPTY of SLOVO and the database repair are each cut at
// every write point in turn. After each crash the folder is opened as the next start of the
// program opens it (an interrupted transaction rolls back), must pass the verification of
// `korawin1-db check`, and must hold the cards as they were before or after the step the
// crash interrupted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/batch_passes.h"
#include "app/card_store.h"
#include "app/dictionary.h"
#include "app/exchange.h"
#include "app/repair.h"
#include "framework/error_manager.h"
#include "framework/window_manager.h"
#include "platform/codepage.h"
#include "storage/dat/dat_driver.h"
#include "storage/driver.h"
#include "tests/support/crash_harness.h"
#include "tests/support/temp_dir.h"
#include "app/folder_check.h"
#include "ui/headless_message_box.h"

namespace korawin::app {
namespace {

using storage::CallDriver;
using storage::DriverArgs;
using test::CrashContext;
using test::CrashHarness;
using test::CrashOptions;
using test::CrashReport;
namespace fs = std::filesystem;

std::string W(const std::string& utf8) { return platform::Utf8ToCp1251Lossy(utf8); }

// Stops the child when a statement fails although no fault was injected yet: the states the
// harness compares with would be wrong otherwise.
void Must(CrashContext& ctx, int code, const char* what) {
  if (code == 0 || ctx.fs().crashed()) return;
  std::fprintf(stderr, "%s gives %d\n", what, code);
  ::_exit(3);
}

void MustLevel(CrashContext& ctx, framework::Level level, const char* what) {
  Must(ctx, level == framework::LevelBenign ? 0 : 1000 + level, what);
}

int Call(DeclaredFile& d, uint8_t op, int key = 0) {
  DriverArgs args;
  args.key = key;
  args.mode = storage::kOpenReadWrite | storage::kShareDenyWrite;
  return CallDriver(op, d.fd(), args);
}

// A memo text of about n bytes (Windows-1251), different for each seed.
std::string MemoText(size_t n, char seed) {
  std::string unit = W("Пример употребления ") + seed + ". ";
  std::string text;
  while (text.size() + unit.size() <= n) text += unit;
  return text;
}

// ---- The database the workloads start from --------------------------------------------

using Fields = std::vector<std::pair<const char*, std::string>>;  // field, UTF-8 value

// Seven cards of three words; themes, categories and components shared between them.
std::vector<Fields> Cards() {
  return {
      {{"I_VERB", "бить 1"}, {"TEMA", "воздействие"}, {"IV", "действие"}, {"V_4", "удар"},
       {"V_7", "инструмент"}, {"V8B", "контролируемое"}, {"V8E", "рука"},
       {"II_MORFOLOG", "несов."}, {"ACT41", "Агенс"}, {"ACT42", "Пациенс"}, {"ACT51", "лицо"},
       {"VERV", "неверно"}},
      {{"I_VERB", "бить 2"}, {"TEMA", "воздействие"}, {"IV", "действие"}, {"V_4", "удар"},
       {"ACT41", "Агенс"}, {"ACT51", "лицо"}, {"ACT52", "предмет"}},
      {{"I_VERB", "бежать 1"}, {"TEMA", "движение"}, {"IV", "перемещение"}, {"V_4", "быстро"},
       {"V8E", "ноги"}, {"II_MORFOLOG", "несов."}, {"ACT41", "Агенс"}, {"ACT43", "Маршрут"}},
      {{"I_VERB", "бежать 2"}, {"TEMA", "движение"}, {"IV", "перемещение"}},
      {{"I_VERB", "идти 1"}, {"TEMA", "движение"}, {"IV", "перемещение"}, {"V_4", "медленно"},
       {"V_7", "шаг"}, {"ACT41", "Агенс"}, {"ACT44", "Цель"}},
      {{"I_VERB", "спать 1"}, {"TEMA", "состояние"}, {"IV", "состояние"}, {"VERV", "спать"}},
      {{"I_VERB", "ехать 1"}, {"TEMA", "движение"}, {"IV", "перемещение"}, {"V_7", "транспорт"},
       {"ACT45", "Средство"}, {"ACT55", "транспорт"}},
  };
}

// The cards as JSON for the import; the examples of some cards span several memo blocks.
std::string CardsJson() {
  nlohmann::json list = nlohmann::json::array();
  int n = 0;
  for (const Fields& card : Cards()) {
    nlohmann::json c = nlohmann::json::object();
    for (const auto& [field, value] : card) c[field] = value;
    ++n;
    if (n % 3 != 0) c["EXA_MEMO"] = platform::Cp1251ToUtf8(MemoText(100 + 700 * (n % 4), 'a' + n));
    list.push_back(std::move(c));
  }
  return list.dump();
}

// An empty database with the cards imported, nothing derived yet.
void MakeCards(const std::string& folder) {
  LexiconFiles files = LexiconFiles::InFolder(folder);
  std::string error;
  ASSERT_EQ(0, CreateDatabase(files, &error)) << error;
  int64_t added = 0;
  ASSERT_EQ(0, ImportCards(files, CardsJson(), CardFormat::kJson, &added, &error)) << error;
  ASSERT_EQ(7, added);
}

// ... with the lists derived by the repair and ABC prepared, as a working database is.
void MakeLexicon(const std::string& folder) {
  MakeCards(folder);
  LexiconFiles files = LexiconFiles::InFolder(folder);
  ui::HeadlessMessageUi ui;
  PassReport report;
  ASSERT_EQ(0, RepairDatabase(files, ui, nullptr, &report)) << report.failedWhere;
  ASSERT_EQ(0, PrepareAbc(files, &report)) << report.failedWhere;
}

// ---- The state of a folder --------------------------------------------------------------

// The folder as the next start of the program meets it. Every file is opened through the
// driver first, which rolls an interrupted transaction back; then the folder must leave no
// marker behind and pass the check of `korawin1-db check`. The text lists every live record of
// every file in record order, with its number, fields and memo.
std::string DumpFolder(const std::string& folder, std::string* damage) {
  std::string state;
  for (int i = 0; i < kLexiconFileCount; ++i) {
    auto which = static_cast<LexiconFile>(i);
    DeclaredFile d = DeclareFile(which, &storage::dat::DatDriverEntry, folder);
    state += std::string(FileLabel(which)) + ":\n";
    int err = Call(d, storage::kOpOpen);
    if (err) {
      if (damage->empty())
        *damage = std::string(FileLabel(which)) + ": OPEN gives " + app::ErrorWords(err);
      continue;
    }
    Call(d, storage::kOpSetFile);
    for (;;) {
      err = Call(d, storage::kOpNext);
      if (err == storage::kErrRecordNotAvailable) break;
      if (err) {
        if (damage->empty())
          *damage = std::string(FileLabel(which)) + ": NEXT gives " + app::ErrorWords(err);
        break;
      }
      DriverArgs pointer;
      EXPECT_EQ(0, CallDriver(storage::kOpPointerFile, d.fd(), pointer));
      state += app::RecordJson(d.fd(), pointer.value).dump() + "\n";
    }
    Call(d, storage::kOpClose);
  }
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (name.size() > 4 && (name.ends_with(".LOG") || name.ends_with(".log")) && damage->empty())
      *damage = "a marker is left behind: " + name;
  }
  std::vector<std::string> problems;
  int files = 0;
  if (int err = app::CheckFolder(folder, &problems, &files); err && damage->empty())
    *damage = "the check cannot read the folder: " + app::ErrorWords(err);
  if (files != kLexiconFileCount && damage->empty())
    *damage = "the check finds " + std::to_string(files) + " data files";
  for (const std::string& p : problems) *damage += (damage->empty() ? "" : "\n") + p;
  return state;
}

// ---- Cards written in transactions ------------------------------------------------------

// Finds a card by its lexeme (K_SLO) and makes it current; the buffer holds it.
int FindCard(DeclaredFile& slovo, const std::string& lexeme) {
  slovo.Clear();
  slovo.SetField("I_VERB", W(lexeme));
  return Call(slovo, storage::kOpGetFileKey, 1);
}

void SetMemo(DeclaredFile& slovo, const std::string& text) {
  std::fill(slovo.memo.begin(), slovo.memo.end(), ' ');
  std::copy(text.begin(), text.begin() + std::min(text.size(), slovo.memo.size()),
            slovo.memo.begin());
}

int AddCard(DeclaredFile& slovo, const Fields& fields, const std::string& memo) {
  slovo.Clear();
  for (const auto& [field, value] : fields) slovo.SetField(field, W(value));
  SetMemo(slovo, memo);
  return Call(slovo, storage::kOpAdd);
}

// Rewrites a card: change edits the buffer after the card was read.
int ChangeCard(DeclaredFile& slovo, const std::string& lexeme,
               const std::function<void(DeclaredFile&)>& change) {
  if (int err = FindCard(slovo, lexeme)) return err;
  change(slovo);
  return Call(slovo, storage::kOpPut);
}

int DeleteCard(DeclaredFile& slovo, const std::string& lexeme) {
  if (int err = FindCard(slovo, lexeme)) return err;
  return Call(slovo, storage::kOpDelete);
}

// Four transactions over SLOVO: additions, rewrites that move keys and grow, shrink and clear
// memos, deletions, a rolled-back transaction and an addition that reuses what was freed.
void CardTransactions(CrashContext& ctx) {
  LexiconFiles files = LexiconFiles::InFolder(ctx.folder());
  DeclaredFile& s = files[LexiconFile::kSlovo];
  Must(ctx, Call(s, storage::kOpOpen), "OPEN");

  Must(ctx, Call(s, storage::kOpLogout), "LOGOUT 1");
  Must(ctx, AddCard(s, {{"I_VERB", "лететь 1"}, {"TEMA", "движение"}, {"IV", "перемещение"},
                        {"V8B", "неконтролируемое"}},
                    W("Птица летит.")),
       "ADD лететь 1");
  Must(ctx, AddCard(s, {{"I_VERB", "лететь 2"}, {"TEMA", "движение"}, {"V_4", "по воздуху"}},
                    MemoText(4000, 'L')),
       "ADD лететь 2");
  Must(ctx, ChangeCard(s, "бить 1",
                       [](DeclaredFile& d) {
                         d.SetField("TEMA", W("удар"));
                         d.SetField("IV", W("контакт"));
                         d.SetField("V_4", "");
                         d.SetField("V_7", W("молоток"));
                         d.SetField("II_MORFOLOG", W("сов."));
                         SetMemo(d, MemoText(3000, 'G'));  // grows from one block to several
                       }),
       "PUT бить 1");
  Must(ctx, Call(s, storage::kOpCommit), "COMMIT 1");
  if (!ctx.Step()) return;

  Must(ctx, Call(s, storage::kOpLogout), "LOGOUT 2");
  Must(ctx, ChangeCard(s, "лететь 2", [](DeclaredFile& d) { SetMemo(d, MemoText(300, 'S')); }),
       "PUT лететь 2 (memo shrinks)");
  Must(ctx, ChangeCard(s, "бить 2",
                       [](DeclaredFile& d) {
                         SetMemo(d, "");
                         d.SetField("TEMA", "");
                       }),
       "PUT бить 2 (memo cleared)");
  Must(ctx, DeleteCard(s, "бежать 2"), "DELETE бежать 2");
  Must(ctx, DeleteCard(s, "идти 1"), "DELETE идти 1");
  Must(ctx, Call(s, storage::kOpCommit), "COMMIT 2");
  if (!ctx.Step()) return;

  Must(ctx, Call(s, storage::kOpLogout), "LOGOUT 3");
  Must(ctx, AddCard(s, {{"I_VERB", "плыть 1"}, {"TEMA", "движение"}}, MemoText(2500, 'P')),
       "ADD плыть 1");
  Must(ctx, ChangeCard(s, "бить 1", [](DeclaredFile& d) { d.SetField("I_VERB", W("ударить 1")); }),
       "PUT бить 1 (K_SLO moves)");
  Must(ctx, DeleteCard(s, "лететь 1"), "DELETE лететь 1");
  Must(ctx, Call(s, storage::kOpRollback), "ROLLBACK 3");
  if (!ctx.Step()) return;

  Must(ctx, Call(s, storage::kOpLogout), "LOGOUT 4");
  Must(ctx, AddCard(s, {{"I_VERB", "плыть 1"}, {"TEMA", "движение"}, {"VERV", "плыть"}},
                    MemoText(5000, 'Q')),
       "ADD плыть 1");
  Must(ctx, ChangeCard(s, "лететь 2", [](DeclaredFile& d) { SetMemo(d, MemoText(6000, 'T')); }),
       "PUT лететь 2 (memo grows again)");
  Must(ctx, DeleteCard(s, "бить 1"), "DELETE бить 1");
  Must(ctx, Call(s, storage::kOpCommit), "COMMIT 4");
  ctx.Step();
  Call(s, storage::kOpClose);
}

// EMPTY of SLOVO (nine keys and the memo) rolled back, then committed with a new card.
void EmptySlovo(CrashContext& ctx) {
  LexiconFiles files = LexiconFiles::InFolder(ctx.folder());
  DeclaredFile& s = files[LexiconFile::kSlovo];
  Must(ctx, Call(s, storage::kOpOpen), "OPEN");
  Must(ctx, Call(s, storage::kOpLogout), "LOGOUT 1");
  Must(ctx, Call(s, storage::kOpEmpty), "EMPTY 1");
  Must(ctx, Call(s, storage::kOpRollback), "ROLLBACK 1");
  if (!ctx.Step()) return;
  Must(ctx, Call(s, storage::kOpLogout), "LOGOUT 2");
  Must(ctx, Call(s, storage::kOpEmpty), "EMPTY 2");
  Must(ctx, AddCard(s, {{"I_VERB", "начать 1"}, {"TEMA", "начало"}}, MemoText(1500, 'E')),
       "ADD начать 1");
  Must(ctx, Call(s, storage::kOpCommit), "COMMIT 2");
  ctx.Step();
  Call(s, storage::kOpClose);
}

// ---- The dictionary's relation managers -------------------------------------------------

// Reads an entry by its first key as the classification browsers do before an edit.
void ReadEntry(CrashContext& ctx, LexiconFile which, const char* field, const std::string& value) {
  MustLevel(ctx, Relate(which).Open(), "Open");
  Declared(which).Clear();
  Declared(which).SetField(field, W(value));
  MustLevel(ctx, Access(which).TryFetch(1), "TryFetch");
  Relate(which).SaveLinkingFields();
}

// A theme renamed (its cards follow through BY_TEMA), a T-category renamed, then a word
// deleted with its cards and its ABC pairs. The dictionary refuses to delete a word that is
// in use; for the cascade delete this workload sets the word's two relations to cascade.
void Cascades(CrashContext& ctx) {
  framework::ErrorClass errors;
  errors.Init();
  ui::HeadlessMessageUi ui;
  errors.SetUi(&ui);
  SetDatabaseFolder(ctx.folder());
  InitDictionary(errors);

  ReadEntry(ctx, LexiconFile::kTema, "T", "движение");
  Declared(LexiconFile::kTema).SetField("T", W("перемещение в пространстве"));
  MustLevel(ctx, Relate(LexiconFile::kTema).Update(), "Update TEMA");
  EXPECT_EQ(framework::LevelBenign, Relate(LexiconFile::kTema).Close());
  if (!ctx.Step()) return;

  ReadEntry(ctx, LexiconFile::kTax, "T", "действие");
  Declared(LexiconFile::kTax).SetField("T", W("воздействие на объект"));
  MustLevel(ctx, Relate(LexiconFile::kTax).Update(), "Update TAX");
  EXPECT_EQ(framework::LevelBenign, Relate(LexiconFile::kTax).Close());
  if (!ctx.Step()) return;

  for (framework::Relation& r : Relate(LexiconFile::kDct).Relations)
    if (r.HisKey != 0) r.DeleteMode = framework::RiCascade;
  ReadEntry(ctx, LexiconFile::kDct, "VERV", "бить");
  MustLevel(ctx, Relate(LexiconFile::kDct).Delete(false), "Delete DCT");
  EXPECT_EQ(framework::LevelBenign, Relate(LexiconFile::kDct).Close());
  ctx.Step();
  KillDictionary();
  SetDatabaseFolder("");
}

// ---- The card form's saves ------------------------------------------------------------------

// Reads the card of lexeme under WATCH, as a list does before it calls the form.
void ReadCard(CrashContext& ctx, const std::string& lexeme) {
  Declared(LexiconFile::kSlovo).Clear();
  Declared(LexiconFile::kSlovo).SetField("I_VERB", W(lexeme));
  MustLevel(ctx, Access(LexiconFile::kSlovo).TryFetch(1), "TryFetch");
  MustLevel(ctx, Access(LexiconFile::kSlovo).Watch(), "Watch");
}

// The card form's saves, each one transaction over SLOVO and DCT: a new card of a word that
// has cards, with examples over several memo blocks; its word part changed to a new word and
// its examples grown; a card deleted.
void CardSaves(CrashContext& ctx) {
  framework::ErrorClass errors;
  errors.Init();
  ui::HeadlessMessageUi ui;
  errors.SetUi(&ui);
  SetDatabaseFolder(ctx.folder());
  InitDictionary(errors);
  DeclaredFile& card = Declared(LexiconFile::kSlovo);
  MustLevel(ctx, Relate(LexiconFile::kSlovo).Open(), "Open");

  card.Clear();
  card.SetField("I_VERB", W("бить 3"));
  card.SetField("TEMA", W("воздействие"));
  SetMemo(card, MemoText(2000, 'C'));
  MustLevel(ctx, SaveCard(framework::InsertRecord, ""), "insert бить 3");
  if (!ctx.Step()) return;

  ReadCard(ctx, "бить 3");
  std::string old(card.Field("I_VERB"));
  card.SetField("I_VERB", W("колоть 1"));
  SetMemo(card, MemoText(5000, 'K'));
  MustLevel(ctx, SaveCard(framework::ChangeRecord, old), "change to колоть 1");
  if (!ctx.Step()) return;

  ReadCard(ctx, "бежать 1");
  MustLevel(ctx, SaveCard(framework::DeleteRecord, W("бежать 1")), "delete бежать 1");
  ctx.Step();
  (void)Relate(LexiconFile::kSlovo).Close();  // 0
  KillDictionary();
  SetDatabaseFolder("");
}

// DCT as word -> count.
std::map<std::string, int> Words(const std::string& folder) {
  std::map<std::string, int> words;
  DeclaredFile d = DeclareFile(LexiconFile::kDct, &storage::dat::DatDriverEntry, folder);
  if (Call(d, storage::kOpOpen)) return words;
  Call(d, storage::kOpSetFile);
  while (Call(d, storage::kOpNext) == 0)
    words[std::string(d.Field("VERV"))] = static_cast<unsigned char>(d.Field("NUM")[0]);
  Call(d, storage::kOpClose);
  return words;
}

// DumpFolder, and the word file must count the cards as the repair would.
std::string DumpWithWords(const std::string& folder, std::string* damage) {
  std::string state = DumpFolder(folder, damage);
  if (!damage->empty()) return state;
  test::TempDir copy("repaired", ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "");
  fs::copy(folder, copy.path(), fs::copy_options::recursive);
  ui::HeadlessMessageUi ui;
  PassReport report;
  if (RepairDatabase(LexiconFiles::InFolder(copy.path()), ui, nullptr, &report) != 0)
    *damage = "the repair of a copy fails at " + report.failedWhere;
  else if (Words(folder) != Words(copy.path()))
    *damage = "DCT does not count the cards as the repair does";
  return state;
}

// ---- The repair -------------------------------------------------------------------------

// Cards whose words and lists are out of date: stale entries in the lists, no words yet.
void MakeStaleDatabase(const std::string& folder) {
  MakeCards(folder);
  LexiconFiles files = LexiconFiles::InFolder(folder);
  for (auto [which, field, value] :
       {std::tuple{LexiconFile::kTema, "T", "устаревшая тема"},
        std::tuple{LexiconFile::kAk2, "A", "Экспериенцер"},
        std::tuple{LexiconFile::kDct, "VERV", "неверно"}}) {
    DeclaredFile& d = files[which];
    ASSERT_EQ(0, Call(d, storage::kOpOpen));
    d.Clear();
    d.SetField(field, W(value));
    ASSERT_EQ(0, Call(d, storage::kOpAdd));
    ASSERT_EQ(0, Call(d, storage::kOpClose));
  }
}

// Transactions of three lexemes over the seven cards: two commits inside the pass, one at
// its end.
constexpr int64_t kSmallBatch = 3;

void Repair(CrashContext& ctx) {
  ui::HeadlessMessageUi ui;
  PassReport report;
  int err =
      RepairDatabase(LexiconFiles::InFolder(ctx.folder()), ui, nullptr, &report, kSmallBatch);
  Must(ctx, err, ("repair (" + report.failedWhere + ")").c_str());
  ctx.Step();
}

// After a crash the folder must pass the check as it is; the repair run again must then give
// what an uninterrupted repair gives.
std::string DumpAfterRepair(const std::string& folder, std::string* damage) {
  DumpFolder(folder, damage);
  if (!damage->empty()) return std::string();
  ui::HeadlessMessageUi ui;
  PassReport report;
  if (int err = RepairDatabase(LexiconFiles::InFolder(folder), ui, nullptr, &report)) {
    *damage = "the repair run again gives " + app::ErrorWords(err) + " at " + report.failedWhere;
    return std::string();
  }
  return DumpFolder(folder, damage);
}

// ---- The tests --------------------------------------------------------------------------

class CrashLexiconTest : public ::testing::Test {
 protected:
  // In memory where the machine offers it: the engine flushes often, and the crash needs no
  // real disk to be simulated.
  static std::string MemoryBase() { return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : ""; }

  CrashReport Run(const CrashHarness::Setup& setup, const CrashHarness::Workload& workload,
                  const CrashHarness::Dump& dump, const CrashOptions& options = CrashOptions()) {
    CrashHarness harness(root_ + "/crash");
    CrashReport report = harness.Run(setup, workload, dump, options);
    std::printf("[ crash    ] %s: %s\n",
                ::testing::UnitTest::GetInstance()->current_test_info()->name(),
                report.Summary().c_str());
    return report;
  }

  // DumpFolder, keeping the states it gave in the order the harness asked for them: the
  // state before the workload, then the state after each step, then those after the crashes.
  CrashHarness::Dump Recording(CrashHarness::Dump dump = DumpFolder) {
    states_.clear();
    return [this, dump](const std::string& folder, std::string* damage) {
      std::string state = dump(folder, damage);
      states_.push_back(state);
      return state;
    };
  }

  // The lines of the state after step (0: before the workload) that hold text.
  int Lines(size_t step, const std::string& text) const {
    if (step >= states_.size()) return -1;
    int n = 0;
    size_t at = 0;
    const std::string& s = states_[step];
    while ((at = s.find('\n', at)) != std::string::npos) {
      size_t begin = s.rfind('\n', at == 0 ? 0 : at - 1);
      begin = begin == std::string::npos ? 0 : begin + 1;
      if (s.substr(begin, at - begin).find(text) != std::string::npos) ++n;
      ++at;
    }
    return n;
  }

  test::TempDir temp_{"crash-lexicon", MemoryBase()};
  std::string root_ = temp_.path();
  std::vector<std::string> states_;
};

TEST_F(CrashLexiconTest, CardTransactionsSurviveACrashAtEveryWritePoint) {
  CrashReport report = Run(MakeLexicon, CardTransactions, Recording());
  EXPECT_EQ(4, report.steps);
  ASSERT_GE(states_.size(), 5u);
  EXPECT_EQ(1, Lines(1, "\"I_VERB\":\"лететь 2\""));
  EXPECT_EQ(0, Lines(2, "\"I_VERB\":\"идти 1\""));
  EXPECT_EQ(states_[2], states_[3]);  // rolled back
  EXPECT_EQ(0, Lines(4, "\"I_VERB\":\"бить 1\""));
  EXPECT_GT(report.points, 100);
  EXPECT_EQ(report.points, report.tried);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}


TEST_F(CrashLexiconTest, CascadesOfTheRelationManagersSurviveACrashAtEveryWritePoint) {
  CrashReport report = Run(MakeLexicon, Cascades, Recording());
  EXPECT_EQ(3, report.steps);
  ASSERT_GE(states_.size(), 4u);
  const std::string moved = "\"TEMA\":\"перемещение в пространстве\"";
  EXPECT_EQ(0, Lines(0, moved));
  EXPECT_EQ(4, Lines(1, moved));  // the four cards of the theme
  EXPECT_EQ(1, Lines(1, "\"T\":\"перемещение в пространстве\""));
  EXPECT_EQ(2, Lines(2, "\"IV\":\"воздействие на объект\""));
  EXPECT_EQ(2, Lines(2, "\"I_VERB\":\"бить "));
  EXPECT_EQ(0, Lines(3, "\"I_VERB\":\"бить "));  // the word's cards went with it
  EXPECT_EQ(0, Lines(3, "\"SLOVO\":\"бить\""));  // and its ABC pairs
  EXPECT_EQ(2, Lines(3, "\"SLOVO\":\"бежать\""));
  EXPECT_GT(report.points, 50);
  EXPECT_EQ(report.points, report.tried);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}

TEST_F(CrashLexiconTest, EmptyOfSlovoSurvivesACrashAtEveryWritePoint) {
  CrashReport report = Run(MakeLexicon, EmptySlovo, Recording());
  EXPECT_EQ(2, report.steps);
  ASSERT_GE(states_.size(), 3u);
  EXPECT_EQ(states_[0], states_[1]);  // rolled back
  EXPECT_EQ(1, Lines(2, "\"I_VERB\":"));
  EXPECT_GT(report.points, 20);
  EXPECT_EQ(report.points, report.tried);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}

TEST_F(CrashLexiconTest, CardSavesWithTheirWordsSurviveACrashAtEveryWritePoint) {
  // Every state, before and after each save and after each crash, counts the words as the
  // repair would.
  CrashReport report = Run(MakeLexicon, CardSaves, Recording(DumpWithWords));
  EXPECT_EQ(3, report.steps);
  ASSERT_GE(states_.size(), 4u);
  EXPECT_EQ(1, Lines(1, "\"I_VERB\":\"бить 3\""));
  EXPECT_EQ(1, Lines(1, "\"VERV\":\"бить\",\"NUM\":3"));
  EXPECT_EQ(1, Lines(2, "\"VERV\":\"колоть\",\"NUM\":1"));
  EXPECT_EQ(1, Lines(2, "\"VERV\":\"бить\",\"NUM\":2"));
  EXPECT_EQ(1, Lines(3, "\"VERV\":\"бежать\",\"NUM\":1"));
  EXPECT_GT(report.points, 50);
  EXPECT_EQ(report.points, report.tried);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}

// The card saves again, with a torn write, then with a power cut that loses what was not
// flushed, at every third write point.
TEST_F(CrashLexiconTest, CardSavesSurviveATornWriteOrLosingUnflushedWrites) {
  CrashOptions options;
  options.stride = 3;
  options.torn = true;
  CrashReport report = Run(MakeLexicon, CardSaves, DumpWithWords, options);
  EXPECT_EQ((report.points + 2) / 3, report.tried);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
  options.torn = false;
  options.dropUnsynced = true;
  report = Run(MakeLexicon, CardSaves, DumpWithWords, options);
  EXPECT_EQ((report.points + 2) / 3, report.tried);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}

// The repair run twice gives what it gives once, whatever the size of its transactions, so
// the states the next test compares with are those of one uninterrupted repair.
TEST_F(CrashLexiconTest, RepairRunAgainChangesNothing) {
  std::string folder = root_ + "/twice";
  fs::create_directories(folder);
  MakeStaleDatabase(folder);
  std::string damage;
  std::string before = DumpFolder(folder, &damage);
  ASSERT_EQ("", damage);
  ui::HeadlessMessageUi ui;
  ASSERT_EQ(0, RepairDatabase(LexiconFiles::InFolder(folder), ui, nullptr, nullptr, kSmallBatch));
  std::string once = DumpFolder(folder, &damage);
  ASSERT_EQ("", damage);
  EXPECT_NE(before, once);
  ASSERT_EQ(0, RepairDatabase(LexiconFiles::InFolder(folder), ui, nullptr, nullptr));
  EXPECT_EQ(once, DumpFolder(folder, &damage));
  EXPECT_EQ("", damage);
}

TEST_F(CrashLexiconTest, RepairLeavesEveryFileSoundAndARerunFinishesTheJob) {
  CrashReport report = Run(MakeStaleDatabase, Repair, DumpAfterRepair);
  EXPECT_EQ(1, report.steps);
  EXPECT_GT(report.points, 50);
  EXPECT_EQ(report.points, report.tried);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}

// The repair writes its headers without a flush each (STREAM): a power cut that loses what
// was not flushed (names in folders not flushed included) must still find every file sound.
// Every fourth write point, for run time.
TEST_F(CrashLexiconTest, RepairSurvivesLosingUnflushedWrites) {
  CrashOptions options;
  options.dropUnsynced = true;
  options.loseEntries = true;
  options.stride = 4;
  CrashReport report = Run(MakeStaleDatabase, Repair, DumpAfterRepair, options);
  EXPECT_EQ((report.points + 3) / 4, report.tried);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}

// A torn write and a power cut that loses what was not flushed, at every fifth write point
// (the data file tests try every point for both; here the run time is kept short).
TEST_F(CrashLexiconTest, CardTransactionsSurviveATornWriteOrLosingUnflushedWrites) {
  CrashOptions options;
  options.stride = 5;
  options.torn = true;
  CrashReport report = Run(MakeLexicon, CardTransactions, DumpFolder, options);
  EXPECT_EQ((report.points + 4) / 5, report.tried);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
  options.torn = false;
  options.dropUnsynced = true;
  options.loseEntries = true;
  report = Run(MakeLexicon, CardTransactions, DumpFolder, options);
  EXPECT_EQ((report.points + 4) / 5, report.tried);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}

}  // namespace
}  // namespace korawin::app
