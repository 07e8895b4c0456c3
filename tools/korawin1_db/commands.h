// The subcommands of korawin1-db. Each lives in a source of its own and is listed once in the
// table of main.cpp.
#pragma once

#include <string>
#include <vector>

#include "app/repair.h"

namespace korawin::tools {

struct Command {
  const char* name;
  const char* usage;    // arguments after the name
  const char* summary;  // one line for the help text
  int (*run)(const std::vector<std::string>& args);  // exit status
};

// The table of subcommands.
const std::vector<Command>& Commands();

int RunInfo(const std::vector<std::string>& args);
int RunSample(const std::vector<std::string>& args);

// The database procedures.
int RunCreate(const std::vector<std::string>& args);
int RunImport(const std::vector<std::string>& args);
int RunExport(const std::vector<std::string>& args);
int RunRepair(const std::vector<std::string>& args);
int RunPrepareAbc(const std::vector<std::string>& args);
int RunMoveExamples(const std::vector<std::string>& args);
int RunDemo(const std::vector<std::string>& args);
// Verification and reading of a database folder.
int RunCheck(const std::vector<std::string>& args);
int RunRebuildKeys(const std::vector<std::string>& args);
int RunDump(const std::vector<std::string>& args);
int RunSelect(const std::vector<std::string>& args);
// The program's reports without a display (where the page renderer is built).
int RunReport(const std::vector<std::string>& args);
// Strips flag from args; false when it was not there.
bool TakeFlag(std::vector<std::string>* args, const std::string& flag);
// Helpers of the procedures (repair.cpp): a progress line on a terminal (empty when standard
// error is not one) and the closing message of a pass (exit status).
app::PassProgress TerminalProgress(const char* what);
int ReportPass(const char* command, const app::PassReport& report);

}  // namespace korawin::tools
