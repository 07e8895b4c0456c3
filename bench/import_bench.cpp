// `korawin1-db import` as a user runs it, against the engine's bulk ADD of the same cards
// measured in the same run (slovo_bench's: one STREAM batch on a file no one else opens).
// The cards are generated, added in bulk, exported with `korawin1-db export` as JSON and as
// CSV, and each file is imported into a new database by the tool in a process of its own,
// whose time and peak resident memory are taken. Prints the import's time as a ratio to the
// bulk ADD, and its peak memory beside the file's size.
//
//   import_bench [folder] [cards...]     (defaults: a fresh folder under /tmp, 20000 100000)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/exchange.h"
#include "bench/slovo_gen.h"
#include "bench/tool_run.h"
#include "storage/driver.h"

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

// Runs the tool with args, its standard output into outPath; the exports are kept.
bench::ToolRun Tool(const std::vector<std::string>& args, const std::string& outPath) {
  const bool keep = outPath.find("/cards.") != std::string::npos;
  return bench::RunTool(KORAWIN_DB_TOOL, args, outPath, keep);
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
    bench::ToolRun r = Tool({"import", dir, file}, folder + "/import.out");
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
  bool measuring = false;
  int rc = bench::MeasureToolWhenAsked(argc, argv, &measuring);
  if (measuring) return rc;
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
