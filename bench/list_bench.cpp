// The lexeme list of the program on a large database, run headless as a user would drive it:
// how long a reload of the list keeps the user waiting (a tab chosen: the page is read again
// and its count started), how long until the count shows, and how long a page down takes
// while a count is still under way; each beside the view engine's own count (RECORDS) of the
// same view, measured in the same run. One card in a hundred is marked. Then the theme
// browser: the highlight moved down the themes, until each theme's lexemes show and until
// their count does.
//
//   list_bench [cards] [folder]    (defaults: 100000 and a fresh folder under /tmp)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/app_windows.h"
#include "app/dictionary.h"
#include "app/list_count.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "app/program.h"
#include "bench/slovo_gen.h"
#include "lang/picture.h"
#include "storage/dat/collation.h"
#include "storage/dat/dat_driver.h"
#include "storage/view/view.h"
#include "ui/headless/test_driver.h"
#include "ui/runtime/runtime.h"

using namespace korawin;

namespace {

using Clock = std::chrono::steady_clock;
namespace L = ids::LexemeList;

constexpr int kTrials = 9;

double Ms(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "failed: %s\n", what);
    std::_Exit(1);  // procedures may still run: no static teardown under them
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

std::string Trim(std::string s) {
  s.erase(0, s.find_first_not_of(' '));
  return s.erase(s.find_last_not_of(' ') + 1);
}

struct Tab {
  int tab;
  const char* name;
  const char* filter;  // the view's filter on this tab
  size_t expected;
  std::vector<double> engine, reload, counted, pageDown;
};

}  // namespace

int main(int argc, char** argv) {
  const size_t n = argc > 1 ? static_cast<size_t>(std::atol(argv[1])) : 100000;
  std::string folder;
  const bool temporary = argc <= 2;
  if (temporary) {
    char pattern[] = "/tmp/list_bench.XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    folder = pattern;
  } else {
    folder = argv[2];
  }
  ::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);

  storage::dat::Collation russian;
  Check(storage::dat::Collation::Parse("VELCASE=WINDOWS\nVELCOLSEQ=WINDOWS\n", &russian) == 0,
        "Russian collation");
  storage::dat::SetActiveCollation(russian);

  // The cards, one in a hundred marked.
  size_t marked = 0;
  {
    std::vector<bench::GeneratedCard> cards = bench::GenerateCards(n);
    app::DeclaredFile slovo =
        app::DeclareFile(app::LexiconFile::kSlovo, &storage::dat::DatDriverEntry, folder);
    const size_t metka = slovo.fd().fields[static_cast<size_t>(slovo.FieldIndex("METKA"))].offset;
    for (size_t k = 0; k < cards.size(); k += 100, ++marked) cards[k].record[metka] = '*';
    Check(storage::CallDriver(storage::kOpCreate, slovo.fd()) == 0, "CREATE");
    storage::DriverArgs open;
    open.mode = storage::kOpenReadWrite | storage::kShareDenyAll;
    Check(storage::CallDriver(storage::kOpOpen, slovo.fd(), open) == 0, "OPEN");
    Check(bench::BulkAdd(slovo, cards) == 0, "ADD");
    Check(storage::CallDriver(storage::kOpClose, slovo.fd()) == 0, "CLOSE");
    // The themes the cards use, for the theme browser.
    app::DeclaredFile tema =
        app::DeclareFile(app::LexiconFile::kTema, &storage::dat::DatDriverEntry, folder);
    Check(storage::CallDriver(storage::kOpCreate, tema.fd()) == 0, "CREATE TEMA");
    Check(storage::CallDriver(storage::kOpOpen, tema.fd(), open) == 0, "OPEN TEMA");
    const auto& theme = slovo.fd().fields[static_cast<size_t>(slovo.FieldIndex("TEMA"))];
    std::set<std::string> themes;
    for (const auto& c : cards) themes.insert(c.record.substr(theme.offset, theme.size));
    for (const std::string& t : themes) {
      tema.SetField("T", t);
      Check(storage::CallDriver(storage::kOpAdd, tema.fd()) == 0, "ADD TEMA");
    }
    Check(storage::CallDriver(storage::kOpClose, tema.fd()) == 0, "CLOSE TEMA");
  }

  ui::HeadlessBackend backend;
  ui::TestDriver driver(backend, std::chrono::seconds(120));
  app::StartUp(folder);

  std::vector<Tab> tabs = {{1, ".. по алфавиту", "", n, {}, {}, {}, {}},
                           {2, "Помеченные (*)", "(slo:metka='*')", marked, {}, {}, {}, {}},
                           {3, "Не помеченные", "(slo:metka<>'*')", n - marked, {}, {}, {}, {}}};

  // The view engine alone: RECORDS of the list's view on each tab, through the program's
  // own SLOVO declaration, before any window runs.
  {
    framework::FileManager& fm = app::Access(app::LexiconFile::kSlovo);
    Check(fm.Open() == framework::LevelBenign, "SLOVO");
    storage::ViewDeclaration decl;
    decl.primary = &app::Declared(app::LexiconFile::kSlovo).fd();
    decl.project = {1, 2, 3, 50};
    storage::View view(decl);
    Check(storage::CallView(storage::kOpOpen, view) == 0, "view OPEN");
    storage::DriverArgs order;
    order.number = storage::kViewPropertyOrder;
    order.text = "UPPER(SLO:I_VERB)";
    Check(storage::CallView(storage::kOpSetProperty, view, order) == 0, "ORDER");
    for (Tab& t : tabs) {
      storage::DriverArgs filter;
      filter.number = storage::kViewPropertyFilter;
      filter.text = t.filter;
      Check(storage::CallView(storage::kOpSetProperty, view, filter) == 0, "FILTER");
      for (int k = 0; k < 3; ++k) {
        storage::DriverArgs records;
        Clock::time_point start = Clock::now();
        Check(storage::CallView(storage::kOpRecordsFile, view, records) == 0, "RECORDS");
        t.engine.push_back(Ms(start));
        Check(static_cast<size_t>(records.value) == t.expected, "the engine's count");
      }
    }
    Check(storage::CallView(storage::kOpClose, view) == 0, "view CLOSE");
    Check(fm.Close() == framework::LevelBenign, "SLOVO closed");
  }

  // The list itself.
  Check(app::StartModule(app::modules::kLexemeList) != 0, "start the lexeme list");
  const int w = driver.WaitFor("Список  Лексем");
  Check(w != 0, "the lexeme list opens");
  Check(app::WaitForCounts(std::chrono::seconds(120)) && driver.Settle(), "first count");
  int current = 1;
  for (int trial = 0; trial < kTrials; ++trial) {
    for (Tab& t : tabs) {
      if (t.tab == current) continue;
      Clock::time_point start = Clock::now();
      Check(driver.ChooseTab(w, L::Sheet, t.tab), "tab");
      t.reload.push_back(Ms(start));
      // The list answers while its count runs: a page down, timed from the user's key.
      if (t.expected > 30) {
        Clock::time_point down = Clock::now();
        Check(driver.Scroll(w, L::List, ui::EventKind::PageDown), "page down");
        t.pageDown.push_back(Ms(down));
      }
      Check(app::WaitForCounts(std::chrono::seconds(120)) && driver.Settle(), "count");
      t.counted.push_back(Ms(start));
      // The count field's picture is @n_5: a count of six digits shows as "#####".
      std::string want;
      lang::FormatPicture(lang::Value::Int(static_cast<int64_t>(t.expected)), "@n_5", &want);
      const std::string shown = Trim(driver.Text(w, L::Count));
      if (shown != Trim(want))
        std::fprintf(stderr, "%s: the list shows %s, not %zu\n", t.name, shown.c_str(), t.expected);
      Check(shown == Trim(want), "the list's count");
      current = t.tab;
    }
  }

  std::printf("%zu cards, %zu marked; medians, wall clock, of %d tab changes each (the view "
              "engine's RECORDS: 3 runs)\n",
              n, marked, kTrials);
  std::printf("%-16s %10s %12s %10s %12s %10s %14s\n", "tab", "engine ms", "reload ms",
              "x engine", "count ms", "x engine", "page down ms");
  for (const Tab& t : tabs) {
    const double engine = Median(t.engine), reload = Median(t.reload), counted = Median(t.counted);
    std::printf("%-16s %10.2f %12.2f %10.3f %12.2f %10.3f %14s\n", t.name, engine, reload,
                engine > 0 ? reload / engine : 0.0, counted, engine > 0 ? counted / engine : 0.0,
                t.pageDown.empty() ? "-" : std::to_string(Median(t.pageDown)).c_str());
  }
  std::printf("reload: from the tab chosen until the list shows its new page (its count "
              "started); count: until the count shows\n");

  // The theme browser: the highlight moved down the themes, the lexeme pane following.
  {
    namespace T = ids::ThemeBrowser;
    Check(app::StartModule(app::modules::kThemeBrowser) != 0, "start the theme browser");
    const int b = driver.WaitFor("Список ТЕМ");
    Check(b != 0, "the theme browser opens");
    Check(app::WaitForCounts(std::chrono::seconds(120)) && driver.Settle(), "first counts");
    std::vector<double> move, counted;
    const size_t themes = driver.Rows(b, T::EntryList).size();
    for (size_t k = 1; k < themes; ++k) {
      Clock::time_point start = Clock::now();
      Check(driver.Scroll(b, T::EntryList, ui::EventKind::ScrollDown), "next theme");
      move.push_back(Ms(start));
      Check(app::WaitForCounts(std::chrono::seconds(120)) && driver.Settle(), "lexeme count");
      counted.push_back(Ms(start));
    }
    std::printf("theme browser, %zu themes: next theme %.2f ms (its lexemes shown), its count "
                "%.2f ms; medians\n",
                themes, Median(move), Median(counted));
  }

  ui::Runtime::CloseOtherProcedures(std::chrono::seconds(60));
  driver.Settle();
  app::TearDown();
  if (temporary) std::filesystem::remove_all(folder);
  return 0;
}
