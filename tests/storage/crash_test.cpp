// Crash recovery of DAT files: a workload of transactions (and of single statements) is cut
// at every write point in turn; the next OPEN must find every file sound and each one as it
// was before or after the step that the crash interrupted.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/storage/dat_test_util.h"
#include "tests/support/crash_harness.h"
#include "tests/support/dat_check.h"

namespace korawin::storage::dat {
namespace {

using storage::dat::testing::People;
using test::CrashContext;
using test::CrashHarness;
using test::CrashOptions;
using test::CrashReport;

// Stops the child when a statement fails although no fault was injected yet: the states the
// harness compares with would be wrong otherwise.
void Must(CrashContext& ctx, int code, const char* what) {
  if (code == 0 || ctx.fs().crashed()) return;
  std::fprintf(stderr, "%s gives %d\n", what, code);
  ::_exit(3);
}

int Change(People& p, int64_t record, int32_t id, const std::string& name) {
  int err = p.Call(kOpGetFilePtr, record);
  if (err) return err;
  p.Set(id, name, static_cast<uint8_t>(id));
  return p.Call(kOpPut);
}

int Remove(People& p, int64_t record) {
  int err = p.Call(kOpGetFilePtr, record);
  return err ? err : p.Call(kOpDelete);
}

// alpha: records 1..6 with 2 and 4 deleted (chain 4, 2); beta: records 1..3.
void MakeFolder(const std::string& folder) {
  People alpha(folder + "/alpha");
  ASSERT_EQ(0, alpha.Call(kOpCreate));
  ASSERT_EQ(0, alpha.Call(kOpOpen));
  for (int i = 1; i <= 6; ++i) ASSERT_EQ(0, alpha.AddNamed(i, "alpha" + std::to_string(i)));
  ASSERT_EQ(0, Remove(alpha, 2));
  ASSERT_EQ(0, Remove(alpha, 4));
  ASSERT_EQ(0, alpha.Call(kOpClose));
  People beta(folder + "/beta");
  ASSERT_EQ(0, beta.Call(kOpCreate));
  ASSERT_EQ(0, beta.Call(kOpOpen));
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(0, beta.AddNamed(100 + i, "beta" + std::to_string(i)));
  ASSERT_EQ(0, beta.Call(kOpClose));
}

std::string Dump(const std::string& folder, std::string* damage) {
  People alpha(folder + "/alpha"), beta(folder + "/beta");
  std::string state = test::CheckDatFile(alpha.file(), damage);
  return state + test::CheckDatFile(beta.file(), damage);
}

// Five transactions over two files: reuse and growth, rewrite, delete, EMPTY, a rollback and a
// batch of appends. The rollback spans both files or alpha alone.
void TransactionsOver(CrashContext& ctx, bool rollbackBoth) {
  People alpha(ctx.folder() + "/alpha"), beta(ctx.folder() + "/beta");
  Must(ctx, alpha.Call(kOpOpen), "OPEN alpha");
  Must(ctx, beta.Call(kOpOpen), "OPEN beta");

  Must(ctx, alpha.Call(kOpLogout), "LOGOUT alpha");
  Must(ctx, beta.Call(kOpLogout), "LOGOUT beta");
  Must(ctx, alpha.AddNamed(7, "reuses4"), "ADD 7");
  Must(ctx, alpha.AddNamed(8, "reuses2"), "ADD 8");
  Must(ctx, alpha.AddNamed(9, "grows"), "ADD 9");
  Must(ctx, Change(beta, 1, 101, "beta1 changed"), "PUT beta 1");
  Must(ctx, alpha.Call(kOpCommit), "COMMIT 1");
  if (!ctx.Step()) return;

  Must(ctx, alpha.Call(kOpLogout), "LOGOUT alpha");
  Must(ctx, Change(alpha, 3, 3, "alpha3 changed"), "PUT alpha 3");
  Must(ctx, Remove(alpha, 5), "DELETE alpha 5");
  Must(ctx, Remove(alpha, 1), "DELETE alpha 1");
  Must(ctx, alpha.AddNamed(10, "reuses1"), "ADD 10");
  Must(ctx, alpha.Call(kOpCommit), "COMMIT 2");
  if (!ctx.Step()) return;

  Must(ctx, beta.Call(kOpLogout), "LOGOUT beta");
  Must(ctx, beta.Call(kOpEmpty), "EMPTY beta");
  Must(ctx, beta.AddNamed(201, "after empty"), "ADD beta");
  Must(ctx, beta.Call(kOpCommit), "COMMIT 3");
  if (!ctx.Step()) return;

  Must(ctx, alpha.Call(kOpLogout), "LOGOUT alpha");
  if (rollbackBoth) Must(ctx, beta.Call(kOpLogout), "LOGOUT beta");
  Must(ctx, Remove(alpha, 3), "DELETE alpha 3");
  if (rollbackBoth) Must(ctx, beta.AddNamed(202, "rolled back"), "ADD beta");
  Must(ctx, alpha.Call(kOpRollback), "ROLLBACK");
  if (!ctx.Step()) return;

  Must(ctx, alpha.Call(kOpLogout), "LOGOUT alpha");
  for (int i = 0; i < 8; ++i) Must(ctx, alpha.AddNamed(300 + i, "batch"), "ADD batch");
  Must(ctx, alpha.Call(kOpCommit), "COMMIT 5");
  ctx.Step();
}

void Transactions(CrashContext& ctx) { TransactionsOver(ctx, true); }
void TransactionsRollingBackOneFile(CrashContext& ctx) { TransactionsOver(ctx, false); }

// The same kinds of change as single statements, each its own step.
void Statements(CrashContext& ctx) {
  People alpha(ctx.folder() + "/alpha"), beta(ctx.folder() + "/beta");
  Must(ctx, alpha.Call(kOpOpen), "OPEN alpha");
  Must(ctx, beta.Call(kOpOpen), "OPEN beta");
  Must(ctx, alpha.AddNamed(9, "reuses4"), "ADD 9");
  if (!ctx.Step()) return;
  Must(ctx, Change(alpha, 3, 3, "alpha3 changed"), "PUT alpha 3");
  if (!ctx.Step()) return;
  Must(ctx, Remove(alpha, 5), "DELETE alpha 5");
  if (!ctx.Step()) return;
  Must(ctx, alpha.AddNamed(7, "reuses5"), "ADD 7");
  if (!ctx.Step()) return;
  Must(ctx, beta.Call(kOpEmpty), "EMPTY beta");
  ctx.Step();
}

class CrashTest : public ::testing::Test {
 protected:
  CrashReport Run(const CrashHarness::Workload& workload, const CrashOptions& options) {
    CrashHarness harness(dir_.File("crash"));
    CrashReport report = harness.Run(MakeFolder, workload, Dump, options);
    std::printf("[ crash    ] %s\n", report.Summary().c_str());
    return report;
  }
  testing::TempDir dir_;
};

bool OnDataFile(const std::string& point) { return point.ends_with(".DAT"); }

// A crash at any write of the data files inside the transactions (the journal's own writes,
// COMMIT and a rollback over two files are covered by the tests below).
TEST_F(CrashTest, TransactionsSurviveACrashAtEveryDataFileWrite) {
  CrashOptions options;
  options.pointFilter = OnDataFile;
  CrashReport report = Run(TransactionsRollingBackOneFile, options);
  EXPECT_EQ(5, report.steps);
  EXPECT_GT(report.tried, 40);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
  options.torn = true;
  report = Run(TransactionsRollingBackOneFile, options);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
  options.torn = false;
  options.stopAtCrash = false;
  report = Run(TransactionsRollingBackOneFile, options);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}

// Every write point, the journal's and the markers' included: creating a marker, registering a
// file, a crash in COMMIT or in a rollback over two files.
TEST_F(CrashTest, TransactionsSurviveACrashAtEveryWritePoint) {
  CrashReport report = Run(Transactions, CrashOptions());
  EXPECT_EQ(5, report.steps);
  EXPECT_GT(report.points, 50);
  EXPECT_EQ(report.points, report.tried);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}

// A torn journal append must be recognised as such, not replayed.
TEST_F(CrashTest, TransactionsSurviveATornWriteAtEveryWritePoint) {
  CrashOptions options;
  options.torn = true;
  CrashReport report = Run(Transactions, options);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}

// A power cut loses what was not flushed: the journal must be on disk before the change it
// protects, and the changes before COMMIT throws the journal away.
TEST_F(CrashTest, TransactionsSurviveLosingUnflushedWrites) {
  CrashOptions options;
  options.dropUnsynced = true;
  CrashReport report = Run(Transactions, options);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}

// A power cut also loses the names created, renamed or removed in a folder not yet flushed:
// the journal's own name and the markers must be on disk before a change relies on them.
TEST_F(CrashTest, TransactionsSurviveLosingUnflushedWritesAndNames) {
  CrashOptions options;
  options.dropUnsynced = true;
  options.loseEntries = true;
  CrashReport report = Run(Transactions, options);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}

// Off for a defect of ADD and DELETE outside a transaction: a crash between the record write
// and the header write of an ADD that reuses a deleted record leaves the header's first
// deleted pointing at a live record (OPEN 36 for good); of a DELETE, a deleted record that
// the deleted count does not count.
TEST_F(CrashTest, DISABLED_SingleStatementsOutsideTransactions) {
  CrashReport report = Run(Statements, CrashOptions());
  EXPECT_EQ(5, report.steps);
  EXPECT_EQ(report.tried, report.recovered) << report.Failures();
}

}  // namespace
}  // namespace korawin::storage::dat
