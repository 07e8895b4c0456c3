// The main frame and what it starts itself: the splash, the settings, the database repair and
// the examples move with their progress windows, the outside programs and the help file.

#include <unistd.h>

#include <chrono>
#include <string>

#include "app/app_windows.h"
#include "app/batch_passes.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "app/program.h"
#include "app/repair.h"
#include "app/texts.h"
#include "framework/ini_window.h"
#include "framework/window_manager.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "ui/message_box.h"
#include "ui/runtime/runtime.h"
#include "ui/runtime/window.h"

namespace korawin::app {

namespace {

using framework::Level;
using framework::LevelBenign;
using framework::LevelNotify;
namespace M = ids::MainFrame;

// Outside programs are looked for beside the program, in the working folder and on PATH.
void RunOutsideProgram(std::string_view command) {
  std::string path = platform::FindProgram(
      command, {platform::ExecutableDirectory(), platform::CurrentDirectory()});
  std::string name(command);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (path.empty() || platform::StartDetached(path, {}) != 0) {
    Tell("Программа «" + name + "» не установлена: её нет ни рядом с программой, ни в рабочей "
         "папке, ни в путях поиска (PATH).",
         ui::Icon::Exclamation);
  }
}

// The help file lies outside the program; it opens when the desktop can show it.
void OpenHelp() {
  std::string file;
  for (const std::string& dir : {platform::CurrentDirectory(), platform::ExecutableDirectory()}) {
    std::string candidate = platform::ResolveExisting(platform::JoinPath(dir, "KORA.HLP"));
    if (::access(candidate.c_str(), R_OK) == 0) {
      file = candidate;
      break;
    }
  }
  std::string opener = platform::FindProgram("xdg-open", {});
  if (file.empty() || opener.empty() || platform::StartDetached(opener, {file}) != 0) {
    Tell("Файл справки KORA.HLP не установлен.");
  }
}

// ---------------------------------------------------------------------------------------------
// The splash: three lines; it closes on its timer or a click.

class SplashWindow : public framework::WindowManager {
 public:
  Level Init() override {
    if (Level level = WindowManager::Init()) return level;
    OpenWindow(ids::Splash::kModule, ids::Splash::kWindow);
    ui::Window* w = UiWindow();
    w->SetTimer(1000);
    ui::Look title;
    title.bold = true;
    title.fontSize = 14;
    title.color = 0x000080;
    w->SetLook(ids::Splash::Title, title);
    ui::Look plain;
    plain.fontSize = 10;
    w->SetLook(ids::Splash::Version, plain);
    plain.italic = true;
    w->SetLook(ids::Splash::Contacts, plain);
    return LevelBenign;
  }

  Level TakeEvent() override {
    ui::Window* w = UiWindow();
    ui::EventKind kind = w->EventNow();
    if (kind == ui::EventKind::Timer) {
      w->Post(ui::EventKind::CloseWindow);
    } else if (kind == ui::EventKind::MouseDown) {
      int key = w->Keycode();
      if (key == ui::kMouseLeft || key == ui::kMouseRight || key == ui::kMouseCenter) {
        w->Post(ui::EventKind::CloseWindow);
      }
    }
    return WindowManager::TakeEvent();
  }
};

// ---------------------------------------------------------------------------------------------
// The settings: the author's name for this run.

class SettingsWindow : public framework::WindowManager {
 public:
  Level Init() override {
    if (Level level = WindowManager::Init()) return level;
    OpenWindow(ids::Settings::kModule, ids::Settings::kWindow);
    ProgramGlobals& g = Glo();
    UiWindow()->Use(ids::Settings::AuthorName,
                    lang::Variable::String(g.authorName, sizeof g.authorName));
    UiWindow()->Display();
    FirstField = ids::Settings::AuthorName;
    return LevelBenign;
  }

  Level TakeAccepted() override {
    if (UiWindow()->Field() == ids::Settings::OK) {
      UiWindow()->Post(ui::EventKind::CloseWindow);
      return LevelBenign;
    }
    return WindowManager::TakeAccepted();
  }
};

// ---------------------------------------------------------------------------------------------
// The batch passes from the menu, each with a progress window.

// The windows other than the frame (and the splash), by caption, for the repair's refusal.
std::vector<std::string> OtherWindows() {
  std::vector<std::string> out;
  int me = ui::Runtime::ThreadNumber();
  for (const auto& [thread, caption] : ui::Runtime::OpenWindows()) {
    if (thread == me || thread == 1 || caption.empty()) continue;
    out.push_back(caption);
  }
  return out;
}

// Shows a pass's progress in its window and lets the other windows run now and then.
class PassWindow {
 public:
  PassWindow(std::string_view module, std::string_view name, int progress, int counter)
      : window_(ui::Window::Open(module, name)), progress_(progress), counter_(counter) {
    if (window_) window_->SetBusy(true);
  }
  ~PassWindow() {
    if (window_) window_->Close();
  }

  PassProgress Progress() {
    return [this](int64_t done, int64_t total) {
      auto now = std::chrono::steady_clock::now();
      if (done != total && now - shown_ < std::chrono::milliseconds(100)) return;
      shown_ = now;
      if (window_) {
        int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
        window_->SetValue(progress_, percent > 100 ? 100 : percent);
        window_->SetText(counter_, Ansi(std::to_string(done) + " из " + std::to_string(total)));
        window_->Flush();
      }
      ui::RuntimeLock::Yield();
    };
  }

 private:
  std::unique_ptr<ui::Window> window_;
  int progress_;
  int counter_;
  std::chrono::steady_clock::time_point shown_{};
};

void RunRepair() {
  std::vector<std::string> open = OtherWindows();
  if (!open.empty()) {
    std::string list;
    for (const std::string& caption : open) list += "\n    " + Utf8(caption);
    Tell("Перед восстановлением данных закройте все открытые окна. Сейчас открыты:" + list,
         ui::Icon::Exclamation);
    return;
  }
  PassWindow window(ids::RepairProgress::kModule, ids::RepairProgress::kWindow,
                    ids::RepairProgress::Progress, ids::RepairProgress::Counter);
  LexiconFiles files = LexiconFiles::InFolder(DatabaseFolder());
  PassReport report;
  if (RepairDatabase(files, ui::Messages(), window.Progress(), &report) != 0) {
    Tell("Ремонт базы не завершён: ошибка " + std::to_string(report.firstError) + " (" +
             report.failedWhere + "). Файлы остались исправными; запустите ремонт ещё раз.",
         ui::Icon::Hand);
  }
}

void RunExamplesMove() {
  PassWindow window(ids::ExamplesMoveProgress::kModule, ids::ExamplesMoveProgress::kWindow,
                    ids::ExamplesMoveProgress::Progress, ids::ExamplesMoveProgress::Counter);
  LexiconFiles files = LexiconFiles::InFolder(DatabaseFolder());
  PassReport report;
  if (MoveExamples(files, ui::Messages(), window.Progress(), &report) != 0) {
    Tell("Перенос примеров не завершён: ошибка " + std::to_string(report.firstError) + " (" +
             report.failedWhere + ").",
         ui::Icon::Hand);
  }
}

// ---------------------------------------------------------------------------------------------
// The frame.

struct MenuAction {
  int control;
  int module;           // 0: no procedure
  const char* program;  // an outside program, or nullptr
};

constexpr MenuAction kMenu[] = {
    {M::Settings, modules::kSettings, nullptr},
    {M::ExamplesMove, modules::kExamplesMove, nullptr},
    {M::Filer, 0, "kvex.exe "},
    {M::WordList, modules::kWordList, nullptr},
    {M::LexemeList, modules::kLexemeList, nullptr},
    {M::LexemeAuxList, modules::kLexemeAuxList, nullptr},
    {M::TaxBrowser, modules::kTaxBrowser, nullptr},
    {M::ThemeBrowser, modules::kThemeBrowser, nullptr},
    {M::RoleList, modules::kRoleList, nullptr},
    {M::TClassList, modules::kTClassList, nullptr},
    {M::K4Browser, modules::kK4Browser, nullptr},
    {M::K6Browser, modules::kK6Browser, nullptr},
    {M::K81Browser, modules::kK81Browser, nullptr},
    {M::K82Browser, modules::kK82Browser, nullptr},
    {M::RoleFilter, modules::kRoleFilter, nullptr},
    {M::TClassFilter, modules::kTClassFilter, nullptr},
    {M::ExplicationFilter, modules::kExplicationFilter, nullptr},
    {M::TaxThemeFilter, modules::kTaxThemeFilter, nullptr},
    {M::ThemeK82Filter, modules::kThemeK82Filter, nullptr},
    {M::Repair, modules::kRepair, nullptr},
    {M::DispMeasurer, 0, "DispMeasurer "},
    {M::TextViewer, modules::kTextViewer, nullptr},
    {M::PrintWordsLexemes, modules::kPrepareWordsLexemes, nullptr},
    {M::PrintCard, modules::kCardReport, nullptr},
    {M::ExportCard, modules::kCardExport, nullptr},
    {M::PrintTax, modules::kTaxReport, nullptr},
    {M::PrintThemes, modules::kThemeReport, nullptr},
    {M::PrintRoles, modules::kRoleReport, nullptr},
    {M::PrintTClasses, modules::kTClassReport, nullptr},
    {M::PrintK4, modules::kK4Report, nullptr},
    {M::PrintK6, modules::kK6Report, nullptr},
    {M::PrintK81, modules::kK81Report, nullptr},
    {M::PrintK82, modules::kK82Report, nullptr},
};

constexpr MenuAction kToolbar[] = {
    {M::ToolRepair, modules::kRepair, nullptr},
    {M::ToolWords, modules::kWordList, nullptr},
    {M::ToolLexemes, modules::kLexemeList, nullptr},
    {M::ToolTextFiles, modules::kTextViewer, nullptr},
};

class MainFrameWindow : public framework::WindowManager {
 public:
  Level Init() override {
    if (Level level = WindowManager::Init()) return level;
    // The frame takes the global request over, opens its window, then clears the pair.
    Errors = &ProgramErrors();
    OpenWindow(M::kModule, M::kWindow);
    // The first run fills the screen; later runs open where the frame was left.
    if (ProgramIni().Fetch("MainFrame", "Maximize").empty()) UiWindow()->Maximize(true);
    framework::FetchWindow(ProgramIni(), "MainFrame", *UiWindow());
    framework::GlobalRequest = 0;
    framework::GlobalResponse = 0;
    return LevelBenign;
  }

  Level Kill() override {
    if (UiWindow()) {
      // The frame's place is kept for the next run; a failed write costs only that.
      (void)framework::UpdateWindow(ProgramIni(), "MainFrame", *UiWindow());
    }
    return WindowManager::Kill();
  }

  Level TakeEvent() override {
    ui::Window* w = UiWindow();
    // Any accepted control while the splash shows closes the splash.
    if (w->EventNow() == ui::EventKind::Accepted && splashThread_) {
      ui::Runtime::PostToThread(splashThread_, ui::EventKind::CloseWindow);
      splashThread_ = 0;
    }
    return WindowManager::TakeEvent();
  }

  Level TakeWindowEvent() override {
    Level level = WindowManager::TakeWindowEvent();
    if (UiWindow()->EventNow() == ui::EventKind::OpenWindow && !splashStarted_) {
      splashStarted_ = true;
      splashThread_ = StartModule(modules::kSplash);
    }
    return level;
  }

  Level TakeAccepted() override {
    ui::Window* w = UiWindow();
    int control = w->Field();
    if (control == M::ToolExit) {
      w->Post(ui::EventKind::CloseWindow);
    } else {
      for (const MenuAction& a : kMenu) {
        if (a.control != control) continue;
        if (a.program) {
          RunOutsideProgram(a.program);
          Reset(true);
        } else if (a.module) {
          StartModule(a.module);
        }
      }
      if (control == M::HelpContents || control == M::HelpSearch || control == M::HelpOnHelp) {
        OpenHelp();
      }
    }
    if (Level level = WindowManager::TakeAccepted()) return level;
    for (const MenuAction& a : kToolbar)
      if (a.control == control) StartModule(a.module);
    return LevelBenign;
  }

  // The program ends with the frame: every other window is asked to close first, through its
  // own close path, so a card with unsaved changes asks its question.
  Level TakeCloseEvent() override {
    if (!ui::Runtime::CloseOtherProcedures(std::chrono::hours(24))) return LevelNotify;
    return WindowManager::TakeCloseEvent();
  }

 private:
  int splashThread_ = 0;
  bool splashStarted_ = false;
};

}  // namespace

void RunMainFrame() {
  MainFrameWindow frame;
  frame.Run();
}

void RegisterFrameProcedures() {
  RegisterStarted(modules::kSplash, [] {
    SplashWindow splash;
    splash.Run();
  });
  RegisterStarted(modules::kSettings, [] {
    SettingsWindow settings;
    settings.Run();
  });
  RegisterStarted(modules::kRepair, RunRepair);
  RegisterStarted(modules::kExamplesMove, RunExamplesMove);
}

}  // namespace korawin::app
