// The DAT driver with key files and a memo file: keyed reads, positions, builds and the upkeep
// of every key and the memo by ADD, PUT, DELETE, EMPTY and ROLLBACK, checked against a model.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "storage/dat/journal.h"
#include "tests/storage/dat_test_util.h"
#include "tests/support/fault_fs.h"

namespace korawin::storage::dat {
namespace {

using testing::TempDir;

// LEX:NAME STRING(12), LEX:THEME STRING(10), LEX:NUM LONG, memo LEX:NOTE MEMO(600).
// Keys: 1 BY_NAME unique NOCASE OPT; 2 BY_THEME DUP NOCASE OPT (theme, then name);
// 3 BY_NUM DUP (num).
struct Lexicon {
  std::unique_ptr<FileDescriptor> fd = std::make_unique<FileDescriptor>();
  std::vector<char> record = std::vector<char>(26, ' ');
  std::vector<char> memo = std::vector<char>(600, ' ');

  explicit Lexicon(const std::string& path) {
    fd->driver = &DatDriverEntry;
    fd->name = path;
    fd->label = "LEXICON";
    fd->attributes = kFileCreate | kFileReclaim;
    fd->recordSize = 26;
    fd->record = record.data();
    auto field = [](uint8_t type, uint32_t offset, uint32_t size, const char* label) {
      FieldDescriptor f;
      f.type = type;
      f.offset = offset;
      f.size = size;
      f.label = label;
      return f;
    };
    fd->fields = {field(kTypeString, 0, 12, "LEX:NAME"), field(kTypeString, 12, 10, "LEX:THEME"),
                  field(kTypeLong, 22, 4, "LEX:NUM")};
    KeyDescriptor byName, byTheme, byNum;
    byName.label = "LEX:BY_NAME";
    byName.attributes = kKeyNoCase | kKeyOpt;
    byName.components = {1};
    byTheme.label = "LEX:BY_THEME";
    byTheme.attributes = kKeyDup | kKeyNoCase | kKeyOpt;
    byTheme.components = {2, 1};
    byNum.label = "LEX:BY_NUM";
    byNum.attributes = kKeyDup;
    byNum.components = {3};
    fd->keys = {byName, byTheme, byNum};
    MemoDescriptor m;
    m.label = "LEX:NOTE";
    m.size = 600;
    m.buffer = memo.data();
    fd->memos = {m};
  }

  void Set(const std::string& name, const std::string& theme, int32_t num,
           const std::string& note = std::string()) {
    std::fill(record.begin(), record.end(), ' ');
    std::copy(name.begin(), name.end(), record.begin());
    std::copy(theme.begin(), theme.end(), record.begin() + 12);
    std::memcpy(record.data() + 22, &num, 4);
    std::fill(memo.begin(), memo.end(), ' ');
    std::copy(note.begin(), note.end(), memo.begin());
  }
  std::string Name() const { return Trim(std::string(record.data(), 12)); }
  std::string Theme() const { return Trim(std::string(record.data() + 12, 10)); }
  int32_t Num() const {
    int32_t n;
    std::memcpy(&n, record.data() + 22, 4);
    return n;
  }
  std::string Note() const { return Trim(std::string(memo.data(), memo.size())); }
  static std::string Trim(std::string s) { return s.erase(s.find_last_not_of(' ') + 1); }

  int Call(uint8_t op, int key = 0, int64_t number = 0, const std::string& text = {},
           unsigned mode = 0x22) {
    DriverArgs args;
    args.key = key;
    args.number = number;
    args.text = text;
    args.mode = mode;
    return CallDriver(op, *fd, args);
  }
  DriverArgs Ask(uint8_t op, int key = 0, const std::string& text = {}) {
    DriverArgs args;
    args.key = key;
    args.text = text;
    EXPECT_EQ(0, CallDriver(op, *fd, args)) << OperationName(op);
    return args;
  }
  int64_t Pointer() { return Ask(kOpPointerFile).value; }
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// What the file should hold: record number -> (name, theme, num, note).
struct Row {
  std::string name, theme;
  int32_t num;
  std::string note;
};
using Model = std::map<uint32_t, Row>;

// The record numbers a key should yield, in key order.
std::vector<uint32_t> Expected(const Model& model, int key) {
  std::vector<std::tuple<std::string, std::string, int64_t, uint32_t>> rows;
  for (const auto& [n, r] : model) {
    if (key == 1 && r.name.empty()) continue;
    if (key == 2 && r.name.empty() && r.theme.empty()) continue;
    if (key == 1) rows.emplace_back(Upper(r.name), "", 0, n);
    if (key == 2) rows.emplace_back(Upper(r.theme), Upper(r.name), 0, n);
    if (key == 3) rows.emplace_back("", "", r.num, n);
  }
  std::sort(rows.begin(), rows.end());
  std::vector<uint32_t> out;
  for (const auto& r : rows) out.push_back(std::get<3>(r));
  return out;
}

std::vector<uint32_t> Walk(Lexicon& lex, int key, bool forward) {
  std::vector<uint32_t> seen;
  EXPECT_EQ(0, lex.Call(kOpSetKey, key));
  while (lex.Call(forward ? kOpNext : kOpPrevious) == 0) seen.push_back(
      static_cast<uint32_t>(lex.Pointer()));
  if (!forward) std::reverse(seen.begin(), seen.end());
  return seen;
}

// "w7" for ("w", 7).
std::string Numbered(std::string stem, int i) {
  stem += std::to_string(i);
  return stem;
}

class DatKeyedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lex_ = std::make_unique<Lexicon>(dir_.File("lex"));
    ASSERT_EQ(0, lex_->Call(kOpCreate));
    ASSERT_EQ(0, lex_->Call(kOpOpen, 0, 0, {}, 0x12));
  }
  int Add(const std::string& name, const std::string& theme, int32_t num,
          const std::string& note = {}) {
    lex_->Set(name, theme, num, note);
    int err = lex_->Call(kOpAdd);
    if (err == 0) model_[static_cast<uint32_t>(lex_->Pointer())] = {name, theme, num, note};
    return err;
  }
  void ExpectAgreesWithModel() {
    for (int key = 1; key <= 3; ++key) {
      std::vector<uint32_t> want = Expected(model_, key);
      EXPECT_EQ(want, Walk(*lex_, key, true)) << "forward, key " << key;
      EXPECT_EQ(want, Walk(*lex_, key, false)) << "backward, key " << key;
      EXPECT_EQ(static_cast<int64_t>(want.size()), lex_->Ask(kOpRecordsKey, key).value);
    }
    std::string fault;
    EXPECT_EQ(0, DatFile::Of(*lex_->fd).Check(&fault)) << fault;
  }

  TempDir dir_;
  std::unique_ptr<Lexicon> lex_;
  Model model_;
};

TEST_F(DatKeyedTest, RandomChangesKeepEveryKeyAndMemoInStepWithTheData) {
  std::mt19937 rng(7);
  const char* names[] = {"abc", "ABC", "bit", "Bit 1", "bit 2", "", "zeta", "alpha", "Omega"};
  const char* themes[] = {"move", "MOVE", "speech", "", "sight"};
  auto randomName = [&] {
    std::string n = names[rng() % std::size(names)];
    if (!n.empty() && rng() % 2) n += std::to_string(rng() % 40);
    return n;
  };
  int refused = 0;
  ASSERT_EQ(0, lex_->Call(kOpStream));  // one flush at the end, not one per header write
  for (int batch = 0; batch < 20; ++batch) {
    for (int op = 0; op < 100; ++op) {
      int what = static_cast<int>(rng() % 10);
      if (what < 5 || model_.size() < 5) {
        std::string note = rng() % 3 ? std::string(rng() % 500, 'a' + rng() % 26) : "";
        int err = Add(randomName(), themes[rng() % std::size(themes)],
                      static_cast<int32_t>(rng() % 50) - 25, note);
        if (err == kErrDuplicateKey) ++refused;
        else ASSERT_EQ(0, err);
      } else {
        auto it = model_.begin();
        std::advance(it, rng() % model_.size());
        ASSERT_EQ(0, lex_->Call(kOpGetFilePtr, 0, it->first));
        ASSERT_EQ(it->second.note, lex_->Note());
        if (what < 8) {
          Row r{randomName(), themes[rng() % std::size(themes)],
                static_cast<int32_t>(rng() % 50) - 25,
                rng() % 2 ? it->second.note : std::string(rng() % 300, 'q')};
          lex_->Set(r.name, r.theme, r.num, r.note);
          int err = lex_->Call(kOpPut);
          if (err == kErrDuplicateKey) ++refused;
          else {
            ASSERT_EQ(0, err);
            it->second = r;
          }
        } else {
          ASSERT_EQ(0, lex_->Call(kOpDelete));
          model_.erase(it);
        }
      }
    }
    ExpectAgreesWithModel();
    if (HasFailure()) return;
  }
  EXPECT_GT(refused, 10);  // the unique NOCASE key did refuse names differing only in case
  // Every key passes the checks of a fresh OPEN.
  ASSERT_EQ(0, lex_->Call(kOpFlush));
  ASSERT_EQ(0, lex_->Call(kOpClose));
  lex_ = std::make_unique<Lexicon>(dir_.File("lex"));
  ASSERT_EQ(0, lex_->Call(kOpOpen, 0, 0, {}, 0x42));
  ExpectAgreesWithModel();
}

TEST_F(DatKeyedTest, SearchesPositionsAndResetsFollowTheKey) {
  ASSERT_EQ(0, Add("bravo", "move", 2, "second"));
  ASSERT_EQ(0, Add("alpha", "move", 1, "first"));
  ASSERT_EQ(0, Add("delta", "sight", 4));
  ASSERT_EQ(0, Add("charlie", "move", 3));
  EXPECT_EQ(kErrDuplicateKey, Add("ALPHA", "x", 9));

  // GET by key value, without regard to case.
  lex_->Set("BRAVO", "", 0);
  ASSERT_EQ(0, lex_->Call(kOpGetFileKey, 1));
  EXPECT_EQ("bravo", lex_->Name());
  EXPECT_EQ("second", lex_->Note());
  lex_->Set("nothing", "", 0);
  EXPECT_EQ(kErrRecordNotFound, lex_->Call(kOpGetFileKey, 1));

  // SET at a value: NEXT from the first not below it, PREVIOUS from the last not above it.
  lex_->Set("c", "", 0);
  ASSERT_EQ(0, lex_->Call(kOpSetKeyKey, 1));
  ASSERT_EQ(0, lex_->Call(kOpNext));
  EXPECT_EQ("charlie", lex_->Name());
  lex_->Set("charlie", "", 0);
  ASSERT_EQ(0, lex_->Call(kOpSetKeyKey, 1));
  ASSERT_EQ(0, lex_->Call(kOpPrevious));
  EXPECT_EQ("charlie", lex_->Name());
  ASSERT_EQ(0, lex_->Call(kOpPrevious));
  EXPECT_EQ("bravo", lex_->Name());

  // A position taken on bravo brings NEXT and PREVIOUS back to bravo itself.
  std::string pos = lex_->Ask(kOpPositionKey, 1).result;
  ASSERT_EQ(0, lex_->Call(kOpSetKey, 1));
  ASSERT_EQ(0, lex_->Call(kOpNext));
  ASSERT_EQ(0, lex_->Call(kOpResetKey, 1, 0, pos));
  ASSERT_EQ(0, lex_->Call(kOpNext));
  EXPECT_EQ("bravo", lex_->Name());
  ASSERT_EQ(0, lex_->Call(kOpNext));
  EXPECT_EQ("charlie", lex_->Name());
  ASSERT_EQ(0, lex_->Call(kOpResetKey, 1, 0, pos));
  ASSERT_EQ(0, lex_->Call(kOpPrevious));
  EXPECT_EQ("bravo", lex_->Name());
  ASSERT_EQ(0, lex_->Call(kOpPrevious));
  EXPECT_EQ("alpha", lex_->Name());
  // REGET reads it without touching the sequence.
  ASSERT_EQ(0, lex_->Call(kOpRegetKey, 1, 0, pos));
  EXPECT_EQ("bravo", lex_->Name());
  EXPECT_EQ(kErrRecordNotAvailable, lex_->Call(kOpPrevious));

  // A position survives the deletion of its record: NEXT goes on with the one after.
  ASSERT_EQ(0, lex_->Call(kOpRegetKey, 1, 0, pos));
  ASSERT_EQ(0, lex_->Call(kOpDelete));
  ASSERT_EQ(0, lex_->Call(kOpResetKey, 1, 0, pos));
  ASSERT_EQ(0, lex_->Call(kOpNext));
  EXPECT_EQ("charlie", lex_->Name());

  // DUPLICATE tells whether the buffer would clash, the current record aside.
  lex_->Set("Delta", "", 0);
  EXPECT_EQ(1, lex_->Ask(kOpDuplicate).value);
  EXPECT_EQ(0, lex_->Ask(kOpDuplicateKey, 2).value);  // a DUP key never clashes
}

TEST_F(DatKeyedTest, RollbackRestoresKeysAndMemos) {
  ASSERT_EQ(0, Add("one", "a", 1, "note one"));
  ASSERT_EQ(0, Add("two", "b", 2, "note two"));
  Model before = model_;
  ASSERT_EQ(0, lex_->Call(kOpLogout));
  ASSERT_EQ(0, Add("three", "c", 3, std::string(400, 'x')));
  ASSERT_EQ(0, lex_->Call(kOpGetFilePtr, 0, 1));
  lex_->Set("uno", "z", 7, "changed");
  ASSERT_EQ(0, lex_->Call(kOpPut));
  ASSERT_EQ(0, lex_->Call(kOpGetFilePtr, 0, 2));
  ASSERT_EQ(0, lex_->Call(kOpDelete));
  ASSERT_EQ(0, lex_->Call(kOpRollback));
  model_ = before;
  ExpectAgreesWithModel();
  ASSERT_EQ(0, lex_->Call(kOpGetFilePtr, 0, 1));
  EXPECT_EQ("one", lex_->Name());
  EXPECT_EQ("note one", lex_->Note());
}

// A batch keeps key pages back until FLUSH; a transaction begun inside the batch must find
// them written, so that its rollback restores the batch's state, not the one before it.
TEST_F(DatKeyedTest, RollbackInsideABatchKeepsWhatTheBatchWroteBefore) {
  ASSERT_EQ(0, lex_->Call(kOpStream));
  for (int i = 0; i < 400; ++i)
    ASSERT_EQ(0, Add(Numbered("w", i), i % 3 ? "move" : "", i % 11, Numbered("n", i)));
  Model before = model_;
  ASSERT_EQ(0, lex_->Call(kOpLogout));
  for (int i = 0; i < 150; ++i) ASSERT_EQ(0, Add(Numbered("x", i), "sight", i));
  for (uint32_t n = 1; n <= 300; n += 7) {
    ASSERT_EQ(0, lex_->Call(kOpGetFilePtr, 0, n));
    ASSERT_EQ(0, lex_->Call(kOpDelete));
  }
  ASSERT_EQ(0, lex_->Call(kOpRollback));
  model_ = before;
  ExpectAgreesWithModel();
  // The batch goes on after the transaction and ends with FLUSH; a fresh OPEN agrees.
  for (int i = 0; i < 100; ++i) ASSERT_EQ(0, Add(Numbered("y", i), "speech", i));
  ASSERT_EQ(0, lex_->Call(kOpFlush));
  ASSERT_EQ(0, lex_->Call(kOpClose));
  lex_ = std::make_unique<Lexicon>(dir_.File("lex"));
  ASSERT_EQ(0, lex_->Call(kOpOpen, 0, 0, {}, 0x42));
  ExpectAgreesWithModel();
}

// In a batch the entries of the DUP keys wait in memory: an empty key takes them as a BUILD
// lays them out, and a transaction inside the batch takes them in before its COMMIT ends it.
TEST_F(DatKeyedTest, EntriesHeldInABatchGoInAtFlushOrCommit) {
  ASSERT_EQ(0, lex_->Call(kOpStream));
  for (int i = 0; i < 500; ++i)
    ASSERT_EQ(0, Add(Numbered("w", i), i % 5 ? Numbered("t", i % 13) : "", (i * 37) % 101));
  ASSERT_EQ(0, lex_->Call(kOpFlush));
  ASSERT_EQ(0, lex_->Call(kOpClose));
  const std::string k2 = testing::ReadAll(dir_.File("lex.K02"));
  const std::string k3 = testing::ReadAll(dir_.File("lex.K03"));
  ASSERT_EQ(0, lex_->Call(kOpBuildFile));
  EXPECT_EQ(k2, testing::ReadAll(dir_.File("lex.K02")));
  EXPECT_EQ(k3, testing::ReadAll(dir_.File("lex.K03")));

  ASSERT_EQ(0, lex_->Call(kOpOpen, 0, 0, {}, 0x12));
  ASSERT_EQ(0, lex_->Call(kOpStream));
  ASSERT_EQ(0, lex_->Call(kOpLogout));
  for (int i = 0; i < 200; ++i) ASSERT_EQ(0, Add(Numbered("x", i), "sight", i % 7));
  ASSERT_EQ(0, lex_->Call(kOpCommit));
  // On disk at once: the entry count in the key's header.
  const std::string header = testing::ReadAll(dir_.File("lex.K03")).substr(0, 8);
  EXPECT_EQ(700u, Get32(reinterpret_cast<const unsigned char*>(header.data()) + 4));
  ASSERT_EQ(0, lex_->Call(kOpFlush));
  ExpectAgreesWithModel();
}

// Held entries merge with a tree some of whose pages are still only in the cache.
TEST_F(DatKeyedTest, HeldEntriesMergeWithATreeStillPartlyInTheCache) {
  ASSERT_EQ(0, lex_->Call(kOpStream));
  for (int i = 0; i < 400; ++i) ASSERT_EQ(0, Add(Numbered("a", i), "move", i));
  ASSERT_EQ(400, lex_->Ask(kOpRecordsKey, 2).value);
  for (int i = 0; i < 20; ++i) {  // one at a time: full pages split, the new ones wait
    ASSERT_EQ(0, Add(Numbered("b", i), "move", i));
    ASSERT_EQ(401 + i, lex_->Ask(kOpRecordsKey, 2).value);
  }
  for (int i = 0; i < 300; ++i) ASSERT_EQ(0, Add(Numbered("c", i), "move", i));
  ExpectAgreesWithModel();
  ASSERT_EQ(0, lex_->Call(kOpFlush));
}

// Held entries that cannot be written leave their key to be rebuilt, never a key that
// silently lacks them (an OPT key's entry count alone would not tell).
TEST_F(DatKeyedTest, HeldEntriesThatCannotGoInLeaveTheKeyToRebuild) {
  ASSERT_EQ(0, lex_->Call(kOpClose));
  {
    test::FaultFileSystem faults;
    test::ScopedFileSystem installed(faults);
    faults.SetPathFilter([&](const std::string& path) { return path == dir_.File("lex.K02"); });
    ASSERT_EQ(0, lex_->Call(kOpOpen, 0, 0, {}, 0x12));
    ASSERT_EQ(0, lex_->Call(kOpStream));
    for (int i = 0; i < 300; ++i) ASSERT_EQ(0, Add(Numbered("w", i), "move", i));
    faults.FailNth(test::FaultOp::kWrite, faults.FilteredCount(test::FaultOp::kWrite) + 2, EIO);
    EXPECT_EQ(kErrWriteFault, lex_->Call(kOpFlush));
    EXPECT_EQ(kErrKeyRebuild, lex_->Call(kOpRecordsKey, 2));
    ASSERT_EQ(0, lex_->Call(kOpClose));
  }
  EXPECT_EQ(kErrKeyRebuild, lex_->Call(kOpOpen, 0, 0, {}, 0x12));
  ASSERT_EQ(0, lex_->Call(kOpBuildFile));
  ASSERT_EQ(0, lex_->Call(kOpOpen, 0, 0, {}, 0x12));
  ExpectAgreesWithModel();
}

TEST_F(DatKeyedTest, BrokenKeysAreRefusedAtOpenAndRebuilt) {
  for (int i = 0; i < 300; ++i) ASSERT_EQ(0, Add(Numbered("n", i), "t", i % 7));
  ASSERT_EQ(0, lex_->Call(kOpClose));
  // A key file that lost its tail, and one with an entry count that disagrees.
  std::string k1 = dir_.File("lex.K01");
  std::string bytes = testing::ReadAll(k1);
  testing::WriteAll(k1, bytes.substr(0, 700));
  testing::Patch32(dir_.File("lex.K03"), 4, 5);
  EXPECT_EQ(kErrKeyRebuild, lex_->Call(kOpOpen, 0, 0, {}, 0x12));
  ASSERT_EQ(0, lex_->Call(kOpBuildFile));
  ASSERT_EQ(0, lex_->Call(kOpOpen, 0, 0, {}, 0x12));
  ExpectAgreesWithModel();

  // APPEND enters no key; a BUILD then finds the duplicate and reports it.
  lex_->Set("N5", "t", 1);
  ASSERT_EQ(0, lex_->Call(kOpAppend));
  ASSERT_EQ(0, lex_->Call(kOpClose));
  EXPECT_EQ(kErrDuplicateKey, lex_->Call(kOpBuildFile));
  std::string report = testing::ReadAll(dir_.File("lex.BLD"));
  EXPECT_EQ(0u, report.find("Duplicate record numbers for:\n"));
  EXPECT_NE(std::string::npos, report.find("Record number: 6\n"));
  EXPECT_NE(std::string::npos, report.find("Record number: 301\n\n"));
}

TEST_F(DatKeyedTest, EmptyLeavesEveryKeyAndTheMemoEmpty) {
  for (int i = 0; i < 50; ++i) ASSERT_EQ(0, Add(Numbered("w", i), "t", i, "memo text"));
  ASSERT_EQ(0, lex_->Call(kOpEmpty));
  model_.clear();
  ExpectAgreesWithModel();
  EXPECT_EQ(6u, testing::ReadAll(dir_.File("lex.MEM")).size());
  ASSERT_EQ(0, Add("again", "t", 1, "fresh"));
  ExpectAgreesWithModel();
}

TEST_F(DatKeyedTest, CorruptMemoChainIsReportedByTheCheck) {
  ASSERT_EQ(0, Add("a", "t", 1, std::string(300, 'm')));  // blocks 1 and 2
  ASSERT_EQ(0, Add("b", "t", 2, std::string(10, 'n')));   // block 3
  ASSERT_EQ(0, lex_->Call(kOpClose));
  // Block 3 links back into the first memo's chain.
  testing::Patch32(dir_.File("lex.MEM"), 6 + 2 * 256, 1);
  ASSERT_EQ(0, lex_->Call(kOpOpen, 0, 0, {}, 0x12));
  std::string fault;
  EXPECT_NE(0, DatFile::Of(*lex_->fd).Check(&fault));
  EXPECT_NE(std::string::npos, fault.find("memo")) << fault;
}

}  // namespace
}  // namespace korawin::storage::dat

namespace korawin::storage::dat {
namespace {

std::vector<FileDescriptor*> g_posted;
void RecordPost(FileDescriptor& file) { g_posted.push_back(&file); }

TEST_F(DatKeyedTest, DeferredBuildWaitsForItsEvent) {
  for (int i = 0; i < 20; ++i) ASSERT_EQ(0, Add(Numbered("d", i), "t", i));
  ASSERT_EQ(0, lex_->Call(kOpClose));
  testing::WriteAll(dir_.File("lex.K01"), std::string(100, '\0'));
  EXPECT_EQ(kErrKeyRebuild, lex_->Call(kOpOpen, 0, 0, {}, 0x12));
  BuildEventPoster old = SetBuildEventPoster(&RecordPost);
  g_posted.clear();
  ASSERT_EQ(0, lex_->Call(kOpBuildFile, 0, 1));  // deferred: only marked and posted
  ASSERT_EQ(1u, g_posted.size());
  EXPECT_EQ(lex_->fd.get(), g_posted[0]);
  EXPECT_EQ(kErrKeyRebuild, lex_->Call(kOpOpen, 0, 0, {}, 0x12));
  ASSERT_EQ(0, lex_->Call(kOpBuildEvent));  // the event loop runs it
  SetBuildEventPoster(old);
  ASSERT_EQ(0, lex_->Call(kOpOpen, 0, 0, {}, 0x12));
  ExpectAgreesWithModel();
  EXPECT_EQ(0, lex_->Call(kOpBuildEvent));  // nothing left to do
}

}  // namespace
}  // namespace korawin::storage::dat

namespace korawin::storage::dat {
namespace {

TEST_F(DatKeyedTest, NoMemoSkipsTheMemoOfTheNextReadOnly) {
  ASSERT_EQ(0, Add("a", "t", 1, "first note"));
  ASSERT_EQ(0, Add("b", "t", 2, "second note"));
  ASSERT_EQ(0, lex_->Call(kOpSetKey, 1));
  std::fill(lex_->memo.begin(), lex_->memo.end(), 'x');
  ASSERT_EQ(0, lex_->Call(kOpNoMemo));
  ASSERT_EQ(0, lex_->Call(kOpNext));
  EXPECT_EQ("a", lex_->Name());
  EXPECT_EQ('x', lex_->memo[0]);  // left as it was
  ASSERT_EQ(0, lex_->Call(kOpNext));
  EXPECT_EQ("second note", lex_->Note());
  // A NOMEMO whose read fails does not carry over to a later read.
  ASSERT_EQ(0, lex_->Call(kOpNoMemo));
  EXPECT_EQ(kErrRecordNotAvailable, lex_->Call(kOpNext));
  ASSERT_EQ(0, lex_->Call(kOpGetFilePtr, 0, 1));
  EXPECT_EQ("first note", lex_->Note());
}

}  // namespace
}  // namespace korawin::storage::dat
