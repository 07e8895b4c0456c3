#include "app/program.h"

#include <unistd.h>

#include "app/app_windows.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/procedures.h"
#include "framework/framework_windows.h"
#include "storage/dat/collation.h"
#include "storage/dat/halt.h"
#include "ui/halt.h"
#include "ui/message_box.h"
#include "ui/runtime/runtime.h"

namespace korawin::app {

namespace {

std::string gHelpFile;
storage::dat::HaltHandler gDriverHalt = nullptr;
ui::HaltHandler gFrameworkHalt = nullptr;

// The halts of the driver and the framework end the program as its user would: their message,
// then every window closes through its own close path and the program tears down in order.
void CloseTheProgram() { ui::Runtime::PostToThread(1, ui::EventKind::CloseDown); }

void DriverHalt(const std::string& message) {
  ui::MessageBoxRequest box;
  box.caption = "korawin1";
  box.text = message;
  box.icon = ui::Icon::Hand;
  ui::Messages().ShowMessage(box);
  CloseTheProgram();
}

void FrameworkHalt(int, std::string_view) { CloseTheProgram(); }

}  // namespace

framework::ErrorClass& ProgramErrors() {
  static framework::ErrorClass errors;
  return errors;
}

framework::INIClass& ProgramIni() {
  static framework::INIClass ini;
  return ini;
}

bool LoadCollation(std::string* problem) {
  std::string warnings;
  int err = storage::dat::LoadActiveCollation(&warnings);
  if (err == 0) return true;
  *problem = "the environment file " + storage::dat::EnvironmentPath() + " cannot be used (" +
             std::to_string(err) + ")" + (warnings.empty() ? "" : ": " + warnings);
  return false;
}

void StartUp(const std::string& folder) {
  RegisterAppWindows();
  RegisterFrameworkWindows();
  RegisterAllProcedures();
  SetDatabaseFolder(folder);
  gHelpFile = kHelpFile;
  gDriverHalt = storage::dat::SetHaltHandler(&DriverHalt);
  gFrameworkHalt = ui::SetHaltHandler(&FrameworkHalt);
  ProgramErrors().Init();
  ProgramIni().Init("korawin1.INI");
  ClearGlobals();
  BindGlobals();
  InitDictionary(ProgramErrors());
}

void TearDown() {
  KillDictionary();
  ProgramErrors().Kill();
  ui::SetHaltHandler(gFrameworkHalt);
  storage::dat::SetHaltHandler(gDriverHalt);
}

int RunProgram(const std::string& folder) {
  if (::chdir(folder.c_str()) != 0) return 1;  // the database folder is the working folder
  StartUp(folder);
  RunMainFrame();
  TearDown();
  return 0;
}

}  // namespace korawin::app
