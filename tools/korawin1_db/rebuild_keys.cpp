// korawin1-db rebuild-keys DIR [FILE]: rebuilds every key of the folder's data files (or of one
// file) from the records, under the collation now in force.
#include <cstdio>

#include "platform/paths.h"
#include "storage/dat/dat_file.h"
#include "storage/driver.h"
#include "tools/korawin1_db/commands.h"
#include "app/folder.h"

namespace korawin::tools {

namespace {

// BUILD of the whole file; the driver opens it exclusively for the time of the build.
int Rebuild(app::FolderFile& f) {
  storage::FileDescriptor& fd = f.decl.fd();
  int err = storage::CallDriver(storage::kOpBuildFile, fd);
  if (err) {
    std::printf("%s: %s", f.path.c_str(), app::ErrorWords(err).c_str());
    if (err == storage::kErrDuplicateKey)
      std::printf(": duplicate values are listed in %s",
                  platform::ReplaceExtension(f.path, ".BLD").c_str());
    std::printf("\n");
    return 1;
  }
  int keys = 0;
  for (const storage::KeyDescriptor& k : fd.keys)
    if (!(k.attributes & (storage::kKeyNotStored | storage::kKeyIndex))) ++keys;
  std::printf("%s: %d key%s rebuilt\n", f.path.c_str(), keys, keys == 1 ? "" : "s");
  return 0;
}

}  // namespace

int RunRebuildKeys(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) {
    std::fprintf(stderr, "usage: korawin1-db rebuild-keys DIR [FILE]\n");
    return 2;
  }
  if (args.size() == 2) {
    app::FolderFile f;
    int err = app::FindFolderFile(args[0], args[1], &f);
    if (err) {
      std::fprintf(stderr, "korawin1-db rebuild-keys: %s: %s\n", args[1].c_str(),
                   app::ErrorWords(err).c_str());
      return 1;
    }
    return Rebuild(f);
  }
  std::vector<app::FolderFile> files;
  std::vector<std::string> problems;
  int err = app::FolderFiles(args[0], &files, &problems);
  if (err) {
    std::fprintf(stderr, "korawin1-db rebuild-keys: %s: %s\n", args[0].c_str(),
                 app::ErrorWords(err).c_str());
    return 1;
  }
  int status = problems.empty() ? 0 : 1;
  for (const std::string& p : problems) std::printf("%s\n", p.c_str());
  for (app::FolderFile& f : files) status |= Rebuild(f);
  return status;
}

}  // namespace korawin::tools
