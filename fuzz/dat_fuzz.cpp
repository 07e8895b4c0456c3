// Fuzz target: a data file with its key file and memo file from arbitrary bytes. Opening,
// walking in record order and along both keys in both directions, reading memos, changing a
// record and verifying must give codes, never a crash, a hang or a read out of bounds.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "fuzz/dat_fuzz_files.h"
#include "storage/dat/dat_file.h"

namespace {

std::string Folder() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/korawin-datfuzz-XXXXXX";
    return std::string(::mkdtemp(tmpl));
  }();
  return dir;
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korawin;
  using namespace korawin::storage;
  std::vector<std::string> parts = fuzz::SplitParts(data, size);
  const std::string base = Folder() + "/f";
  Write(base + ".DAT", parts[0]);
  Write(base + ".K01", parts[1]);
  Write(base + ".K02", parts[1]);
  Write(base + ".MEM", parts[2]);
  ::unlink((base + ".LOG").c_str());
  fuzz::FuzzFile f(base);
  DriverArgs ignore;
  ignore.text = "IGNORECORRUPTIONS=" + std::string(size % 2 ? "ON" : "OFF");
  CallDriver(kOpSend, *f.fd, ignore);
  if (f.Call(kOpOpen) != 0) return 0;
  // Every walk is bounded: a file that lies must end it with a code, not loop.
  const int kMaxSteps = 5000;
  f.Call(kOpSetFile);
  for (int i = 0; i < kMaxSteps && f.Call(kOpNext) == 0; ++i) {
  }
  for (int key = 1; key <= 2; ++key) {
    for (uint8_t op : {kOpNext, kOpPrevious}) {
      f.Call(kOpSetKey, key);
      for (int i = 0; i < kMaxSteps && f.Call(op) == 0; ++i) {
      }
    }
  }
  std::string fault;
  dat::DatFile::Of(*f.fd).Check(&fault);
  if (f.Call(kOpGetFilePtr, 0, 1) == 0) {
    f.record[0] = 'z';
    f.memo[0] = 'q';
    f.Call(kOpPut);
  }
  f.Call(kOpClose);
  return 0;
}
