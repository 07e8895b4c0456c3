// korawin1-db move-examples DIR: the one-time move of the examples into the memo.
#include <cstdio>

#include "app/batch_passes.h"
#include "tools/korawin1_db/commands.h"
#include "ui/console_message_box.h"

namespace korawin::tools {

int RunMoveExamples(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: korawin1-db move-examples DIR\n");
    return 2;
  }
  app::LexiconFiles files = app::LexiconFiles::InFolder(args[0]);
  ui::ConsoleMessageUi console;
  app::PassReport report;
  app::MoveExamples(files, console, TerminalProgress("move-examples"), &report);
  std::printf("%lld cards rewritten, %lld memos filled from EXAMPLE\n",
              static_cast<long long>(report.lexemes), static_cast<long long>(report.added));
  return ReportPass("move-examples", report);
}

}  // namespace korawin::tools
