// Shows a card of the demo database in the program's own windows (the frame and the card on a
// list's thread), on the tab given, for looking at the card as a user sees it:
//   card_shots TAB FOLDER [LEXEME]
// TAB 0 shows the filter of T-categories and themes with its result instead. FOLDER gets the
// demo database when it holds none. Close the frame to end.
#include <unistd.h>

#include <QApplication>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app_windows.h"
#include "app/dictionary.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "app/program.h"
#include "app/startup.h"
#include "app/texts.h"
#include "framework/window_manager.h"
#include "ui/qt/qt_program.h"
#include "ui/runtime/runtime.h"

using namespace korawin;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: card_shots TAB FOLDER [LEXEME]\n");
    return 2;
  }
  const int tab = std::atoi(argv[1]);
  const std::string folder = argv[2];
  const std::string lexeme = argc > 3 ? argv[3] : "идти 1 (двигаться пешком)";
  std::string error;
  if (!app::EnsureDemoDatabase(folder, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return ui::qt::RunQtProgram(argc, argv, [&] {
    if (::chdir(folder.c_str()) != 0) return;
    app::StartUp(folder);
    if (tab == 0) {
      app::StartModule(app::modules::kTaxThemeFilter);
      app::StartModule(app::modules::kTaxThemeFilterList);
      app::RunMainFrame();
      app::TearDown();
      return;
    }
    ui::Runtime::StartProcedure([&] {
      using app::LexiconFile;
      if (app::Relate(LexiconFile::kSlovo).Open() != framework::LevelBenign) return;
      app::Declared(LexiconFile::kSlovo).Clear();
      app::Declared(LexiconFile::kSlovo).SetField("I_VERB", app::Ansi(lexeme));
      (void)app::Access(LexiconFile::kSlovo).TryFetch(1);  // a card not found shows blank
      (void)app::Access(LexiconFile::kSlovo).Watch();  // only for the pictures
      QMetaObject::invokeMethod(qApp, [tab] {
        // As the user would: a click on the tab.
        QTimer::singleShot(1500, [tab] {
          for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() != "CardForm041") continue;
            for (QTabWidget* sheet : w->findChildren<QTabWidget*>())
              sheet->setCurrentIndex(tab - 1);
          }
        });
      });
      app::CallModule(app::modules::kCardForm041, framework::ChangeRecord);
      (void)app::Relate(LexiconFile::kSlovo).Close();  // 0
    });
    app::RunMainFrame();
    app::TearDown();
  });
}
