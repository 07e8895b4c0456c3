// korawin1-db create DIR: an empty database of eleven files.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/exchange.h"
#include "tools/korawin1_db/commands.h"

namespace korawin::tools {

int RunCreate(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: korawin1-db create DIR\n");
    return 2;
  }
  std::error_code ec;
  std::filesystem::create_directories(args[0], ec);
  if (ec) {
    std::fprintf(stderr, "korawin1-db: %s: %s\n", args[0].c_str(), ec.message().c_str());
    return 1;
  }
  app::LexiconFiles files = app::LexiconFiles::InFolder(args[0]);
  std::string error;
  if (app::CreateDatabase(files, &error)) {
    std::fprintf(stderr, "korawin1-db create: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: empty database created (11 files)\n", args[0].c_str());
  return 0;
}

}  // namespace korawin::tools
