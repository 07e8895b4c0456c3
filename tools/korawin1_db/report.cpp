// korawin1-db report DIR NAME [LEXEME] [--pdf FILE] [--fr1 TEXT]: one of the program's reports
// made without a display, as the program makes it (its procedure, progress window and all, on
// the headless window runtime), into a PDF file, or to the default printer without --pdf.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include <QGuiApplication>

#include "app/globals.h"
#include "app/modules.h"
#include "app/program.h"
#include "app/reports.h"
#include "app/startup.h"
#include "platform/codepage.h"
#include "tools/korawin1_db/commands.h"
#include "ui/headless/headless_backend.h"
#include "ui/qt_print/qt_render.h"
#include "ui/report/renderer.h"
#include "ui/runtime/runtime.h"

namespace korawin::tools {

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: korawin1-db report DIR NAME [--pdf FILE] [--fr1 TEXT]\n"
               "       korawin1-db report DIR card|card2 LEXEME [--pdf FILE]\n"
               "NAME is one of:\n");
  for (const app::ReportEntry& e : app::ReportTable())
    std::fprintf(stderr, "  %-16s %s\n", e.name, e.what);
  return 2;
}

// Text of the command line in the data's code page.
std::optional<std::string> Data(const std::string& utf8, const char* what) {
  std::optional<std::string> t = platform::Utf8ToCp1251(utf8);
  if (!t) std::fprintf(stderr, "korawin1-db report: %s has characters outside Windows-1251\n", what);
  return t;
}

}  // namespace

int RunReport(const std::vector<std::string>& args) {
  std::vector<std::string> rest;
  std::string pdf, fr1;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--pdf" && i + 1 < args.size()) {
      pdf = args[++i];
    } else if (args[i] == "--fr1" && i + 1 < args.size()) {
      fr1 = args[++i];
    } else if (args[i].rfind("--", 0) == 0) {
      return Usage();
    } else {
      rest.push_back(args[i]);
    }
  }
  if (rest.size() < 2) return Usage();
  const std::string& dir = rest[0];
  int module = app::FindReport(rest[1]);
  bool card = module == app::modules::kCardReport || module == app::modules::kCardReport2;
  if (!module || rest.size() != (card ? 3u : 2u)) return Usage();
  std::optional<std::string> lexeme = Data(card ? rest[2] : "", "LEXEME");
  std::optional<std::string> fragment = Data(fr1, "--fr1");
  if (!lexeme || !fragment) return 2;
  app::FolderProblem problem = app::CheckDatabaseFolder(dir);
  if (problem != app::FolderProblem::kNone) {
    std::fprintf(stderr, "korawin1-db report: %s\n",
                 platform::Cp1251ToUtf8(app::DescribeFolderProblem(problem, dir)).c_str());
    return 1;
  }
  if (!pdf.empty()) pdf = std::filesystem::absolute(pdf).string();

  // Without a display the pages are drawn offscreen.
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "korawin1-db";
  static char* argv[] = {name, nullptr};
  QGuiApplication qt(argc, argv);
  ui::qtprint::QtPageRenderer renderer;
  ui::report::SetPageRenderer(&renderer);

  app::ReportOutcome outcome;
  std::vector<ui::HeadlessBackend::ShownBox> boxes;
  {
    ui::HeadlessBackend backend;
    app::StartUp(std::filesystem::absolute(dir).string());
    int thread = ui::Runtime::StartProcedure([&] {
      app::Assign(app::Glo().currentLex, *lexeme);
      app::Assign(app::Glo().fr1, *fragment);
      if (module == app::modules::kWordsLexemesReport && !app::PrepareWordsLexemes()) return;
      app::ReportOptions options;
      options.pdfFile = pdf;
      options.skipPreview = pdf.empty();
      options.askPrinter = false;
      outcome = app::RunReport(module, options);
    });
    if (thread) ui::Runtime::WaitThread(thread, std::chrono::hours(24));
    boxes = backend.Boxes();
    app::TearDown();
    // The report's thread gives back Qt's data of its thread before the application goes.
    ui::Runtime::WaitProceduresGone(std::chrono::seconds(2));
  }
  ui::report::SetPageRenderer(nullptr);

  for (const auto& b : boxes)
    std::fprintf(stderr, "korawin1-db report: %s\n", platform::Cp1251ToUtf8(b.box.text).c_str());
  switch (outcome.result) {
    case framework::ReportResult::SavedPdf:
      std::printf("%d page%s written to %s\n", outcome.pages, outcome.pages == 1 ? "" : "s",
                  pdf.c_str());
      return 0;
    case framework::ReportResult::Printed:
      std::printf("%d page%s sent to the printer\n", outcome.pages, outcome.pages == 1 ? "" : "s");
      return 0;
    default:
      if (!outcome.error.empty()) std::fprintf(stderr, "korawin1-db report: %s\n", outcome.error.c_str());
      return 1;
  }
}

}  // namespace korawin::tools
