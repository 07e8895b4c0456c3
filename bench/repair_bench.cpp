// The database repair over generated cards, timed against its floor: one read of SLOVO along
// K_SLO (records and memos), measured in the same run on the same files. Prints the ratio.
//
//   repair_bench [folder] [cards...]     (defaults: /tmp, 20000 100000)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/exchange.h"
#include "app/repair.h"
#include "bench/slovo_gen.h"
#include "storage/driver.h"
#include "ui/message_box.h"

using namespace korawin;

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Check(int code, const char* what) {
  if (code != 0) {
    std::fprintf(stderr, "%s failed: %d %s\n", what, code, storage::ErrorText().c_str());
    std::exit(1);
  }
}

// Boxes answer OK at once; beeps are only counted.
class QuietUi : public ui::MessageUi {
 public:
  unsigned ShowMessage(const ui::MessageBoxRequest&) override { return ui::ButtonOk; }
  void Beep(ui::Sound) override { ++beeps; }
  int64_t beeps = 0;
};

void Fill(const app::LexiconFiles& files, const std::vector<bench::GeneratedCard>& cards) {
  std::string error;
  if (app::CreateDatabase(files, &error)) {
    std::fprintf(stderr, "create: %s\n", error.c_str());
    std::exit(1);
  }
  app::DeclaredFile& slovo = files[app::LexiconFile::kSlovo];
  storage::DriverArgs open;
  open.mode = storage::kOpenReadWrite | storage::kShareDenyAll;
  Check(storage::CallDriver(storage::kOpOpen, slovo.fd(), open), "OPEN");
  Check(storage::CallDriver(storage::kOpStream, slovo.fd()), "STREAM");
  for (const bench::GeneratedCard& c : cards) {
    std::memcpy(slovo.record.data(), c.record.data(), app::kSlovoRecordSize);
    std::fill(slovo.memo.begin(), slovo.memo.end(), ' ');
    std::copy(c.memo.begin(), c.memo.end(), slovo.memo.begin());
    Check(storage::CallDriver(storage::kOpAdd, slovo.fd()), "ADD");
  }
  Check(storage::CallDriver(storage::kOpFlush, slovo.fd()), "FLUSH");
  Check(storage::CallDriver(storage::kOpClose, slovo.fd()), "CLOSE");
}

// One read of SLOVO along K_SLO; returns the seconds.
double ReadAlongKey(const app::LexiconFiles& files, int64_t expected) {
  app::DeclaredFile& slovo = files[app::LexiconFile::kSlovo];
  auto start = std::chrono::steady_clock::now();
  storage::DriverArgs open;
  open.mode = storage::kOpenReadWrite | storage::kShareDenyWrite;
  Check(storage::CallDriver(storage::kOpOpen, slovo.fd(), open), "OPEN");
  storage::DriverArgs set;
  set.key = 1;
  Check(storage::CallDriver(storage::kOpSetKey, slovo.fd(), set), "SET");
  int64_t n = 0;
  while (storage::CallDriver(storage::kOpNext, slovo.fd()) == 0) ++n;
  Check(storage::CallDriver(storage::kOpClose, slovo.fd()), "CLOSE");
  double s = Seconds(start);
  if (n != expected) {
    std::fprintf(stderr, "read %lld of %lld cards\n", static_cast<long long>(n),
                 static_cast<long long>(expected));
    std::exit(1);
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  std::string parent = argc > 1 ? argv[1] : "/tmp";
  std::vector<size_t> sizes;
  for (int i = 2; i < argc; ++i) sizes.push_back(static_cast<size_t>(std::atol(argv[i])));
  if (sizes.empty()) sizes = {20000, 100000};

  std::printf("%8s %12s %12s %8s %8s\n", "cards", "read (s)", "repair (s)", "ratio", "words");
  for (size_t n : sizes) {
    std::string dir = parent + "/repair_bench_XXXXXX";
    if (!::mkdtemp(dir.data())) {
      std::perror("mkdtemp");
      return 1;
    }
    app::LexiconFiles files = app::LexiconFiles::InFolder(dir);
    Fill(files, bench::GenerateCards(n));
    const int64_t cards = static_cast<int64_t>(n);

    // The floor before and after, the best of each; the repair runs twice, the best counts.
    double read = ReadAlongKey(files, cards);
    QuietUi quiet;
    app::PassReport report;
    double repair = 1e30;
    for (int run = 0; run < 2; ++run) {
      auto start = std::chrono::steady_clock::now();
      Check(app::RepairDatabase(files, quiet, nullptr, &report), "repair");
      repair = std::min(repair, Seconds(start));
    }
    read = std::min(read, ReadAlongKey(files, cards));
    if (report.lexemes != cards || quiet.beeps != 2 * cards) {
      std::fprintf(stderr, "repair read %lld lexemes of %lld\n",
                   static_cast<long long>(report.lexemes), static_cast<long long>(cards));
      return 1;
    }
    std::printf("%8zu %12.3f %12.3f %8.2f %8lld\n", n, read, repair, repair / read,
                static_cast<long long>(report.words));
    std::fflush(stdout);
    std::system(("rm -rf '" + dir + "'").c_str());
  }
  return 0;
}
