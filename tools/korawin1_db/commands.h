// The subcommands of korawin1-db. Each lives in a source of its own and is listed once in the
// table of main.cpp.
#pragma once

#include <string>
#include <vector>

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

}  // namespace korawin::tools
