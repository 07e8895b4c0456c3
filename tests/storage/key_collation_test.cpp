// Collation and case tables, and the environment file that sets them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/codepage.h"
#include "storage/dat/collation.h"
#include "storage/dat/key_codec.h"
#include "tests/support/temp_dir.h"

namespace korawin::storage::dat {
namespace {

// Windows-1251 bytes of a UTF-8 literal.
uint8_t C(const char* utf8) {
  auto s = platform::Utf8ToCp1251(utf8);
  EXPECT_TRUE(s && s->size() == 1) << utf8;
  return s && !s->empty() ? static_cast<uint8_t>((*s)[0]) : 0;
}

std::string Key(const Collation& c, const std::string& utf8, bool nocase) {
  std::string in = *platform::Utf8ToCp1251(utf8);
  std::string out(in.size(), '\0');
  c.Translate(reinterpret_cast<const unsigned char*>(in.data()), in.size(), nocase, false,
              reinterpret_cast<unsigned char*>(out.data()));
  return out;
}

TEST(CollationTest, DefaultsAreIdentityAndAsciiPairs) {
  Collation c;
  for (int i = 0; i < 256; ++i) EXPECT_EQ(c.Weight(static_cast<uint8_t>(i)), i);
  EXPECT_EQ(c.Upper('q'), 'Q');
  EXPECT_EQ(c.Upper('Q'), 'Q');
  EXPECT_EQ(c.Upper(C("я")), C("я"));
  EXPECT_EQ(c.CaseClass('7'), kCaseDigit);
  EXPECT_FALSE(c.has_digraphs());
}

TEST(CollationTest, WindowsSettingsFoldAndOrderRussian) {
  Collation c;
  ASSERT_EQ(Collation::Parse("VELCASE=WINDOWS\nVELCOLSEQ=WINDOWS\n", &c), 0);
  EXPECT_EQ(c.Upper(C("я")), C("Я"));
  EXPECT_EQ(c.Upper(C("ё")), C("Ё"));
  EXPECT_EQ(c.Upper(C("ї")), C("Ї"));
  EXPECT_EQ(c.Upper(C("ў")), C("Ў"));
  EXPECT_EQ(c.Upper('a'), 'A');
  EXPECT_EQ(c.CaseClass(C("Ж")), kCaseUpper);
  EXPECT_EQ(c.CasePartner(C("Ж")), C("ж"));
  // Alphabetical: Е < Ё < Ж, а < б, and across case as a Russian reader expects.
  EXPECT_LT(c.Weight(C("Е")), c.Weight(C("Ё")));
  EXPECT_LT(c.Weight(C("Ё")), c.Weight(C("Ж")));
  // Case is a smaller difference than the letter: а and А both before б.
  EXPECT_LT(c.Weight(C("а")), c.Weight(C("б")));
  EXPECT_LT(c.Weight(C("А")), c.Weight(C("б")));
  EXPECT_LT(Key(c, "ёж", false), Key(c, "жук", false));
  EXPECT_LT(Key(c, "аист", false), Key(c, "Яблоко", false));
  EXPECT_LT(Key(c, "9", false), Key(c, "a", false));
  EXPECT_LT(Key(c, "а", false), Key(c, "z", false));  // the Russian order puts Cyrillic first
  EXPECT_EQ(Key(c, "Абв", true), Key(c, "аБВ", true));
  // Characters 0 and 1 keep their places; weights stay distinct.
  EXPECT_EQ(c.Weight(0), 0);
  EXPECT_EQ(c.Weight(1), 1);
  bool used[256] = {};
  for (int i = 0; i < 256; ++i) {
    EXPECT_FALSE(used[c.Weight(static_cast<uint8_t>(i))]) << i;
    used[c.Weight(static_cast<uint8_t>(i))] = true;
  }
}

TEST(CollationTest, CustomOrderCasePairsAndDigraphs) {
  Collation c;
  std::string warnings;
  ASSERT_EQ(Collation::Parse("; own settings\n"
                             "VELCOLSEQ = \"ZYX\"\n"
                             "VELCASE=AaBb\n"
                             "VELCHARSET=UTF-8\n"
                             "VELDIGRAPH=ЖZH, Q\n"
                             "OTHER=1\n",
                             &c, &warnings),
            0);
  // Z, Y, X sort in that order where X stood: after W, before '['.
  EXPECT_LT(c.Weight('W'), c.Weight('Z'));
  EXPECT_LT(c.Weight('Z'), c.Weight('Y'));
  EXPECT_LT(c.Weight('Y'), c.Weight('X'));
  EXPECT_LT(c.Weight('X'), c.Weight('['));
  EXPECT_EQ(c.Upper('a'), 'A');
  EXPECT_EQ(c.Upper('c'), 'c');  // only the listed pairs
  EXPECT_TRUE(c.has_digraphs());
  EXPECT_NE(warnings.find("VELDIGRAPH"), std::string::npos);  // "Q" is not an item
  EXPECT_NE(warnings.find("OTHER"), std::string::npos);
  // Ж sorts as ZH; the expansion is cut to the component's length.
  EXPECT_EQ(Key(c, "Ж", false), std::string(1, static_cast<char>(c.Weight('Z'))));
  std::string zh = Key(c, "Жa", false);
  ASSERT_EQ(zh.size(), 2u);  // "Жa" is two bytes in 1251: Z H a cut back to Z H
  std::string want = {static_cast<char>(c.Weight('Z')), static_cast<char>(c.Weight('H'))};
  EXPECT_EQ(zh.substr(0, 2), want);
}

TEST(CollationTest, TranslateWeighsEveryCharacterAsTheTablesSay) {
  Collation c;
  ASSERT_EQ(Collation::Parse("VELCHARSET=UTF-8\nVELCASE=WINDOWS\nVELCOLSEQ=ZYX\nVELDIGRAPH=ЖZH\n",
                             &c),
            0);
  const uint8_t zh = C("Ж");
  for (int nocase = 0; nocase < 2; ++nocase) {
    for (int oem = 0; oem < 2; ++oem) {
      auto weigh = [&](uint8_t u) {
        return oem ? c.OemWeight(platform::AnsiToOem(u)) : c.Weight(u);
      };
      for (int ch = 0; ch < 256; ++ch) {
        const unsigned char in[2] = {static_cast<unsigned char>(ch), 'A'};
        unsigned char out[2];
        c.Translate(in, 2, nocase, oem, out);
        uint8_t u = nocase ? c.Upper(static_cast<uint8_t>(ch)) : static_cast<uint8_t>(ch);
        const uint8_t want[2] = {u == zh ? weigh('Z') : weigh(u),
                                 u == zh ? weigh('H') : weigh('A')};
        ASSERT_EQ(out[0], want[0]) << ch << " nocase " << nocase << " oem " << oem;
        ASSERT_EQ(out[1], want[1]) << ch << " nocase " << nocase << " oem " << oem;
      }
    }
  }
}

TEST(CollationTest, OemCharsetValues) {
  // Pairs written in code page 866: А (0x80) and а (0xA0).
  Collation c;
  ASSERT_EQ(Collation::Parse(std::string("VELCHARSET=OEM\nVELCASE=\x80\xA0\n"), &c), 0);
  EXPECT_EQ(c.Upper(C("а")), C("А"));
  // A custom order in OEM codes is made on the OEM table; the ANSI one follows it.
  Collation o;
  ASSERT_EQ(Collation::Parse(std::string("VELCHARSET=OEM\nVELCOLSEQ=\xA0\x80\n"), &o), 0);
  EXPECT_LT(o.OemWeight(0xA0), o.OemWeight(0x80));
  EXPECT_LT(o.Weight(C("а")), o.Weight(C("А")));
}

TEST(CollationTest, EnvironmentFileLoading) {
  test::TempDir dir("keyenv");
  std::string path = dir.File("test.ENV");
  Collation c;
  ASSERT_EQ(Collation::Load(path, &c), 0);  // missing: defaults
  EXPECT_EQ(c.Upper(C("я")), C("я"));
  std::ofstream(path) << "[settings]\r\nVELCASE=WINDOWS\r\n";
  SetEnvironmentPath(path);
  EXPECT_EQ(EnvironmentPath(), path);
  ASSERT_EQ(LoadActiveCollation(), 0);
  EXPECT_EQ(ActiveCollation().Upper(C("я")), C("Я"));
  // Layouts made now fold Cyrillic under NOCASE.
  FileDescriptor f;
  FieldDescriptor fd;
  fd.type = kTypeString;
  fd.size = 3;
  fd.label = "E:S";
  f.fields.push_back(fd);
  f.keys.push_back(KeyDescriptor{"", "E:K", kKeyNoCase, {1}});
  KeyLayout layout;
  ASSERT_EQ(layout.Init(f, 0), 0);
  std::string lower = *platform::Utf8ToCp1251("абв"), upper = *platform::Utf8ToCp1251("АБВ");
  EXPECT_EQ(layout.Encode(lower.data()), layout.Encode(upper.data()));
  SetActiveCollation(Collation());
  SetEnvironmentPath("");
}

TEST(CollationTest, ShippedFileFoldsAndOrdersRussian) {
  Collation c;
  std::string warnings;
  ASSERT_EQ(Collation::Load(std::string(KORAWIN_SOURCE_DIR) + "/config/korawin1.ENV", &c,
                            &warnings), 0);
  EXPECT_EQ(warnings, "");
  EXPECT_EQ(c.Upper(C("ё")), C("Ё"));
  EXPECT_LT(Key(c, "ёлка", true), Key(c, "ЖУК", true));
  EXPECT_EQ(Key(c, "ёлка", true), Key(c, "ЁЛКА", true));
}

}  // namespace
}  // namespace korawin::storage::dat
