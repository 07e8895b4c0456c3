// korawin1: the lexicographer's workbench. The program's entry: the command line, the database
// folder (the demo database when none is given), then the windows.
#include <cstdio>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/startup.h"
#include "platform/codepage.h"
#include "ui/message_box.h"
#include "ui/qt/qt_program.h"
#include "ui/qt_print/qt_render.h"
#include "ui/report/renderer.h"
#include "ui/runtime/runtime.h"

namespace {

using korawin::app::FolderProblem;

std::string Ansi(std::string_view utf8) { return korawin::platform::Utf8ToCp1251Lossy(utf8); }

// The folder to work in, asked of the user until it holds a database, or empty to end.
std::string ChooseFolder(std::string folder) {
  using korawin::ui::MessageBoxRequest;
  while (true) {
    if (folder.empty()) {
      folder = korawin::app::DemoFolder();
      std::string error;
      if (!korawin::app::EnsureDemoDatabase(folder, &error)) {
        MessageBoxRequest box;
        box.caption = Ansi("Верботека");
        box.icon = korawin::ui::Icon::Hand;
        box.text = Ansi("Демонстрационную базу не удалось создать:\n" + error);
        korawin::ui::Messages().ShowMessage(box);
        return {};
      }
    }
    FolderProblem problem = korawin::app::CheckDatabaseFolder(folder);
    if (problem == FolderProblem::kNone) return folder;
    MessageBoxRequest box;
    box.caption = Ansi("Верботека");
    box.icon = korawin::ui::Icon::Exclamation;
    box.text = korawin::app::DescribeFolderProblem(problem, folder) +
               Ansi("\n\nДа — выбрать другую папку, Нет — открыть демонстрационную базу, "
                    "Отмена — выйти.");
    box.buttons = korawin::ui::ButtonYes | korawin::ui::ButtonNo | korawin::ui::ButtonCancel;
    box.defaultButton = korawin::ui::ButtonYes;
    unsigned answer = korawin::ui::Messages().ShowMessage(box);
    if (answer == korawin::ui::ButtonYes) {
      korawin::ui::FileDialogRequest request;
      request.title = Ansi("Папка базы данных");
      request.folder = true;
      folder = korawin::ui::Runtime::FileDialog(request);
      if (folder.empty()) return {};
    } else if (answer == korawin::ui::ButtonNo) {
      folder.clear();
    } else {
      return {};
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  korawin::app::CommandLine cl = korawin::app::ParseCommandLine(args);
  if (!cl.error.empty()) {
    std::fprintf(stderr, "korawin1: %s\n%s", cl.error.c_str(), korawin::app::UsageText().c_str());
    return 2;
  }
  if (cl.help) {
    std::fputs(korawin::app::UsageText().c_str(), stdout);
    return 0;
  }
  if (cl.version) {
    std::fputs(korawin::app::VersionText().c_str(), stdout);
    return 0;
  }
  korawin::ui::qtprint::QtPageRenderer renderer;
  korawin::ui::report::SetPageRenderer(&renderer);
  int code = 0;
  int loop = korawin::ui::qt::RunQtProgram(argc, argv, [&] {
    // Keys are made and read under the collation of the environment file: before the demo
    // database is built or any database opened.
    std::string problem;
    if (!korawin::app::LoadCollation(&problem)) {
      korawin::ui::MessageBoxRequest box;
      box.caption = Ansi("Верботека");
      box.icon = korawin::ui::Icon::Hand;
      box.text = Ansi("Программа не может начать работу: " + problem);
      korawin::ui::Messages().ShowMessage(box);
      code = 1;
      return;
    }
    std::string folder = ChooseFolder(cl.folder);
    code = folder.empty() ? 1 : korawin::app::RunProgram(folder);
  });
  korawin::ui::report::SetPageRenderer(nullptr);
  return code ? code : loop;
}
