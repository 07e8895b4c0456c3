// korawin1-db import DIR FILE: adds the cards of a JSON (or, by its extension, CSV) file, read
// as they are added, with a progress line when standard error is a terminal.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>

#include "app/exchange.h"
#include "tools/korawin1_db/commands.h"

namespace korawin::tools {

namespace {

bool EndsWith(const std::string& s, const char* tail) {
  std::string t = tail;
  if (s.size() < t.size()) return false;
  for (size_t i = 0; i < t.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - t.size() + i])) != t[i]) return false;
  return true;
}

}  // namespace

int RunImport(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: korawin1-db import DIR FILE.json|FILE.csv\n");
    return 2;
  }
  std::ifstream in(args[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "korawin1-db import: cannot read %s\n", args[1].c_str());
    return 1;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0);
  app::ImportProgress progress;
  const bool terminal = ::isatty(STDERR_FILENO);
  if (terminal) {
    progress = [&in, size](int64_t added) {
      std::streamoff at = in.tellg();
      int percent = size > 0 && at >= 0 ? static_cast<int>(at * 100 / size) : 100;
      std::fprintf(stderr, "\rimport: %lld cards (%d%% of the file)",
                   static_cast<long long>(added), percent);
      std::fflush(stderr);
    };
  }
  app::CardFormat format =
      EndsWith(args[1], ".csv") ? app::CardFormat::kCsv : app::CardFormat::kJson;
  app::LexiconFiles files = app::LexiconFiles::InFolder(args[0]);
  std::string error;
  int64_t added = 0;
  int err = app::ImportCards(files, in, format, progress, &added, &error);
  if (terminal) std::fputc('\n', stderr);
  if (err) {
    std::fprintf(stderr, "korawin1-db import: %s: %s; nothing was imported\n", args[1].c_str(),
                 error.c_str());
    return 1;
  }
  std::printf("%lld cards imported\n", static_cast<long long>(added));
  return 0;
}

}  // namespace korawin::tools
