#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/field_codec.h"

namespace korawin::platform {
namespace {

TEST(Codepage, RussianTextRoundTripsThroughWindows1251) {
  std::string utf8 = "Движение ёЁ № «бить»";
  auto cp = Utf8ToCp1251(utf8);
  ASSERT_TRUE(cp.has_value());
  EXPECT_EQ('\xC4', (*cp)[0]);         // Д
  EXPECT_EQ('\xB8', (*cp)[9]);         // ё
  EXPECT_EQ('\xA8', (*cp)[10]);        // Ё
  EXPECT_EQ('\xB9', (*cp)[12]);        // №
  EXPECT_EQ(utf8, Cp1251ToUtf8(*cp));
  for (int c = 0; c < 256; ++c) {
    auto back = UnicodeToCp1251(Cp1251ToUnicode(static_cast<unsigned char>(c)));
    ASSERT_TRUE(back.has_value()) << c;
    EXPECT_EQ(c, *back);
  }
}

TEST(Codepage, TextOutsideTheCodePageIsRefusedWithItsOffset) {
  size_t bad = 99;
  EXPECT_FALSE(Utf8ToCp1251("ab漢", &bad).has_value());
  EXPECT_EQ(2u, bad);
  EXPECT_FALSE(Utf8ToCp1251("a\xC0\x80", &bad).has_value());  // overlong
  EXPECT_EQ("ab?", Utf8ToCp1251Lossy("ab漢"));
}

TEST(Codepage, OemConversionMapsCyrillic) {
  EXPECT_EQ(0x80, AnsiToOem(0xC0));  // А
  EXPECT_EQ(0xA0, AnsiToOem(0xE0));  // а
  EXPECT_EQ(0xF1, AnsiToOem(0xB8));  // ё
  EXPECT_EQ(0xE0, AnsiToOem(0xF0));  // р
  for (int c = 0xC0; c < 256; ++c) EXPECT_EQ(c, OemToAnsi(AnsiToOem(static_cast<unsigned char>(c))));
  EXPECT_EQ('A', AnsiToOem('A'));
}

}  // namespace
}  // namespace korawin::platform

// Blanks are trimmed eight at a time, then one at a time: lengths around those steps.
TEST(FieldCodec, TrimTrailingStopsAtTheLastNonPadByte) {
  for (size_t text = 0; text <= 17; ++text) {
    for (size_t blanks = 0; blanks <= 17; ++blanks) {
      std::string field = std::string(text, 'x') + std::string(blanks, ' ');
      if (text > 2) field[(text - 1) / 2] = ' ';  // a blank inside the text stays
      EXPECT_EQ(field.substr(0, text), korawin::platform::TrimTrailing(field))
          << text << " + " << blanks;
    }
  }
  EXPECT_EQ("ab", korawin::platform::TrimTrailing(std::string("ab") + std::string(9, '\0'),
                                                  std::string_view("\0", 1)));
}
