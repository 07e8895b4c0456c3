// Fuzz target: a data file with its key file and memo file from arbitrary bytes. Opening,
// walking in record order and along both keys in both directions, reading memos, changing a
// record and verifying must give codes, never a crash, a hang or a read out of bounds.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "fuzz/dat_fuzz_files.h"
#include "fuzz/scratch_folder.h"

namespace {

using namespace korawin;

std::string Folder() {
  static std::string dir = fuzz::ScratchFolder("datfuzz");
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
  (void)CallDriver(kOpSend, *f.fd, ignore);  // an option the driver always takes
  if (f.Call(kOpOpen) != 0) return 0;
  fuzz::WalkAndChange(f);
  f.Call(kOpClose);
  return 0;
}
