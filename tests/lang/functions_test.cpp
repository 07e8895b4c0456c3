#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "lang_test_util.h"
#include "platform/clock.h"

namespace korawin::lang {
namespace {

using testing::Compiles;
using testing::Cp;
using testing::EvalInt;
using testing::EvalReal;
using testing::EvalText;
using testing::ScopedTest;

class FunctionsTest : public ScopedTest {};

TEST_F(FunctionsTest, TextFunctions) {
  EXPECT_EQ("bcd", EvalText("sub('abcdef', 2, 3)"));
  EXPECT_EQ("ef", EvalText("sub('abcdef', -2, 5)"));
  EXPECT_EQ("cdef", EvalText("sub('abcdef', 3)"));
  EXPECT_EQ("", EvalText("sub('abc', 9, 2)"));
  EXPECT_EQ("", EvalText("sub('abc', 1, -1)"));
  EXPECT_EQ("abc", EvalText("sub('abc', 1, 9223372036854775807)"));

  EXPECT_EQ(3, EvalInt("instring('c', 'abcabc', 1, 1)"));
  EXPECT_EQ(6, EvalInt("instring('c', 'abcabc', 1, 4)"));
  EXPECT_EQ(0, EvalInt("instring('c', 'abcabc', 1, 7)"));
  EXPECT_EQ(4, EvalInt("instring('ab', 'xxxab ab', 2, 2)"));
  EXPECT_EQ(0, EvalInt("instring('ab', 'xxab', 2, 2)"));  // positions 2 and 4 only
  EXPECT_EQ(4, EvalInt("instring('ab', 'abxab', -1, 5)"));
  EXPECT_EQ(1, EvalInt("instring('ab', 'abxxab', -3, 4)"));
  EXPECT_EQ(0, EvalInt("instring('ab', 'abab', 0, 1)"));
  EXPECT_EQ(0, EvalInt("instring('', 'abc')"));
  EXPECT_EQ(1, EvalInt("instring('ab', 'abab', 9223372036854775807, 1)"));
  EXPECT_EQ(3, EvalInt("instring('ab', 'abab', -9223372036854775807 - 1, 3)"));

  EXPECT_EQ(" ab", EvalText("clip(' ab  ')"));
  EXPECT_EQ("ababa", EvalText("all('ab', 5)"));
  EXPECT_EQ(255, EvalInt("len(all('-'))"));
  EXPECT_EQ(65535, EvalInt("len(all('-', 99999999999))"));
  EXPECT_EQ("  ab  ", EvalText("center(' ab', 6)"));
  EXPECT_EQ("ab   ", EvalText("left('  ab ')"));
  EXPECT_EQ("   ab", EvalText("right('ab   ')"));
  EXPECT_EQ("ab  ", EvalText("left(' ab', 4)"));
  EXPECT_EQ("  ab", EvalText("right('ab', 4)"));
  EXPECT_EQ("A", EvalText("chr(65)"));
  EXPECT_EQ(65, EvalInt("val('ABC')"));
  EXPECT_EQ(0, EvalInt("val('')"));
  EXPECT_EQ(5, EvalInt("len('ab   ')"));
  EXPECT_EQ(1, EvalInt("numeric(' -12.5 ')"));
  EXPECT_EQ(0, EvalInt("numeric('12a')"));
  EXPECT_EQ(0, EvalInt("numeric('')"));
  EXPECT_EQ(0, EvalInt("numeric('nan')"));
}

TEST_F(FunctionsTest, CaseFoldingCoversCyrillic) {
  EXPECT_EQ(Cp("ЁЖИК ЇЄЎ ҐЂ ABC"), EvalText(Cp("upper('ёжик їєў ґђ abc')")));
  EXPECT_EQ(Cp("ёжик їєў ґђ abc"), EvalText(Cp("lower('ЁЖИК ЇЄЎ ҐЂ ABC')")));
  EXPECT_EQ(Cp("№ 1 «»"), EvalText(Cp("upper('№ 1 «»')")));
  // The range term of a case-insensitive key order.
  EXPECT_EQ(1, EvalInt(Cp("upper('бить') = upper('БИТЬ')")));
}

TEST_F(FunctionsTest, NumericFunctions) {
  EXPECT_DOUBLE_EQ(2.5, EvalReal("abs(-2.5)"));
  EXPECT_EQ(kReal, CompileExpression("abs(-2)")->type());
  EXPECT_EQ(-2, EvalInt("int(-2.7)"));
  EXPECT_EQ(9223372036854775807LL, EvalInt("int(1.0e300)"));
  EXPECT_DOUBLE_EQ(2.57, EvalReal("round(2.567, .01)"));
  EXPECT_DOUBLE_EQ(3, EvalReal("round(2.5)"));
  EXPECT_DOUBLE_EQ(0, EvalReal("sqrt(-4)"));
  EXPECT_DOUBLE_EQ(3, EvalReal("sqrt(9)"));
  EXPECT_DOUBLE_EQ(2, EvalReal("log10(100)"));
  EXPECT_DOUBLE_EQ(0, EvalReal("loge(0)"));
  EXPECT_DOUBLE_EQ(0, EvalReal("asin(2)"));
  EXPECT_NEAR(3.14159265, EvalReal("acos(-1)"), 1e-8);
  EXPECT_EQ(1, EvalInt("inrange(5, 1, 10)"));
  EXPECT_EQ(0, EvalInt("inrange(11, 1, 10)"));
  EXPECT_EQ(1, EvalInt("inrange('b', 'a', 'c')"));
  EXPECT_EQ(8, EvalInt("band(12, 10)"));
  EXPECT_EQ(14, EvalInt("bor(12, 10)"));
  EXPECT_EQ(6, EvalInt("bxor(12, 10)"));
  EXPECT_EQ(12, EvalInt("bshift(3, 2)"));
  EXPECT_EQ(3, EvalInt("bshift(12, -2)"));
  EXPECT_EQ(0, EvalInt("bshift(1, 64)"));
  EXPECT_EQ(-1, EvalInt("bshift(-8, -100)"));
  for (int k = 0; k < 50; ++k) {
    int64_t r = EvalInt("random(3, 5)");
    EXPECT_TRUE(r >= 3 && r <= 5) << r;
  }
  EXPECT_EQ(7, EvalInt("random(7, 7)"));
}

TEST_F(FunctionsTest, DatesAreDayNumbersSince28December1800) {
  EXPECT_EQ(4, EvalInt("date(1, 1, 1801)"));
  EXPECT_EQ(EvalInt("date(2, 1, 2000)"), EvalInt("date(1, 32, 2000)"));
  EXPECT_EQ(EvalInt("date(1, 15, 2001)"), EvalInt("date(13, 15, 2000)"));
  EXPECT_EQ(EvalInt("date(12, 15, 1999)"), EvalInt("date(0, 15, 2000)"));
  EXPECT_EQ(0, EvalInt("date(1, 1, 10000)"));
  EXPECT_EQ(0, EvalInt("date(1, 1, 9223372036854775807)"));
  EXPECT_EQ(29, EvalInt("day(date(2, 29, 2000))"));
  EXPECT_EQ(3, EvalInt("month(date(2, 29, 2001))"));  // no 29 February in 2001
  EXPECT_EQ(1801, EvalInt("year(4)"));
  EXPECT_EQ(0, EvalInt("year(0)"));
  EXPECT_EQ(0, EvalInt("day(-5)"));
  EXPECT_EQ(platform::Today(), EvalInt("today()"));
  int64_t clock = EvalInt("clock()");
  EXPECT_TRUE(clock >= 1 && clock <= 8640001) << clock;
  EXPECT_EQ("10 DAYS", EvalText("age(date(1,1,2000), date(1,11,2000))"));
  EXPECT_EQ("13 MOS", EvalText("age(date(1,1,2000), date(2,15,2001))"));
  EXPECT_EQ("20 YRS", EvalText("age(date(5,10,1980), date(5,10,2000))"));
  EXPECT_EQ("19 YRS", EvalText("age(date(5,10,1980), date(5,9,2000))"));
}

TEST_F(FunctionsTest, ListFunctions) {
  EXPECT_EQ("b", EvalText("choose(2, 'a', 'b', 'c')"));
  EXPECT_EQ("c", EvalText("choose(9, 'a', 'b', 'c')"));
  EXPECT_EQ("42", EvalText("choose(1, 42, 'x')"));
  EXPECT_EQ(2, EvalInt("inlist('b', 'a', 'b  ', 'b')"));
  EXPECT_EQ(0, EvalInt("inlist('q', 'a', 'b')"));
  EXPECT_EQ(3, EvalInt("inlist(2, 1, 1.5, 2.0)"));
}

TEST_F(FunctionsTest, FormatAndDeformatPictures) {
  EXPECT_EQ("ab   ", EvalText("format('ab', @s5)"));
  EXPECT_EQ("abc", EvalText("format('abcdef', @s3)"));
  EXPECT_EQ("  3.14", EvalText("format(3.14159, @n6.2)"));
  EXPECT_EQ(" -3.14", EvalText("format(-3.14159, @n-6.2)"));
  EXPECT_EQ("000042", EvalText("format(42, @n06)"));
  EXPECT_EQ("****42", EvalText("format(42, @n*6)"));
  EXPECT_EQ("   ", EvalText("format(0, @n3b)"));
  EXPECT_EQ("###", EvalText("format(12345, @n3)"));
  EXPECT_EQ("    7", EvalText("format(7, @n_5)"));
  EXPECT_EQ("15/03/2001", EvalText("format(date(3,15,2001), @d6)"));
  EXPECT_EQ("15.03.2001", EvalText("format(date(3,15,2001), @d6.)"));
  EXPECT_EQ("15/03/2001", EvalText("format(date(3,15,2001), '@D6b')"));
  EXPECT_EQ("", EvalText("format(0, @d6)"));
  EXPECT_EQ("March 15, 2001", EvalText("format(date(3,15,2001), @d4)"));
  EXPECT_EQ("15 MAR 2001", EvalText("upper(format(date(3,15,2001), @d8))"));
  EXPECT_EQ("20010315", EvalText("format(date(3,15,2001), @d12)"));
  EXPECT_EQ("13:05:09", EvalText("format((13*3600+5*60+9)*100+1, @t4)"));
  EXPECT_EQ("01:05PM", EvalText("format((13*3600+5*60)*100+1, @t3)"));
  EXPECT_EQ(Cp("Стр    5"), EvalText(Cp("format(5, '@pСтр <<<#p')")));
  EXPECT_EQ(Cp("Стр   12"), EvalText(Cp("format(12, 'pСтр <<<#p')")));
  EXPECT_EQ("007", EvalText("format(7, @p###p)"));
  EXPECT_EQ("5", EvalText("format(5, @q)"));

  EXPECT_EQ("-1234.50", EvalText("deformat(' -1,234.50')"));
  EXPECT_EQ(EvalInt("date(3,15,2001)"), EvalInt("deformat('15.03.2001', @d6)"));
  EXPECT_EQ(EvalInt("date(3,15,2001)"), EvalInt("deformat('03/15/01', @d1)"));
  EXPECT_EQ(EvalInt("date(3,15,2001)"), EvalInt("deformat('15 MAR 2001', @d8)"));
  EXPECT_EQ(EvalInt("date(3,15,2001)"), EvalInt("deformat('20010315', @d12)"));
  EXPECT_EQ(0, EvalInt("deformat('31.02.2001', @d6)"));
  EXPECT_EQ(0, EvalInt("deformat('nonsense', @d6)"));
  EXPECT_EQ((13 * 3600 + 5 * 60 + 9) * 100 + 1, EvalInt("deformat('13:05:09', @t4)"));
  EXPECT_EQ((13 * 3600 + 5 * 60) * 100 + 1, EvalInt("deformat('01:05PM', @t3)"));
  EXPECT_EQ(0, EvalInt("deformat('25:00', @t1)"));
  EXPECT_EQ(" x ", EvalText("deformat(' x ', @s3)"));
  // What FORMAT writes, DEFORMAT reads back.
  for (const char* pic : {"@d1", "@d2", "@d5", "@d6", "@d8", "@d10", "@d12"}) {
    std::string text = "deformat(format(date(12,31,1999), " + std::string(pic) + "), " + pic + ")";
    EXPECT_EQ(EvalInt("date(12,31,1999)"), EvalInt(text)) << pic;
  }
}

TEST_F(FunctionsTest, GetIniReadsAProfileFile) {
  auto dir = std::filesystem::temp_directory_path() / ("lang_getini_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  auto ini = dir / "korawin1.ini";
  std::ofstream(ini) << "[Window]\nWidth=640\n";
  std::string file = ini.string();
  EXPECT_EQ("640", EvalText("getini('Window', 'width', '0', '" + file + "')"));
  EXPECT_EQ("none", EvalText("getini('Window', 'height', 'none', '" + file + "')"));
  EXPECT_EQ(640, EvalInt("getini('Window', 'Width', '0', '" + file + "') + 0"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korawin::lang
