#include "tests/app/lexicon_disk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/repair.h"
#include "platform/codepage.h"
#include "storage/dat/dat_driver.h"
#include "tests/support/temp_dir.h"
#include "ui/headless_message_box.h"

namespace korawin::app::testing {

namespace {

std::string Trim(std::string_view s) {
  size_t n = s.find_last_not_of(' ');
  return n == std::string_view::npos ? std::string() : std::string(s.substr(0, n + 1));
}

// Calls each for every record of which along its first key.
template <typename Fn>
void ForEachRecord(const std::string& folder, LexiconFile which, Fn each) {
  DeclaredFile d = DeclareFile(which, &storage::dat::DatDriverEntry, folder);
  storage::DriverArgs open;
  open.mode = storage::kOpenReadOnly | storage::kShareDenyNone;
  ASSERT_EQ(0, storage::CallDriver(storage::kOpOpen, d.fd(), open)) << d.fd().name;
  storage::DriverArgs set;
  set.key = 1;
  EXPECT_EQ(0, storage::CallDriver(storage::kOpSetKey, d.fd(), set));
  while (storage::CallDriver(storage::kOpNext, d.fd()) == 0) each(d);
  EXPECT_EQ(storage::CallDriver(storage::kOpClose, d.fd()), 0);
}

std::string FieldText(const DeclaredFile& d, const storage::FieldDescriptor& f) {
  const char* p = d.record.data() + f.offset;
  switch (f.type) {
    case storage::kTypeString:
      return platform::Cp1251ToUtf8(Trim(std::string_view(p, f.size)));
    case storage::kTypeLong: {
      int32_t v;
      std::memcpy(&v, p, sizeof v);
      return std::to_string(v);
    }
    default:
      return std::to_string(static_cast<unsigned char>(p[0]));
  }
}

}  // namespace

std::vector<std::string> DiskRows(const std::string& folder, LexiconFile which) {
  std::vector<std::string> rows;
  ForEachRecord(folder, which, [&](const DeclaredFile& d) {
    std::string row;
    for (const storage::FieldDescriptor& f : d.file->fields) {
      if (!row.empty()) row += "|";
      row += FieldText(d, f);
    }
    rows.push_back(row);
  });
  return rows;
}

std::map<std::string, int> DiskWords(const std::string& folder) {
  std::map<std::string, int> words;
  ForEachRecord(folder, LexiconFile::kDct, [&](const DeclaredFile& d) {
    words[platform::Cp1251ToUtf8(Trim(d.Field("VERV")))] =
        static_cast<unsigned char>(d.Field("NUM")[0]);
  });
  return words;
}

std::map<std::string, int> WordsAfterRepair(const std::string& folder) {
  test::TempDir copy("repaired");
  std::filesystem::copy(folder, copy.path(), std::filesystem::copy_options::recursive);
  ui::HeadlessMessageUi ui;
  PassReport report;
  EXPECT_EQ(0, RepairDatabase(LexiconFiles::InFolder(copy.path()), ui, nullptr, &report))
      << report.failedWhere;
  return DiskWords(copy.path());
}

std::vector<std::map<std::string, std::string>> DiskCards(const std::string& folder) {
  std::vector<std::map<std::string, std::string>> cards;
  ForEachRecord(folder, LexiconFile::kSlovo, [&](const DeclaredFile& d) {
    auto& card = cards.emplace_back();
    for (const storage::FieldDescriptor& f : d.file->fields)
      card[f.label.substr(f.label.find(':') + 1)] = FieldText(d, f);
    card["EXA_MEMO"] = platform::Cp1251ToUtf8(Trim(std::string_view(d.memo.data(), d.memo.size())));
  });
  return cards;
}

std::map<std::string, std::string> DiskCard(const std::string& folder, const std::string& lexeme) {
  for (auto& card : DiskCards(folder))
    if (card["I_VERB"] == lexeme) return card;
  return {};
}

}  // namespace korawin::app::testing
