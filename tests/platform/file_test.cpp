#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "tests/support/temp_dir.h"

namespace korawin::platform {
namespace {

using test::TempDir;

TEST(FileSharing, DenyModesRefuseConflictingOpensInOneProcess) {
  TempDir dir;
  std::string path = dir.File("a.dat");
  File creator;
  ASSERT_EQ(0, creator.Create(path, Share::kDenyNone));
  creator.Close();

  File exclusive;
  ASSERT_EQ(0, exclusive.Open(path, Access::kReadWrite, Share::kDenyAll));
  File second;
  EXPECT_EQ(kErrSharingViolation, second.Open(path, Access::kRead, Share::kDenyNone));
  exclusive.Close();
  EXPECT_EQ(0, second.Open(path, Access::kRead, Share::kDenyNone));

  // A reader that denies writing keeps writers out but lets other readers in.
  File denyWrite;
  ASSERT_EQ(0, denyWrite.Open(path, Access::kRead, Share::kDenyWrite));
  File writer;
  EXPECT_EQ(kErrSharingViolation, writer.Open(path, Access::kReadWrite, Share::kDenyNone));
  File reader;
  EXPECT_EQ(0, reader.Open(path, Access::kRead, Share::kDenyNone));
  // Nor may anyone deny writing while a writer is in.
  denyWrite.Close();
  reader.Close();
  second.Close();
  ASSERT_EQ(0, writer.Open(path, Access::kReadWrite, Share::kDenyNone));
  File late;
  EXPECT_EQ(kErrSharingViolation, late.Open(path, Access::kRead, Share::kDenyWrite));
}

TEST(FileSharing, ExclusiveOpenRefusesAnotherProcess) {
  TempDir dir;
  std::string path = dir.File("b.dat");
  File f;
  ASSERT_EQ(0, f.Create(path, Share::kDenyNone));
  f.Close();
  ASSERT_EQ(0, f.Open(path, Access::kReadWrite, Share::kDenyAll));
  pid_t pid = ::fork();
  if (pid == 0) {
    File g;
    int err = g.Open(path, Access::kRead, Share::kDenyNone);
    ::_exit(err == kErrSharingViolation ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(FileLocks, ByteLockExcludesOtherOpensAndDiesWithTheOpen) {
  TempDir dir;
  std::string path = dir.File("c.dat");
  File a, b;
  ASSERT_EQ(0, a.Create(path, Share::kDenyNone));
  ASSERT_EQ(0, b.Open(path, Access::kReadWrite, Share::kDenyNone));
  ASSERT_EQ(0, a.TryLock(0, 1));
  EXPECT_EQ(kErrLockViolation, b.TryLock(0, 1));
  // Closing a third open of the same file must not drop a's lock.
  {
    File c;
    ASSERT_EQ(0, c.Open(path, Access::kRead, Share::kDenyNone));
  }
  EXPECT_EQ(kErrLockViolation, b.TryLock(0, 1));
  a.Close();
  EXPECT_EQ(0, b.TryLock(0, 1));
}

TEST(FileIo, ShortReadsAndMissingFiles) {
  TempDir dir;
  File f;
  EXPECT_EQ(kErrFileNotFound, f.Open(dir.File("missing.dat"), Access::kRead, Share::kDenyNone));
  EXPECT_EQ(kErrPathNotFound,
            f.Open(dir.File("nofolder/x.dat"), Access::kRead, Share::kDenyNone));
  ASSERT_EQ(0, f.Create(dir.File("d.dat"), Share::kDenyNone));
  ASSERT_EQ(0, f.WriteAt(10, "abc", 3));
  uint64_t size = 0;
  ASSERT_EQ(0, f.Size(&size));
  EXPECT_EQ(13u, size);
  char buf[8];
  size_t got = 0;
  ASSERT_EQ(0, f.ReadAt(11, buf, sizeof buf, &got));
  EXPECT_EQ(2u, got);
  ASSERT_EQ(0, f.Truncate(5));
  ASSERT_EQ(0, f.Size(&size));
  EXPECT_EQ(5u, size);
  File ro;
  ASSERT_EQ(0, ro.Open(dir.File("d.dat"), Access::kRead, Share::kDenyNone));
  EXPECT_EQ(kErrAccessDenied, ro.WriteAt(0, "x", 1));
}

// A file no other open may write is read through a mapping and knows its own size: what it
// reads must still be exactly what the file holds after every write, growth and cut.
TEST(FileIo, PrivateFileReadsFollowWritesGrowthAndTruncation) {
  TempDir dir;
  {
    File init;
    ASSERT_EQ(0, init.Create(dir.File("p.dat"), Share::kDenyNone));
    ASSERT_EQ(0, init.WriteAt(0, std::string(5000, 'a').data(), 5000));
  }
  File f;
  ASSERT_EQ(0, f.Open(dir.File("p.dat"), Access::kReadWrite, Share::kDenyWrite));
  // Nobody else may open it for writing; a reader may look on.
  File other;
  EXPECT_EQ(kErrSharingViolation,
            other.Open(dir.File("p.dat"), Access::kReadWrite, Share::kDenyNone));
  File reader;
  ASSERT_EQ(0, reader.Open(dir.File("p.dat"), Access::kRead, Share::kDenyNone));

  std::string buf(64, '\0');
  size_t got = 0;
  ASSERT_EQ(0, f.WriteAt(100, "xyz", 3));
  ASSERT_EQ(0, f.ReadAt(98, buf.data(), 7, &got));
  EXPECT_EQ("aaxyzaa", buf.substr(0, got));
  // Past the end: fewer bytes, then none.
  ASSERT_EQ(0, f.ReadAt(4996, buf.data(), 10, &got));
  EXPECT_EQ(4u, got);
  ASSERT_EQ(0, f.ReadAt(6000, buf.data(), 10, &got));
  EXPECT_EQ(0u, got);

  // Growth by small writes, then by far more than the mapping covers.
  ASSERT_EQ(0, f.WriteAt(5000, "tail", 4));
  ASSERT_EQ(0, f.ReadAt(4998, buf.data(), 10, &got));
  EXPECT_EQ("aatail", buf.substr(0, got));
  const std::string big(3 << 20, 'b');
  ASSERT_EQ(0, f.WriteAt(8192, big.data(), big.size()));
  uint64_t size = 0;
  ASSERT_EQ(0, f.Size(&size));
  EXPECT_EQ(8192u + big.size(), size);
  ASSERT_EQ(0, f.ReadAt(size - 3, buf.data(), 10, &got));
  EXPECT_EQ("bbb", buf.substr(0, got));
  ASSERT_EQ(0, f.ReadAt(5002, buf.data(), 4, &got));  // the gap reads as zeros
  EXPECT_EQ(std::string("il\0\0", 4), buf.substr(0, got));
  ASSERT_EQ(0, reader.ReadAt(size - 3, buf.data(), 10, &got));
  EXPECT_EQ("bbb", buf.substr(0, got));

  // A cut below the mapped part: later reads stop at the new end instead of faulting.
  ASSERT_EQ(0, f.Truncate(50));
  ASSERT_EQ(0, f.Size(&size));
  EXPECT_EQ(50u, size);
  ASSERT_EQ(0, f.ReadAt(40, buf.data(), 64, &got));
  EXPECT_EQ(std::string(10, 'a'), buf.substr(0, got));
  ASSERT_EQ(0, f.ReadAt(4000, buf.data(), 10, &got));
  EXPECT_EQ(0u, got);
  ASSERT_EQ(0, f.WriteAt(50, "end", 3));
  ASSERT_EQ(0, f.ReadAt(48, buf.data(), 64, &got));
  EXPECT_EQ("aaend", buf.substr(0, got));

  // A moved file keeps its state; the one moved from is closed.
  File moved(std::move(f));
  EXPECT_FALSE(f.is_open());
  ASSERT_EQ(0, moved.ReadAt(48, buf.data(), 64, &got));
  EXPECT_EQ("aaend", buf.substr(0, got));
}

TEST(Paths, ExistingFilesAreFoundWhateverTheCase) {
  TempDir dir;
  std::ofstream(dir.File("SLOVO.DAT")) << "x";
  EXPECT_EQ(dir.File("SLOVO.DAT"), ResolveExisting(dir.File("slovo.dat")));
  EXPECT_EQ(dir.File("Slovo.K01"), ResolveExisting(dir.File("Slovo.K01")));  // none: unchanged
  EXPECT_EQ("/a/b.K01", ReplaceExtension("/a/b.DAT", ".K01"));
  EXPECT_EQ("/a.d/b.MEM", ReplaceExtension("/a.d/b", ".MEM"));
  EXPECT_EQ("", Extension("/a.d/b"));
}

TEST(Profile, ReadsAndWritesSectionsWithoutRegardToCase) {
  TempDir dir;
  std::string ini = dir.File("win.ini");
  std::ofstream(ini) << "[vwc21]\r\nVelTmp = /tmp/j\r\n[Other]\nx=1\n";
  EXPECT_EQ("/tmp/j", ReadProfileString(ini, "VWC21", "VELTMP", ""));
  EXPECT_EQ("d", ReadProfileString(ini, "VWC21", "missing", "d"));
  EXPECT_EQ(1, ReadProfileInt(ini, "other", "X", 0));
  ASSERT_EQ(0, WriteProfileString(ini, "Other", "y", "2"));
  ASSERT_EQ(0, WriteProfileString(ini, "New", "z", "3"));
  EXPECT_EQ(2, ReadProfileInt(ini, "Other", "y", 0));
  EXPECT_EQ(1, ReadProfileInt(ini, "Other", "x", 0));
  EXPECT_EQ("3", ReadProfileString(ini, "new", "z", ""));
  EXPECT_EQ("/tmp/j", ReadProfileString(ini, "VWC21", "VELTMP", ""));
  EXPECT_EQ("def", ReadProfileString(dir.File("none.ini"), "a", "b", "def"));
}

TEST(Clock, DayNumbersCountFromTheLastDaysOf1800) {
  EXPECT_EQ(4, DayNumber(1801, 1, 1));
  EXPECT_EQ(0, DayNumber(1800, 12, 28));
  int y, m, d;
  CivilDate(DayNumber(2026, 12, 8), &y, &m, &d);
  EXPECT_EQ(2026, y);
  EXPECT_EQ(12, m);
  EXPECT_EQ(8, d);
  EXPECT_GT(ClockTime(), 0);
  EXPECT_LE(ClockTime(), 8640001);
}

// A file others may write is read through a mapping where it can be: another open's writes
// show at once, and when it cuts the file short the reader sees the new end instead of faulting.
TEST(FileTest, SharedReadsSeeAnotherOpensWritesAndCuts) {
  TempDir dir;
  const std::string path = dir.File("shared");
  File writer, reader;
  ASSERT_EQ(0, writer.Create(path, Share::kDenyNone));
  std::string bytes(64 * 1024, 'a');
  ASSERT_EQ(0, writer.WriteAt(0, bytes.data(), bytes.size()));
  ASSERT_EQ(0, reader.Open(path, Access::kRead, Share::kDenyNone));
  char buf[16];
  size_t got = 0;
  ASSERT_EQ(0, reader.ReadAt(40000, buf, sizeof buf, &got));
  EXPECT_EQ(std::string(16, 'a'), std::string(buf, got));
  ASSERT_EQ(0, writer.WriteAt(40000, "changed", 7));
  ASSERT_EQ(0, reader.ReadAt(40000, buf, 7, &got));
  EXPECT_EQ("changed", std::string(buf, got));
  // Cut to one page, then grown a little: past the cut the reader gets what the file holds.
  ASSERT_EQ(0, writer.Truncate(4096));
  ASSERT_EQ(0, reader.ReadAt(40000, buf, sizeof buf, &got));
  EXPECT_EQ(0u, got);
  ASSERT_EQ(0, writer.WriteAt(4096, "more", 4));
  ASSERT_EQ(0, reader.ReadAt(4090, buf, 10, &got));
  EXPECT_EQ(std::string(6, 'a') + "more", std::string(buf, got));
  // Grown far past what was mapped: still read.
  ASSERT_EQ(0, writer.WriteAt(8 << 20, "far", 3));
  ASSERT_EQ(0, reader.ReadAt(8 << 20, buf, 3, &got));
  EXPECT_EQ("far", std::string(buf, got));
}

}  // namespace
}  // namespace korawin::platform
