// print_bench [CARDS] [FOLDER] [TEXT-MB]: the program's full list of words and lexemes over
// CARDS generated cards (default 100000), made by its report procedure (ABC prepared, progress
// window, report manager in time slices) into a PDF file on the headless window runtime, in
// pages per second, against the same pairs laid out and drawn by the page builder alone in the
// same run (the baseline). Meanwhile the progress window's thermometer is sampled: the longest
// time it stood still is printed. Then the report is started again and cancelled at several
// moments: the time from the press of "Cancel" to the end of the procedure is printed. Last,
// the text viewer on a file of TEXT-MB megabytes (default 50): the first page, the last page
// (the whole file indexed) and a line in the middle, against one plain read of the file.
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_windows.h"
#include "app/dictionary.h"
#include "app/exchange.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "app/program.h"
#include "app/repair.h"
#include "app/reports.h"
#include "bench/slovo_gen.h"
#include "framework/framework_windows.h"
#include "lang/charset.h"
#include "storage/driver.h"
#include "ui/headless/test_driver.h"
#include "ui/qt_print/qt_render.h"
#include "ui/report/page_builder.h"
#include "ui/report/renderer.h"
#include "ui/report/report_json.h"
#include "ui/runtime/gui_input.h"
#include "ui/runtime/runtime.h"

namespace {

using namespace korawin;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
namespace P = ids::ReportProgress;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void Check(int code, const char* what) {
  if (code != 0) {
    std::fprintf(stderr, "%s failed: %d %s\n", what, code, storage::ErrorText().c_str());
    std::exit(1);
  }
}

class QuietUi : public ui::MessageUi {
 public:
  unsigned ShowMessage(const ui::MessageBoxRequest&) override { return ui::ButtonOk; }
  void Beep(ui::Sound) override {}
};

void MakeDatabase(const std::string& dir, size_t cards) {
  app::LexiconFiles files = app::LexiconFiles::InFolder(dir);
  std::string error;
  if (app::CreateDatabase(files, &error)) {
    std::fprintf(stderr, "create: %s\n", error.c_str());
    std::exit(1);
  }
  std::vector<bench::GeneratedCard> generated = bench::GenerateCards(cards);
  app::DeclaredFile& slovo = files[app::LexiconFile::kSlovo];
  storage::DriverArgs open;
  open.mode = storage::kOpenReadWrite | storage::kShareDenyAll;
  Check(storage::CallDriver(storage::kOpOpen, slovo.fd(), open), "OPEN");
  Check(bench::BulkAdd(slovo, generated), "ADD");
  Check(storage::CallDriver(storage::kOpClose, slovo.fd()), "CLOSE");
  QuietUi quiet;
  app::PassReport report;
  Check(app::RepairDatabase(files, quiet, nullptr, &report), "repair");
}

std::string_view Clipped(std::string_view s) {
  size_t end = s.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view() : s.substr(0, end + 1);
}

// The (word, lexeme) pairs the report prints, read through the driver: DCT along BY_VERV, and
// the ABC records of each word along KEYSLOVO.
std::vector<std::pair<std::string, std::string>> Pairs(const std::string& dir) {
  app::LexiconFiles files = app::LexiconFiles::InFolder(dir);
  app::DeclaredFile& dct = files[app::LexiconFile::kDct];
  app::DeclaredFile& abc = files[app::LexiconFile::kAbc];
  storage::DriverArgs open;
  open.mode = storage::kOpenReadOnly | storage::kShareDenyNone;
  Check(storage::CallDriver(storage::kOpOpen, dct.fd(), open), "OPEN dct");
  Check(storage::CallDriver(storage::kOpOpen, abc.fd(), open), "OPEN abc");
  std::vector<std::pair<std::string, std::string>> out;
  storage::DriverArgs byWord;
  byWord.key = 1;
  Check(storage::CallDriver(storage::kOpSetKey, dct.fd(), byWord), "SET dct");
  while (storage::CallDriver(storage::kOpNext, dct.fd()) == 0) {
    std::string word(dct.Field("VERV"));
    abc.SetField("SLOVO", word);
    storage::DriverArgs from;
    from.key = 2;  // KEYSLOVO
    Check(storage::CallDriver(storage::kOpSetKeyKey, abc.fd(), from), "SET abc");
    bool any = false;
    while (storage::CallDriver(storage::kOpNext, abc.fd()) == 0) {
      if (lang::CompareNoCase(Clipped(abc.Field("SLOVO")), Clipped(word)) != 0) break;
      out.emplace_back(word, std::string(abc.Field("LEXEMA")));
      any = true;
    }
    if (!any) out.emplace_back(word, std::string(60, ' '));
  }
  (void)storage::CallDriver(storage::kOpClose, abc.fd());  // read only
  (void)storage::CallDriver(storage::kOpClose, dct.fd());  // read only
  return out;
}

// The window of the report's progress, once it is open.
int ProgressWindow(ui::TestDriver& driver, int thread) {
  for (int k = 0; k < 2000; ++k) {
    for (int w : driver.Windows())
      if (driver.ThreadOf(w) == thread && driver.Caption(w) == "Progress...") return w;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  size_t cards = argc > 1 ? static_cast<size_t>(std::atol(argv[1])) : 100000;
  std::string parent = argc > 2 ? argv[2] : "/tmp";
  int textMb = argc > 3 ? std::atoi(argv[3]) : 50;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QGuiApplication qt(qtArgc, argv);
  ui::qtprint::QtPageRenderer renderer;
  ui::report::SetPageRenderer(&renderer);

  std::string dir = parent + "/print_bench_XXXXXX";
  if (!::mkdtemp(dir.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  std::printf("print_bench: %zu cards in %s\n", cards, dir.c_str());
  auto t0 = Clock::now();
  MakeDatabase(dir, cards);
  std::printf("database made in %.1f s\n", Seconds(t0));

  ui::HeadlessBackend backend;
  ui::TestDriver driver(backend, std::chrono::seconds(600));
  app::StartUp(dir);

  // --- The report through the program's procedure, ABC prepared first.
  std::string pdf = dir + "/words.pdf";
  app::ReportOutcome outcome;
  double prepare = 0, report = 0;
  int thread = ui::Runtime::StartProcedure([&] {
    auto s = Clock::now();
    app::PrepareWordsLexemes();
    prepare = Seconds(s);
  });
  ui::Runtime::WaitThread(thread, std::chrono::hours(1));
  thread = ui::Runtime::StartProcedure([&] {
    auto s = Clock::now();
    app::ReportOptions options;
    options.pdfFile = pdf;
    outcome = app::RunReport(app::modules::kWordsLexemesReport, options);
    report = Seconds(s);
  });
  int window = ProgressWindow(driver, thread);
  // The thermometer as the user sees it, every 20 ms.
  int last = -1;
  auto changed = Clock::now();
  double stillest = 0;
  int moves = 0;
  while (ui::Runtime::ThreadRunning(thread)) {
    if (window && driver.IsOpen(window)) {
      int value = driver.Value(window, P::Progress_Thermometer);
      if (value != last) {
        if (last >= 0) stillest = std::max(stillest, Seconds(changed));
        changed = Clock::now();
        last = value;
        ++moves;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ui::Runtime::WaitThread(thread, std::chrono::hours(1));
  if (outcome.result != framework::ReportResult::SavedPdf) {
    std::fprintf(stderr, "report failed: %s\n", outcome.error.c_str());
    return 1;
  }

  // --- The baseline: the same pairs laid out and drawn by the page builder alone.
  std::vector<std::pair<std::string, std::string>> pairs = Pairs(dir);
  const ui::report::ReportDesc* desc =
      ui::report::FindReportDesc("korawin1$koraw112", "P1$REPORT");
  auto metrics = renderer.NewMetrics();
  std::string word(64, ' '), lexeme(60, ' ');
  auto b0 = Clock::now();
  int basePages = 0;
  {
    auto sink = renderer.NewPdfSink(dir + "/baseline.pdf");
    ui::report::PageBuilder b;
    b.Open(*desc, metrics.get(), sink.get());
    b.Use("DCT:VERV", lang::Variable::String(word.data(), 64));
    b.Use("ABC:LEXEMA", lang::Variable::String(lexeme.data(), 60));
    for (const auto& [w, l] : pairs) {
      std::memcpy(word.data(), w.data(), 64);
      std::memcpy(lexeme.data(), l.data(), 60);
      b.Print(1);
    }
    b.Close();
    basePages = b.Pages();
  }
  double baseline = Seconds(b0);
  std::printf("ABC prepared (%zu cards):          %7.2f s\n", cards, prepare);
  std::printf("report procedure to PDF:  %6d pages in %7.2f s = %8.1f pages/s (%zu lines)\n",
              outcome.pages, report, outcome.pages / report, pairs.size());
  std::printf("baseline, builder alone:  %6d pages in %7.2f s = %8.1f pages/s\n", basePages,
              baseline, basePages / baseline);
  std::printf("ratio report/baseline: %.2f\n", report / baseline);
  std::printf("thermometer: %d distinct values seen, stood still at most %.2f s\n", moves, stillest);

  // --- Cancel at several moments of the run.
  double worst = 0;
  for (double at : {0.3, 1.1, 2.3}) {
    std::string cancelled = dir + "/cancelled.pdf";
    int t = ui::Runtime::StartProcedure([&] {
      app::ReportOptions options;
      options.pdfFile = cancelled;
      app::RunReport(app::modules::kWordsLexemesReport, options);
    });
    int w = ProgressWindow(driver, t);
    std::this_thread::sleep_for(std::chrono::duration<double>(at));
    if (!ui::Runtime::ThreadRunning(t)) {
      std::printf("cancel after %.1f s: the report had ended before\n", at);
      continue;
    }
    auto pressed = Clock::now();
    backend.OnGui([&] { ui::gui::Press(w, P::Progress_Cancel); });
    ui::Runtime::WaitThread(t, std::chrono::minutes(5));
    double took = Seconds(pressed);
    worst = std::max(worst, took);
    std::printf("cancel after %.1f s: the procedure ended %.3f s after the press%s\n", at, took,
                fs::exists(cancelled) ? " (A FILE WAS LEFT)" : ", no file left");
    fs::remove(cancelled);
  }
  std::printf("cancel: at most %.3f s\n", worst);

  // --- The text viewer on a large file.
  std::string text = dir + "/CARD.TXT";
  {
    std::ofstream out(text, std::ios::binary);
    std::string line;
    int64_t n = 0;
    for (int64_t bytes = 0; bytes < int64_t{textMb} << 20; bytes += static_cast<int64_t>(line.size())) {
      line = "\xd1\xf2\xf0\xee\xea\xe0 " + std::to_string(++n) +
             " \xe4\xeb\xff \xef\xf0\xee\xf1\xec\xee\xf2\xf0\xe0 abcdefghijklmnopqrstuvwxyz\r\n";
      out << line;
    }
  }
  auto r0 = Clock::now();
  {
    std::ifstream in(text, std::ios::binary);
    std::vector<char> buf(1 << 20);
    int64_t lines = 0;
    while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) || in.gcount() > 0) {
      lines += std::count(buf.begin(), buf.begin() + in.gcount(), '\n');
      if (!in) break;
    }
    if (lines == 0) return 1;
  }
  double plainRead = Seconds(r0);
  namespace V = ids::TextViewer;
  auto v0 = Clock::now();
  int viewerThread = app::StartModule(app::modules::kTextViewer);
  int viewer = driver.WaitFor("korawin1$koraw045");
  std::vector<std::vector<std::string>> rows = driver.Rows(viewer, V::AsciiBox);
  double firstPage = Seconds(v0);
  auto v1 = Clock::now();
  backend.QueueChoice(6);  // Bottom
  driver.Mouse(viewer, V::AsciiBox, ui::kMouseRight);
  rows = driver.Rows(viewer, V::AsciiBox);
  double bottom = Seconds(v1);
  std::string lastLine = rows.empty() ? "" : rows.back()[0];
  auto v2 = Clock::now();
  backend.QueueChoice(7);  // Goto
  driver.Mouse(viewer, V::AsciiBox, ui::kMouseRight);
  int go = driver.WaitFor("Goto");
  driver.Type(go, ids::AsciiGoto::LineNo, "400000");
  driver.Press(go, ids::AsciiGoto::Go);
  rows = driver.Rows(viewer, V::AsciiBox);
  double middle = Seconds(v2);
  int row = driver.Value(viewer, V::AsciiBox);
  std::string chosen = row >= 1 && static_cast<size_t>(row) <= rows.size() ? rows[row - 1][0] : "";
  std::printf("text viewer, %d MB: first page %.3f s, last page %.3f s (\"%s\"), goto line "
              "400000 %.3f s (\"%s\"); one plain read of the file %.3f s (last page / plain "
              "read %.2f)\n",
              textMb, firstPage, bottom, lastLine.c_str(), middle, chosen.c_str(), plainRead,
              bottom / plainRead);
  driver.CloseBox(viewer);
  driver.WaitThreadEnd(viewerThread);

  app::TearDown();
  ui::report::SetPageRenderer(nullptr);
  fs::remove_all(dir);
  return 0;
}
