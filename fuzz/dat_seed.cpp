// Writes the seed inputs of the data-file fuzz target: files made by the engine itself.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/dat_fuzz_files.h"

namespace {
std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
}  // namespace

int main(int argc, char** argv) {
  using namespace korawin;
  using namespace korawin::storage;
  if (argc != 3) {
    std::fprintf(stderr, "usage: dat_seed WORKDIR OUTDIR\n");
    return 2;
  }
  const std::string base = std::string(argv[1]) + "/seed";
  const int sizes[] = {0, 3, 40};
  for (int s : sizes) {
    fuzz::FuzzFile f(base);
    if (f.Call(kOpCreate) || f.Call(kOpOpen)) return 1;
    for (int i = 0; i < s; ++i) {
      std::string name = "w" + std::to_string(i * 7 % 41);
      std::fill(f.record.begin(), f.record.end(), ' ');
      std::copy(name.begin(), name.end(), f.record.begin());
      int32_t num = i % 5;
      std::memcpy(f.record.data() + 12, &num, 4);
      std::fill(f.memo.begin(), f.memo.end(), ' ');
      std::string note(static_cast<size_t>(i * 37 % 600), 'a' + i % 26);
      std::copy(note.begin(), note.end(), f.memo.begin());
      f.Call(kOpAdd);
      if (i % 4 == 3) f.Call(kOpDelete);
    }
    f.Call(kOpClose);
    std::string input;
    fuzz::AppendPart(input, Read(base + ".DAT"));
    fuzz::AppendPart(input, Read(base + ".K01"));
    fuzz::AppendPart(input, Read(base + ".MEM"));
    std::ofstream(std::string(argv[2]) + "/seed" + std::to_string(s), std::ios::binary)
        .write(input.data(), static_cast<std::streamsize>(input.size()));
  }
  return 0;
}
