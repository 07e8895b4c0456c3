// Two stations (processes) sharing one data file: header lock, LOCK, HOLD and WATCH.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/file.h"
#include "tests/storage/dat_test_util.h"

namespace korawin::storage::dat {
namespace {

using testing::People;
using testing::TempDir;

constexpr uint32_t kDataOffset = 85 + 3 * 27 + 19 + 6;

// A one-way signal between the two processes.
class Pipe {
 public:
  Pipe() { EXPECT_EQ(0, ::pipe(fd_)); }
  ~Pipe() {
    ::close(fd_[0]);
    ::close(fd_[1]);
  }
  void Signal() {
    char c = 1;
    (void)!::write(fd_[1], &c, 1);
  }
  // Gives up after 20 seconds, so that a failed station never leaves the other waiting.
  bool Wait() {
    pollfd p{fd_[0], POLLIN, 0};
    char c;
    return ::poll(&p, 1, 20000) == 1 && ::read(fd_[0], &c, 1) == 1;
  }

 private:
  int fd_[2];
};

// Runs body in a child process; the child's exit status is body's result.
pid_t Station(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

int Finish(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class StationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    People p(path_);
    ASSERT_EQ(0, p.Call(kOpCreate));
    ASSERT_EQ(0, p.Call(kOpOpen));
    ASSERT_EQ(0, p.AddNamed(1, "first"));
    ASSERT_EQ(0, p.AddNamed(2, "second"));
    ASSERT_EQ(0, p.Call(kOpClose));
  }
  std::string DataFile() const { return dir_.File("shared.DAT"); }

  TempDir dir_;
  std::string path_ = dir_.File("shared");
};

TEST_F(StationTest, HeaderLockHeldByAnotherStationRefusesAddWith5) {
  Pipe opened, locked, done;
  pid_t child = Station([&] {
    platform::File f;
    if (f.Open(DataFile(), platform::Access::kReadWrite, platform::Share::kDenyNone)) return 1;
    opened.Wait();
    if (f.TryLock(0, 1)) return 2;
    locked.Signal();
    done.Wait();
    return 0;
  });
  People p(path_);
  EXPECT_EQ(0, p.Call(kOpShare, 0, "", 0x2));
  opened.Signal();
  ASSERT_TRUE(locked.Wait());
  EXPECT_EQ(kErrAccessDenied, p.AddNamed(3, "third"));
  EXPECT_EQ(2, p.Value(kOpRecordsFile));
  done.Signal();
  EXPECT_EQ(0, Finish(child));
  EXPECT_EQ(0, p.AddNamed(3, "third"));
  EXPECT_EQ(3, p.Value(kOpPointerFile));
}

TEST_F(StationTest, AddsOfTwoStationsNeverTakeTheSameRecord) {
  Pipe go;
  pid_t child = Station([&] {
    People q(path_);
    if (q.Call(kOpShare, 0, "", 0x2)) return 1;
    go.Wait();
    for (int i = 0; i < 40; ++i)
      if (q.AddNamed(1000 + i, "child")) return 2;
    return 0;
  });
  People p(path_);
  ASSERT_EQ(0, p.Call(kOpShare, 0, "", 0x2));
  go.Signal();
  for (int i = 0; i < 40; ++i) ASSERT_EQ(0, p.AddNamed(2000 + i, "parent"));
  ASSERT_EQ(0, Finish(child));
  ASSERT_EQ(0, p.Call(kOpSetFile));
  int fromChild = 0, fromParent = 0;
  while (p.Call(kOpNext) == 0) {
    if (p.Id() >= 2000) ++fromParent;
    else if (p.Id() >= 1000) ++fromChild;
  }
  EXPECT_EQ(40, fromChild);
  EXPECT_EQ(40, fromParent);
  EXPECT_EQ(82, p.Value(kOpRecordsFile));
}

TEST_F(StationTest, LockOfAnotherStationGives32ToLockAnd5ToOpen) {
  Pipe opened, locked, release;
  pid_t child = Station([&] {
    People q(path_);
    if (q.Call(kOpShare, 0, "", 0x2)) return 1;
    opened.Wait();
    if (q.Call(kOpLockFile)) return 2;
    locked.Signal();
    release.Wait();
    return q.Call(kOpUnlock) ? 3 : 0;
  });
  People p(path_);
  ASSERT_EQ(0, p.Call(kOpShare, 0, "", 0x2));
  opened.Signal();
  ASSERT_TRUE(locked.Wait());
  EXPECT_EQ(kErrFileLocked, p.Call(kOpLockFile));
  EXPECT_EQ(kErrFileLocked, p.AddNamed(9, "refused"));
  People late(path_);
  EXPECT_EQ(kErrAccessDenied, late.Call(kOpShare, 0, "", 0x2));
  release.Signal();
  EXPECT_EQ(0, Finish(child));
  EXPECT_EQ(0, p.Call(kOpLockFile));
  EXPECT_EQ(0, p.Call(kOpUnlock));
  EXPECT_EQ(0, late.Call(kOpShare, 0, "", 0x2));
}

TEST_F(StationTest, StaleLockIsBrokenOnlyWithRecover) {
  pid_t child = Station([&] {
    People q(path_);
    if (q.Call(kOpShare, 0, "", 0x2) || q.Call(kOpLockFile)) return 1;
    ::_exit(0);  // the station dies holding the lock
  });
  ASSERT_EQ(0, Finish(child));
  EXPECT_EQ(kAttrLocked, testing::ReadAll(DataFile())[2] & kAttrLocked);
  People p(path_);
  EXPECT_EQ(kErrAccessDenied, p.Call(kOpShare, 0, "", 0x2));
  p.Send("RECOVER=1");
  ASSERT_EQ(0, p.Call(kOpShare, 0, "", 0x2));
  EXPECT_EQ(0, testing::ReadAll(DataFile())[2] & kAttrLocked);
  EXPECT_EQ(0, p.Call(kOpLockFile));
}

TEST_F(StationTest, HoldOfAnotherStationGives43UntilReleasedOrStale) {
  Pipe held, release, released;
  pid_t child = Station([&] {
    People q(path_);
    if (q.Call(kOpShare, 0, "", 0x2) || q.Call(kOpGetFilePtr, 1) || q.Call(kOpHoldFile)) return 1;
    held.Signal();
    release.Wait();
    if (q.Call(kOpRelease)) return 2;
    released.Signal();
    // Holds record 2 and dies holding it.
    if (q.Call(kOpGetFilePtr, 2) || q.Call(kOpHoldFile)) return 3;
    ::_exit(0);
  });
  People p(path_);
  ASSERT_EQ(0, p.Call(kOpShare, 0, "", 0x2));
  ASSERT_TRUE(held.Wait());
  ASSERT_EQ(0, p.Call(kOpGetFilePtr, 1));  // reading a held record without HOLD is allowed
  EXPECT_EQ("first", p.Name());
  EXPECT_EQ(kErrRecordHeld, p.Call(kOpHoldFile));
  release.Signal();
  ASSERT_TRUE(released.Wait());
  EXPECT_EQ(0, p.Call(kOpHoldFile));
  EXPECT_EQ(kStatusHeld, testing::ReadAll(DataFile())[kDataOffset] & kStatusHeld);
  ASSERT_EQ(0, Finish(child));

  ASSERT_EQ(0, p.Call(kOpGetFilePtr, 2));
  EXPECT_EQ(kErrRecordHeld, p.Call(kOpHoldFile));
  p.Send("RECOVER=1");
  EXPECT_EQ(0, p.Call(kOpHoldFile));
  // One held record per file: holding record 2 released record 1.
  std::string d = testing::ReadAll(DataFile());
  EXPECT_EQ(0, d[kDataOffset] & kStatusHeld);
  EXPECT_EQ(kStatusHeld, d[kDataOffset + 30] & kStatusHeld);
  ASSERT_EQ(0, p.Call(kOpClose));
  EXPECT_EQ(0, testing::ReadAll(DataFile())[kDataOffset + 30] & kStatusHeld);
}

TEST_F(StationTest, PutOfAWatchedRecordChangedElsewhereGives89AndKeepsTheirData) {
  People p(path_);
  ASSERT_EQ(0, p.Call(kOpShare, 0, "", 0x2));
  ASSERT_EQ(0, p.Call(kOpGetFilePtr, 1));
  ASSERT_EQ(0, p.Call(kOpWatch));
  pid_t child = Station([&] {
    People q(path_);
    if (q.Call(kOpShare, 0, "", 0x2) || q.Call(kOpGetFilePtr, 1)) return 1;
    q.Set(1, "theirs");
    return q.Call(kOpPut) ? 2 : 0;
  });
  ASSERT_EQ(0, Finish(child));
  p.Set(1, "mine");
  EXPECT_EQ(kErrRecordChanged, p.Call(kOpPut));
  EXPECT_EQ("theirs", testing::ReadAll(DataFile()).substr(kDataOffset + 9, 6));
  // Read again and watched again, the PUT goes through.
  ASSERT_EQ(0, p.Call(kOpGetFilePtr, 1));
  ASSERT_EQ(0, p.Call(kOpWatch));
  p.Set(1, "mine");
  EXPECT_EQ(0, p.Call(kOpPut));
  EXPECT_EQ("mine  ", testing::ReadAll(DataFile()).substr(kDataOffset + 9, 6));
}

}  // namespace
}  // namespace korawin::storage::dat
