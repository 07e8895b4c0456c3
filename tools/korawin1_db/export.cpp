// korawin1-db export DIR [--format json|csv]: every card in K_SLO order on standard output.
#include <cstdio>

#include "app/exchange.h"
#include "tools/korawin1_db/commands.h"

namespace korawin::tools {

int RunExport(const std::vector<std::string>& args) {
  std::string dir;
  app::CardFormat format = app::CardFormat::kJson;
  bool ok = true;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--format" && i + 1 < args.size()) {
      const std::string& f = args[++i];
      if (f == "json") format = app::CardFormat::kJson;
      else if (f == "csv") format = app::CardFormat::kCsv;
      else ok = false;
    } else if (dir.empty() && args[i].rfind("--", 0) != 0) {
      dir = args[i];
    } else {
      ok = false;
    }
  }
  if (!ok || dir.empty()) {
    std::fprintf(stderr, "usage: korawin1-db export DIR [--format json|csv]\n");
    return 2;
  }
  app::LexiconFiles files = app::LexiconFiles::InFolder(dir);
  std::string out, error;
  if (app::ExportCards(files, format, &out, &error)) {
    std::fprintf(stderr, "korawin1-db export: %s\n", error.c_str());
    return 1;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace korawin::tools
