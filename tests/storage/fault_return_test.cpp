// Injected I/O failures come back from the DAT driver as the codes its callers act on, and
// leave the files as they were before the failed statement (or, inside a transaction, as
// ROLLBACK or the next OPEN makes them).
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "storage/dat/halt.h"
#include "storage/dat/journal.h"
#include "tests/storage/dat_test_util.h"
#include "tests/support/dat_check.h"
#include "tests/support/fault_fs.h"

namespace korawin::storage::dat {
namespace {

using storage::dat::testing::People;
using test::FaultFileSystem;
using test::FaultOp;
using test::ScopedFileSystem;

std::vector<std::string> gHalts;
void RecordHalt(const std::string& message) { gHalts.push_back(message); }

class FaultReturnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string config = dir_.File("config");
    ::mkdir(config.c_str(), 0755);
    ::mkdir((config + "/korawin1").c_str(), 0755);
    ::mkdir(dir_.File("tmp").c_str(), 0755);
    testing::WriteAll(config + "/korawin1/win.ini", "[VWC21]\nVELTMP=" + dir_.File("tmp") + "\n");
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    oldHalt_ = SetHaltHandler(&RecordHalt);
    gHalts.clear();
    People p(Name());
    ASSERT_EQ(0, p.Call(kOpCreate));
    ASSERT_EQ(0, p.Call(kOpOpen));
    for (int i = 1; i <= 5; ++i) ASSERT_EQ(0, p.AddNamed(i, "rec" + std::to_string(i)));
    ASSERT_EQ(0, p.Call(kOpGetFilePtr, 2));
    ASSERT_EQ(0, p.Call(kOpDelete));
    ASSERT_EQ(0, p.Call(kOpClose));
    before_ = State();
    original_ = testing::ReadAll(dir_.File("f.DAT"));
    originalKey_ = testing::ReadAll(dir_.File("f.K01"));
  }
  void TearDown() override {
    SetHaltHandler(oldHalt_);
    ::unsetenv("XDG_CONFIG_HOME");
  }
  std::string Name() const { return dir_.File("f"); }
  bool OnData(const std::string& path) const { return path == dir_.File("f.DAT"); }
  // The file's state as the next OPEN finds it; damage fails the test.
  std::string State() {
    People p(Name());
    std::string damage;
    std::string state = test::CheckDatFile(p.file(), &damage);
    EXPECT_EQ("", damage);
    return state;
  }
  // Runs statement on the open file once per k-th data file write (k = 1, 2, ...) failing
  // with err, until the statement runs through; expects code each time and the file as before.
  // Returns the number of writes the statement makes.
  template <typename Statement>
  int EveryWriteFails(int err, int code, Statement statement, unsigned mode = 0x22) {
    const std::string& original = original_;
    for (int k = 1; k < 20; ++k) {
      testing::WriteAll(dir_.File("f.DAT"), original);
      testing::WriteAll(dir_.File("f.K01"), originalKey_);
      People p(Name());
      FaultFileSystem faults;
      ScopedFileSystem installed(faults);
      faults.SetPathFilter([this](const std::string& path) { return OnData(path); });
      EXPECT_EQ(0, p.Call(kOpOpen, 0, "", mode));
      faults.FailNth(FaultOp::kWrite, k, err);
      int result = statement(p);
      bool fired = faults.FilteredCount(FaultOp::kWrite) >= k;
      p.Call(kOpClose);
      if (!fired) {
        EXPECT_EQ(0, result);
        testing::WriteAll(dir_.File("f.DAT"), original);
        testing::WriteAll(dir_.File("f.K01"), originalKey_);
        return k - 1;
      }
      EXPECT_EQ(code, result) << "write " << k;
      EXPECT_EQ(before_, State()) << "write " << k;
      if (::testing::Test::HasFailure()) return k;
    }
    return 20;
  }

  testing::TempDir dir_;
  std::string before_;
  std::string original_;  // the bytes of f.DAT in that state
  std::string originalKey_;  // and of its key file
  HaltHandler oldHalt_ = nullptr;
};

int Add(People& p) { return p.AddNamed(9, "new"); }  // reuses record 2

int Put(People& p) {
  int err = p.Call(kOpGetFilePtr, 3);
  if (err) return err;
  p.Set(3, "changed");
  return p.Call(kOpPut);
}
int Delete(People& p) {
  int err = p.Call(kOpGetFilePtr, 4);
  return err ? err : p.Call(kOpDelete);
}

TEST_F(FaultReturnTest, WriteFailuresGiveTheirCodesAndChangeNothingVisible) {
  // Disk full and other system errors of 19 and above are 5; an I/O error is 329; a handle
  // error below 19 stays as it is.
  for (auto [err, code] : {std::pair{ENOSPC, 5}, {EIO, 329}, {EBADF, 6}, {EACCES, 5}}) {
    SCOPED_TRACE(err);
    EXPECT_GE(EveryWriteFails(err, code, Put), 1);
  }
}

// A PUT whose record write fails after its key moved puts the key back: the key file keeps
// agreeing with the data, outside a transaction too.
TEST_F(FaultReturnTest, FailedPutPutsTheMovedKeyBack) {
  People p(Name());
  FaultFileSystem faults;
  ScopedFileSystem installed(faults);
  faults.SetPathFilter([this](const std::string& path) { return OnData(path); });
  ASSERT_EQ(0, p.Call(kOpOpen));
  ASSERT_EQ(0, p.Call(kOpGetFilePtr, 3));
  p.Set(33, "moved");
  faults.FailNth(FaultOp::kWrite, faults.FilteredCount(FaultOp::kWrite) + 1, ENOSPC);
  EXPECT_EQ(5, p.Call(kOpPut));
  std::string fault;
  EXPECT_EQ(0, p.dat().Check(&fault)) << fault;
  auto byId = [&](int32_t id) {
    p.Set(id, "");
    DriverArgs args;
    args.key = 1;
    return CallDriver(kOpGetFileKey, p.file(), args);
  };
  EXPECT_EQ(0, byId(3));
  EXPECT_EQ("rec3", p.Name());
  EXPECT_EQ(kErrRecordNotFound, byId(33));
  ASSERT_EQ(0, p.Call(kOpClose));
}

// A key file write that fails once during an ADD outside a transaction: the ADD either
// happens whole or is refused, and the key file agrees with the data either way (a header
// left behind its pages would hide or count entries wrongly).
TEST_F(FaultReturnTest, AddWhoseKeyWriteFailsOnceLeavesTheKeySound) {
  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE(k);
    testing::WriteAll(dir_.File("f.DAT"), original_);
    testing::WriteAll(dir_.File("f.K01"), originalKey_);
    People p(Name());
    FaultFileSystem faults;
    ScopedFileSystem installed(faults);
    faults.SetPathFilter([this](const std::string& path) { return path == dir_.File("f.K01"); });
    ASSERT_EQ(0, p.Call(kOpOpen));
    faults.FailNth(FaultOp::kWrite, faults.FilteredCount(FaultOp::kWrite) + k, EIO);
    int rc = p.AddNamed(9, "new");
    EXPECT_TRUE(rc == 0 || rc == 329) << rc;
    std::string fault;
    EXPECT_EQ(0, p.dat().Check(&fault)) << fault;
    p.Set(9, "");
    DriverArgs args;
    args.key = 1;
    EXPECT_EQ(rc == 0 ? 0 : kErrRecordNotFound, CallDriver(kOpGetFileKey, p.file(), args));
    ASSERT_EQ(0, p.Call(kOpClose));
    ASSERT_EQ(0, p.Call(kOpOpen));  // the entry count agrees with the records
    ASSERT_EQ(0, p.Call(kOpClose));
  }
}

// A PUT that leaves the record as the file holds it writes nothing: inside a transaction it
// needs no journal entry and no flush (a pass that rewrites every record stays cheap).
TEST_F(FaultReturnTest, PutOfAnUnchangedRecordWritesNothing) {
  People p(Name());
  FaultFileSystem faults;
  ScopedFileSystem installed(faults);
  faults.SetPathFilter([this](const std::string& path) { return OnData(path); });
  ASSERT_EQ(0, p.Call(kOpOpen));
  ASSERT_EQ(0, Put(p));  // the first one marks the record revised
  int writes = faults.FilteredCount(FaultOp::kWrite);
  EXPECT_GE(writes, 1);
  ASSERT_EQ(0, Put(p));
  EXPECT_EQ(writes, faults.FilteredCount(FaultOp::kWrite));
  p.Set(3, "changed again");
  ASSERT_EQ(0, p.Call(kOpPut));
  EXPECT_GT(faults.FilteredCount(FaultOp::kWrite), writes);
  ASSERT_EQ(0, p.Call(kOpClose));
  ASSERT_EQ(0, p.Call(kOpOpen));
  ASSERT_EQ(0, p.Call(kOpGetFilePtr, 3));
  EXPECT_EQ("changed again", p.Name());
  ASSERT_EQ(0, p.Call(kOpClose));
}

// Off for a defect: an ADD that reuses a deleted record writes the record live before the
// header takes it off the deleted chain; when the header write fails the chain's head is a
// live record and every later OPEN gives 36. A DELETE whose header write fails leaves a
// record marked deleted that the deleted count does not count.
TEST_F(FaultReturnTest, FailedReuseOrDeleteLeavesTheDeletedChainSound) {
  EXPECT_GE(EveryWriteFails(ENOSPC, 5, Add), 2);
  EXPECT_GE(EveryWriteFails(ENOSPC, 5, Delete), 2);
  EXPECT_GE(EveryWriteFails(EIO, 329, Add, 0x42), 2);  // shared: re-read under the header lock
}

TEST_F(FaultReturnTest, ShortWriteAndFailedFlushAreWriteFaults) {
  People p(Name());
  ASSERT_EQ(0, p.Call(kOpOpen));
  FaultFileSystem faults;
  ScopedFileSystem installed(faults);
  faults.ShortWriteNth(1, 3);
  EXPECT_EQ(329, Add(p));
  faults.FailNth(FaultOp::kSync, 1, EIO);
  EXPECT_EQ(329, p.AddNamed(10, "flush fails"));  // written, but not known to be on disk
  ASSERT_EQ(0, p.Call(kOpClose));
}

TEST_F(FaultReturnTest, ReadFailuresAndShortReadsGive36) {
  People p(Name());
  ASSERT_EQ(0, p.Call(kOpOpen));
  FaultFileSystem faults;
  ScopedFileSystem installed(faults);
  // A record that cannot be read is reported as a damaged file.
  faults.FailNth(FaultOp::kRead, 1, EIO);
  EXPECT_EQ(kErrInvalidDataFile, p.Call(kOpGetFilePtr, 1));
  EXPECT_EQ(kErrRecordNotAvailable, p.Call(kOpPut));  // the failed read left no current record
  faults.ShortReadNth(1);
  EXPECT_EQ(kErrInvalidDataFile, p.Call(kOpGetFilePtr, 3));
  EXPECT_EQ(0, p.Call(kOpGetFilePtr, 3));
  EXPECT_EQ("rec3", p.Name());
  ASSERT_EQ(0, p.Call(kOpClose));

  faults.ShortReadNth(1);
  EXPECT_EQ(kErrInvalidDataFile, p.Call(kOpOpen));  // the header
  faults.FailNth(FaultOp::kOpen, 1, EMFILE);
  EXPECT_EQ(kErrTooManyOpenFiles, p.Call(kOpOpen));
  faults.FailNth(FaultOp::kOpen, 1, EACCES);
  EXPECT_EQ(kErrAccessDenied, p.Call(kOpOpen));
  EXPECT_EQ(0, p.Call(kOpOpen));
  ASSERT_EQ(0, p.Call(kOpClose));
}

TEST_F(FaultReturnTest, HeaderLockFailuresOfASharedFile) {
  People p(Name());
  ASSERT_EQ(0, p.Call(kOpShare, 0, "", 0x2));
  FaultFileSystem faults;
  ScopedFileSystem installed(faults);
  // Locking not supported counts as success.
  faults.FailNth(FaultOp::kLock, 1, EINVAL);
  EXPECT_EQ(0, p.AddNamed(20, "no locking"));
  // A bad handle ends the program with its message (here the handler returns: 5).
  faults.FailNth(FaultOp::kLock, 1, EBADF);
  EXPECT_EQ(kErrAccessDenied, p.AddNamed(21, "bad handle"));
  ASSERT_EQ(1u, gHalts.size());
  EXPECT_EQ("DOS FILE LOCKING ERROR", gHalts[0]);
  // A lock that stays taken for a second is refused with 5.
  faults.FailNth(FaultOp::kLock, 1, EAGAIN, -1);
  EXPECT_EQ(kErrAccessDenied, p.AddNamed(22, "busy"));
  faults.Reset();
  ASSERT_EQ(0, p.Call(kOpClose));
  std::string state = State();
  EXPECT_NE(std::string::npos, state.find("no locking"));
  EXPECT_EQ(std::string::npos, state.find("bad handle"));
  EXPECT_EQ(std::string::npos, state.find("busy"));
}

TEST_F(FaultReturnTest, JournalFailuresGive48AndRollbackStillRestores) {
  testing::StageEveryWrite stage;
  auto onJournal = [](const std::string& path) { return path.ends_with(".TR$"); };
  People p(Name());
  ASSERT_EQ(0, p.Call(kOpOpen));
  {
    FaultFileSystem faults;
    ScopedFileSystem installed(faults);
    faults.SetPathFilter(onJournal);
    faults.FailNth(FaultOp::kOpen, 1, EACCES);
    EXPECT_EQ(kErrUnableToLog, p.Call(kOpLogout));
  }
  for (int k = 1; k <= 4; ++k) {
    SCOPED_TRACE(k);
    FaultFileSystem faults;
    ScopedFileSystem installed(faults);
    ASSERT_EQ(0, p.Call(kOpLogout));
    EXPECT_EQ(0, Put(p));
    faults.SetPathFilter(onJournal);
    faults.FailNth(FaultOp::kWrite, k, ENOSPC, -1);
    int add = p.AddNamed(30, "journal full");
    int del = Delete(p);
    EXPECT_TRUE(add == kErrUnableToLog || del == kErrUnableToLog) << add << " " << del;
    faults.Reset();
    EXPECT_EQ(0, p.Call(kOpRollback));
    ASSERT_EQ(0, p.Call(kOpClose));
    EXPECT_EQ(before_, State());
    ASSERT_EQ(0, p.Call(kOpOpen));
  }
  ASSERT_EQ(0, p.Call(kOpClose));
  // No folder for the journal: no name can be made.
  testing::WriteAll(dir_.File("config") + "/korawin1/win.ini",
                    "[VWC21]\nVELTMP=" + dir_.File("missing") + "\n");
  ASSERT_EQ(0, p.Call(kOpOpen));
  EXPECT_EQ(kErrLogoutActive, p.Call(kOpLogout));
  ASSERT_EQ(0, p.Call(kOpClose));
}

TEST_F(FaultReturnTest, FailedRollbackGives65AndTheNextOpenFinishesIt) {
  testing::StageEveryWrite stage;
  People p(Name());
  {
    FaultFileSystem faults;
    ScopedFileSystem installed(faults);
    faults.SetPathFilter([this](const std::string& path) { return OnData(path); });
    ASSERT_EQ(0, p.Call(kOpOpen));
    ASSERT_EQ(0, p.Call(kOpLogout));
    ASSERT_EQ(0, Put(p));
    ASSERT_EQ(0, p.AddNamed(40, "grows"));
    ASSERT_EQ(0, Delete(p));
    faults.FailNth(FaultOp::kWrite, 2, EIO, -1);
    EXPECT_EQ(kErrUnableToRollback, p.Call(kOpRollback));
  }
  p.Call(kOpClose);
  EXPECT_TRUE(testing::Exists(dir_.File("f.LOG")));
  EXPECT_EQ(before_, State());
  EXPECT_FALSE(testing::Exists(dir_.File("f.LOG")));
}

// When the size of a file cannot be learnt inside a transaction the journal cannot tell old
// bytes from growth: the write is refused rather than logged as "grew at 0", which ROLLBACK
// would turn into a cut of the whole file.
TEST_F(FaultReturnTest, SizeFailureInsideATransactionDoesNotLetRollbackDestroyTheFile) {
  testing::StageEveryWrite stage;
  People p(Name());
  int put;
  {
    FaultFileSystem faults;
    ScopedFileSystem installed(faults);
    faults.SetPathFilter([this](const std::string& path) { return OnData(path); });
    ASSERT_EQ(0, p.Call(kOpOpen));
    ASSERT_EQ(0, p.Call(kOpLogout));
    ASSERT_EQ(0, p.Call(kOpGetFilePtr, 3));
    p.Set(3, "changed");
    faults.FailNth(FaultOp::kSize, 1, EIO);
    put = p.Call(kOpPut);
  }
  EXPECT_EQ(kErrUnableToLog, put);
  EXPECT_EQ(0, p.Call(kOpRollback));
  ASSERT_EQ(0, p.Call(kOpClose));
  EXPECT_EQ(before_, State());
}

// COMMIT throws the journal away only once the changes are on disk; when the flush fails the
// transaction goes on, and ROLLBACK still undoes it.
TEST_F(FaultReturnTest, FailedFlushAtCommitKeepsTheTransactionForRollback) {
  People p(Name());
  {
    FaultFileSystem faults;
    ScopedFileSystem installed(faults);
    faults.SetPathFilter([this](const std::string& path) { return OnData(path); });
    ASSERT_EQ(0, p.Call(kOpOpen));
    ASSERT_EQ(0, p.Call(kOpLogout));
    ASSERT_EQ(0, Put(p));
    ASSERT_EQ(0, Delete(p));
    faults.FailNth(FaultOp::kSync, 1, EIO);
    EXPECT_EQ(kErrWriteFault, p.Call(kOpCommit));
    EXPECT_TRUE(Journal::Instance().active());
    EXPECT_TRUE(testing::Exists(dir_.File("f.LOG")));
  }
  EXPECT_EQ(0, p.Call(kOpRollback));
  EXPECT_FALSE(testing::Exists(dir_.File("f.LOG")));
  ASSERT_EQ(0, p.Call(kOpClose));
  EXPECT_EQ(before_, State());
}

}  // namespace
}  // namespace korawin::storage::dat
