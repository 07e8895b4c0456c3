// korawin1-db prepare-abc DIR: fills ABC with the lexeme/word pairs of the full list report.
#include <cstdio>

#include "app/batch_passes.h"
#include "tools/korawin1_db/commands.h"

namespace korawin::tools {

int RunPrepareAbc(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: korawin1-db prepare-abc DIR\n");
    return 2;
  }
  app::LexiconFiles files = app::LexiconFiles::InFolder(args[0]);
  app::PassReport report;
  app::PrepareAbc(files, &report);
  std::printf("%lld lexemes read, %lld pairs written to ABC\n",
              static_cast<long long>(report.lexemes), static_cast<long long>(report.added));
  return ReportPass("prepare-abc", report);
}

}  // namespace korawin::tools
