#include "ui/qt/qt_program.h"

#include <QApplication>
#include <QTimer>
#include <chrono>

#include "ui/qt/fonts.h"
#include "ui/qt/qt_backend.h"

namespace korawin::ui::qt {

int RunQtProgram(int argc, char** argv, std::function<void()> mainProcedure) {
  QApplication app(argc, argv);
  // The main procedure decides when the program ends, not the last window.
  app.setQuitOnLastWindowClosed(false);
  InstallFontSubstitutions();
  QtBackend backend;
  Runtime::Start(&backend);
  int main = Runtime::StartProcedure(std::move(mainProcedure), "main");
  int code = 1;
  if (main) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline{};
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, &app, [&] {
      if (Runtime::ThreadRunning(main)) return;
      std::vector<int> others = Runtime::Threads();
      if (others.empty()) {
        QApplication::exit(0);
      } else if (deadline == Clock::time_point{}) {
        for (int t : others) Runtime::PostToThread(t, EventKind::CloseDown);
        deadline = Clock::now() + std::chrono::seconds(10);
      } else if (Clock::now() > deadline) {
        QApplication::exit(0);
      }
    });
    watch.start();
    code = QApplication::exec();
  }
  // Procedure threads that drew with Qt give back its data as they exit, before it goes.
  Runtime::WaitProceduresGone(std::chrono::seconds(2));
  Runtime::Stop();
  return code;
}

}  // namespace korawin::ui::qt
