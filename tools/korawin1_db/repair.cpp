// korawin1-db repair DIR: the database repair of the program, run from the terminal. Its two
// boxes are printed and answered OK; a progress line stands in for the beep per lexeme.
#include <unistd.h>

#include <cstdio>

#include "app/repair.h"
#include "tools/korawin1_db/commands.h"
#include "ui/console_message_box.h"

namespace korawin::tools {

app::PassProgress TerminalProgress(const char* what) {
  if (!::isatty(STDERR_FILENO)) return {};
  return [what](int64_t done, int64_t total) {
    // Every 1/200 of the pass and at the end: enough to see it move, cheap on a terminal.
    int64_t step = total > 200 ? total / 200 : 1;
    if (done % step != 0 && done != total) return;
    int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    std::fprintf(stderr, "\r%s: %lld / %lld (%d%%)", what, static_cast<long long>(done),
                 static_cast<long long>(total), percent);
    if (done >= total) std::fputc('\n', stderr);
    std::fflush(stderr);
  };
}

int ReportPass(const char* command, const app::PassReport& report) {
  if (report.firstError == 0) return 0;
  std::fprintf(stderr, "korawin1-db %s: %s: error %d (%s); the result is incomplete\n", command,
               report.failedWhere.c_str(), report.firstError,
               std::string(storage::ErrorTextOf(report.firstError)).c_str());
  return 1;
}

int RunRepair(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: korawin1-db repair DIR\n");
    return 2;
  }
  app::LexiconFiles files = app::LexiconFiles::InFolder(args[0]);
  ui::ConsoleMessageUi console;
  app::PassReport report;
  app::RepairDatabase(files, console, TerminalProgress("repair"), &report);
  // Cards without an identifier are counted but never read: end the progress line here.
  if (::isatty(STDERR_FILENO) && report.lexemes < report.total) std::fputc('\n', stderr);
  std::printf("%lld lexemes read, %lld words, %lld list entries\n",
              static_cast<long long>(report.lexemes), static_cast<long long>(report.words),
              static_cast<long long>(report.added));
  return ReportPass("repair", report);
}

}  // namespace korawin::tools
