// The lexeme list's browse over SLOVO-shaped cards, without a window: how long each step of a
// user's work keeps the list's thread busy. First page, page down, page up, jump to the end, a
// typed prefix through the incremental locator, and the thumb dragged to the middle, each
// printed beside the view engine's own first page (ORDER along K_SLO, SET and 30 NEXT)
// measured in the same run. The browse's steps also make rows: view positions, the column
// pictures and the highlighted record read back.
//
//   browse_bench [cards] [folder]    (defaults: 100000 and a fresh folder under /tmp)
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/files.h"
#include "bench/slovo_gen.h"
#include "framework/browse.h"
#include "framework/locator.h"
#include "framework/relation_manager.h"
#include "framework/step.h"
#include "lang/bind.h"
#include "storage/dat/collation.h"
#include "storage/dat/dat_driver.h"
#include "storage/view/view.h"

using namespace korawin;
using namespace korawin::framework;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPageRows = 30;
constexpr int kTrials = 40;
constexpr const char* kColumns = "10L(2)@s1@284L(2)|M@s64@27L(1)|M@s10@36R(1)|M@d6@";

double Ms(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "failed: %s\n", what);
    std::exit(1);
  }
}

// The thread's own processor time: what the step costs, whatever else the machine runs.
double CpuMs() {
  timespec ts;
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

struct Step {
  explicit Step(const char* n) : name(n) {}
  const char* name;
  std::vector<double> wall, cpu;
};

// Times one run of a step into s.
class Timer {
 public:
  explicit Timer(Step& s) : s_(s), wall_(Clock::now()), cpu_(CpuMs()) {}
  ~Timer() {
    s_.cpu.push_back(CpuMs() - cpu_);
    s_.wall.push_back(Ms(wall_));
  }

 private:
  Step& s_;
  Clock::time_point wall_;
  double cpu_;
};

std::string Trim(std::string s) { return s.erase(s.find_last_not_of(' ') + 1); }

}  // namespace

int main(int argc, char** argv) {
  const size_t n = argc > 1 ? static_cast<size_t>(std::atol(argv[1])) : 100000;
  if (n < 1000) {
    std::fprintf(stderr, "at least 1000 cards\n");
    return 2;
  }
  std::string folder;
  const bool temporary = argc <= 2;
  if (temporary) {
    char pattern[] = "/tmp/browse_bench.XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    folder = pattern;
  } else {
    folder = argv[2];
  }

  // The program's environment: NOCASE keys fold Cyrillic letters, text sorts in Russian order.
  storage::dat::Collation russian;
  Check(storage::dat::Collation::Parse("VELCASE=WINDOWS\nVELCOLSEQ=WINDOWS\n", &russian) == 0,
        "Russian collation");
  storage::dat::SetActiveCollation(russian);

  // The cards, added in one stream as the database repair does.
  std::vector<bench::GeneratedCard> cards = bench::GenerateCards(n);
  app::DeclaredFile slovo =
      app::DeclareFile(app::LexiconFile::kSlovo, &storage::dat::DatDriverEntry, folder);
  storage::FileDescriptor& fd = slovo.fd();
  {
    Check(storage::CallDriver(storage::kOpCreate, fd) == 0, "CREATE");
    storage::DriverArgs open;
    open.mode = storage::kOpenReadWrite | storage::kShareDenyAll;
    Check(storage::CallDriver(storage::kOpOpen, fd, open) == 0, "OPEN");
    Check(storage::CallDriver(storage::kOpStream, fd) == 0, "STREAM");
    for (const auto& c : cards) {
      std::memcpy(slovo.record.data(), c.record.data(), slovo.record.size());
      size_t m = std::min(c.memo.size(), slovo.memo.size());
      std::memcpy(slovo.memo.data(), c.memo.data(), m);
      std::memset(slovo.memo.data() + m, ' ', slovo.memo.size() - m);
      Check(storage::CallDriver(storage::kOpAdd, fd) == 0, "ADD");
    }
    Check(storage::CallDriver(storage::kOpClose, fd) == 0, "CLOSE");
  }
  std::vector<std::string> sorted;
  for (const auto& c : cards) sorted.push_back(Trim(bench::IVerbOf(c)));
  std::sort(sorted.begin(), sorted.end());
  cards.clear();

  ErrorClass errors;
  errors.Init();
  FileManager fm;
  fm.Init(fd, errors);
  fm.AddKey(1, "slo:K_SLO");
  RelationManager rm;
  rm.Init(fm, false);
  Check(fm.Open() == LevelBenign, "file manager OPEN");
  for (const storage::FieldDescriptor& f : fd.fields)
    lang::BIND(f.label, lang::Variable::Field(f.type, fd.record + f.offset, f.size));
  auto field = [&](const char* name) { return slovo.FieldIndex(name); };
  const storage::FieldDescriptor& iverb = fd.fields[static_cast<size_t>(field("I_VERB"))];
  const lang::Variable iverbVar = lang::Variable::String(fd.record + iverb.offset, iverb.size);

  // The lexeme list's view: its four columns.
  storage::ViewDeclaration decl;
  decl.primary = &fd;
  for (const char* name : {"METKA", "I_VERB", "NAME", "DATE"}) decl.project.push_back(field(name) + 1);

  // The view engine alone: the first page of the order.
  Step engine("view engine: first page");
  {
    storage::View view(decl);
    Check(storage::CallView(storage::kOpOpen, view) == 0, "view OPEN");
    storage::DriverArgs order;
    order.number = storage::kViewPropertyOrder;
    order.text = "UPPER(SLO:I_VERB)";
    Check(storage::CallView(storage::kOpSetProperty, view, order) == 0, "ORDER");
    Step warm("pipeline");
    for (int t = 0; t < kTrials + 1; ++t) {
      int rows = 0;
      {
        Timer timer(t == 0 ? warm : engine);  // the first run builds the pipeline
        storage::DriverArgs set;
        Check(storage::CallView(storage::kOpSetView, view, set) == 0, "SETview");
        while (rows < kPageRows && storage::CallView(storage::kOpNext, view) == 0) ++rows;
      }
      Check(rows == kPageRows, "a full page from the view");
    }
    (void)storage::CallView(storage::kOpClose, view);  // a view's CLOSE has nothing to report
  }

  storage::View view(decl);
  BrowseClass browse;
  browse.Init(0, view, rm, nullptr);
  browse.SetPageRows(kPageRows);
  browse.AddSortOrder(1);
  browse.AddField(field("METKA"));
  browse.AddField(field("I_VERB"));
  browse.AddField(field("NAME"));
  browse.AddField(field("DATE"));
  Check(browse.SetFormat(kColumns), "column format");
  IncrementalLocatorClass locator;
  locator.Init(browse, iverbVar);
  browse.AddLocator(locator);
  StepStringClass thumb;
  thumb.Init(StepLetters, StepLookupComputed);
  browse.AddStep(thumb);

  auto first = [&] { return Trim(browse.Rows().front().Cells.cells[1]); };
  auto current = [&] {
    return Trim(browse.Rows()[static_cast<size_t>(browse.CurrentChoice - 1)].Cells.cells[1]);
  };
  Step open("browse: open and first page");
  {
    Timer timer(open);
    browse.ResetSort(false);
  }
  Check(browse.Rows().size() == kPageRows && first() == sorted.front(), "first page");

  Step page("browse: first page again"), down("browse: page down"), up("browse: page up");
  Step end("browse: jump to the end"), locate("browse: typed prefix, per key");
  Step drag("browse: thumb to 50 %");
  for (int t = 0; t < kTrials; ++t) {
    browse.ListQueue.clear();
    browse.CurrentChoice = 0;
    {
      Timer timer(page);
      (void)browse.ResetQueue(ResetReload);  // the page is checked below
    }
    Check(first() == sorted.front(), "first page again");
  }
  for (int t = 0; t < kTrials; ++t) {
    Timer timer(down);
    browse.TakeScroll(ui::EventKind::PageDown);
  }
  Check(first() == sorted[static_cast<size_t>(kTrials) * kPageRows], "paged down");
  for (int t = 0; t < kTrials; ++t) {
    Timer timer(up);
    browse.TakeScroll(ui::EventKind::PageUp);
  }
  Check(first() == sorted.front(), "paged up");
  for (int t = 0; t < kTrials; ++t) {
    browse.TakeScroll(ui::EventKind::ScrollTop);
    {
      Timer timer(end);
      browse.TakeScroll(ui::EventKind::ScrollBottom);
    }
    Check(Trim(browse.Rows().back().Cells.cells[1]) == sorted.back(), "at the end");
  }
  for (int t = 0; t < kTrials; ++t) {
    // Three letters of a card from all over the key, typed one by one.
    const std::string& target = sorted[(static_cast<size_t>(t) * 7919 + 13) % sorted.size()];
    locator.Reset();
    for (size_t k = 0; k < 3 && k < target.size(); ++k) {
      bool taken;
      {
        Timer timer(locate);
        taken = browse.TakeKey(static_cast<unsigned char>(target[k]));
      }
      Check(taken, "locator key");
    }
    Check(current().compare(0, 3, target, 0, 3) == 0, "located on the prefix");
  }
  for (int t = 0; t < kTrials; ++t) {
    browse.TakeScroll(ui::EventKind::ScrollTop);
    Timer timer(drag);
    browse.TakeThumb(50);
  }
  const std::string middle = current();
  const auto at = std::lower_bound(sorted.begin(), sorted.end(), middle) - sorted.begin();
  Check(browse.Thumb() >= 40 && browse.Thumb() <= 60, "the thumb shows the middle");

  const double baseWall = Median(engine.wall), baseCpu = Median(engine.cpu);
  std::printf("%zu cards, %d rows a page; medians of %d runs (the open once), wall clock and "
              "the thread's processor time, each against the view engine's first page\n",
              n, kPageRows, kTrials);
  std::printf("%-32s %9s %9s %9s %9s %9s\n", "step", "wall ms", "max ms", "x engine", "cpu ms",
              "x engine");
  for (const Step* s : {&engine, &open, &page, &down, &up, &end, &locate, &drag}) {
    const double wall = Median(s->wall), cpu = Median(s->cpu);
    std::printf("%-32s %9.4f %9.4f %9.2f %9.4f %9.2f\n", s->name, wall,
                *std::max_element(s->wall.begin(), s->wall.end()), wall / baseWall, cpu,
                cpu / baseCpu);
  }
  std::printf("thumb at 50 %% located card %td of %zu (thumb shows %d)\n", at + 1, sorted.size(),
              browse.Thumb());

  browse.Kill();
  rm.Kill();
  fm.Kill();
  errors.Kill();
  if (temporary) std::filesystem::remove_all(folder);
  return 0;
}
