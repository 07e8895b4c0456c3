// korawin1-db import DIR FILE: adds the cards of a JSON (or, by its extension, CSV) file.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

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
  std::stringstream text;
  text << in.rdbuf();
  app::CardFormat format = EndsWith(args[1], ".csv") ? app::CardFormat::kCsv : app::CardFormat::kJson;
  app::LexiconFiles files = app::LexiconFiles::InFolder(args[0]);
  std::string error;
  int64_t added = 0;
  if (app::ImportCards(files, text.str(), format, &added, &error)) {
    std::fprintf(stderr, "korawin1-db import: %s: %s; nothing was imported\n", args[1].c_str(),
                 error.c_str());
    return 1;
  }
  std::printf("%lld cards imported\n", static_cast<long long>(added));
  return 0;
}

}  // namespace korawin::tools
