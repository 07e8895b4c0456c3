// LOGOUT transactions: rollback, commit, and recovery at OPEN after a station died.
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/file.h"
#include "storage/dat/journal.h"
#include "tests/storage/dat_test_util.h"
#include "tests/support/fault_fs.h"

namespace korawin::storage::dat {
namespace {

using testing::People;
using testing::TempDir;

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The journal goes to VELTMP of the test's own win.ini.
    std::string config = dir_.File("config");
    ::mkdir(config.c_str(), 0755);
    ::mkdir((config + "/korawin1").c_str(), 0755);
    ::mkdir(dir_.File("tmp").c_str(), 0755);
    testing::WriteAll(config + "/korawin1/win.ini", "[VWC21]\nVELTMP=" + dir_.File("tmp") + "\n");
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    // Every write of a transaction goes to its file at once (its undo flushed to the journal
    // first), so that the files on disk show what a crash or another station meets.
    Journal::Instance().set_keep_limit(0);
    ASSERT_EQ(0, p_.Call(kOpCreate));
    ASSERT_EQ(0, p_.Call(kOpOpen));
    for (int i = 1; i <= 4; ++i) ASSERT_EQ(0, p_.AddNamed(i, "before" + std::to_string(i)));
    ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 2));
    ASSERT_EQ(0, p_.Call(kOpDelete));
  }
  void TearDown() override {
    Journal::Instance().set_keep_limit(Journal::kDefaultKeepLimit);
    ::unsetenv("XDG_CONFIG_HOME");
  }
  std::string Data() { return testing::ReadAll(dir_.File("j.DAT")); }
  int TmpFiles() {
    int n = 0;
    if (DIR* d = ::opendir(dir_.File("tmp").c_str())) {
      while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
      ::closedir(d);
    }
    return n;
  }
  // A marker's text: the journal's path, NUL-padded to 79 bytes.
  static std::string Padded(std::string path) {
    path.resize(79, '\0');
    return path;
  }
  static std::string JournalNamedBy(const std::string& marker) {
    std::string text = testing::ReadAll(marker);
    return text.substr(0, text.find('\0'));
  }
  // Another program changes j in a transaction and is killed before it ends.
  void KillStationInATransaction() {
    int ready[2];
    ASSERT_EQ(0, ::pipe(ready));
    pid_t child = ::fork();
    if (child == 0) {
      People q(dir_.File("j"));
      if (q.Call(kOpOpen) || q.Call(kOpLogout)) ::_exit(1);
      for (int i = 0; i < 50; ++i)
        if (q.AddNamed(100 + i, "doomed")) ::_exit(2);
      if (q.Call(kOpGetFilePtr, 1)) ::_exit(3);
      q.Set(1, "doomed");
      if (q.Call(kOpPut) || q.Call(kOpGetFilePtr, 3) || q.Call(kOpDelete)) ::_exit(4);
      char c = 1;
      (void)!::write(ready[1], &c, 1);
      for (;;) ::pause();
    }
    char c = 0;
    EXPECT_EQ(1, ::read(ready[0], &c, 1));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    ::close(ready[1]);
  }
  // Adds, rewrites, deletes and empties inside the running transaction.
  void ChangeEverything(People& p) {
    ASSERT_EQ(0, p.AddNamed(5, "new5"));  // reuses record 2
    ASSERT_EQ(0, p.AddNamed(6, "new6"));  // grows the file
    ASSERT_EQ(0, p.Call(kOpGetFilePtr, 1));
    p.Set(1, "changed");
    ASSERT_EQ(0, p.Call(kOpPut));
    ASSERT_EQ(0, p.Call(kOpGetFilePtr, 3));
    ASSERT_EQ(0, p.Call(kOpDelete));
  }

  TempDir dir_;
  People p_{dir_.File("j")};
};

TEST_F(JournalTest, RollbackRestoresEveryByteAndRemovesJournalAndMarker) {
  const std::string before = Data();
  ASSERT_EQ(0, p_.Call(kOpLogout));
  ChangeEverything(p_);
  EXPECT_TRUE(testing::Exists(dir_.File("j.LOG")));
  EXPECT_EQ(1, TmpFiles());
  EXPECT_NE(before, Data());
  ASSERT_EQ(0, p_.Call(kOpRollback));
  EXPECT_EQ(before, Data());
  EXPECT_FALSE(testing::Exists(dir_.File("j.LOG")));
  EXPECT_EQ(0, TmpFiles());
  // The file's own state followed the rollback: record 2 is deleted again and reusable.
  EXPECT_EQ(3, p_.Value(kOpRecordsFile));
  ASSERT_EQ(0, p_.AddNamed(7, "after"));
  EXPECT_EQ(2, p_.Value(kOpPointerFile));
}

// Within the bound, a transaction's writes wait in memory: the files don't change before
// COMMIT, the driver reads the changes all the same, and a ROLLBACK never touches the files.
TEST_F(JournalTest, WritesWaitInMemoryUntilCommit) {
  Journal::Instance().set_keep_limit(Journal::kDefaultKeepLimit);
  const std::string before = Data();
  ASSERT_EQ(0, p_.Call(kOpLogout));
  ChangeEverything(p_);
  EXPECT_EQ(before, Data());
  EXPECT_FALSE(testing::Exists(dir_.File("j.LOG")));
  ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 1));
  EXPECT_EQ("changed", p_.Name());
  EXPECT_EQ(4, p_.Value(kOpRecordsFile));
  ASSERT_EQ(0, p_.Call(kOpRollback));
  EXPECT_EQ(before, Data());
  ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 1));
  EXPECT_EQ("before1", p_.Name());

  ASSERT_EQ(0, p_.Call(kOpLogout));
  ChangeEverything(p_);
  ASSERT_EQ(0, p_.Call(kOpCommit));
  EXPECT_NE(before, Data());
  EXPECT_EQ(0, TmpFiles());
  ASSERT_EQ(0, p_.Call(kOpClose));
  People again(dir_.File("j"));
  ASSERT_EQ(0, again.Call(kOpOpen));
  ASSERT_EQ(0, again.Call(kOpGetFilePtr, 1));
  EXPECT_EQ("changed", again.Name());
}

// Records appended one after another are kept as several writes of a bounded size, not one
// growing string: every record still reads back inside the transaction, a rollback leaves the
// file as it was, and a commit writes them all.
TEST_F(JournalTest, LongRunsOfAppendsReadBackRollBackAndCommit) {
  Journal::Instance().set_keep_limit(Journal::kDefaultKeepLimit);
  const std::string before = Data();
  constexpr int kCards = 50000;  // 1.5 MB of records
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(0, p_.Call(kOpLogout));
    for (int i = 1; i <= kCards; ++i) ASSERT_EQ(0, p_.AddNamed(100 + i, "run" + std::to_string(i)));
    EXPECT_EQ(before, Data());
    // The first takes the deleted record 2; the rest follow record 4.
    ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 2));
    EXPECT_EQ("run1", p_.Name());
    for (int n : {5, kCards / 2, kCards + 3}) {
      ASSERT_EQ(0, p_.Call(kOpGetFilePtr, n));
      EXPECT_EQ("run" + std::to_string(n - 3), p_.Name()) << n;
    }
    if (round == 0) {
      ASSERT_EQ(0, p_.Call(kOpRollback));
      EXPECT_EQ(before, Data());
    } else {
      ASSERT_EQ(0, p_.Call(kOpCommit));
    }
  }
  ASSERT_EQ(0, p_.Call(kOpClose));
  ASSERT_EQ(0, p_.Call(kOpOpen));
  EXPECT_EQ(3 + kCards, p_.Value(kOpRecordsFile));
  for (int n = 5; n <= kCards + 3; ++n) {
    ASSERT_EQ(0, p_.Call(kOpGetFilePtr, n));
    ASSERT_EQ("run" + std::to_string(n - 3), p_.Name()) << n;
  }
}

// A transaction flushes as often whatever its size: the journal once, each marker and its
// folder, the journal's folder, each file written, the journal's cut. Past the bound each
// further stage adds its journal flush.
TEST_F(JournalTest, FlushesPerTransactionDoNotGrowWithItsSize) {
  Journal::Instance().set_keep_limit(Journal::kDefaultKeepLimit);
  People other(dir_.File("k"));
  ASSERT_EQ(0, other.Call(kOpCreate));
  ASSERT_EQ(0, other.Call(kOpOpen));
  int32_t next = 1000;
  auto flushes = [&](int cards, bool both) {
    test::FaultFileSystem faults;
    test::ScopedFileSystem installed(faults);
    EXPECT_EQ(0, p_.Call(kOpLogout));
    if (both) {
      EXPECT_EQ(0, other.Call(kOpLogout));
    }
    for (int i = 0; i < cards; ++i) {
      EXPECT_EQ(0, p_.AddNamed(++next, "card"));
      if (both) {
        EXPECT_EQ(0, other.AddNamed(next, "card"));
      }
    }
    EXPECT_EQ(0, p_.Call(kOpCommit));
    return faults.Count(test::FaultOp::kSync) + faults.Count(test::FaultOp::kSyncDirectory);
  };
  // One data file with its key: 3 + 2 x 1 + 2.
  EXPECT_EQ(7, flushes(1, false));
  EXPECT_EQ(7, flushes(800, false));
  // Two, their markers in one folder: one folder flush for both, so below 3 + 2 x 2 + 4.
  EXPECT_EQ(10, flushes(800, true));
  // Past the bound: added records need no undo but their place, so the stages flush nothing
  // more; rewritten ones save their old bytes, and each stage that saves flushes once more.
  Journal::Instance().set_keep_limit(8 << 10);
  EXPECT_EQ(7, flushes(800, false));
  test::FaultFileSystem faults;
  {
    test::ScopedFileSystem installed(faults);
    ASSERT_EQ(0, p_.Call(kOpLogout));
    ASSERT_EQ(0, p_.Call(kOpSetFile));
    while (p_.Call(kOpNext) == 0) {
      p_.Set(p_.Id(), "rewritten");
      ASSERT_EQ(0, p_.Call(kOpPut));
    }
    ASSERT_EQ(0, p_.Call(kOpCommit));
  }
  int staged = faults.Count(test::FaultOp::kSync) + faults.Count(test::FaultOp::kSyncDirectory);
  EXPECT_GT(staged, 7 + 3) << staged;  // 2403 records of 30 bytes, 8 KB at a time
  EXPECT_LT(staged, 7 + 30);
  ASSERT_EQ(0, p_.Call(kOpClose));
  ASSERT_EQ(0, p_.Call(kOpOpen));
  EXPECT_EQ(3 + 1 + 3 * 800, p_.Value(kOpRecordsFile));
  ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 2000));
  EXPECT_EQ("rewritten", p_.Name());
}

// An entry's check is the standard CRC-32 of its offset, head, bytes and trailer, so journals
// written before stay readable (the value is zlib's crc32 of the same bytes).
TEST(JournalEntryTest, CheckIsTheCrc32OfTheEntryAndItsOffset) {
  const std::string body = "old bytes of a record, saved";
  const std::string entry = EncodeJournalEntry(4096, 1234, 3, body);
  ASSERT_EQ(8 + body.size() + 8, entry.size());
  EXPECT_EQ(0x7a747593u, testing::Read32(entry, 4));
}

TEST_F(JournalTest, RollbackUndoesEmptyAndCommitKeepsChanges) {
  const std::string before = Data();
  ASSERT_EQ(0, p_.Call(kOpLogout));
  ASSERT_EQ(0, p_.Call(kOpEmpty));
  EXPECT_LT(Data().size(), before.size());
  ASSERT_EQ(0, p_.Call(kOpRollback));
  EXPECT_EQ(before, Data());

  ASSERT_EQ(0, p_.Call(kOpLogout));
  ChangeEverything(p_);
  const std::string after = Data();
  ASSERT_EQ(0, p_.Call(kOpCommit));
  EXPECT_EQ(after, Data());
  EXPECT_FALSE(testing::Exists(dir_.File("j.LOG")));
  EXPECT_EQ(0, TmpFiles());
  ASSERT_EQ(0, p_.Call(kOpRollback));  // nothing left to undo
  EXPECT_EQ(after, Data());
}

TEST_F(JournalTest, AnyStreamCanTakePartAndCloseBeforeTheRollback) {
  // A second file of the data file (as a key file would be) written through its own stream.
  const std::string side = dir_.File("j.SID");
  testing::WriteAll(side, std::string(1024, 'k'));
  DatStream key;
  ASSERT_EQ(0, key.Open(side, 0x42));
  const std::string before = Data();
  ASSERT_EQ(0, p_.Call(kOpLogout));
  ASSERT_EQ(0, Journal::Instance().Join(key, p_.dat().path()));
  ASSERT_EQ(0, key.Write(512, std::string(700, 'z').data(), 700));
  ASSERT_EQ(0, key.Truncate(100));
  EXPECT_EQ(0, Journal::Instance().Leave(key));
  key.Close();
  ChangeEverything(p_);
  ASSERT_EQ(0, p_.Call(kOpClose));  // closed files are reopened by the rollback
  ASSERT_EQ(0, Journal::Instance().Rollback());
  EXPECT_EQ(std::string(1024, 'k'), testing::ReadAll(side));
  EXPECT_EQ(before, Data());
}

TEST_F(JournalTest, StationKilledInATransactionIsRolledBackByTheNextOpen) {
  ASSERT_EQ(0, p_.Call(kOpClose));
  const std::string before = Data();
  KillStationInATransaction();
  ASSERT_NE(before, Data());
  ASSERT_TRUE(testing::Exists(dir_.File("j.LOG")));

  People again(dir_.File("j"));
  ASSERT_EQ(0, again.Call(kOpOpen));
  EXPECT_EQ(before, Data());
  EXPECT_FALSE(testing::Exists(dir_.File("j.LOG")));
  EXPECT_EQ(0, TmpFiles());
  EXPECT_EQ(3, again.Value(kOpRecordsFile));
  ASSERT_EQ(0, again.Call(kOpGetFilePtr, 1));
  EXPECT_EQ("before1", again.Name());
}

// A crash in the middle of an append leaves a tail that is not a whole entry, or whose bytes
// do not match their check; the entries before it are still rolled back.
TEST_F(JournalTest, TornJournalTailIsIgnoredAndTheRestRolledBack) {
  ASSERT_EQ(0, p_.Call(kOpClose));
  const std::string before = Data();
  for (int variant = 0; variant < 2; ++variant) {
    SCOPED_TRACE(variant);
    KillStationInATransaction();
    const std::string journal = JournalNamedBy(dir_.File("j.LOG"));
    std::string bytes = testing::ReadAll(journal);
    ASSERT_GT(bytes.size(), 100u);
    if (variant == 0) {
      bytes += bytes.substr(0, 40);  // the first half of an append
    } else {
      // A whole entry that was not written where it lies (its check fails there), as when a
      // torn write lets later sectors land before earlier ones. It names bytes of record 4,
      // which the transaction never touched, so nothing else would put them right.
      bytes += EncodeJournalEntry(0, static_cast<uint32_t>(before.size() - 10), 1,
                                  std::string(8, 'x'));
    }
    testing::WriteAll(journal, bytes);
    People again(dir_.File("j"));
    ASSERT_EQ(0, again.Call(kOpOpen));
    EXPECT_EQ(before, Data());
    EXPECT_FALSE(testing::Exists(dir_.File("j.LOG")));
    EXPECT_EQ(0, TmpFiles());
    ASSERT_EQ(0, again.Call(kOpClose));
  }
}

TEST_F(JournalTest, TransactionOfARunningStationIsNotRolledBack) {
  ASSERT_EQ(0, p_.Call(kOpClose));
  int ready[2], done[2];
  ASSERT_EQ(0, ::pipe(ready));
  ASSERT_EQ(0, ::pipe(done));
  pid_t child = ::fork();
  if (child == 0) {
    People q(dir_.File("j"));
    if (q.Call(kOpShare, 0, "", 0x2) || q.Call(kOpLogout) || q.AddNamed(9, "running")) ::_exit(1);
    char c = 1;
    (void)!::write(ready[1], &c, 1);
    (void)!::read(done[0], &c, 1);
    ::_exit(q.Call(kOpCommit));
  }
  char c = 0;
  ASSERT_EQ(1, ::read(ready[0], &c, 1));
  People other(dir_.File("j"));
  ASSERT_EQ(0, other.Call(kOpShare, 0, "", 0x2));
  EXPECT_EQ(4, other.Value(kOpRecordsFile));  // the running station's ADD stands
  EXPECT_TRUE(testing::Exists(dir_.File("j.LOG")));
  (void)!::write(done[1], &c, 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_FALSE(testing::Exists(dir_.File("j.LOG")));
  for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
}

TEST_F(JournalTest, DamagedMarkersAndJournalsStopTheOpen) {
  ASSERT_EQ(0, p_.Call(kOpClose));
  const std::string before = Data();
  const std::string marker = dir_.File("j.LOG");
  People q(dir_.File("j"));

  testing::WriteAll(marker, "short");
  EXPECT_EQ(kErrUnableToRollback, q.Call(kOpOpen));
  // The journal's folder is missing (an unmounted VELTMP, say): nothing proves the
  // transaction ended.
  testing::WriteAll(marker, Padded(dir_.File("nofolder/VWgone.TR$")));
  EXPECT_EQ(kErrLogoutActive, q.Call(kOpOpen));
  // A sound entry for a file that the journal never registered.
  std::string journal = dir_.File("tmp/VWnoreg.TR$");
  testing::WriteAll(journal, EncodeJournalEntry(0, 85, 1, std::string(10, 'x')));
  testing::WriteAll(marker, Padded(journal));
  EXPECT_EQ(kErrUnableToRollback, q.Call(kOpOpen));
  EXPECT_EQ(before, Data());  // nothing was written
  EXPECT_TRUE(testing::Exists(marker));
  ::unlink(marker.c_str());
  EXPECT_EQ(0, q.Call(kOpOpen));
}

// A journal and its marker are trusted only as far as they prove to belong together: the
// journal a marker names is a journal by its name, and a file the journal registers is a
// file of a data file whose marker names this journal. Anything else is refused before a
// byte is written or a file removed.
TEST_F(JournalTest, JournalsThatNameFilesOutsideTheirTransactionAreRefused) {
  ASSERT_EQ(0, p_.Call(kOpClose));
  const std::string before = Data();
  const std::string marker = dir_.File("j.LOG");
  const std::string other = dir_.File("i.DAT");
  const std::string otherMarker = dir_.File("i.LOG");
  const std::string journal = dir_.File("tmp/VWlies.TR$");
  testing::WriteAll(other, "0123456789");
  // A registration as the driver writes it: number, flags, the file, its data file's marker.
  auto registration = [](uint16_t number, const std::string& path, const std::string& m) {
    std::string r = {static_cast<char>(number), static_cast<char>(number >> 8), 0,
                     static_cast<char>(path.size()), static_cast<char>(path.size() >> 8)};
    r += path;
    r += {static_cast<char>(m.size()), static_cast<char>(m.size() >> 8)};
    r += m;
    r.resize(std::max<size_t>(r.size(), 83), '\0');
    return r;
  };
  // Registrations, then one entry per registered file that puts "abc" at position 2.
  auto lay = [&](const std::vector<std::pair<std::string, std::string>>& files) {
    std::string bytes;
    uint16_t n = 0;
    for (auto& [path, m] : files)
      bytes += EncodeJournalEntry(bytes.size(), 0, 0, registration(++n, path, m));
    for (uint16_t i = 1; i <= n; ++i) bytes += EncodeJournalEntry(bytes.size(), 2, i, "abc");
    testing::WriteAll(journal, bytes);
    testing::WriteAll(marker, Padded(journal));
  };
  People q(dir_.File("j"));

  // The marker names the data file itself as its journal.
  testing::WriteAll(marker, Padded(dir_.File("j.DAT")));
  EXPECT_EQ(kErrUnableToRollback, q.Call(kOpOpen));
  // A file of another data file, under this file's marker.
  lay({{dir_.File("j.DAT"), marker}, {other, marker}});
  EXPECT_EQ(kErrUnableToRollback, q.Call(kOpOpen));
  // The data file given as the marker to remove after the replay.
  lay({{dir_.File("j.DAT"), dir_.File("j.DAT")}});
  EXPECT_EQ(kErrUnableToRollback, q.Call(kOpOpen));
  // Another data file whose marker names another journal.
  testing::WriteAll(otherMarker, Padded(dir_.File("tmp/VWother.TR$")));
  lay({{other, otherMarker}});
  EXPECT_EQ(kErrUnableToRollback, q.Call(kOpOpen));
  EXPECT_EQ(before, Data());
  EXPECT_EQ("0123456789", testing::ReadAll(other));
  EXPECT_TRUE(testing::Exists(marker));
  EXPECT_TRUE(testing::Exists(otherMarker));

  // Once that marker names this journal, both files belong to the transaction.
  testing::WriteAll(otherMarker, Padded(journal));
  lay({{other, otherMarker}});
  ASSERT_EQ(0, q.Call(kOpOpen));
  EXPECT_EQ("01abc56789", testing::ReadAll(other));
  EXPECT_EQ(before, Data());
  EXPECT_FALSE(testing::Exists(marker));
  EXPECT_FALSE(testing::Exists(otherMarker));
  EXPECT_EQ(0, TmpFiles());
}

// COMMIT empties the journal before it removes the markers and then the journal; a crash in
// between, or the recovery of another file of the transaction, leaves markers that name an
// empty or a removed journal. Their transaction is over: OPEN removes them and goes on.
TEST_F(JournalTest, MarkersOfAFinishedTransactionAreRemovedByTheOpen) {
  ASSERT_EQ(0, p_.Call(kOpLogout));
  ASSERT_EQ(0, p_.AddNamed(5, "kept"));
  ASSERT_EQ(0, p_.Call(kOpClose));
  const std::string after = Data();
  const std::string marker = dir_.File("j.LOG");
  ASSERT_TRUE(testing::Exists(marker));
  const std::string journal = JournalNamedBy(marker);
  // What the crash would have left: an emptied journal that nobody holds any more.
  ASSERT_EQ(0, Journal::Instance().Commit());
  testing::WriteAll(journal, "");
  testing::WriteAll(marker, Padded(journal));
  People q(dir_.File("j"));
  ASSERT_EQ(0, q.Call(kOpOpen));
  EXPECT_EQ(after, Data());
  EXPECT_FALSE(testing::Exists(marker));
  EXPECT_EQ(0, TmpFiles());
  ASSERT_EQ(0, q.Call(kOpClose));

  testing::WriteAll(marker, Padded(dir_.File("tmp/VWgone.TR$")));
  ASSERT_EQ(0, q.Call(kOpOpen));
  EXPECT_EQ(after, Data());
  EXPECT_FALSE(testing::Exists(marker));
  EXPECT_EQ(4, q.Value(kOpRecordsFile));
}

}  // namespace
}  // namespace korawin::storage::dat
