// korawin1-db check DIR: verifies every data file of a database folder without changing it and
// prints each problem found. The files are read directly, not through the driver, so that a
// fault that would make OPEN refuse the file does not hide the others.
#include <cstdio>

#include "tools/korawin1_db/commands.h"
#include "app/folder_check.h"

namespace korawin::tools {

int RunCheck(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: korawin1-db check DIR\n");
    return 2;
  }
  std::vector<std::string> problems, waiting;
  int files = 0;
  int err = app::CheckFolder(args[0], &problems, &files, &waiting);
  if (err) {
    std::fprintf(stderr, "korawin1-db check: %s: %s\n", args[0].c_str(),
                 app::ErrorWords(err).c_str());
    return 1;
  }
  for (const std::string& w : waiting) std::printf("%s\n", w.c_str());
  for (const std::string& p : problems) std::printf("%s\n", p.c_str());
  if (files == 0) {
    std::printf("%s: no data files\n", args[0].c_str());
    return 0;
  }
  const int checked = files - static_cast<int>(waiting.size());
  std::printf("%d data file%s checked, %zu problem%s", checked, checked == 1 ? "" : "s",
              problems.size(), problems.size() == 1 ? "" : "s");
  if (!waiting.empty())
    std::printf("; %zu wait%s for the rollback of a transaction at the next open",
                waiting.size(), waiting.size() == 1 ? "s" : "");
  std::printf("\n");
  return problems.empty() ? 0 : 1;
}

}  // namespace korawin::tools
