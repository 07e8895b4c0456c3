// korawin1-db: batch work on the database's files from the command line.
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "storage/dat/collation.h"
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
      {"check", "DIR", "verify every data file, its keys and memo; exit 1 on any problem",
       &RunCheck},
      {"rebuild-keys", "DIR [FILE]", "rebuild the keys under the collation in force",
       &RunRebuildKeys},
      {"dump", "DIR FILE [--key KEY] --json", "print the records as JSON lines", &RunDump},
#ifdef KORAWIN_DB_REPORT
      {"report", "DIR NAME [LEXEME] [--pdf FILE] [--fr1 TEXT]",
       "make one of the program's reports (card LEXEME, words, tax ...) without a display, "
       "into a PDF file or to the printer",
       &RunReport},
#endif
      {"select",
       "DIR FILE [--key KEY] [--filter TEXT] [--bind NAME=VALUE ...] [--from VALUE] [--reverse] "
       "[--limit N] --json",
       "the records a view yields along a key through a filter, as JSON lines", &RunSelect},
  };
  return kCommands;
}

bool TakeFlag(std::vector<std::string>* args, const std::string& flag) {
  auto it = std::find(args->begin(), args->end(), flag);
  if (it == args->end()) return false;
  args->erase(it);
  return true;
}

namespace {

void Usage(FILE* out) {
  std::fprintf(out, "usage: korawin1-db COMMAND ARGS...\n\n");
  for (const Command& c : Commands())
    std::fprintf(out, "  korawin1-db %s %s\n      %s\n", c.name, c.usage, c.summary);
}

// Takes "--env FILE" out of args and loads the collation of that file, or of the environment
// file beside the program without it, before any subcommand runs. Exit status, or -1 to go on.
int LoadEnvironment(const char* command, std::vector<std::string>* args) {
  for (size_t i = 0; i < args->size(); ++i) {
    if ((*args)[i] != "--env") continue;
    if (i + 1 >= args->size()) {
      std::fprintf(stderr, "korawin1-db %s: --env needs a FILE\n", command);
      return 2;
    }
    std::string path = (*args)[i + 1];
    args->erase(args->begin() + static_cast<std::ptrdiff_t>(i),
                args->begin() + static_cast<std::ptrdiff_t>(i) + 2);
    // A missing file would silently mean the default tables: refuse it instead.
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      std::fclose(f);
    } else {
      std::fprintf(stderr, "korawin1-db %s: environment file '%s' cannot be read\n", command,
                   path.c_str());
      return 1;
    }
    korawin::storage::dat::SetEnvironmentPath(path);
    break;
  }
  std::string warnings;
  int err = korawin::storage::dat::LoadActiveCollation(&warnings);
  if (!warnings.empty()) std::fprintf(stderr, "korawin1-db %s: %s", command, warnings.c_str());
  if (err) {
    std::fprintf(stderr, "korawin1-db %s: environment file: error %d\n", command, err);
    return 1;
  }
  return -1;
}

}  // namespace
}  // namespace korawin::tools

int main(int argc, char** argv) {
  using namespace korawin::tools;
  // A batch fills and frees buffers of a megabyte and more over and over (the journal's kept
  // writes, the held key entries): keep them in the heap instead of mapping fresh zeroed
  // pages from the system for each of them (a 100,000-card import spent 0.2 s on that).
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    Usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const Command& c : Commands()) {
    if (std::strcmp(argv[1], c.name)) continue;
    std::vector<std::string> args(argv + 2, argv + argc);
    int status = LoadEnvironment(c.name, &args);
    return status >= 0 ? status : c.run(args);
  }
  std::fprintf(stderr, "korawin1-db: unknown command '%s'\n\n", argv[1]);
  Usage(stderr);
  return 2;
}
