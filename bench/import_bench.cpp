// `korawin1-db import` as a user runs it, against the engine's bulk ADD of the same cards
// measured in the same run (slovo_bench's: one STREAM batch on a file no one else opens).
// The cards are generated, added in bulk, exported with `korawin1-db export` as JSON and as
// CSV, and each file is imported into a new database by the tool in a process of its own,
// whose time and peak resident memory are taken. Prints the import's time as a ratio to the
// bulk ADD, and its peak memory beside the file's size.
//
//   import_bench [folder] [cards...]     (defaults: a fresh folder under /tmp, 20000 100000)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/exchange.h"
#include "bench/slovo_gen.h"
#include "storage/driver.h"

extern char** environ;

using namespace korawin;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "import_bench: %s\n", what.c_str());
  std::exit(1);
}

struct Run {
  double seconds = 0;
  long peakKb = 0;  // the tool's peak resident set
  std::string out;  // the first line it printed on standard output
};

// In a process of its own (the bench run again with --run): starts the tool with its standard
// output and error in files, waits and prints "status seconds peak-KB". A process started
// straight from the bench would count the bench's own memory in its peak: Linux carries the
// peak of the image it replaces over into the new one.
int RunAndMeasure(char** argv) {
  const std::string out = argv[0];
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open((out + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0 || dup2(o, STDOUT_FILENO) < 0 || dup2(e, STDERR_FILENO) < 0) _exit(126);
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return 1;
  std::printf("%d %.6f %ld\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128, Seconds(start),
              usage.ru_maxrss);
  return 0;
}

// Runs the tool with args, its standard output into outPath (no terminal: no progress line);
// fails the bench when the tool fails.
Run Tool(const std::vector<std::string>& args, const std::string& outPath) {
  std::vector<std::string> all = {"import_bench", "--run", outPath, KORAWIN_DB_TOOL};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string measured = outPath + ".run";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, measured.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  if (posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ) != 0)
    Fail("cannot run the bench again to measure the tool");
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    Fail("the measuring process failed");
  Run r;
  int toolStatus = -1;
  std::ifstream(measured) >> toolStatus >> r.seconds >> r.peakKb;
  std::getline(std::ifstream(outPath) >> std::ws, r.out);
  if (toolStatus != 0) {
    std::ifstream err(outPath + ".err");
    std::string why((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    Fail(args[0] + " exits with " + std::to_string(toolStatus) + ": " + why);
  }
  std::filesystem::remove(measured);
  std::filesystem::remove(outPath + ".err");
  if (outPath.find("/cards.") == std::string::npos) std::filesystem::remove(outPath);
  return r;
}

double MegaBytes(uintmax_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

void Measure(size_t n, const std::string& folder) {
  std::vector<bench::GeneratedCard> cards = bench::GenerateCards(n);
  const std::string bulkDir = folder + "/bulk";
  std::filesystem::create_directories(bulkDir);
  app::LexiconFiles files = app::LexiconFiles::InFolder(bulkDir);
  std::string error;
  if (app::CreateDatabase(files, &error)) Fail(error);
  app::DeclaredFile& slovo = files[app::LexiconFile::kSlovo];
  storage::DriverArgs open;
  open.mode = storage::kOpenReadWrite | storage::kShareDenyAll;
  if (storage::CallDriver(storage::kOpOpen, slovo.fd(), open)) Fail("OPEN");
  auto start = Clock::now();
  if (int err = bench::BulkAdd(slovo, cards)) Fail("bulk ADD: " + std::to_string(err));
  const double bulk = Seconds(start);
  if (storage::CallDriver(storage::kOpClose, slovo.fd())) Fail("CLOSE");
  cards = {};

  std::printf("\n%zu cards: bulk ADD %.2f s\n", n, bulk);
  std::printf("%-22s %10s %10s %8s %12s\n", "import (korawin1-db)", "file MB", "seconds",
              "ratio", "peak RSS MB");
  const std::string expect = std::to_string(n) + " cards imported";
  for (const char* format : {"json", "csv"}) {
    const std::string file = folder + "/cards." + format;
    Tool({"export", bulkDir, "--format", format}, file);
    const std::string dir = folder + "/" + format;
    Tool({"create", dir}, folder + "/create.out");
    Run r = Tool({"import", dir, file}, folder + "/import.out");
    if (r.out != expect) Fail("import says '" + r.out + "', not '" + expect + "'");
    std::printf("%-22s %10.1f %10.2f %8.2f %12.1f\n", format,
                MegaBytes(std::filesystem::file_size(file)), r.seconds, r.seconds / bulk,
                static_cast<double>(r.peakKb) / 1024.0);
    std::filesystem::remove_all(dir);
    std::filesystem::remove(file);
  }
  std::filesystem::remove_all(bulkDir);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--run") return RunAndMeasure(argv + 2);
  std::string folder;
  bool temporary = argc <= 1;
  if (temporary) {
    char pattern[] = "/tmp/import_bench.XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    folder = pattern;
  } else {
    folder = argv[1];
  }
  std::vector<size_t> sizes = {20000, 100000};
  if (argc > 2) sizes.clear();
  for (int i = 2; i < argc; ++i) sizes.push_back(static_cast<size_t>(std::atol(argv[i])));
  for (size_t n : sizes) Measure(n, folder);
  if (temporary) std::filesystem::remove_all(folder);
  return 0;
}
