// Shows the lists of the program on a screen for a look at them: the program's frame on a
// database folder with the given modules started from it, as the frame's menu would start
// them. Test tool only; the program itself starts nothing by itself.
//
//   lists_showcase FOLDER MODULE...    (module numbers, as in app/modules.h: 4, 51, 10 ...)
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/procedures.h"
#include "app/program.h"
#include "ui/qt/qt_program.h"
#include "ui/qt_print/qt_render.h"
#include "ui/report/renderer.h"
#include "ui/runtime/runtime.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string folder = argv[1];
  std::vector<int> modules;
  for (int k = 2; k < argc; ++k) modules.push_back(std::atoi(argv[k]));
  korawin::ui::qtprint::QtPageRenderer renderer;
  korawin::ui::report::SetPageRenderer(&renderer);
  int loop = korawin::ui::qt::RunQtProgram(1, argv, [&] {
    std::string problem;
    if (!korawin::app::LoadCollation(&problem) || ::chdir(folder.c_str()) != 0) return;
    korawin::app::StartUp(folder);
    korawin::ui::Runtime::StartProcedure([modules] {
      {
        korawin::ui::RuntimeUnlocked unlocked;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      }
      // The splash (the window without a caption) goes first, as a click would close it.
      for (const auto& [thread, caption] : korawin::ui::Runtime::OpenWindows())
        if (caption.empty()) korawin::ui::Runtime::PostToThread(thread, korawin::ui::EventKind::CloseWindow);
      for (int m : modules) korawin::app::StartModule(m);
    });
    korawin::app::RunMainFrame();
    korawin::app::TearDown();
  });
  korawin::ui::report::SetPageRenderer(nullptr);
  return loop;
}
