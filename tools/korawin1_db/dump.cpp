// korawin1-db dump DIR FILE [--key KEY] --json: every record of a data file as one JSON line,
// in record order or along a key.
#include <cstdio>

#include "storage/driver.h"
#include "tools/korawin1_db/commands.h"
#include "app/folder.h"

namespace korawin::tools {

int RunDump(const std::vector<std::string>& argsIn) {
  using namespace storage;
  std::vector<std::string> args = argsIn;
  TakeFlag(&args, "--json");  // JSON lines are the only form
  std::string keyName;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--key" && i + 1 < args.size())
      keyName = args[++i];
    else
      rest.push_back(args[i]);
  }
  if (rest.size() != 2) {
    std::fprintf(stderr, "usage: korawin1-db dump DIR FILE [--key KEY] --json\n");
    return 2;
  }
  app::FolderFile f;
  int err = app::FindFolderFile(rest[0], rest[1], &f);
  if (err) {
    std::fprintf(stderr, "korawin1-db dump: %s: %s\n", rest[1].c_str(),
                 app::ErrorWords(err).c_str());
    return 1;
  }
  FileDescriptor& fd = f.decl.fd();
  int key = 0;
  if (!keyName.empty() && (key = app::FindKey(fd, keyName)) == 0) {
    std::fprintf(stderr, "korawin1-db dump: %s has no key '%s'\n", f.label.c_str(),
                 keyName.c_str());
    return 2;
  }
  DriverArgs a;
  a.mode = kOpenReadOnly | kShareDenyNone;
  err = CallDriver(kOpOpen, fd, a);
  if (err) {
    std::fprintf(stderr, "korawin1-db dump: %s: %s\n", f.path.c_str(),
                 app::ErrorWords(err).c_str());
    return 1;
  }
  DriverArgs start;
  start.key = key;
  err = CallDriver(key ? kOpSetKey : kOpSetFile, fd, start);
  while (!err && (err = CallDriver(kOpNext, fd)) == 0) {
    DriverArgs p;
    err = CallDriver(kOpPointerFile, fd, p);
    if (!err) std::printf("%s\n", app::RecordJson(fd, p.value).dump().c_str());
  }
  int status = 0;
  if (err != kErrRecordNotAvailable) {
    std::fprintf(stderr, "korawin1-db dump: %s: %s\n", f.path.c_str(),
                 app::ErrorWords(err).c_str());
    status = 1;
  }
  // The file was opened read-only: its close writes nothing that could fail.
  (void)CallDriver(kOpClose, fd);
  return status;
}

}  // namespace korawin::tools
