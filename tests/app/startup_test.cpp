// Before the first window: the command line, the demo database made on first run, and what a
// folder that holds no usable database is told as.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/globals.h"
#include "app/startup.h"
#include "lang/expression.h"
#include "platform/codepage.h"

namespace korawin::app {
namespace {

TEST(StartupTest, CommandLine) {
  EXPECT_TRUE(ParseCommandLine({"--help"}).help);
  EXPECT_TRUE(ParseCommandLine({"--version"}).version);
  EXPECT_EQ(ParseCommandLine({"/data/verbs"}).folder, "/data/verbs");
  EXPECT_TRUE(ParseCommandLine({}).folder.empty());
  EXPECT_NE(ParseCommandLine({"--frobnicate"}).error, "");
  EXPECT_NE(ParseCommandLine({"a", "b"}).error, "");
  EXPECT_NE(UsageText().find("DATABASE-FOLDER"), std::string::npos);
}

TEST(StartupTest, DemoDatabaseIsMadeOnceAndFoldersAreChecked) {
  std::filesystem::path root = std::filesystem::path(testing::TempDir()) / "korawin_startup";
  std::filesystem::remove_all(root);
  ::setenv("XDG_DATA_HOME", root.c_str(), 1);
  std::string demo = DemoFolder();
  EXPECT_EQ(demo, (root / "korawin1" / "demo").string());
  EXPECT_EQ(CheckDatabaseFolder(demo), FolderProblem::kMissing);
  std::string error;
  ASSERT_TRUE(EnsureDemoDatabase(demo, &error)) << error;
  EXPECT_EQ(CheckDatabaseFolder(demo), FolderProblem::kNone);
  // A second start finds it and leaves it as it is.
  auto stamp = std::filesystem::last_write_time(std::filesystem::path(demo) / "slovo.dat");
  ASSERT_TRUE(EnsureDemoDatabase(demo, &error)) << error;
  EXPECT_EQ(std::filesystem::last_write_time(std::filesystem::path(demo) / "slovo.dat"), stamp);

  std::filesystem::create_directories(root / "empty");
  EXPECT_EQ(CheckDatabaseFolder((root / "empty").string()), FolderProblem::kNoDatabase);
  std::ofstream((root / "file").string()) << "x";
  EXPECT_EQ(CheckDatabaseFolder((root / "file").string()), FolderProblem::kNotFolder);
  // Upper-case disk names of an old database are found as well.
  std::filesystem::create_directories(root / "old");
  std::filesystem::copy_file(std::filesystem::path(demo) / "slovo.dat", root / "old" / "SLOVO.DAT");
  EXPECT_EQ(CheckDatabaseFolder((root / "old").string()), FolderProblem::kNone);
  std::string told = platform::Cp1251ToUtf8(
      DescribeFolderProblem(FolderProblem::kNoDatabase, (root / "empty").string()));
  EXPECT_NE(told.find("slovo.dat"), std::string::npos);
  EXPECT_NE(told.find((root / "empty").string()), std::string::npos);
  std::filesystem::remove_all(root);
}

TEST(StartupTest, GlobalsAreBoundForFilters) {
  ClearGlobals();
  BindGlobals();
  Assign(Glo().fr1, "\xE1\xE8\xF2");  // "бит"
  auto compiled = lang::CompileExpression("clip(glo:fr1) & '|' & clip(AuthorName) & '|'");
  ASSERT_TRUE(compiled);
  EXPECT_EQ(platform::Cp1251ToUtf8(compiled->EvaluateText()), "бит||");
  EXPECT_EQ(Clip(Glo().fr1), "\xE1\xE8\xF2");
}

}  // namespace
}  // namespace korawin::app
