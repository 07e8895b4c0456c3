// Reports and the text viewer on screen, to look at (test only): the program's start-up over a
// database folder, then one procedure opened at once on the Qt backend.
//   print_look FOLDER card LEXEME     the card report of LEXEME, in its preview
//   print_look FOLDER report NAME     a list report by its batch name ("tax", "words" ...)
//   print_look FOLDER viewer          the text viewer (CARD.TXT of the folder)
//   print_look FOLDER export LEXEME   the card of LEXEME exported to its text file
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/dictionary.h"
#include "app/globals.h"
#include "app/modules.h"
#include "app/program.h"
#include "app/reports.h"
#include "app/startup.h"
#include "app/texts.h"
#include "ui/qt/qt_program.h"
#include "ui/qt_print/qt_render.h"
#include "ui/report/renderer.h"

using namespace korawin;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: print_look FOLDER card LEXEME | report NAME | viewer | export LEXEME\n");
    return 2;
  }
  std::string folder = argv[1], mode = argv[2], arg = argc > 3 ? argv[3] : "";
  ui::qtprint::QtPageRenderer renderer;
  ui::report::SetPageRenderer(&renderer);
  int loop = ui::qt::RunQtProgram(argc, argv, [&] {
    std::string error;
    // The demo database as the program makes it, when the folder holds none.
    if (!app::EnsureDemoDatabase(folder, &error) || ::chdir(folder.c_str()) != 0) return;
    app::StartUp(folder);
    if (mode == "card") {
      app::Assign(app::Glo().currentLex, app::Ansi(arg));
      app::RunReport(app::modules::kCardReport);
    } else if (mode == "report") {
      int module = app::FindReport(arg);
      if (module == app::modules::kWordsLexemesReport) app::PrepareWordsLexemes();
      if (module) app::RunReport(module);
    } else if (mode == "viewer") {
      app::RunTextViewer();
    } else if (mode == "export") {
      app::Assign(app::Glo().currentLex, app::Ansi(arg));
      app::ExportCard();
    }
    app::TearDown();
  });
  ui::report::SetPageRenderer(nullptr);
  return loop;
}
