// The program's reports on a copy of the demo database, drawn into PDF files offscreen and
// read back with pdftotext against the records walked through the driver: every record in key
// order, page numbers continuous, Cyrillic intact. The card text export of every demo card
// byte for byte, and where its file may go. The preview on the headless backend.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "app/dictionary.h"
#include "app/globals.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "app/reports.h"
#include "app/texts.h"
#include "framework/framework_windows.h"
#include "framework/print_preview.h"
#include "storage/view/view.h"
#include "ui/report/report_json.h"
#include "platform/codepage.h"
#include "storage/dat/dat_driver.h"
#include "storage/driver.h"
#include "tests/app/gui_fixture.h"
#include "tests/support/fault_fs.h"
#include "ui/qt_print/qt_render.h"
#include "ui/report/renderer.h"
#include "ui/runtime/runtime.h"

namespace korawin::app::testing {
namespace {

namespace fs = std::filesystem;

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "app_print_test";
    static char* argv[] = {name, nullptr};
    app_ = new QGuiApplication(argc, argv);
  }
  void TearDown() override {
    // A procedure thread that drew pages gives back Qt's data of its thread as it exits.
    ui::Runtime::WaitProceduresGone(std::chrono::seconds(5));
    delete app_;
  }

 private:
  QGuiApplication* app_ = nullptr;
};
[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The Qt renderer, with a printer that only counts what it is sent.
class TestRenderer : public ui::report::PageRenderer {
 public:
  std::unique_ptr<ui::report::TextMetrics> NewMetrics() override { return qt_.NewMetrics(); }
  std::unique_ptr<ui::report::PageSink> NewPdfSink(const std::string& path) override {
    return qt_.NewPdfSink(path);
  }
  bool WritePdf(const ui::report::Document& doc, const std::string& path,
                std::string* why) override {
    return qt_.WritePdf(doc, path, why);
  }
  bool WritePageImage(const ui::report::Document& doc, int index, double dpi,
                      const std::string& path, std::string* why) override {
    return qt_.WritePageImage(doc, index, dpi, path, why);
  }
  int Print(const ui::report::Document& doc, bool ask, std::string* why) override {
    printedPages += static_cast<int>(doc.pages.size());
    ++printJobs;
    return 1;
  }
  std::atomic<int> printJobs{0};
  std::atomic<int> printedPages{0};

 private:
  ui::qtprint::QtPageRenderer qt_;
};

std::string U(std::string_view cp1251) { return platform::Cp1251ToUtf8(cp1251); }

std::string ClipRight(std::string_view s) {
  size_t end = s.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string() : std::string(s.substr(0, end + 1));
}

// Whitespace runs as one blank.
std::string Squeeze(std::string_view s) {
  std::string out;
  bool blank = false;
  for (char c : s) {
    bool space = c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\f';
    if (space) {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

class PrintTest : public GuiFixture {
 protected:
  void SetUp() override {
    GuiFixture::SetUp();
    old_ = ui::report::SetPageRenderer(&renderer_);
  }
  void TearDown() override {
    GuiFixture::TearDown();
    ui::report::SetPageRenderer(old_);
  }

  // Runs fn as a procedure of its own and waits for it to end.
  void OnProcedure(std::function<void()> fn) {
    int thread = ui::Runtime::StartProcedure(std::move(fn));
    ASSERT_NE(thread, 0);
    ASSERT_TRUE(driver_.WaitThreadEnd(thread));
  }

  ReportOutcome ToPdf(int module, const std::string& pdf) {
    ReportOutcome outcome;
    OnProcedure([&] {
      if (module == modules::kWordsLexemesReport) PrepareWordsLexemes();
      ReportOptions options;
      options.pdfFile = pdf;
      outcome = RunReport(module, options);
    });
    return outcome;
  }

  // The pages of a PDF's text, as pdftotext lays them out.
  static std::vector<std::string> PdfPages(const std::string& pdf) {
    std::string cmd = std::string(KORAWIN_PDFTOTEXT) + " -layout -enc UTF-8 '" + pdf + "' -";
    FILE* p = popen(cmd.c_str(), "r");
    std::string text;
    char buf[65536];
    for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    EXPECT_EQ(p ? pclose(p) : -1, 0) << cmd;
    std::vector<std::string> pages;
    std::istringstream in(text);
    for (std::string page; std::getline(in, page, '\f');) pages.push_back(page);
    if (!pages.empty() && pages.back().find_first_not_of(" \n") == std::string::npos)
      pages.pop_back();
    return pages;
  }

  // The values of fields (by name without prefix) of each record of which along key, read
  // through the driver with a declaration of the test's own.
  std::vector<std::vector<std::string>> Walk(LexiconFile which, const char* key,
                                             std::vector<std::string> fields) {
    DeclaredFile d = DeclareFile(which, &storage::dat::DatDriverEntry, dir_.path());
    std::vector<std::vector<std::string>> out;
    storage::DriverArgs open;
    open.mode = storage::kOpenReadOnly | storage::kShareDenyNone;
    EXPECT_EQ(storage::CallDriver(storage::kOpOpen, d.fd(), open), 0);
    storage::DriverArgs set;
    for (size_t k = 0; k < d.fd().keys.size(); ++k)
      if (d.fd().keys[k].label.ends_with(std::string(":") + key)) set.key = static_cast<int>(k) + 1;
    EXPECT_EQ(storage::CallDriver(storage::kOpSetKey, d.fd(), set), 0);
    while (storage::CallDriver(storage::kOpNext, d.fd()) == 0) {
      std::vector<std::string> row;
      for (const std::string& f : fields) row.push_back(U(ClipRight(d.Field(f))));
      if (fields.size() == 1 && fields[0] == "*") row = {std::string(d.record.begin(), d.record.end())};
      out.push_back(row);
    }
    EXPECT_EQ(storage::CallDriver(storage::kOpClose, d.fd()), 0);
    return out;
  }

  // Checks that each text of want appears in text, in order.
  static void ExpectInOrder(const std::string& text, const std::vector<std::string>& want,
                            const std::string& what) {
    size_t at = 0;
    for (const std::string& w : want) {
      std::string s = Squeeze(w);
      size_t found = text.find(s, at);
      ASSERT_NE(found, std::string::npos) << what << ": \"" << s << "\" missing after offset " << at;
      at = found + s.size();
    }
  }

  // Page numbers "<prefix>1", "<prefix>2" ... one in the footer of each page, in order.
  static void ExpectPageNumbers(const std::vector<std::string>& pages, const std::string& prefix) {
    std::regex number(prefix + "\\s*(\\d+)\\s*$");
    for (size_t k = 0; k < pages.size(); ++k) {
      std::string page = pages[k];
      while (!page.empty() && (page.back() == '\n' || page.back() == ' ')) page.pop_back();
      std::smatch m;
      ASSERT_TRUE(std::regex_search(page, m, number)) << "page " << k + 1 << " lacks " << prefix;
      EXPECT_EQ(std::stoi(m[1]), static_cast<int>(k) + 1);
    }
  }

  TestRenderer renderer_;
  ui::report::PageRenderer* old_ = nullptr;
};

TEST_F(PrintTest, EveryClassificationListPrintsEveryRecordInKeyOrderWithItsPageNumbers) {
  struct Case {
    int module;
    LexiconFile file;
    const char* key;
    const char* title;
    const char* pageNo;  // the footer's text before the number
  };
  const Case cases[] = {
      {modules::kTaxReport, LexiconFile::kTax, "TAX_K", "Список Т-категорий", "Стр "},
      {modules::kThemeReport, LexiconFile::kTema, "K_T", "Список ТЕМ", "Стр"},
      {modules::kRoleReport, LexiconFile::kAk2, "BY_A", "Список РОЛЕЙ", "Стр "},
      {modules::kTClassReport, LexiconFile::kAk3, "BY_A", "Список Т-классов", "Стр "},
      {modules::kK4Report, LexiconFile::kP4, "K_P_4", "Список ТОЛКОВАНИЙ К.4", "Cтр "},
      {modules::kK6Report, LexiconFile::kP7, "K_P_7", "Список ТОЛКОВАНИЙ К.6", "Стр "},
      {modules::kK81Report, LexiconFile::kP8b, "K_P8B", "Список ТОЛКОВАНИЙ К8.1", "Стр "},
      {modules::kK82Report, LexiconFile::kP8e, "K_P8E", "Список ТОЛКОВАНИЙ К.8-2", "Стр "},
      {modules::kLexemeNamesReport, LexiconFile::kSlovo, "K_SLO", nullptr, "Page "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.module);
    std::string pdf = dir_.File("list" + std::to_string(c.module) + ".pdf");
    ReportOutcome outcome = ToPdf(c.module, pdf);
    ASSERT_EQ(outcome.result, framework::ReportResult::SavedPdf) << outcome.error;
    std::vector<std::string> pages = PdfPages(pdf);
    ASSERT_EQ(static_cast<int>(pages.size()), outcome.pages);
    std::string all;
    for (const std::string& p : pages) all += Squeeze(p) + " ";
    std::vector<std::string> want;
    const char* field = c.file == LexiconFile::kSlovo ? "I_VERB"
                        : c.file == LexiconFile::kAk2 || c.file == LexiconFile::kAk3 ? "A"
                        : c.file == LexiconFile::kTax || c.file == LexiconFile::kTema ? "T"
                                                                                       : "F";
    for (const auto& row : Walk(c.file, c.key, {field})) want.push_back(row[0]);
    ASSERT_GT(want.size(), 3u);
    ExpectInOrder(all, want, "records");
    ExpectPageNumbers(pages, c.pageNo);
    if (c.title) {
      for (const std::string& p : pages) EXPECT_NE(p.find(c.title), std::string::npos);
    }
  }
  EXPECT_TRUE(MessageTexts().empty());
}

TEST_F(PrintTest, FullWordListPrintsEachWordWithItsLexemesAfterThePreparation) {
  std::string pdf = dir_.File("words.pdf");
  ReportOutcome outcome = ToPdf(modules::kWordsLexemesReport, pdf);
  ASSERT_EQ(outcome.result, framework::ReportResult::SavedPdf) << outcome.error;
  std::vector<std::string> pages = PdfPages(pdf);
  ASSERT_GT(pages.size(), 1u);
  std::string all;
  for (const std::string& p : pages) {
    EXPECT_NE(p.find("Список слов и лексем"), std::string::npos);
    all += Squeeze(p) + " ";
  }
  ExpectPageNumbers(pages, "Стр\\. ");
  // Each lexeme of the cards under its word, the words in DCT's order.
  std::vector<std::vector<std::string>> cards = Walk(LexiconFile::kSlovo, "K_SLO", {"I_VERB", "VERV"});
  std::vector<std::string> want;
  size_t lexemes = 0;
  for (const auto& word : Walk(LexiconFile::kDct, "BY_VERV", {"VERV"})) {
    want.push_back(word[0]);
    for (const auto& card : cards) {
      if (card[1] != word[0]) continue;
      want.push_back(word[0]);  // the word again on each of its lexemes' lines
      want.push_back(card[0].substr(0, card[0].size()));
      ++lexemes;
    }
  }
  EXPECT_EQ(lexemes, cards.size());
  // A word printed once per lexeme: the word of the first pair stands for the line itself.
  std::vector<std::string> lines;
  for (size_t k = 0; k < want.size(); ++k) {
    if (k + 1 < want.size() && want[k] == want[k + 1]) continue;
    lines.push_back(want[k]);
  }
  ExpectInOrder(all, lines, "pairs");
}

TEST_F(PrintTest, CardReportsPrintTheOpenCardAndTheMarkedCardsOnePerPage) {
  std::vector<std::vector<std::string>> cards =
      Walk(LexiconFile::kSlovo, "K_SLO", {"I_VERB", "METKA", "IV", "V_2"});
  const auto& card = cards[3];
  Assign(Glo().currentLex, Ansi(card[0]));
  for (int module : {modules::kCardReport, modules::kCardReport2}) {
    SCOPED_TRACE(module);
    std::string pdf = dir_.File("card" + std::to_string(module) + ".pdf");
    ReportOutcome outcome = ToPdf(module, pdf);
    ASSERT_EQ(outcome.result, framework::ReportResult::SavedPdf) << outcome.error;
    std::vector<std::string> pages = PdfPages(pdf);
    ASSERT_EQ(pages.size(), 1u);
    std::string text = Squeeze(pages[0]);
    ExpectInOrder(text, {"1. Лексема", card[0], "2. Легенда", "3. Участники", "4. T-категория",
                         "4. Т-категория:", card[2], "5. Толкование", "K0", "K1"},
                  "card");
    std::string k2 = module == modules::kCardReport ? "K.2 " : "K2 ";
    EXPECT_NE(text.find(k2 + Squeeze(card[3]).substr(0, 10)), std::string::npos) << text;
    ExpectInOrder(text, {"K8.1", "K8.2", "K9", "K10", "6. Тема", "7. Аспект. характеристика",
                         "Комментарии"},
                  "card");
  }

  // The marked cards: one page each, in key order; with a fragment, only those holding it.
  std::vector<std::string> marked;
  for (const auto& c : cards)
    if (!c[1].empty()) marked.push_back(c[0]);
  ASSERT_GE(marked.size(), 2u);
  std::string pdf = dir_.File("marked.pdf");
  ReportOutcome outcome = ToPdf(modules::kMarkedCardsReport, pdf);
  ASSERT_EQ(outcome.result, framework::ReportResult::SavedPdf) << outcome.error;
  std::vector<std::string> pages = PdfPages(pdf);
  ASSERT_EQ(pages.size(), marked.size());
  for (size_t k = 0; k < marked.size(); ++k) EXPECT_NE(Squeeze(pages[k]).find(marked[k]), std::string::npos);

  std::string fragment = marked[1].substr(0, marked[1].find(' '));
  Assign(Glo().fr1, Ansi(fragment));
  size_t holding = 0;
  for (const std::string& m : marked) holding += m.find(fragment) != std::string::npos;
  pdf = dir_.File("fragment.pdf");
  outcome = ToPdf(modules::kMarkedFragmentCardsReport, pdf);
  ASSERT_EQ(outcome.result, framework::ReportResult::SavedPdf) << outcome.error;
  pages = PdfPages(pdf);
  EXPECT_EQ(pages.size(), holding);
  for (const std::string& p : pages) EXPECT_NE(p.find(fragment), std::string::npos);
  // An empty fragment takes every marked card.
  Assign(Glo().fr1, "");
  outcome = ToPdf(modules::kMarkedFragmentCardsReport, pdf);
  EXPECT_EQ(static_cast<size_t>(outcome.pages), marked.size());
}

TEST_F(PrintTest, NoCardOpenTellsNoRecordsAndTheCancelledReportLeavesNoFile) {
  Assign(Glo().currentLex, Ansi("нет такой лексемы"));
  std::string pdf = dir_.File("none.pdf");
  ReportOutcome outcome = ToPdf(modules::kCardReport, pdf);
  EXPECT_EQ(outcome.result, framework::ReportResult::NotRun);
  EXPECT_FALSE(fs::exists(pdf));
  ASSERT_EQ(MessageTexts().size(), 1u);
  EXPECT_EQ(MessageTexts()[0], "There are no records available to process.");
}

TEST_F(PrintTest, PreviewShowsThePagesAndPrintsOnlyWhenAsked) {
  namespace W = ids::PrintPreview;
  for (bool print : {false, true}) {
    SCOPED_TRACE(print);
    int thread = StartModule(modules::kLexemeNamesReport);
    ASSERT_NE(thread, 0);
    int preview = driver_.WaitFor("Report Preview");
    ASSERT_NE(preview, 0);
    ASSERT_TRUE(driver_.Settle());
    std::string status = driver_.Status(preview, 1);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(status, m, std::regex("Page 1 of (\\d+)"))) << status;
    int pages = std::stoi(m[1]);
    ASSERT_GT(pages, 1);
    EXPECT_EQ(driver_.Status(preview, 0), "Zoom: Page Width");
    EXPECT_FALSE(driver_.Control(preview, W::Pages).text.empty());
    ASSERT_TRUE(driver_.Press(preview, W::PRTPREV_NEXT));
    EXPECT_EQ(driver_.Status(preview, 1), "Page 2 of " + std::to_string(pages));
    ASSERT_TRUE(driver_.Press(preview, W::Zoom100));
    EXPECT_EQ(driver_.Status(preview, 0), "Zoom: 100%");
    EXPECT_EQ(driver_.Value(preview, W::PRTPREV_ZOOMLIST), 5);
    // The zoom button zooms in by a quarter, a zoom of the user's own after the table's rows.
    ASSERT_TRUE(driver_.Press(preview, W::PRTPREV_TBARZOOM));
    EXPECT_EQ(driver_.Status(preview, 0), "Zoom: 125%");
    std::vector<std::string> zooms = Column(preview, W::PRTPREV_ZOOMLIST);
    ASSERT_EQ(zooms.size(), 8u);
    EXPECT_EQ(zooms[7], "125% Zoom");
    EXPECT_EQ(driver_.Value(preview, W::PRTPREV_ZOOMLIST), 8);
    int before = renderer_.printJobs;
    ASSERT_TRUE(driver_.Press(preview, print ? W::PRTPREV_TBARPRINT : W::PRTPREV_TBAREXIT));
    ASSERT_TRUE(driver_.WaitThreadEnd(thread));
    EXPECT_EQ(renderer_.printJobs - before, print ? 1 : 0);
  }
}

// A report of the framework's own over the T-categories, set up as a procedure may set it.
class TaxList : public framework::ReportManager {
 public:
  using Level = framework::Level;
  Level Init() override {
    if (Level l = WindowManager::Init()) return l;
    EXPECT_EQ(Relate(LexiconFile::kTax).Open(), framework::LevelBenign);
    storage::ViewDeclaration decl;
    decl.primary = &Declared(LexiconFile::kTax).fd();
    decl.project = {1};
    view_ = std::make_unique<storage::View>(decl);
    process_.Init(*view_, Relate(LexiconFile::kTax));
    process_.AddSortOrder(KeyNumber(LexiconFile::kTax, "TAX_K"));
    process_.RecordsToProcess = 1;  // fewer than there are
    process_.SetReport(*this, 1);
    ReportManager::Init(process_, *ui::report::FindReportDesc("korawin1$koraw067", "P1$REPORT"),
                        &preview_);
    DeferWindow = 3;
    SkipPreview = true;
    AskPrinter = false;
    OpenProgressWindow();
    return framework::LevelBenign;
  }
  Level Kill() override {
    Level l = ReportManager::Kill();
    (void)Relate(LexiconFile::kTax).Close();  // 0
    return l;
  }
  uint8_t Percent() const { return *process_.Percentile; }

 private:
  std::unique_ptr<storage::View> view_;
  framework::DetailProcess process_;
  framework::PrintPreview preview_;
};

TEST_F(PrintTest, AQuickReportWithDeferWindowNeverShowsItsProgressAndCapsThePercentage) {
  OnProcedure([] { RunReport(0); });  // registers the reports
  std::atomic<bool> done{false};
  uint8_t percent = 0;
  uint8_t response = 0;
  int thread = ui::Runtime::StartProcedure([&] {
    TaxList report;
    response = report.Run();
    percent = report.Percent();
    done = true;
  });
  ASSERT_NE(thread, 0);
  bool shown = false;
  while (!done) {
    for (int w : driver_.Windows())
      if (driver_.Caption(w) == "Progress..." && !driver_.StateOf(w).hidden) shown = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(driver_.WaitThreadEnd(thread));
  EXPECT_FALSE(shown);
  EXPECT_EQ(response, framework::RequestCompleted);
  EXPECT_EQ(percent, 100);
  EXPECT_EQ(renderer_.printJobs, 1);
}

TEST_F(PrintTest, AOnePageReportDisablesThePageControlsAndKeepsOnePageOnScreen) {
  namespace W = ids::PrintPreview;
  namespace S = ids::PreviewDisplay;
  int thread = StartModule(modules::kTaxReport);
  int preview = driver_.WaitFor("Report Preview");
  ASSERT_NE(preview, 0);
  ASSERT_TRUE(driver_.Settle());
  EXPECT_EQ(driver_.Status(preview, 1), "Page 1 of 1");
  EXPECT_TRUE(driver_.Control(preview, W::PRTPREV_CURRENTPAGE).flags & ui::kFlagDisabled);
  EXPECT_TRUE(driver_.Control(preview, W::PRTPREV_PAGEPROMPT).flags & ui::kFlagDisabled);
  ASSERT_TRUE(driver_.Press(preview, W::PRTPREV_CHANGEDISPLAY));
  int display = driver_.WaitFor("Change the Report Display");
  ASSERT_NE(display, 0);
  ASSERT_TRUE(driver_.Settle());
  ASSERT_TRUE(driver_.Type(display, S::Across, "2"));
  ASSERT_TRUE(driver_.Press(display, S::OK));
  EXPECT_TRUE(driver_.IsOpen(display));
  EXPECT_EQ(driver_.Focus(display), S::Across);
  ASSERT_TRUE(driver_.Press(display, S::Cancel));
  ASSERT_TRUE(driver_.Press(preview, W::PRTPREV_TBAREXIT));
  ASSERT_TRUE(driver_.WaitThreadEnd(thread));
  EXPECT_EQ(renderer_.printJobs, 0);
}

// ---- The card text export ---------------------------------------------------------------------

// The export's lines of a card record (Windows-1251), as the layout gives them.
std::string ExpectedExport(const DeclaredFile& card) {
  auto f = [&](const char* name) { return std::string(card.Field(name)); };
  auto clip = [](std::string s) { return ClipRight(s); };
  auto cell = [&](const std::string& field, size_t from, size_t to) {
    return clip(field.substr(from - 1, to - from + 1));
  };
  auto blanks = [](long n) { return std::string(n > 0 ? static_cast<size_t>(n) : 0, ' '); };
  auto pad15 = [&](const std::string& s) { return s + blanks(15 - static_cast<long>(s.size())); };
  std::vector<std::string> lines = {Ansi("   1. Лексема:") + f("I_VERB"), "",
                                    std::string(card.memo.begin(), card.memo.begin() + 4096), "",
                                    Ansi("   2. Легенда:"), f("F_M"), Ansi("   3. Участники:")};
  for (int i = 1; i <= 5; ++i) {
    std::string n = std::to_string(i);
    std::string name = f(("ACT1" + n).c_str()), form = f(("ACT2" + n).c_str()),
                rank = f(("ACT3" + n).c_str()), role = f(("ACT4" + n).c_str()),
                tclass = f(("ACT5" + n).c_str());
    lines.push_back(clip(name) + blanks(4 - static_cast<long>(clip(name).size())) + "|" +
                    cell(form, 1, 15) + blanks(15 - static_cast<long>(clip(form).size())) + "|" +
                    clip(rank) + blanks(5 - static_cast<long>(clip(rank).size())) + "|" +
                    cell(role, 1, 15) + blanks(15 - static_cast<long>(clip(role).size())) + "|" +
                    cell(tclass, 1, 35));
    lines.push_back("    |" + pad15(cell(form, 16, 30)) + "|     |" + pad15(cell(role, 16, 30)) +
                    "|" + cell(tclass, 36, 70));
  }
  lines.push_back(Ansi("   4. Т-категория:"));
  lines.push_back(f("IV"));
  lines.push_back(Ansi("   5. Схематическое толкование:"));
  const char* k[][2] = {{"   K0   ", "V_0"}, {"   K1   ", "V_1"}, {"   K2   ", "V_2"},
                        {"   K3   ", "V_3"}, {"   K4   ", "V_4"}, {"   K5   ", "V_5"},
                        {"   K6   ", "V_7"}, {"   K7   ", "V_6"}, {"   K8.1 ", "V8B"},
                        {"   K8.2 ", "V8E"}, {"   K9   ", "V_9"}, {"   K10  ", "V_10"}};
  for (auto& [label, field] : k) lines.push_back(std::string(label) + f(field));
  for (const char* l : {"   6. Тема:", "TEMA", "   7. Аспект. х-ка:", "II_MORFOLOG", "",
                        "   Комментарий:", "VIII", "VIII_ADD"}) {
    std::string s = l;
    if (s.empty() || s[0] == ' ') lines.push_back(Ansi(s));
    else lines.push_back(f(l));
  }
  std::string out;
  for (const std::string& l : lines) out += clip(l) + "\r\n";
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ExportTest : public PrintTest {
 protected:
  // Puts a card into the SLOVO buffer as the card form does and exports it.
  ExportResult Export(const std::string& record, const std::string& memo, std::string* path) {
    DeclaredFile& slovo = Declared(LexiconFile::kSlovo);
    std::copy(record.begin(), record.end(), slovo.record.begin());
    std::fill(slovo.memo.begin(), slovo.memo.end(), ' ');
    std::copy(memo.begin(), memo.end(), slovo.memo.begin());
    std::memcpy(Glo().currentLex, slovo.Field("I_VERB").data(), sizeof Glo().currentLex);
    ExportResult result = ExportResult::kWriteFailed;
    OnProcedure([&] { result = ExportCard(path); });
    if (result != ExportResult::kWritten && !MessageTexts().empty())
      std::fprintf(stderr, "export: %s\n", MessageTexts().back().c_str());
    return result;
  }
  std::vector<std::string> Files() {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_.path()))
      if (e.path().extension() == ".txt" || e.path().extension() == ".tmp")
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST_F(ExportTest, EveryDemoCardExportsLineForLineAsTheLayoutSays) {
  DeclaredFile d = DeclareFile(LexiconFile::kSlovo, &storage::dat::DatDriverEntry, dir_.path());
  storage::DriverArgs open;
  open.mode = storage::kOpenReadOnly | storage::kShareDenyNone;
  ASSERT_EQ(storage::CallDriver(storage::kOpOpen, d.fd(), open), 0);
  ASSERT_EQ(storage::CallDriver(storage::kOpSetFile, d.fd()), 0);
  int cards = 0;
  while (storage::CallDriver(storage::kOpNext, d.fd()) == 0) {
    ++cards;
    std::string record(d.record.begin(), d.record.end());
    std::string memo(d.memo.begin(), d.memo.end());
    std::string path;
    ASSERT_EQ(Export(record, memo, &path), ExportResult::kWritten) << U(d.Field("I_VERB"));
    // The identifier as the field holds it, blanks after it: its first blank ends a single word.
    std::string iVerb(d.Field("I_VERB"));
    size_t cut = iVerb.find(" (") != std::string::npos ? iVerb.find(" (") : iVerb.find(' ');
    std::string name = ClipRight(iVerb.substr(0, std::min<size_t>(cut == std::string::npos ? 0 : cut, 32)));
    EXPECT_EQ(fs::path(path).filename().string(), U(name) + ".txt");
    EXPECT_EQ(ReadFile(path), ExpectedExport(d)) << U(iVerb);
  }
  EXPECT_EQ(storage::CallDriver(storage::kOpClose, d.fd()), 0);
  EXPECT_EQ(cards, 100);
  for (const std::string& f : Files()) EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;
}

TEST_F(ExportTest, LayoutEdgesNamesAndReplacement) {
  DeclaredFile card = DeclareFile(LexiconFile::kSlovo, &storage::dat::DatDriverEntry);
  card.SetField("I_VERB", Ansi("бить 1"));
  // A form of 20 characters whose 15th is a letter fills its cell; one whose 15th is a blank
  // leaves a shorter cell; a blank participant still has its bars.
  card.SetField("ACT21", Ansi("абвгдеёжзийклмнопрст"));
  card.SetField("ACT22", Ansi("абвгдеёжзийклм опрст"));
  card.SetField("ACT11", "X");
  std::string memo = std::string(5000, 'x');
  std::string path;
  ASSERT_EQ(Export(std::string(card.record.begin(), card.record.end()), memo, &path),
            ExportResult::kWritten);
  EXPECT_EQ(fs::path(path).filename().string(), "бить.txt");
  std::string text = platform::Cp1251ToUtf8(ReadFile(path));
  EXPECT_NE(text.find("X   |абвгдеёжзийклмн|     |               |\r\n    |опрст          |     |"
                      "               |\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("    |абвгдеёжзийклм|     |               |\r\n    |опрст          |"),
            std::string::npos);
  EXPECT_NE(text.find("\r\n    |               |     |               |\r\n    |               |     |"
                      "               |\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\n" + std::string(4096, 'x') + "\r\n\r\n"), std::string::npos);

  // "бить 2" goes to the same file and replaces it.
  card.SetField("I_VERB", Ansi("бить 2"));
  ASSERT_EQ(Export(std::string(card.record.begin(), card.record.end()), "", &path),
            ExportResult::kWritten);
  EXPECT_NE(platform::Cp1251ToUtf8(ReadFile(path)).find("Лексема:бить 2\r\n"), std::string::npos);
  // A gloss in brackets ends the name before it.
  card.SetField("I_VERB", Ansi("бить 1 (кого)"));
  ASSERT_EQ(Export(std::string(card.record.begin(), card.record.end()), "", &path),
            ExportResult::kWritten);
  EXPECT_EQ(fs::path(path).filename().string(), "бить 1.txt");
  EXPECT_EQ(Files(), (std::vector<std::string>{"бить 1.txt", "бить.txt"}));
}

TEST_F(ExportTest, AnIdentifierNeverLeadsOutOfTheWorkingFolder) {
  fs::path outside = fs::path(dir_.path()).parent_path();
  DeclaredFile card = DeclareFile(LexiconFile::kSlovo, &storage::dat::DatDriverEntry);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"../x 1", ".._x.txt"},
      {"a/b 1 (y)", "a_b 1.txt"},
      {"../../tmp/evil 1", ".._.._tmp_evil.txt"},
      {"/etc/passwd 1", "_etc_passwd.txt"},
      {"..\\win 1", ".._win.txt"},
  };
  for (const auto& [id, file] : cases) {
    SCOPED_TRACE(id);
    card.SetField("I_VERB", id);
    std::string path;
    ASSERT_EQ(Export(std::string(card.record.begin(), card.record.end()), "", &path),
              ExportResult::kWritten);
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(dir_.path()));
    EXPECT_EQ(fs::path(path).filename().string(), file);
    EXPECT_TRUE(fs::exists(dir_.File(file)));
  }
  EXPECT_FALSE(fs::exists(outside / "x.txt"));
  EXPECT_FALSE(fs::exists(outside / ".._x.txt"));
}

TEST_F(ExportTest, NoOpenCardAndAnUnwritableFolderAreToldAndLeaveTheOldFile) {
  DeclaredFile card = DeclareFile(LexiconFile::kSlovo, &storage::dat::DatDriverEntry);
  // No card open: nothing is written.
  Assign(Glo().currentLex, "");
  ExportResult result = ExportResult::kWritten;
  OnProcedure([&] { result = ExportCard(); });
  EXPECT_EQ(result, ExportResult::kNoCard);
  EXPECT_TRUE(Files().empty());
  // A card that is not in the buffer and not in the file.
  Assign(Glo().currentLex, Ansi("нет такой 1"));
  OnProcedure([&] { result = ExportCard(); });
  EXPECT_EQ(result, ExportResult::kCardNotFound);
  EXPECT_TRUE(Files().empty());
  // A card in the file but not in the buffer is read from the file; the buffer stays.
  std::vector<std::string> first = {};
  DeclaredFile& slovo = Declared(LexiconFile::kSlovo);
  slovo.SetField("I_VERB", Ansi("другая 1"));
  Assign(Glo().currentLex, Ansi("идти 1 (двигаться пешком)"));
  std::string path;
  OnProcedure([&] { result = ExportCard(&path); });
  EXPECT_EQ(result, ExportResult::kWritten);
  EXPECT_EQ(fs::path(path).filename().string(), "идти 1.txt");
  EXPECT_EQ(U(ClipRight(slovo.Field("I_VERB"))), "другая 1");

  // A disk that fills up while the file is written: the user is told, the old file stays
  // whole and nothing is left beside it.
  card.SetField("I_VERB", Ansi("идти 1 (двигаться пешком)"));
  card.SetField("F_M", Ansi("новая легенда"));
  std::string before = ReadFile(path);
  size_t messages = MessageTexts().size();
  {
    test::FaultFileSystem fs;
    fs.SetPathFilter([](const std::string& p) { return p.find(".korawin1-export-") != std::string::npos; });
    fs.FailNth(test::FaultOp::kWrite, 3, ENOSPC, -1);
    test::ScopedFileSystem scoped(fs);
    EXPECT_EQ(Export(std::string(card.record.begin(), card.record.end()), "", nullptr),
              ExportResult::kWriteFailed);
  }
  ASSERT_EQ(MessageTexts().size(), messages + 1);
  EXPECT_NE(MessageTexts().back().find("Не удалось записать файл «идти 1.txt»"), std::string::npos)
      << MessageTexts().back();
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(Files(), (std::vector<std::string>{"идти 1.txt"}));
}

}  // namespace
}  // namespace korawin::app::testing
