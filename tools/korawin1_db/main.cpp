// korawin1-db: batch work on the database's files from the command line.
#include <cstdio>
#include <cstring>

#include "tools/korawin1_db/commands.h"

namespace korawin::tools {

const std::vector<Command>& Commands() {
  static const std::vector<Command> kCommands = {
      {"info", "FILE [--json]", "print a data file's header, descriptions and counts", &RunInfo},
      {"sample", "FILE", "create a small data file with a few records", &RunSample},
      {"create", "DIR", "create an empty database (all eleven files)", &RunCreate},
      {"import", "DIR FILE.json|FILE.csv", "add cards (UTF-8), all or nothing", &RunImport},
      {"export", "DIR [--format json|csv]", "write every card in K_SLO order", &RunExport},
      {"repair", "DIR", "rebuild the word list and the classification lists from SLOVO",
       &RunRepair},
      {"prepare-abc", "DIR", "fill ABC with the lexeme/word pairs", &RunPrepareAbc},
      {"move-examples", "DIR", "copy EXAMPLE into empty example memos", &RunMoveExamples},
      {"demo", "DIR", "build the demo database (create, import, repair)", &RunDemo},
  };
  return kCommands;
}

namespace {

void Usage(FILE* out) {
  std::fprintf(out, "usage: korawin1-db COMMAND ARGS...\n\n");
  for (const Command& c : Commands())
    std::fprintf(out, "  korawin1-db %s %s\n      %s\n", c.name, c.usage, c.summary);
}

}  // namespace
}  // namespace korawin::tools

int main(int argc, char** argv) {
  using namespace korawin::tools;
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    Usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const Command& c : Commands())
    if (!std::strcmp(argv[1], c.name)) return c.run(std::vector<std::string>(argv + 2, argv + argc));
  std::fprintf(stderr, "korawin1-db: unknown command '%s'\n\n", argv[1]);
  Usage(stderr);
  return 2;
}
