// The scratch folder of a fuzz target run: the files a target lays down go there.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace korawin::fuzz {

inline char gScratchFolder[128];

// Removes the scratch folder and the files in it.
inline void RemoveScratchFolder() {
  if (DIR* d = ::opendir(gScratchFolder)) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ::unlink((std::string(gScratchFolder) + "/" + e->d_name).c_str());
    ::closedir(d);
  }
  ::rmdir(gScratchFolder);
}

// Makes the scratch folder of a target run ("korawin-<name>-XXXXXX"): in memory when the
// machine offers it (the drivers flush what they write), else in /tmp. It goes when the run
// ends normally; a crash leaves it for a look. "" when none can be made. One per run.
inline std::string ScratchFolder(const std::string& name) {
  for (const char* root : {"/dev/shm/", "/tmp/"}) {
    std::string tmpl = root + ("korawin-" + name) + "-XXXXXX";
    if (tmpl.size() < sizeof gScratchFolder && ::mkdtemp(tmpl.data())) {
      std::snprintf(gScratchFolder, sizeof gScratchFolder, "%s", tmpl.c_str());
      std::atexit(RemoveScratchFolder);
      return tmpl;
    }
  }
  return {};
}

}  // namespace korawin::fuzz
