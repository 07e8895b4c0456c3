// Create, import, export and the demo database over a temporary folder.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "app/exchange.h"
#include "platform/codepage.h"
#include "storage/dat/collation.h"
#include "storage/dat/dat_file.h"
#include "storage/driver.h"
#include "tests/storage/dat_test_util.h"
#include "tests/support/fault_fs.h"
#include "tests/support/temp_dir.h"
#include "ui/headless_message_box.h"

namespace korawin::app {
namespace {

using storage::CallDriver;
using storage::DriverArgs;

class Folder {
 public:
  Folder() {
    storage::dat::SetActiveCollation(storage::dat::Collation());
    files_ = std::make_unique<LexiconFiles>(LexiconFiles::InFolder(dir_));
  }
  const LexiconFiles& files() const { return *files_; }
  void Create() {
    std::string error;
    ASSERT_EQ(0, CreateDatabase(*files_, &error)) << error;
  }
  std::string Export(CardFormat format = CardFormat::kJson) {
    std::string out, error;
    EXPECT_EQ(0, ExportCards(*files_, format, &out, &error)) << error;
    return out;
  }
  // Imports text; returns the code, with *error.
  int Import(const std::string& text, CardFormat format = CardFormat::kJson,
             std::string* error = nullptr) {
    std::string local;
    int64_t added = 0;
    return ImportCards(*files_, text, format, &added, error ? error : &local);
  }
  const std::string& dir() const { return dir_; }

 private:
  test::TempDir temp_{"exchange"};
  std::string dir_ = temp_.path();
  std::unique_ptr<LexiconFiles> files_;
};

TEST(Exchange, JsonImportCutsToWidthsAndExportsInKeyOrder) {
  Folder db;
  db.Create();
  std::string longName = std::string(12, 'N');  // NAME holds 10
  // A byte order mark, escapes, and a name given twice (the last value holds).
  std::string cards = "\xEF\xBB\xBF" R"([
    {"I_VERB": "читать 1", "NAME": ")" + longName + R"(", "DATE": 82180, "Q2": 7,
     "TEMA": "восприятие", "EXA_MEMO": "Он читает.\r\nОна читала."},
    {"VIII": "длинное длинное", "I_VERB": "\u0431ить 1", "METKA": "*", "ACT41": null,
     "VIII": "кратко"}
  ])";
  std::string error;
  ASSERT_EQ(0, db.Import(cards, CardFormat::kJson, &error)) << error;
  nlohmann::json out = nlohmann::json::parse(db.Export());
  ASSERT_EQ(2u, out.size());
  EXPECT_EQ("бить 1", out[0]["I_VERB"]);
  EXPECT_EQ("*", out[0]["METKA"]);
  EXPECT_FALSE(out[0].contains("ACT41"));  // blank fields are left out
  EXPECT_EQ("кратко", out[0]["VIII"]);
  EXPECT_EQ("читать 1", out[1]["I_VERB"]);
  EXPECT_EQ(std::string(10, 'N'), out[1]["NAME"]);
  EXPECT_EQ(82180, out[1]["DATE"]);
  EXPECT_EQ(7, out[1]["Q2"]);
  EXPECT_EQ("Он читает.\r\nОна читала.", out[1]["EXA_MEMO"]);

  // Export, import into a fresh database, export again: the same text, in both formats.
  for (CardFormat format : {CardFormat::kJson, CardFormat::kCsv}) {
    Folder copy;
    copy.Create();
    ASSERT_EQ(0, copy.Import(db.Export(format), format, &error)) << error;
    EXPECT_EQ(db.Export(format), copy.Export(format));
    EXPECT_EQ(db.Export(), copy.Export());
  }
}

TEST(Exchange, CsvQuotesCommasQuotesAndLineBreaks) {
  Folder db;
  db.Create();
  std::string cards =
      "I_VERB,VIII,EXA_MEMO,DATE\r\n"
      "\"a, b 1\",\"say \"\"hi\"\"\",\"line 1\r\nline 2\",5\r\n"
      "c 1,,,\r\n";
  std::string error;
  ASSERT_EQ(0, db.Import(cards, CardFormat::kCsv, &error)) << error;
  nlohmann::json out = nlohmann::json::parse(db.Export());
  ASSERT_EQ(2u, out.size());
  EXPECT_EQ("a, b 1", out[0]["I_VERB"]);
  EXPECT_EQ("say \"hi\"", out[0]["VIII"]);
  EXPECT_EQ("line 1\r\nline 2", out[0]["EXA_MEMO"]);
  EXPECT_EQ(5, out[0]["DATE"]);
  EXPECT_FALSE(out[1].contains("DATE"));
  std::string csv = db.Export(CardFormat::kCsv);
  EXPECT_EQ(0u, csv.find("I_VERB,DATE,NAME,VERV,"));
  EXPECT_NE(std::string::npos, csv.find("\"a, b 1\",5,"));
  EXPECT_NE(std::string::npos, csv.find(",\"say \"\"hi\"\"\","));
}

// Every faulty input is refused whole, with a message that points at the fault.
TEST(Exchange, FaultyInputWritesNothingAndSaysWhere) {
  Folder db;
  db.Create();
  ASSERT_EQ(0, db.Import(R"([{"I_VERB": "бить 1"}])"));
  const std::string before = db.Export();
  struct Case {
    const char* text;
    CardFormat format;
    int code;
    const char* says;
  } const cases[] = {
      {"[{\"I_VERB\": \"a 1\"},\n {\"I_VERB\": x}]", CardFormat::kJson, kBadCards,
       "line 2, column 13"},
      {"[{\"I_VERB\": \"a 1\"}", CardFormat::kJson, kBadCards, "malformed JSON at line 1"},
      {R"({"I_VERB": "a 1"})", CardFormat::kJson, kBadCards, "JSON list"},
      {R"([{"I_VERB": "a 1"}] x)", CardFormat::kJson, kBadCards, "column 21: text after"},
      {R"([{"I_VERB": "\ud800 1"}])", CardFormat::kJson, kBadCards,
       "column 14: a high surrogate"},
      {R"([{"I_VERB": "a 1"}, {"I_VERB": "b 1", "COLOR": "red"}])", CardFormat::kJson, kBadCards,
       "card 2 (b 1): field COLOR"},
      {R"([{"I_VERB": "a 1", "TEMA": "中文"}])", CardFormat::kJson, kBadCards,
       "card 1 (a 1): field TEMA: Windows-1251 cannot hold \"中\""},
      {R"([{"I_VERB": "a 1", "DATE": "вчера"}])", CardFormat::kJson, kBadCards, "field DATE"},
      {R"([{"I_VERB": "a 1", "Q1": 256}])", CardFormat::kJson, kBadCards, "field Q1"},
      // Beyond 64 bits: refused, not wrapped round to -1.
      {R"([{"I_VERB": "a 1", "DATE": 18446744073709551615}])", CardFormat::kJson, kBadCards,
       "field DATE: out of the range of a LONG"},
      {R"([{"I_VERB": "  ", "TEMA": "x"}])", CardFormat::kJson, kBadCards, "I_VERB is blank"},
      // The second card's identifier is the first card's (case ignored): the first card is
      // undone with it.
      {R"([{"I_VERB": "new 1"}, {"I_VERB": "NEW 1"}])", CardFormat::kJson, kBadCards,
       "card 2 (NEW 1): the identifier I_VERB is already taken"},
      {R"([{"I_VERB": "a 1"}, {"I_VERB": "бить 1"}])", CardFormat::kJson, kBadCards,
       "card 2 (бить 1)"},
      {"I_VERB,TEMA\r\na 1\r\n", CardFormat::kCsv, kBadCards, "line 2, column 1: 1 fields"},
      {"I_VERB\r\n\"a 1\r\n", CardFormat::kCsv, kBadCards, "unterminated"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(c.code, db.Import(c.text, c.format, &error)) << c.text;
    EXPECT_NE(std::string::npos, error.find(c.says)) << error;
    EXPECT_EQ(before, db.Export()) << c.text;
  }
}

// Every file of a folder by name, byte for byte.
std::map<std::string, std::string> FolderBytes(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(e.path(), std::ios::binary);
    files[e.path().filename().string()].assign(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

// A failure far into a long import, whether a write the disk refuses or a card malformed
// near the end of the text, rolls back every card added before it: the folder is left byte
// for byte as it was.
TEST(Exchange, ImportFailingMidwayLeavesTheFolderAsItWas) {
  std::string json = "[", csv = "I_VERB,TEMA,EXA_MEMO\r\n";
  for (int i = 0; i < 300; ++i) {
    std::string id = "card " + std::to_string(i), theme = "theme " + std::to_string(i % 17);
    json += (i ? ",\n" : "\n") + std::string(R"({"I_VERB": ")") + id + R"(", "TEMA": ")" + theme +
            R"(", "EXA_MEMO": "example )" + id + "\"}";
    csv += id + "," + theme + ",example " + id + "\r\n";
  }
  const std::string goodJson = json + "]";
  // Every write goes to its file as it is made, as in an import larger than the journal's
  // memory bound, so the fault lands among the cards' own writes.
  storage::dat::testing::StageEveryWrite staged;
  test::FaultFileSystem fs;
  int writes = 0;  // the writes of the whole import
  {
    Folder probe;
    probe.Create();
    test::ScopedFileSystem installed(fs);
    std::string error;
    EXPECT_EQ(0, probe.Import(goodJson, CardFormat::kJson, &error)) << error;
    writes = fs.Count(test::FaultOp::kWrite);
  }
  ASSERT_GT(writes, 300);

  Folder db;
  db.Create();
  ASSERT_EQ(0, db.Import(R"([{"I_VERB": "бить 1"}])"));
  const auto before = FolderBytes(db.dir());
  std::string error;
  // A fault that outlasts the failing ADD meets the rollback's writes too.
  for (int nth : {writes / 4, writes / 2, writes * 3 / 4}) {
    {
      test::ScopedFileSystem installed(fs);
      fs.Reset();
      fs.FailNth(test::FaultOp::kWrite, nth, EIO, 3);
      EXPECT_NE(0, db.Import(goodJson, CardFormat::kJson, &error));
    }
    EXPECT_NE(std::string::npos, error.find("ADD")) << error;
    EXPECT_EQ(before, FolderBytes(db.dir())) << "fault at write " << nth << ": " << error;
  }

  EXPECT_EQ(kBadCards, db.Import(json + ", {\"I_VERB\": }]", CardFormat::kJson, &error));
  EXPECT_NE(std::string::npos, error.find("line 301")) << error;
  EXPECT_EQ(before, FolderBytes(db.dir()));
  EXPECT_EQ(kBadCards, db.Import(csv + "last,\"unclosed\r\n", CardFormat::kCsv, &error));
  EXPECT_NE(std::string::npos, error.find("line 302")) << error;
  EXPECT_EQ(before, FolderBytes(db.dir()));
}

TEST(Exchange, ImportWithoutADatabaseFails) {
  Folder db;
  std::string error;
  EXPECT_EQ(storage::kErrFileNotFound, db.Import(R"([{"I_VERB": "a 1"}])", CardFormat::kJson, &error));
  EXPECT_NE(std::string::npos, error.find("slovo.dat"));
}

TEST(Exchange, DemoDatabaseIsBuiltRepairedAndSound) {
  Folder db;
  ui::HeadlessMessageUi ui;
  PassReport report;
  std::string error;
  ASSERT_EQ(0, BuildDemoDatabase(db.files(), ui, nullptr, &report, &error)) << error;
  nlohmann::json source = nlohmann::json::parse(DemoCardsJson());
  EXPECT_EQ(static_cast<int64_t>(source.size()), report.lexemes);
  EXPECT_EQ(source.size(), nlohmann::json::parse(db.Export()).size());
  EXPECT_EQ(2u, ui.Boxes().size());

  // Every file passes the driver's own check; the word counts add up to the lexemes.
  int64_t counted = 0;
  for (int i = 0; i < kLexiconFileCount; ++i) {
    DeclaredFile& d = db.files()[static_cast<LexiconFile>(i)];
    DriverArgs open;
    open.mode = storage::kOpenReadOnly | storage::kShareDenyNone;
    ASSERT_EQ(0, CallDriver(storage::kOpOpen, d.fd(), open)) << d.fd().name;
    std::string fault;
    EXPECT_EQ(0, storage::dat::DatFile::Of(d.fd()).Check(&fault)) << d.fd().name << ": " << fault;
    if (static_cast<LexiconFile>(i) == LexiconFile::kDct) {
      DriverArgs set;
      set.key = 1;
      EXPECT_EQ(0, CallDriver(storage::kOpSetKey, d.fd(), set));
      while (CallDriver(storage::kOpNext, d.fd()) == 0)
        counted += static_cast<unsigned char>(d.Field("NUM")[0]);
    }
    EXPECT_EQ(0, CallDriver(storage::kOpClose, d.fd()));
  }
  EXPECT_EQ(report.lexemes, counted);
  EXPECT_GT(report.words, 10);
}

}  // namespace
}  // namespace korawin::app
