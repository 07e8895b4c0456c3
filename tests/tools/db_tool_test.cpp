// korawin1-db check, rebuild-keys, dump and select, run as a program on small database folders
// written through the DAT driver; and the README's account of the tool's subcommands.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/files.h"
#include "platform/codepage.h"
#include "storage/dat/collation.h"
#include "storage/dat/dat_driver.h"
#include "storage/dat/key_codec.h"
#include "storage/dat/key_file.h"
#include "storage/driver.h"
#include "tests/storage/dat_test_util.h"
#include "tests/support/fault_fs.h"
#include "tests/support/temp_dir.h"

namespace korawin::tools {
namespace {

using namespace storage;

struct Result {
  int status = -1;
  std::string out;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs the tool; stderr joins stdout when merge is set.
Result Tool(const std::vector<std::string>& args, bool merge = true) {
  std::string cmd = Quote(KORAWIN_DB_TOOL);
  for (const std::string& a : args) {
    cmd += ' ';
    cmd += Quote(a);
  }
  cmd += merge ? " 2>&1" : " 2>/dev/null";
  Result r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::vector<nlohmann::json> Lines(const std::string& out) {
  std::vector<nlohmann::json> v;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) v.push_back(nlohmann::json::parse(line));
  return v;
}

std::vector<int> Recs(const Result& r) {
  std::vector<int> v;
  for (const auto& j : Lines(r.out)) v.push_back(j["_rec"].get<int>());
  return v;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct Card {
  const char* lexeme;
  const char* word;
  const char* theme;
  int32_t date;
  std::string memo;
};

// A folder with SLOVO (five live cards, record 5 deleted, memos of one and three blocks), DCT
// and a data file of another layout.
class DbToolTest : public ::testing::Test {
 protected:
  // The files are written under the collation the tool loads by default.
  static void SetUpTestSuite() {
    std::string tool = KORAWIN_DB_TOOL;
    dat::SetEnvironmentPath(tool.substr(0, tool.rfind('/')) + "/korawin1.ENV");
    ASSERT_EQ(0, dat::LoadActiveCollation());
  }

  void SetUp() override {
    app::DeclaredFile slovo = app::DeclareFile(app::LexiconFile::kSlovo, &dat::DatDriverEntry, dir_);
    const Card cards[] = {
        {"бить 1", "бить", "удар", 82000, "Бить по мячу."},
        {"Ахать", "ахать", "", 82001, std::string(600, 'x')},
        {"видеть 2", "видеть", "восприятие", 82002, ""},
        {"бежать", "бежать", "движение", 82003, ""},
        {"удалить", "удалить", "удар", 82004, ""},
        {"видеть 1", "видеть", "восприятие", 82005, ""},
    };
    Open(slovo, true);
    for (const Card& c : cards) {
      slovo.Clear();
      slovo.SetField("I_VERB", Cp(c.lexeme));
      slovo.SetField("VERV", Cp(c.word));
      slovo.SetField("TEMA", Cp(c.theme));
      const FieldDescriptor& date = slovo.fd().fields[static_cast<size_t>(slovo.FieldIndex("DATE"))];
      std::memcpy(slovo.record.data() + date.offset, &c.date, 4);
      std::string memo = Cp(c.memo.c_str());
      std::memcpy(slovo.memo.data(), memo.data(), memo.size());
      ASSERT_EQ(0, CallDriver(kOpAdd, slovo.fd()));
    }
    DriverArgs get;
    get.number = 5;
    ASSERT_EQ(0, CallDriver(kOpGetFilePtr, slovo.fd(), get));
    ASSERT_EQ(0, CallDriver(kOpDelete, slovo.fd()));
    ASSERT_EQ(0, CallDriver(kOpClose, slovo.fd()));

    app::DeclaredFile dct = app::DeclareFile(app::LexiconFile::kDct, &dat::DatDriverEntry, dir_);
    Open(dct, true);
    for (const char* w : {"бить", "ахать", "видеть"}) {
      dct.Clear();
      dct.SetField("VERV", Cp(w));
      ASSERT_EQ(0, CallDriver(kOpAdd, dct.fd()));
    }
    ASSERT_EQ(0, CallDriver(kOpClose, dct.fd()));

    Result sample = Tool({"sample", dir_ + "/other.dat"});
    ASSERT_EQ(0, sample.status) << sample.out;
  }

  static std::string Cp(const char* utf8) { return platform::Utf8ToCp1251Lossy(utf8); }
  static void Open(app::DeclaredFile& f, bool create) {
    if (create) {
      ASSERT_EQ(0, CallDriver(kOpCreate, f.fd()));
    }
    DriverArgs open;
    open.mode = kOpenReadWrite | kShareDenyAll;
    ASSERT_EQ(0, CallDriver(kOpOpen, f.fd(), open));
  }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }

  test::TempDir temp_{"db"};
  std::string dir_ = temp_.path();
};

// ---- check ----

// A process killed in the middle of a transaction leaves the journal and its markers: check
// and info say what the next open will roll back instead of reporting the half-written files,
// and once an open has rolled it back the folder checks clean with the cards it had.
TEST_F(DbToolTest, CheckAndInfoTellOfAnInterruptedTransaction) {
  const std::string before = Tool({"dump", dir_, "SLOVO", "--json"}).out;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The journal goes to the current folder: keep it in the temporary one.
    if (chdir(dir_.c_str()) != 0) _exit(2);
    test::FaultFileSystem faults;
    test::ScopedFileSystem installed(faults);
    faults.SetOnCrash([] { _exit(0); });
    // Every write reaches its file as it is made, as in a transaction larger than the journal's
    // memory bound: the crash then leaves half-written files behind.
    dat::testing::StageEveryWrite staged;
    app::DeclaredFile slovo = app::DeclareFile(app::LexiconFile::kSlovo, &dat::DatDriverEntry, dir_);
    DriverArgs open;
    open.mode = kOpenReadWrite | kShareDenyWrite;
    if (CallDriver(kOpOpen, slovo.fd(), open) || CallDriver(kOpLogout, slovo.fd())) _exit(3);
    faults.CrashAt(faults.WritePoints() + 60);  // within the ADDs below, never committed
    for (int i = 0; i < 40; ++i) {
      slovo.Clear();
      std::string id = "new ", theme = "t";
      id += std::to_string(i);
      theme += std::to_string(i % 3);
      slovo.SetField("I_VERB", id);
      slovo.SetField("TEMA", theme);
      std::memcpy(slovo.memo.data(), "an example", 10);
      if (CallDriver(kOpAdd, slovo.fd())) _exit(5);  // the crash comes before any refusal
    }
    _exit(4);  // the crash point was never reached
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_TRUE(std::filesystem::exists(File("slovo.LOG")));

  Result check = Tool({"check", dir_});
  EXPECT_EQ(0, check.status) << check.out;
  EXPECT_TRUE(Has(check.out, File("slovo.dat") + ": not checked: an interrupted transaction"))
      << check.out;
  EXPECT_TRUE(Has(check.out, "the next open rolls it back: slovo.dat cut back to")) << check.out;
  EXPECT_TRUE(Has(check.out, "2 data files checked, 0 problems; 1 waits for the rollback"))
      << check.out;
  Result info = Tool({"info", File("slovo.dat")});
  EXPECT_EQ(0, info.status) << info.out;
  EXPECT_TRUE(Has(info.out, "transaction     an interrupted transaction")) << info.out;
  // The other files of the folder took no part: info says nothing of a transaction.
  EXPECT_FALSE(Has(Tool({"info", File("dct.dat")}).out, "transaction")) << info.out;

  app::DeclaredFile slovo = app::DeclareFile(app::LexiconFile::kSlovo, &dat::DatDriverEntry, dir_);
  Open(slovo, false);  // rolls the transaction back
  ASSERT_EQ(0, CallDriver(kOpClose, slovo.fd()));
  EXPECT_FALSE(std::filesystem::exists(File("slovo.LOG")));
  check = Tool({"check", dir_});
  EXPECT_EQ(0, check.status) << check.out;
  EXPECT_TRUE(Has(check.out, "3 data files checked, 0 problems\n")) << check.out;
  EXPECT_EQ(before, Tool({"dump", dir_, "SLOVO", "--json"}).out);
}

TEST_F(DbToolTest, CheckPassesOnFilesThisEngineWrote) {
  Result r = Tool({"check", dir_});
  EXPECT_EQ(0, r.status) << r.out;
  EXPECT_TRUE(Has(r.out, "3 data files checked, 0 problems")) << r.out;
  // rebuild-keys keeps the files sound, and a folder that isn't there is an error.
  Result b = Tool({"rebuild-keys", dir_});
  EXPECT_EQ(0, b.status) << b.out;
  EXPECT_TRUE(Has(b.out, "slovo.dat: 9 keys rebuilt")) << b.out;
  EXPECT_EQ(0, Tool({"check", dir_}).status);
  EXPECT_EQ(1, Tool({"check", dir_ + "/nowhere"}).status);
}

TEST_F(DbToolTest, CheckNamesACorruptedKeyPageAndAMemoLoopTogether) {
  // Swap the first two entries of SLOVO's primary key leaf (page 1: the root of a small tree).
  std::string key = ReadAll(File("slovo.K01"));
  const size_t entry = 64 + 4, first = 512 + dat::kPageHeaderSize;
  ASSERT_GE(key.size(), first + 2 * entry);
  std::string a = key.substr(first, entry);
  key.replace(first, entry, key.substr(first + entry, entry));
  key.replace(first + entry, entry, a);
  WriteAll(File("slovo.K01"), key);

  Result keyOnly = Tool({"check", dir_});
  EXPECT_EQ(1, keyOnly.status);
  EXPECT_TRUE(Has(keyOnly.out, "key SLO:K_SLO (slovo.K01)")) << keyOnly.out;
  EXPECT_FALSE(Has(keyOnly.out, "memo")) << keyOnly.out;
  EXPECT_FALSE(Has(keyOnly.out, "SLO:K_VERV")) << keyOnly.out;

  // The memo of "Ахать" takes blocks 2, 3 and 4 (block 1 is the memo of "бить 1"): the last
  // block links back to the first.
  std::string memo = ReadAll(File("slovo.MEM"));
  auto link = [&](uint32_t block) {
    uint32_t v = 0;
    std::memcpy(&v, memo.data() + 6 + (block - 1) * 256, 4);
    return v;
  };
  ASSERT_GE(memo.size(), 6u + 4 * 256);
  ASSERT_EQ(3u, link(2));
  ASSERT_EQ(4u, link(3));
  ASSERT_EQ(0u, link(4));
  uint32_t loop = 2;
  std::memcpy(memo.data() + 6 + 3 * 256, &loop, 4);
  WriteAll(File("slovo.MEM"), memo);

  Result both = Tool({"check", dir_});
  EXPECT_EQ(1, both.status);
  EXPECT_TRUE(Has(both.out, "key SLO:K_SLO")) << both.out;
  EXPECT_TRUE(Has(both.out, "memo file slovo.MEM")) << both.out;
  EXPECT_FALSE(Has(both.out, "dct.dat")) << both.out;
}

TEST_F(DbToolTest, CheckFindsLostEntriesAndRecordsOffTheDeletedChain) {
  // A BY_TEMA entry lost: the record is no longer found under its theme.
  {
    dat::KeyFile kf;
    dat::KeyShape shape;
    shape.keyLength = 164;
    shape.flags = dat::kKeyFlagDup | dat::kKeyFlagNoCase;
    ASSERT_EQ(0, kf.Open(File("slovo.K04"), kOpenReadWrite | kShareDenyAll, shape, -1));
    kf.SetToStart();
    ASSERT_EQ(0, kf.Next());
    std::string value;
    uint32_t recno = 0;
    ASSERT_EQ(0, kf.Current(&value, &recno));
    ASSERT_EQ(0, kf.Remove(reinterpret_cast<const unsigned char*>(value.data()), recno));
    kf.Close();
    Result r = Tool({"check", dir_});
    EXPECT_EQ(1, r.status);
    EXPECT_TRUE(Has(r.out, "key SLO:BY_TEMA (slovo.K04): record " + std::to_string(recno)))
        << r.out;
    EXPECT_TRUE(Has(r.out, "is missing from the key")) << r.out;
  }
  // A live record marked deleted without joining the chain: the counts disagree and every key
  // names a deleted record.
  ASSERT_EQ(0, Tool({"rebuild-keys", dir_, "slovo"}).status);
  std::string data = ReadAll(File("slovo.dat"));
  const size_t recordLength = app::kSlovoRecordSize + 5;
  const size_t dataOffset = data.size() - 6 * recordLength;
  data[dataOffset] = static_cast<char>(data[dataOffset] | 0x10);  // record 1
  WriteAll(File("slovo.dat"), data);
  Result r = Tool({"check", dir_});
  EXPECT_EQ(1, r.status);
  EXPECT_TRUE(Has(r.out, "2 records are marked deleted but the header counts 1")) << r.out;
  EXPECT_TRUE(Has(r.out, "key SLO:K_SLO (slovo.K01): an entry names record 1, which is deleted"))
      << r.out;
}

TEST_F(DbToolTest, KeysBuiltUnderAnotherCollationFailUntilRebuilt) {
  // An environment file without settings: no Cyrillic case pairs, so NOCASE keys differ.
  std::string plain = File("plain.ENV");
  WriteAll(plain, "; no settings\n");
  ASSERT_EQ(0, Tool({"rebuild-keys", dir_, "--env", plain}).status);
  Result other = Tool({"check", dir_});
  EXPECT_EQ(1, other.status);
  EXPECT_TRUE(Has(other.out, "as the current collation encodes it")) << other.out;
  EXPECT_EQ(0, Tool({"check", "--env", plain, dir_}).status);
  EXPECT_EQ(1, Tool({"check", dir_, "--env", File("missing.ENV")}).status);
  ASSERT_EQ(0, Tool({"rebuild-keys", dir_}).status);
  EXPECT_EQ(0, Tool({"check", dir_}).status);
}

TEST_F(DbToolTest, CheckReadsOtherFilesAndGoesOnPastAnUnreadableOne) {
  WriteAll(File("junk.DAT"), "not a data file");
  std::string other = ReadAll(File("other.K01"));
  other.resize(100);  // the key file of the other file, cut short
  WriteAll(File("other.K01"), other);
  Result r = Tool({"check", dir_});
  EXPECT_EQ(1, r.status);
  EXPECT_TRUE(Has(r.out, "junk.DAT: the header and descriptions cannot be read")) << r.out;
  EXPECT_TRUE(Has(r.out, "key SMP:BY_WORD (other.K01)")) << r.out;
  EXPECT_TRUE(Has(r.out, "4 data files checked, 2 problems")) << r.out;
}

// ---- dump ----

TEST_F(DbToolTest, DumpPrintsRecordsInRecordAndKeyOrder) {
  Result r = Tool({"dump", dir_, "SLOVO", "--json"}, false);
  ASSERT_EQ(0, r.status) << r.out;
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 6}), Recs(r));
  std::vector<nlohmann::json> rows = Lines(r.out);
  ASSERT_EQ(5u, rows.size());
  EXPECT_EQ("бить 1", rows[0]["I_VERB"]);
  EXPECT_EQ("удар", rows[0]["TEMA"]);
  EXPECT_EQ(82000, rows[0]["DATE"]);
  EXPECT_EQ(0, rows[0]["Q1"]);
  EXPECT_EQ("Бить по мячу.", rows[0]["EXA_MEMO"]);
  EXPECT_EQ(std::string(600, 'x'), rows[1]["EXA_MEMO"]);
  EXPECT_EQ("", rows[1]["TEMA"]);
  EXPECT_EQ("", rows[2]["EXA_MEMO"]);

  EXPECT_EQ((std::vector<int>{2, 4, 1, 6, 3}),
            Recs(Tool({"dump", dir_, "slovo.dat", "--key", "slo:k_slo", "--json"}, false)));
  // An OPT key leaves out the card without a theme.
  EXPECT_EQ((std::vector<int>{3, 6, 4, 1}),
            Recs(Tool({"dump", dir_, "slo", "--key", "BY_TEMA", "--json"}, false)));

  // A file of another layout is read through its own descriptions.
  Result o = Tool({"dump", dir_, "other", "--key", "1", "--json"}, false);
  ASSERT_EQ(0, o.status);
  std::vector<nlohmann::json> words = Lines(o.out);
  ASSERT_EQ(4u, words.size());
  EXPECT_EQ("говорить", words[0]["WORD"]);
  EXPECT_EQ(3, words[0]["ID"]);
  EXPECT_EQ(3, words[0]["RANK"]);

  EXPECT_EQ(2, Tool({"dump", dir_, "slovo", "--key", "NO_SUCH", "--json"}).status);
  EXPECT_EQ(1, Tool({"dump", dir_, "absent", "--json"}).status);
}

// ---- select ----

TEST_F(DbToolTest, SelectFiltersStartsReversesAndLimits) {
  auto select = [&](std::vector<std::string> more) {
    std::vector<std::string> args = {"select", dir_, "SLOVO"};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back("--json");
    Result r = Tool(args, false);
    EXPECT_EQ(0, r.status) << Tool(args).out;
    return Recs(r);
  };
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 6}), select({}));
  EXPECT_EQ((std::vector<int>{2, 4, 1, 6, 3}), select({"--key", "K_SLO"}));
  EXPECT_EQ((std::vector<int>{3, 6, 1, 4, 2}), select({"--key", "K_SLO", "--reverse"}));
  EXPECT_EQ((std::vector<int>{6, 3}), select({"--key", "K_SLO", "--filter", "slo:VERV='видеть'"}));
  EXPECT_EQ((std::vector<int>{6}),
            select({"--key", "K_SLO", "--filter", "slo:verv='видеть'", "--limit", "1"}));
  // --from on the key's first component, in either direction.
  EXPECT_EQ((std::vector<int>{4, 1, 6, 3}), select({"--key", "K_SLO", "--from", "б"}));
  EXPECT_EQ((std::vector<int>{6, 3}), select({"--key", "K_SLO", "--from", "В"}));
  EXPECT_EQ((std::vector<int>{2}), select({"--key", "K_SLO", "--from", "б", "--reverse"}));
  // A bound variable as the lists use one: blank means every record.
  const char* byWord = "clip(glo:fr1)='' or slo:VERV=glo:fr1";
  EXPECT_EQ((std::vector<int>{1}), select({"--filter", byWord, "--bind", "glo:fr1=бить"}));
  EXPECT_EQ((std::vector<int>{2, 4, 1, 6, 3}),
            select({"--key", "K_SLO", "--filter", byWord, "--bind", "glo:fr1="}));
  EXPECT_TRUE(select({"--filter", "slo:DATE > 90000"}).empty());

  Result unbound = Tool({"select", dir_, "SLOVO", "--filter", "glo:fr2='x'", "--json"});
  EXPECT_EQ(1, unbound.status);
  EXPECT_TRUE(Has(unbound.out, "801")) << unbound.out;
  EXPECT_EQ(2, Tool({"select", dir_, "SLOVO", "--from", "б", "--json"}).status);
  EXPECT_EQ(2, Tool({"select", dir_, "SLOVO", "--limit", "many", "--json"}).status);
}

}  // namespace
}  // namespace korawin::tools

namespace korawin::tools {
namespace {

// The program's reports made by the tool without a display: the pages' text as pdftotext reads
// it, and what it says when there is nothing to print.
TEST(DbToolReportTest, MakesReportsIntoPdfWithoutADisplay) {
  if (Tool({"--help"}).out.find("korawin1-db report") == std::string::npos)
    GTEST_SKIP() << "built without the page renderer";
  test::TempDir dir("db-report");
  std::string db = dir.File("demo");
  ASSERT_EQ(Tool({"demo", db}).status, 0);
  auto text = [](const std::string& pdf) {
    Result r;
    FILE* p = popen((std::string(KORAWIN_PDFTOTEXT) + " -enc UTF-8 " + Quote(pdf) + " -").c_str(), "r");
    char buf[4096];
    for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    if (p) pclose(p);
    return r.out;
  };
  std::string pdf = dir.File("tax.pdf");
  Result tax = Tool({"report", db, "tax", "--pdf", pdf});
  ASSERT_EQ(tax.status, 0) << tax.out;
  EXPECT_NE(tax.out.find("1 page written to " + pdf), std::string::npos) << tax.out;
  std::string t = text(pdf);
  EXPECT_NE(t.find("Список Т-категорий"), std::string::npos) << t;
  EXPECT_NE(t.find("действие"), std::string::npos) << t;

  pdf = dir.File("card.pdf");
  Result card = Tool({"report", db, "card", "идти 1 (двигаться пешком)", "--pdf", pdf});
  ASSERT_EQ(card.status, 0) << card.out;
  EXPECT_NE(text(pdf).find("идти 1 (двигаться пешком)"), std::string::npos);

  Result none = Tool({"report", db, "card", "нет такой", "--pdf", dir.File("none.pdf")});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.out.find("There are no records available to process."), std::string::npos)
      << none.out;
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.pdf")));
  EXPECT_EQ(Tool({"report", db, "nothing"}).status, 2);
}

// The README names the tool's subcommands as `korawin1-db NAME`: it names each one that
// --help lists, and no other.
TEST(DbToolReadmeTest, NamesEverySubcommandOfTheHelpAndNoOther) {
  std::ifstream in(KORAWIN_README);
  ASSERT_TRUE(in) << KORAWIN_README;
  std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto names = [](const std::string& text, const std::regex& pattern) {
    std::set<std::string> found;
    for (std::sregex_iterator m(text.begin(), text.end(), pattern), end; m != end; ++m)
      found.insert((*m)[1]);
    return found;
  };
  Result help = Tool({"--help"});
  ASSERT_EQ(0, help.status) << help.out;
  std::set<std::string> listed = names(help.out, std::regex("\n  korawin1-db ([a-z-]+)"));
  ASSERT_GE(listed.size(), 10u) << help.out;
  EXPECT_EQ(listed, names(readme, std::regex("`korawin1-db ([a-z][a-z-]*)")));
}

}  // namespace
}  // namespace korawin::tools
