#include <gtest/gtest.h>

#include "app/files.h"

namespace korawin::app {
namespace {

TEST(LexiconFiles, SlovoLayoutMatchesTheStoredRecord) {
  DeclaredFile slovo = DeclareFile(LexiconFile::kSlovo, nullptr, "/db");
  const storage::FileDescriptor& fd = slovo.fd();
  EXPECT_EQ("/db/slovo.dat", fd.name);
  EXPECT_EQ(53u, fd.fields.size());
  EXPECT_EQ(4120u, fd.recordSize);
  struct {
    const char* name;
    uint32_t offset;
    uint32_t size;
  } const expected[] = {{"VERV", 78, 20},  {"EXAMPLE", 98, 255}, {"ACT11", 517, 4},
                        {"ACT21", 537, 30}, {"ACT31", 687, 5},    {"ACT41", 712, 30},
                        {"ACT51", 862, 70}, {"IV", 1212, 140},    {"V_0", 1352, 150},
                        {"V_4", 1952, 150}, {"V_7", 2288, 210},   {"V_6", 2498, 210},
                        {"V8B", 2708, 40},  {"TEMA", 3298, 164},  {"VIII_ADD", 3861, 255},
                        {"METKA", 4116, 1}, {"Q3", 4119, 1}};
  for (const auto& e : expected) {
    int i = slovo.FieldIndex(e.name);
    ASSERT_GE(i, 0) << e.name;
    EXPECT_EQ(e.offset, fd.fields[static_cast<size_t>(i)].offset) << e.name;
    EXPECT_EQ(e.size, fd.fields[static_cast<size_t>(i)].size) << e.name;
  }
  ASSERT_EQ(9u, fd.keys.size());
  EXPECT_EQ("SLO:K_SLO", fd.keys[0].label);
  EXPECT_EQ(storage::kKeyOpt | storage::kKeyNoCase, fd.keys[0].attributes);
  EXPECT_EQ(1, fd.keys[0].components[0]);
  EXPECT_EQ("SLO:BY_V7", fd.keys[6].label);
  EXPECT_EQ("SLO:V_7", fd.fields[static_cast<size_t>(fd.keys[6].components[0] - 1)].label);
  ASSERT_EQ(1u, fd.memos.size());
  EXPECT_EQ(10000u, fd.memos[0].size);
  EXPECT_EQ(std::string(10000, ' '), std::string(slovo.memo.data(), slovo.memo.size()));
}

TEST(LexiconFiles, AbcKeysFollowTheirOwnFlags) {
  DeclaredFile abc = DeclareFile(LexiconFile::kAbc, nullptr);
  EXPECT_EQ("abc", abc.fd().name);
  ASSERT_EQ(2u, abc.fd().keys.size());
  EXPECT_EQ(storage::kKeyOpt, abc.fd().keys[0].attributes);
  EXPECT_EQ(storage::kKeyDup | storage::kKeyNoCase, abc.fd().keys[1].attributes);
  DeclaredFile dct = DeclareFile(LexiconFile::kDct, nullptr);
  dct.SetField("VERV", "бить");
  EXPECT_EQ(64u, dct.Field("VERV").size());
  EXPECT_EQ(0, dct.Field("NUM")[0]);  // numbers start at zero, text blank
}

}  // namespace
}  // namespace korawin::app
