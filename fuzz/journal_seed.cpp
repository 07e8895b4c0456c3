// Writes the seed inputs of the journal fuzz target: journals and markers that the engine
// itself writes while a transaction over the target's data file is running, taken before
// the transaction is rolled back. The marker is taken as the engine wrote it, with the
// journal's name made the one the target lays the journal down as.
//   journal_seed WORKDIR OUTDIR     (WORKDIR: an empty folder)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/journal_fuzz_files.h"
#include "platform/paths.h"

namespace {

using korawin::fuzz::FuzzFile;
using namespace korawin::storage;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

int Put(FuzzFile& f, int recno, const std::string& name, const std::string& note) {
  if (int err = f.Call(kOpGetFilePtr, 0, recno)) return err;
  korawin::fuzz::SetJournalRecord(f, name, 7, note);
  return f.Call(kOpPut);
}

int Add(FuzzFile& f, const std::string& name, const std::string& note) {
  korawin::fuzz::SetJournalRecord(f, name, 2, note);
  return f.Call(kOpAdd);
}

int Delete(FuzzFile& f, int recno) {
  if (int err = f.Call(kOpGetFilePtr, 0, recno)) return err;
  return f.Call(kOpDelete);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace korawin;
  if (argc != 3) {
    std::fprintf(stderr, "usage: journal_seed WORKDIR OUTDIR\n");
    return 2;
  }
  const std::string out = platform::JoinPath(platform::CurrentDirectory(), argv[2]);
  // No profile: the journal goes to the current folder.
  ::setenv("XDG_CONFIG_HOME", (std::string(argv[1]) + "/no-config").c_str(), 1);
  if (::chdir(argv[1]) != 0 || fuzz::MakeJournalFixture() != 0) return 1;
  std::vector<std::pair<std::string, std::string>> sound;
  for (const char* name : {"j.DAT", "j.K01", "j.K02", "j.MEM"})
    sound.emplace_back(name, Read(name));

  const std::string longNote(650, 'L');
  const std::vector<std::pair<const char*, std::function<int(FuzzFile&)>>> transactions = {
      {"put", [](FuzzFile& f) { return Put(f, 2, "changed", "a new note"); }},
      {"put-memo", [&](FuzzFile& f) { return Put(f, 5, "rec5", longNote); }},
      {"add", [&](FuzzFile& f) {
         int err = Add(f, "reuses3", "short");
         return err ? err : Add(f, "grows", longNote);
       }},
      {"delete", [](FuzzFile& f) { return Delete(f, 4); }},
      {"empty", [](FuzzFile& f) { return f.Call(kOpEmpty); }},
      {"mixed", [&](FuzzFile& f) {
         int err = Add(f, "new", longNote);
         if (!err) err = Put(f, 1, "first", "");
         if (!err) err = Delete(f, 6);
         return err ? err : Add(f, "last", "x");
       }},
  };
  for (const auto& [name, change] : transactions) {
    for (const auto& [file, bytes] : sound) Write(file, bytes);
    FuzzFile f(fuzz::kJournalData);
    if (f.Call(kOpOpen) || f.Call(kOpLogout) || change(f)) {
      std::fprintf(stderr, "journal_seed: %s failed\n", name);
      return 1;
    }
    const std::string marker = Read(fuzz::kJournalMarker);
    const std::string journal = Read(marker.substr(0, marker.find('\0')));
    if (f.Call(kOpRollback) || f.Call(kOpClose)) return 1;
    for (const auto& [file, bytes] : sound) {
      if (Read(file) != bytes) {
        std::fprintf(stderr, "journal_seed: %s: the rollback left %s changed\n", name,
                     file.c_str());
        return 1;
      }
    }
    std::string input;
    fuzz::AppendPart(input, journal);
    std::string named = marker;
    named.replace(0, marker.find('\0'), fuzz::kJournalName);
    named.resize(marker.size(), '\0');
    fuzz::AppendPart(input, named);
    Write(out + "/" + name, input);
    std::printf("%s: journal %zu bytes\n", name, journal.size());
  }
  return 0;
}
