// The crash harness itself: a writer that replaces its file atomically survives every crash
// point; one that updates two files in place is caught between them.
#include "tests/support/crash_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/file.h"
#include "tests/support/temp_dir.h"

namespace korawin::test {
namespace {

using platform::Access;
using platform::File;
using platform::Share;

std::string ReadFile(const std::string& path) {
  File f;
  if (f.Open(path, Access::kRead, Share::kDenyNone)) return "(none)";
  char buf[64];
  size_t got = 0;
  if (f.ReadAt(0, buf, sizeof buf, &got)) return "(unreadable)";
  return std::string(buf, got);
}

bool WriteFile(const std::string& path, const std::string& text, bool sync) {
  File f;
  return f.Create(path, Share::kDenyNone) == 0 && f.WriteAt(0, text.data(), text.size()) == 0 &&
         (!sync || f.Sync() == 0);
}

class CrashHarnessTest : public ::testing::Test {
 protected:
  TempDir temp_{"harness"};
  std::string root_ = temp_.path();
};

TEST_F(CrashHarnessTest, ReplaceByRenameRecoversAtEveryPoint) {
  CrashHarness harness(root_);
  auto setup = [](const std::string& dir) { WriteFile(dir + "/state", "v0", true); };
  auto workload = [](CrashContext& ctx) {
    for (int v = 1; v <= 3; ++v) {
      std::string tmp = ctx.folder() + "/state.tmp";
      std::string text = "v";
      text += std::to_string(v);
      if (!WriteFile(tmp, text, true)) return;
      if (platform::RenameFile(tmp, ctx.folder() + "/state")) return;
      if (!ctx.Step()) return;
    }
  };
  auto dump = [](const std::string& dir, std::string*) { return ReadFile(dir + "/state"); };
  for (bool dropUnsynced : {false, true}) {
    CrashOptions options;
    options.dropUnsynced = dropUnsynced;
    CrashReport report = harness.Run(setup, workload, dump, options);
    EXPECT_EQ(3, report.steps);
    EXPECT_EQ(12, report.points);  // per step: truncate, write, sync, rename
    EXPECT_EQ(report.points, report.tried);
    EXPECT_EQ(report.tried, report.recovered) << report.Summary();
  }
}

// A new file named by an index written in place: unless its folder is flushed before the index
// names it, a crash that loses the name leaves the index pointing at nothing.
TEST_F(CrashHarnessTest, LostNamesAreCaughtUnlessTheFolderIsFlushed) {
  for (bool flush : {false, true}) {
    CrashHarness harness(root_);
    auto setup = [](const std::string& dir) { WriteFile(dir + "/index", "none", true); };
    auto workload = [flush](CrashContext& ctx) {
      for (int v = 1; v <= 2; ++v) {
        std::string part = "part" + std::to_string(v);
        if (!WriteFile(ctx.folder() + "/" + part, "p", true)) return;
        if (flush && platform::SyncFolderOf(ctx.folder() + "/" + part)) return;
        if (!WriteFile(ctx.folder() + "/index", part, true)) return;
        if (!ctx.Step()) return;
      }
    };
    auto dump = [](const std::string& dir, std::string* damage) {
      std::string index = ReadFile(dir + "/index");
      if (index != "none" && ReadFile(dir + "/" + index) != "p") *damage = index + " is lost";
      return index;
    };
    CrashOptions options;
    options.dropUnsynced = true;
    options.loseEntries = true;
    CrashReport report = harness.Run(setup, workload, dump, options);
    if (flush)
      EXPECT_EQ(report.tried, report.recovered) << report.Failures();
    else
      EXPECT_LT(report.recovered, report.tried) << report.Summary();
  }
}

TEST_F(CrashHarnessTest, TwoFilesUpdatedInPlaceAreCaughtBetweenTheWrites) {
  CrashHarness harness(root_);
  auto setup = [](const std::string& dir) {
    WriteFile(dir + "/a", "0", false);
    WriteFile(dir + "/b", "0", false);
  };
  auto workload = [](CrashContext& ctx) {
    File a, b;
    if (a.Open(ctx.folder() + "/a", Access::kReadWrite, Share::kDenyNone) ||
        b.Open(ctx.folder() + "/b", Access::kReadWrite, Share::kDenyNone))
      return;
    for (char v = '1'; v <= '2'; ++v) {
      if (a.WriteAt(0, &v, 1) || b.WriteAt(0, &v, 1)) return;
      if (!ctx.Step()) return;
    }
  };
  auto dump = [](const std::string& dir, std::string* damage) {
    std::string a = ReadFile(dir + "/a"), b = ReadFile(dir + "/b");
    if (a != b) *damage = "a=" + a + " b=" + b;
    return a;
  };
  CrashReport report = harness.Run(setup, workload, dump);
  EXPECT_EQ(4, report.tried);
  EXPECT_EQ(2, report.recovered);
  ASSERT_EQ(2u, report.failures.size());
  EXPECT_EQ(2, report.failures[0].point);
  EXPECT_EQ(1, report.failures[0].step);
  EXPECT_EQ("a=1 b=0", report.failures[0].what);
  EXPECT_EQ(4, report.failures[1].point);
  EXPECT_EQ(2, report.failures[1].step);
}

}  // namespace
}  // namespace korawin::test
