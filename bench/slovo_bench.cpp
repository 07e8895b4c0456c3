// SLOVO-shaped cards on the DAT driver and the view engine against the same work on SQLite,
// measured in the same run: bulk ADD with nine keys and the memo (one STREAM batch against one
// transaction), random GET by K_SLO, a full K_SLO walk reading every record with its memo,
// BUILD of the nine keys against REINDEX, and the lexeme list's filtered view along K_SLO; the
// walk and the view again on the file opened as the program opens it (read and write, shared
// with every other station: deny-none). Prints each of ours as a ratio to SQLite, the flushes
// each made, the growth from the smaller to the larger size against n log n, the split of the
// filtered walk between record reads and the evaluator, and the time a list window waits for
// one page (30 rows) from the middle of the key. Then the import as the command-line tool runs
// it (its time against the bulk ADD above, its peak memory and flushes) and the repair of the
// freshly imported cards against one read of SLOVO along K_SLO. Steps that change nothing (the
// walks and the views, on both sides) count the best of three runs.
//
//   slovo_bench [cards] [folder]    (defaults: 20000 and 100000; a fresh folder under /tmp)
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/exchange.h"
#include "app/files.h"
#include "app/repair.h"
#include "bench/counting_fs.h"
#include "bench/slovo_gen.h"
#include "bench/sqlite_slovo.h"
#include "bench/tool_run.h"
#include "platform/file.h"
#include "lang/bind.h"
#include "lang/expression.h"
#include "storage/dat/dat_driver.h"
#include "storage/driver.h"
#include "storage/view/view.h"

using namespace korawin;
using namespace korawin::storage;

namespace {

using Clock = std::chrono::steady_clock;

// The start of a step that writes: what earlier steps left for the system to write goes to
// disk first, so that no step waits behind the write-back of another (the machine holds
// gigabytes of them at 100,000 cards).
Clock::time_point SettledStart() {
  ::sync();
  return Clock::now();
}

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The best of three runs of a step that changes nothing, so that one pause of a busy machine
// does not decide a ratio of a few milliseconds; both sides are measured so.
template <typename Step>
double BestOfThree(Step step) {
  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    auto start = Clock::now();
    step();
    best = std::min(best, Seconds(start));
  }
  return best;
}

void Check(int code, const char* what) {
  if (code != 0) {
    std::fprintf(stderr, "%s failed: %d %s\n", what, code, ErrorText().c_str());
    std::exit(1);
  }
}

void Expect(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "result differs: %s\n", what);
    std::exit(1);
  }
}

constexpr const char* kFilter = "(clip(glo:fr1)='' or instring(clip(glo:fr1),slo:I_VERB,1)<>0)";
constexpr const char* kOrder = "UPPER(SLO:I_VERB)";
constexpr int kPageRows = 30;
constexpr int kPageTrials = 50;

struct Row {
  const char* name;
  double ours = 0;
  double sqlite = 0;
  long flushes = 0;
};

struct Result {
  size_t n = 0;
  std::vector<Row> rows;
  double walkRead = 0;       // K_SLO walk through the driver
  double walkEval = 0;       // the same walk evaluating the filter after each read
  size_t matches = 0;
  double pageCold = 0;       // first page of a fresh view (builds the pipeline)
  double pageMean = 0;
  double pageMax = 0;
  double add = 0;            // the bulk ADD, for the import's ratio
  double importCli = 0;      // korawin1-db import, a process of its own
  long importPeakKb = 0;
  double importIn = 0;       // the same import in this process, with its flushes counted
  long importFlushes = 0;
  double readAlongKey = 0;   // one read of the imported SLOVO along K_SLO
  double repair = 0;         // the repair of the freshly imported cards
  long repairFlushes = 0;
};

int SetProperty(View& v, int64_t property, const std::string& text) {
  DriverArgs a;
  a.number = property;
  a.text = text;
  return CallView(kOpSetProperty, v, a);
}

int SetView(View& v, int64_t items) {
  DriverArgs a;
  a.number = items;
  return CallView(kOpSetView, v, a);
}

void PutIVerb(app::DeclaredFile& slovo, const std::string& iverb) {
  std::memcpy(slovo.record.data(), iverb.data(), std::min<size_t>(iverb.size(), 64));
}

// The export of the bulk-added cards, imported again: by the command-line tool in a process of
// its own (time and peak memory), and in this process with its flushes counted, into a fresh
// folder each; then the repair of those freshly imported cards against one read along K_SLO.
void MeasureImportAndRepair(const std::string& folder, size_t n, Result* r) {
  std::string json, error;
  Check(app::ExportCards(app::LexiconFiles::InFolder(folder), app::CardFormat::kJson, &json,
                         &error),
        "export");
  const std::string file = folder + "/cards.json";
  {
    platform::File out;
    Check(out.Create(file, platform::Share::kDenyNone), "create cards.json");
    Check(out.WriteAt(0, json.data(), json.size()), "write cards.json");
  }
  // The bulk-added files are of no further use: their pages go before the imports write.
  std::vector<std::filesystem::path> bulk;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().rfind("slovo.", 0) == 0) bulk.push_back(entry.path());
  for (const auto& path : bulk) std::filesystem::remove(path);
  const std::string cli = folder + "/cli", in = folder + "/in";
  bench::RunTool(KORAWIN_DB_TOOL, {"create", cli}, folder + "/create.out");
  (void)SettledStart();
  const bench::ToolRun imported =
      bench::RunTool(KORAWIN_DB_TOOL, {"import", cli, file}, folder + "/import.out");
  r->importCli = imported.seconds;
  r->importPeakKb = imported.peakKb;
  std::filesystem::remove_all(cli);

  Expect(::mkdir(in.c_str(), 0755) == 0, "import folder");
  app::LexiconFiles files = app::LexiconFiles::InFolder(in);
  Check(app::CreateDatabase(files, &error), "create");
  int64_t added = 0;
  auto start = Clock::now();
  {
    bench::Counted counted;
    start = SettledStart();
    Check(app::ImportCards(files, json, app::CardFormat::kJson, &added, &error), "import");
    r->importIn = Seconds(start);
    r->importFlushes = counted.flushes();
  }
  Expect(static_cast<size_t>(added) == n, "every card imported");

  // The floor: one read of SLOVO along K_SLO, records and memos.
  app::DeclaredFile& slovo = files[app::LexiconFile::kSlovo];
  start = Clock::now();
  DriverArgs open;
  open.mode = kOpenReadWrite | kShareDenyWrite;
  Check(CallDriver(kOpOpen, slovo.fd(), open), "OPEN");
  DriverArgs set;
  set.key = 1;
  Check(CallDriver(kOpSetKey, slovo.fd(), set), "SET");
  size_t read = 0;
  while (CallDriver(kOpNext, slovo.fd()) == 0) ++read;
  Check(CallDriver(kOpClose, slovo.fd()), "CLOSE");
  r->readAlongKey = Seconds(start);
  Expect(read == n, "read along K_SLO");

  class QuietUi : public ui::MessageUi {
   public:
    unsigned ShowMessage(const ui::MessageBoxRequest&) override { return ui::ButtonOk; }
    void Beep(ui::Sound) override {}
  } quiet;
  app::PassReport report;
  {
    bench::Counted counted;
    start = SettledStart();
    Check(app::RepairDatabase(files, quiet, nullptr, &report), "repair");
    r->repair = Seconds(start);
    r->repairFlushes = counted.flushes();
  }
  Expect(static_cast<size_t>(report.lexemes) == n, "repair read every card");
  std::filesystem::remove_all(in);
  std::filesystem::remove(file);
}

Result Run(size_t n, const std::string& folder) {
  Result r;
  r.n = n;
  std::vector<bench::GeneratedCard> cards = bench::GenerateCards(n);
  std::vector<std::string> lookups;
  lookups.reserve(n);
  for (const auto& c : cards) lookups.push_back(bench::IVerbOf(c));
  std::shuffle(lookups.begin(), lookups.end(), std::mt19937(7));
  const std::string fragment = bench::CommonFragment();

  // SQLite first, so that both sides run with the page cache warmed by the generator alike.
  bench::SqliteSlovo sql(folder + "/slovo.sqlite");
  auto start = SettledStart();
  sql.Load(cards);
  const double sqlAdd = Seconds(start);
  start = Clock::now();
  Expect(sql.Lookup(lookups) == n, "sqlite lookups");
  const double sqlGet = Seconds(start);
  const double sqlWalk = BestOfThree([&] { Expect(sql.WalkAll() == n, "sqlite walk"); });
  start = SettledStart();
  sql.Reindex();
  const double sqlBuild = Seconds(start);
  size_t sqlMatches = 0;
  const double sqlFilter = BestOfThree([&] { sqlMatches = sql.Filter(fragment); });

  app::DeclaredFile slovo = app::DeclareFile(app::LexiconFile::kSlovo, &dat::DatDriverEntry, folder);
  FileDescriptor& fd = slovo.fd();
  Check(CallDriver(kOpCreate, fd), "CREATE");
  DriverArgs open;
  open.mode = kOpenReadWrite | kShareDenyAll;
  Check(CallDriver(kOpOpen, fd, open), "OPEN");

  long addFlushes = 0;
  start = SettledStart();
  {
    bench::Counted counted;
    Check(bench::BulkAdd(slovo, cards), "bulk ADD");
    addFlushes = counted.flushes();
  }
  const double ourAdd = Seconds(start);

  DriverArgs keyed;
  keyed.key = 1;
  start = Clock::now();
  for (const std::string& k : lookups) {
    PutIVerb(slovo, k);
    Check(CallDriver(kOpGetFileKey, fd, keyed), "GET by K_SLO");
  }
  const double ourGet = Seconds(start);
  Expect(std::memcmp(slovo.record.data(), lookups.back().data(), 64) == 0, "GET read the card");

  auto walk = [&](lang::Expression* filter, size_t* passed) {
    Check(CallDriver(kOpSetKey, fd, keyed), "SET K_SLO");
    size_t count = 0, pass = 0;
    int rc;
    while ((rc = CallDriver(kOpNext, fd, keyed)) == 0) {
      ++count;
      if (filter && filter->EvaluateBool()) ++pass;
    }
    Expect(rc == kErrRecordNotAvailable, "walk ends with 33");
    Expect(count == n, "walk count");
    if (passed) *passed = pass;
  };
  const double ourWalk = BestOfThree([&] { walk(nullptr, nullptr); });

  long buildFlushes = 0;
  start = SettledStart();
  {
    bench::Counted counted;
    DriverArgs build;
    Check(CallDriver(kOpBuildFile, fd, build), "BUILD");
    buildFlushes = counted.flushes();
  }
  const double ourBuild = Seconds(start);
  DriverArgs count;
  count.key = 1;
  Check(CallDriver(kOpRecordsKey, fd, count), "RECORDS K_SLO");
  Expect(static_cast<size_t>(count.value) == n, "K_SLO entries after BUILD");

  // The filter's names, as the lexeme list binds them.
  char fr1[20];
  std::memset(fr1, ' ', sizeof fr1);
  std::memcpy(fr1, fragment.data(), fragment.size());
  for (const FieldDescriptor& f : fd.fields)
    lang::BIND(f.label, lang::Variable::Field(f.type, slovo.record.data() + f.offset, f.size));
  lang::BIND("glo:fr1", lang::Variable::String(fr1, sizeof fr1));

  // Record reads against the evaluator: the same walk with and without the filter.
  std::unique_ptr<lang::Expression> filter = lang::CompileExpression(kFilter);
  Expect(filter != nullptr, "filter compiles");
  // The best of three of each, so that a busy machine blurs the split less.
  size_t passed = 0;
  r.walkRead = r.walkEval = 1e9;
  for (int i = 0; i < 3; ++i) {
    start = Clock::now();
    walk(nullptr, nullptr);
    r.walkRead = std::min(r.walkRead, Seconds(start));
    start = Clock::now();
    walk(filter.get(), &passed);
    r.walkEval = std::min(r.walkEval, Seconds(start));
  }

  ViewDeclaration decl;
  decl.primary = &fd;
  for (size_t i = 1; i <= fd.fields.size(); ++i) decl.project.push_back(static_cast<int>(i));
  View view(decl);
  Check(CallView(kOpOpen, view), "view OPEN");
  Check(SetProperty(view, kViewPropertyOrder, kOrder), "ORDER");
  Check(SetProperty(view, kViewPropertyFilter, kFilter), "FILTER");
  size_t yielded = 0;
  int rc = 0;
  const double ourFilter = BestOfThree([&] {
    Check(SetView(view, 0), "SETview");
    yielded = 0;
    while ((rc = CallView(kOpNext, view)) == 0) ++yielded;
  });
  Expect(rc == kErrRecordNotAvailable, "view ends with 33");
  Expect(yielded == passed && yielded == sqlMatches, "view rows = walk matches = sqlite rows");
  r.matches = yielded;
  Check(CallView(kOpClose, view), "view CLOSE");

  // One page from the middle of the key: a fresh view first, then repeated positionings.
  std::vector<std::string> sorted = lookups;
  std::sort(sorted.begin(), sorted.end());
  auto page = [&](View& v, const std::string& from) {
    PutIVerb(slovo, from);
    auto t = Clock::now();
    Check(SetView(v, 1), "SETview 1");
    int rows = 0;
    while (rows < kPageRows && CallView(kOpNext, v) == 0) ++rows;
    double s = Seconds(t);
    Expect(rows == kPageRows, "a full page");
    return s;
  };
  View pageView(decl);
  Check(CallView(kOpOpen, pageView), "view OPEN");
  Check(SetProperty(pageView, kViewPropertyOrder, kOrder), "ORDER");
  Check(SetProperty(pageView, kViewPropertyFilter, kFilter), "FILTER");
  r.pageCold = page(pageView, sorted[n / 2]);
  double total = 0;
  for (int t = 0; t < kPageTrials; ++t) {
    double s = page(pageView, sorted[n / 2 + static_cast<size_t>(t) * (n / 4 / kPageTrials)]);
    total += s;
    r.pageMax = std::max(r.pageMax, s);
  }
  r.pageMean = total / kPageTrials;
  Check(CallView(kOpClose, pageView), "view CLOSE");
  Check(CallDriver(kOpClose, fd), "CLOSE");

  // The program's way: read and write, shared with every other station.
  open.mode = kOpenReadWrite | kShareDenyNone;
  Check(CallDriver(kOpOpen, fd, open), "OPEN shared");
  const double sharedWalk = BestOfThree([&] { walk(nullptr, nullptr); });
  View sharedView(decl);
  Check(CallView(kOpOpen, sharedView), "view OPEN");
  Check(SetProperty(sharedView, kViewPropertyOrder, kOrder), "ORDER");
  Check(SetProperty(sharedView, kViewPropertyFilter, kFilter), "FILTER");
  size_t sharedRows = 0;
  const double sharedFilter = BestOfThree([&] {
    Check(SetView(sharedView, 0), "SETview");
    sharedRows = 0;
    while (CallView(kOpNext, sharedView) == 0) ++sharedRows;
  });
  Expect(sharedRows == sqlMatches, "shared view rows = sqlite rows");
  Check(CallView(kOpClose, sharedView), "view CLOSE");
  Check(CallDriver(kOpClose, fd), "CLOSE");

  r.rows = {{"bulk ADD (9 keys, memo)", ourAdd, sqlAdd, addFlushes},
            {"GET by K_SLO (random)", ourGet, sqlGet},
            {"walk K_SLO (record+memo)", ourWalk, sqlWalk},
            {"BUILD 9 keys / REINDEX", ourBuild, sqlBuild, buildFlushes},
            {"view: filter, whole result", ourFilter, sqlFilter},
            {"walk K_SLO, shared", sharedWalk, sqlWalk},
            {"view: filter, shared", sharedFilter, sqlFilter}};
  r.add = ourAdd;
  // What the import no longer needs goes first: the generated cards and the SQLite database
  // (the page cache of this machine is slow to grow into memory it has not used yet, so
  // their pages would weigh on whichever step comes next).
  std::vector<bench::GeneratedCard>().swap(cards);
  sql.Close();
  std::filesystem::remove(folder + "/slovo.sqlite");
  MeasureImportAndRepair(folder, n, &r);
  return r;
}

void Print(const Result& r) {
  std::printf("\n%zu cards\n", r.n);
  std::printf("%-28s %10s %10s %8s %8s\n", "operation", "ours s", "sqlite s", "ratio",
              "flushes");
  for (const Row& row : r.rows)
    std::printf("%-28s %10.4f %10.4f %8.3f %8ld%s\n", row.name, row.ours, row.sqlite,
                row.ours / row.sqlite, row.flushes, row.ours < row.sqlite ? "" : "  (slower)");
  std::printf("import, korawin1-db: %.3f s, %.2f x the bulk ADD, peak %.1f MB resident\n",
              r.importCli, r.importCli / r.add, r.importPeakKb / 1024.0);
  std::printf("import in one process: %.3f s, %.2f x the bulk ADD, %ld flushes\n", r.importIn,
              r.importIn / r.add, r.importFlushes);
  std::printf("repair of the imported cards: %.3f s, %.2f x one read along K_SLO (%.3f s), "
              "%ld flushes\n",
              r.repair, r.repair / r.readAlongKey, r.readAlongKey, r.repairFlushes);
  const double eval = std::max(0.0, r.walkEval - r.walkRead);
  std::printf("filtered walk: record reads %.4f s, evaluator %.4f s (%.0f%% of the reads), "
              "%zu matching cards\n",
              r.walkRead, eval, 100.0 * eval / r.walkRead, r.matches);
  std::printf("first %d rows from the middle: cold %.3f ms, mean %.3f ms, max %.3f ms "
              "(%d positionings)\n",
              kPageRows, r.pageCold * 1e3, r.pageMean * 1e3, r.pageMax * 1e3, kPageTrials);
}

void PrintGrowth(const Result& a, const Result& b) {
  const double na = static_cast<double>(a.n), nb = static_cast<double>(b.n);
  const double bound = nb * std::log(nb) / (na * std::log(na));
  std::printf("\ngrowth from %zu to %zu cards (n log n allows %.2f)\n", a.n, b.n, bound);
  for (size_t i = 0; i < a.rows.size(); ++i) {
    const double g = b.rows[i].ours / a.rows[i].ours;
    std::printf("%-28s %8.2f %s\n", a.rows[i].name, g, g <= bound ? "within" : "ABOVE");
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool measuring = false;
  int rc = bench::MeasureToolWhenAsked(argc, argv, &measuring);
  if (measuring) return rc;
  std::vector<size_t> sizes = {20000, 100000};
  if (argc > 1) sizes = {static_cast<size_t>(std::atol(argv[1]))};
  if (sizes[0] < 5000) {
    std::fprintf(stderr, "at least 5000 cards\n");
    return 2;
  }
  std::string folder;
  bool temporary = argc <= 2;
  if (temporary) {
    char pattern[] = "/tmp/slovo_bench.XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    folder = pattern;
  } else {
    folder = argv[2];
  }
  bench::Counter();  // every file of the run goes through it, so that flushes can be counted
  std::vector<Result> results;
  for (size_t n : sizes) {
    results.push_back(Run(n, folder));
    Print(results.back());
    // The data, key, memo and SQLite files of this size.
    for (const auto& e : std::filesystem::directory_iterator(folder))
      if (e.path().filename().string().rfind("slovo.", 0) == 0) std::filesystem::remove(e.path());
  }
  if (results.size() == 2) PrintGrowth(results[0], results[1]);
  if (temporary) std::filesystem::remove_all(folder);
  return 0;
}
