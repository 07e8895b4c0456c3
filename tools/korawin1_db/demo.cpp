// korawin1-db demo DIR: the demo database (the built-in cards imported, then repaired).
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/exchange.h"
#include "tools/korawin1_db/commands.h"
#include "ui/console_message_box.h"

namespace korawin::tools {

int RunDemo(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: korawin1-db demo DIR\n");
    return 2;
  }
  std::error_code ec;
  std::filesystem::create_directories(args[0], ec);
  if (ec) {
    std::fprintf(stderr, "korawin1-db: %s: %s\n", args[0].c_str(), ec.message().c_str());
    return 1;
  }
  app::LexiconFiles files = app::LexiconFiles::InFolder(args[0]);
  ui::ConsoleMessageUi console;
  app::PassReport report;
  std::string error;
  if (app::BuildDemoDatabase(files, console, TerminalProgress("repair"), &report, &error)) {
    std::fprintf(stderr, "korawin1-db demo: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: demo database of %lld cards, %lld words, %lld list entries\n",
              args[0].c_str(), static_cast<long long>(report.lexemes),
              static_cast<long long>(report.words), static_cast<long long>(report.added));
  return 0;
}

}  // namespace korawin::tools
