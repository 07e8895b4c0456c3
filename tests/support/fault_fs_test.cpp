// The fault-injecting file system: counting, failing, shortening and crashing, seen through
// the platform's File as the engine sees it.
#include "tests/support/fault_fs.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace korawin::test {
namespace {

using platform::Access;
using platform::File;
using platform::Share;

class FaultFsTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }
  // Creates the file and writes text at 0 through the file system in force.
  static void Put(File& f, const std::string& path, const std::string& text) {
    ASSERT_EQ(0, f.Create(path, Share::kDenyNone));
    ASSERT_EQ(0, f.WriteAt(0, text.data(), text.size()));
  }

  TempDir temp_{"faultfs"};
  std::string dir_ = temp_.path();
  FaultFileSystem faults_;
};

TEST_F(FaultFsTest, CountsChangesAsWritePointsButNotReadsOrLocks) {
  ScopedFileSystem installed(faults_);
  File f;
  Put(f, Path("a"), "hello");  // the truncation of Create and the write
  char buf[5];
  size_t got = 0;
  ASSERT_EQ(0, f.ReadAt(0, buf, 5, &got));
  ASSERT_EQ(0, f.TryLock(0, 1));
  ASSERT_EQ(0, f.Sync());
  f.Close();
  ASSERT_EQ(0, platform::RenameFile(Path("a"), Path("b")));
  ASSERT_EQ(0, platform::RemoveFile(Path("b")));
  EXPECT_EQ(5, faults_.WritePoints());
  EXPECT_EQ(1, faults_.Count(FaultOp::kWrite));
  EXPECT_GE(faults_.Count(FaultOp::kRead), 1);
  EXPECT_GE(faults_.Count(FaultOp::kLock), 1);
}

TEST_F(FaultFsTest, FailsTheNthWriteOnlyOrEveryWriteFromIt) {
  ScopedFileSystem installed(faults_);
  File f;
  ASSERT_EQ(0, f.Create(Path("a"), Share::kDenyNone));
  faults_.FailNth(FaultOp::kWrite, 2, ENOSPC);
  EXPECT_EQ(0, f.WriteAt(0, "1", 1));
  EXPECT_EQ(platform::kErrDiskFull, f.WriteAt(1, "2", 1));
  EXPECT_EQ(0, f.WriteAt(2, "3", 1));
  EXPECT_EQ(std::string("1\0003", 3), Contents(Path("a")));

  faults_.FailNth(FaultOp::kWrite, 1, EIO, -1);
  EXPECT_EQ(platform::kErrWriteFault, f.WriteAt(0, "x", 1));
  EXPECT_EQ(platform::kErrWriteFault, f.WriteAt(0, "x", 1));
  faults_.FailNth(FaultOp::kSync, 1, EIO);
  EXPECT_EQ(platform::kErrWriteFault, f.Sync());
  faults_.FailNth(FaultOp::kLock, 1, EBADF);
  EXPECT_EQ(platform::kErrInvalidHandle, f.TryLock(0, 1));
  faults_.FailNth(FaultOp::kRead, 1, EIO);
  char c;
  size_t got;
  EXPECT_EQ(platform::kErrReadFault, f.ReadAt(0, &c, 1, &got));
}

TEST_F(FaultFsTest, ShortWriteLeavesThePrefixAndGivesWriteFault) {
  ScopedFileSystem installed(faults_);
  File f;
  ASSERT_EQ(0, f.Create(Path("a"), Share::kDenyNone));
  faults_.ShortWriteNth(1, 3);
  EXPECT_EQ(platform::kErrWriteFault, f.WriteAt(0, "abcdef", 6));
  EXPECT_EQ("abc", Contents(Path("a")));
  faults_.ShortReadNth(1);
  char buf[6];
  size_t got = 99;
  EXPECT_EQ(0, f.ReadAt(0, buf, 3, &got));
  EXPECT_EQ(0u, got);
}

TEST_F(FaultFsTest, PathFilterAimsFaultsAtOneFile) {
  ScopedFileSystem installed(faults_);
  faults_.SetPathFilter([](const std::string& p) { return p.ends_with(".TR$"); });
  faults_.FailNth(FaultOp::kWrite, 1, ENOSPC);
  File data, journal;
  Put(data, Path("d.DAT"), "data");
  ASSERT_EQ(0, journal.Create(Path("j.TR$"), Share::kDenyNone));
  EXPECT_EQ(platform::kErrDiskFull, journal.WriteAt(0, "x", 1));
  EXPECT_EQ(0, data.WriteAt(0, "DATA", 4));
}

TEST_F(FaultFsTest, CrashDropsThePointAndEverythingAfterItButReportsSuccess) {
  File f;
  {
    ScopedFileSystem installed(faults_);
    Put(f, Path("a"), "one");                    // points 1, 2
    faults_.CrashAt(4);
    ASSERT_EQ(0, f.WriteAt(3, "two", 3));        // 3
    ASSERT_EQ(0, f.WriteAt(6, "three", 5));      // 4: the crash
    EXPECT_TRUE(faults_.crashed());
    ASSERT_EQ(0, f.Truncate(0));
    ASSERT_EQ(0, platform::RemoveFile(Path("a")));
    File g;
    Put(g, Path("late"), "never made");
    g.Close();
    f.Close();
    faults_.DiscardCreatedAfterCrash();
  }
  EXPECT_EQ("onetwo", Contents(Path("a")));
  EXPECT_FALSE(Exists(Path("late")));
}

TEST_F(FaultFsTest, TornCrashAppliesHalfOfTheCrashingWrite) {
  ScopedFileSystem installed(faults_);
  File f;
  faults_.CrashAt(3, true);
  Put(f, Path("a"), "aaaaaaaa");
  ASSERT_EQ(0, f.WriteAt(0, "bbbbbbbb", 8));
  EXPECT_EQ("bbbbaaaa", Contents(Path("a")));
}

TEST_F(FaultFsTest, CrashWithDropUnsyncedLosesWhatWasNotFlushed) {
  ScopedFileSystem installed(faults_);
  faults_.SetDropUnsynced(true);
  File synced, unsynced;
  Put(synced, Path("s"), "kept");
  ASSERT_EQ(0, synced.Sync());
  Put(unsynced, Path("u"), "0123456789");
  ASSERT_EQ(0, unsynced.Sync());
  ASSERT_EQ(0, unsynced.WriteAt(2, "xx", 2));
  ASSERT_EQ(0, unsynced.WriteAt(10, "grown", 5));
  ASSERT_EQ(0, unsynced.Truncate(4));
  ASSERT_EQ(0, synced.WriteAt(4, "+more", 5));
  ASSERT_EQ(0, synced.Sync());
  faults_.CrashAt(faults_.WritePoints() + 1);
  ASSERT_EQ(0, unsynced.WriteAt(0, "z", 1));
  EXPECT_EQ("0123456789", Contents(Path("u")));
  EXPECT_EQ("kept+more", Contents(Path("s")));
}

TEST_F(FaultFsTest, ScopedInstallerRestoresThePreviousFileSystem) {
  platform::FileSystem* before = &platform::CurrentFileSystem();
  {
    ScopedFileSystem installed(faults_);
    EXPECT_EQ(&faults_, &platform::CurrentFileSystem());
  }
  EXPECT_EQ(before, &platform::CurrentFileSystem());
}

}  // namespace
}  // namespace korawin::test
