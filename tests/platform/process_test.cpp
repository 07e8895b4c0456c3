// Starting outside programs without waiting for them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/process.h"

namespace korawin::platform {
namespace {

TEST(ProcessTest, FindsProgramsOnThePathAndBesideTheProgram) {
  EXPECT_NE(FindProgram("sh", {}), "");
  EXPECT_EQ(FindProgram("no-such-program-here.exe ", {}), "");
  // "kvex.exe " with its trailing blank is found as "kvex" in a folder given first.
  std::string dir = testing::TempDir() + "korawin_process_test";
  ::mkdir(dir.c_str(), 0700);
  std::string tool = dir + "/kvex";
  std::ofstream(tool) << "#!/bin/sh\necho started > \"$1\"\n";
  ::chmod(tool.c_str(), 0700);
  EXPECT_EQ(FindProgram("kvex.exe ", {dir}), tool);

  std::string mark = dir + "/mark";
  ::unlink(mark.c_str());
  EXPECT_EQ(StartDetached(tool, {mark}), 0);
  bool seen = false;
  for (int k = 0; k < 200 && !seen; ++k) {
    seen = ::access(mark.c_str(), F_OK) == 0;
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(seen);
  EXPECT_NE(StartDetached(dir + "/missing", {}), 0);
  ::unlink(mark.c_str());
  ::unlink(tool.c_str());
  ::rmdir(dir.c_str());
}

}  // namespace
}  // namespace korawin::platform
