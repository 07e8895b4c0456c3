#include <cstring>

#include "lang_test_util.h"

namespace korawin::lang {
namespace {

using testing::Compiles;
using testing::Cp;
using testing::EvalInt;
using testing::EvalReal;
using testing::EvalText;
using testing::ScopedTest;

class ExpressionTest : public ScopedTest {
 protected:
  void SetUp() override {
    ScopedTest::SetUp();
    BIND("a", Variable::Of(&a_));
    BIND("b", Variable::Of(&b_));
  }
  int32_t a_ = 1;
  int32_t b_ = 2;
};

TEST_F(ExpressionTest, OneComparisonAndOneNot) {
  EXPECT_FALSE(Compiles("a = 1 = 2"));
  EXPECT_EQ(kErrInvalidExpression, ErrorCode());
  EXPECT_EQ(1, EvalInt("(a = 1) = 1"));
  EXPECT_EQ(0, EvalInt("(a = 1) = 2"));
  EXPECT_FALSE(Compiles("NOT NOT a"));
  EXPECT_FALSE(Compiles("~~a"));
  EXPECT_EQ(1, EvalInt("NOT (NOT a)"));
  EXPECT_EQ(0, EvalInt("~a"));
  EXPECT_FALSE(Compiles("a = NOT b"));
  EXPECT_EQ(0, EvalInt("a = (NOT b)"));
}

TEST_F(ExpressionTest, RelationSpellings) {
  struct Case {
    const char* rel;
    int lt, eq, gt;  // results for 1 rel 2, 2 rel 2, 3 rel 2
  } cases[] = {
      {"=", 0, 1, 0},  {"<>", 1, 0, 1}, {"<", 1, 0, 0},    {">", 0, 0, 1},
      {"<=", 1, 1, 0}, {">=", 0, 1, 1}, {"=<", 1, 1, 0},   {"=>", 0, 1, 1},
      {"~=", 1, 0, 1}, {"NOT =", 1, 0, 1}, {"~<", 0, 1, 1}, {"~>", 1, 1, 0},
      {"not<", 0, 1, 1}, {"< =", 1, 1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.lt, EvalInt(std::string("1 ") + c.rel + " b")) << c.rel;
    EXPECT_EQ(c.eq, EvalInt(std::string("2 ") + c.rel + " b")) << c.rel;
    EXPECT_EQ(c.gt, EvalInt(std::string("3 ") + c.rel + " b")) << c.rel;
  }
  EXPECT_FALSE(Compiles("1 >< 2"));
  EXPECT_FALSE(Compiles("1 ~ 2"));
}

TEST_F(ExpressionTest, PrecedenceAndAssociativity) {
  EXPECT_EQ(7, EvalInt("1 + 2 * 3"));
  EXPECT_EQ(9, EvalInt("(1 + 2) * 3"));
  EXPECT_DOUBLE_EQ(64, EvalReal("2 ^ 3 ^ 2"));  // left-associative
  EXPECT_DOUBLE_EQ(4, EvalReal("-2 ^ 2"));      // the sign belongs to the operand
  EXPECT_DOUBLE_EQ(0.5, EvalReal("2 ^ -1"));
  EXPECT_EQ(5, EvalInt("--5"));
  EXPECT_EQ(-5, EvalInt("-+-+-5"));
  EXPECT_EQ(1, EvalInt("10 - 4 - 5"));
  EXPECT_EQ("a3", EvalText("'a' & 1 + 2"));
  EXPECT_EQ(1, EvalInt("1 OR 0 AND 0"));  // AND binds tighter
  EXPECT_EQ(0, EvalInt("1 XOR 1"));
  EXPECT_EQ(1, EvalInt("1 XOR 0 OR 0"));
  EXPECT_EQ(1, EvalInt("NOT a = 2"));  // NOT applies to the comparison
  EXPECT_FALSE(Compiles("* 2"));
  EXPECT_FALSE(Compiles("1 +"));
  EXPECT_FALSE(Compiles("1 AND"));
}

TEST_F(ExpressionTest, Literals) {
  EXPECT_EQ(255, EvalInt("0FFH"));
  EXPECT_EQ(15, EvalInt("17O"));
  EXPECT_EQ(5, EvalInt("101B"));
  EXPECT_EQ(255, EvalInt("0ffh"));
  EXPECT_FALSE(Compiles("19O"));
  EXPECT_FALSE(Compiles("102B"));
  EXPECT_FALSE(Compiles("12A"));
  EXPECT_FALSE(Compiles("1E5"));  // an exponent needs a decimal point
  EXPECT_DOUBLE_EQ(150000, EvalReal("1.5E5"));
  EXPECT_DOUBLE_EQ(0.015, EvalReal("1.5e-2"));
  EXPECT_DOUBLE_EQ(0.25, EvalReal(".25"));
  EXPECT_FALSE(Compiles("1.5e"));
  EXPECT_FALSE(Compiles("1.0e999"));
  EXPECT_EQ(9223372036854775807LL, EvalInt("9223372036854775807"));
  EXPECT_FALSE(Compiles("9223372036854775808"));
  EXPECT_FALSE(Compiles("10000000000000000H"));
  EXPECT_EQ("it's", EvalText("'it''s'"));
  EXPECT_EQ("'", EvalText("''''"));
  EXPECT_EQ("", EvalText("''"));
  EXPECT_FALSE(Compiles("'open"));
  EXPECT_FALSE(Compiles("'it''"));
  EXPECT_EQ("01/02/1990", EvalText("format(date(1,2,1990), @d2)"));
  EXPECT_FALSE(Compiles("1 $ 2"));
  EXPECT_FALSE(Compiles("a; b"));
}

TEST_F(ExpressionTest, FunctionCallsAndArgumentCounts) {
  EXPECT_FALSE(Compiles("TODAY"));
  EXPECT_TRUE(Compiles("TODAY()"));
  EXPECT_FALSE(Compiles("TODAY(1)"));
  EXPECT_FALSE(Compiles("clip('a', 'b')"));
  EXPECT_EQ(2, EvalInt("instring('a', 'bab')"));  // fewer arguments take defaults
  EXPECT_EQ("", EvalText("clip()"));
  EXPECT_FALSE(Compiles("instring('a',,1)"));
  EXPECT_FALSE(Compiles("clip('a'"));
  // Up to 25 arguments for the list functions.
  std::string list = "inlist('z'";
  for (char c = 'a'; c < 'a' + 23; ++c) list += std::string(",'") + c + "'";
  EXPECT_EQ(24, EvalInt(list + ",'z')"));
  EXPECT_FALSE(Compiles(list + ",'y','z')"));
}

TEST_F(ExpressionTest, CompileFailuresSetTheirCode) {
  EXPECT_FALSE(Compiles("nosuch + 1"));
  EXPECT_EQ(kErrNoBind, ErrorCode());
  EXPECT_FALSE(Compiles("a +* 1"));
  EXPECT_EQ(kErrInvalidExpression, ErrorCode());
  EXPECT_EQ("Invalid expression for EVALUATE", ErrorText());
  EXPECT_FALSE(Compiles("a b"));  // text left over
  EXPECT_FALSE(Compiles(""));
  EXPECT_TRUE(Compiles("a"));
  EXPECT_EQ(0, ErrorCode());

  EXPECT_EQ("3", EVALUATE("a + b"));
  EXPECT_EQ("", EVALUATE("a +"));
  EXPECT_EQ(kErrInvalidExpression, ErrorCode());
  EXPECT_EQ("", EVALUATE("c"));
  EXPECT_EQ(kErrNoBind, ErrorCode());
}

TEST_F(ExpressionTest, PartialCompileOfOrderItems) {
  const std::string order = "UPPER(a) , -b,c";
  size_t used = 0;
  auto first = CompilePartialExpression(order, &used);
  ASSERT_TRUE(first);
  EXPECT_EQ(order.find(','), used);
  auto second = CompilePartialExpression(std::string_view(order).substr(used + 3), &used);
  ASSERT_TRUE(second);  // "b,c": stops before the comma, never looking at "c"
  EXPECT_EQ(1u, used);
  EXPECT_EQ(2, second->EvaluateInteger());
  EXPECT_FALSE(CompilePartialExpression(",b", &used));
  EXPECT_EQ(0u, used);
}

TEST_F(ExpressionTest, ArithmeticKeepsIntegersAndFaultsGiveZero) {
  auto div = CompileExpression("7 / 2");
  ASSERT_TRUE(div);
  EXPECT_EQ(kReal, div->type());
  EXPECT_DOUBLE_EQ(3.5, div->EvaluateReal());
  auto sum = CompileExpression("a + b * 3");
  ASSERT_TRUE(sum);
  EXPECT_EQ(kInteger, sum->type());
  EXPECT_EQ(7, sum->EvaluateInteger());
  EXPECT_EQ(1, EvalInt("7 % 3"));
  EXPECT_EQ(-1, EvalInt("-7 % 3"));
  EXPECT_DOUBLE_EQ(1.5, EvalReal("7.5 % 2"));
  EXPECT_DOUBLE_EQ(0, EvalReal("1 / 0"));
  EXPECT_EQ(0, EvalInt("5 % 0"));
  EXPECT_EQ(0, EvalInt("(-9223372036854775807 - 1) % -1"));
  EXPECT_EQ(-9223372036854775807LL - 1, EvalInt("9223372036854775807 + 1"));  // wraps
  EXPECT_DOUBLE_EQ(0, EvalReal("10.0 ^ 400"));
  EXPECT_DOUBLE_EQ(0, EvalReal("(-8) ^ 0.5"));
  EXPECT_EQ(13, EvalInt("'12' + 1"));
  EXPECT_DOUBLE_EQ(13.5, EvalReal("' 12.5 ' + 1"));
  EXPECT_EQ(1, EvalInt("'abc' + 1"));
  EXPECT_EQ(1, EvalInt("1 = 1.0"));
  EXPECT_EQ(1, EvalInt("'10' = 10"));
  EXPECT_EQ("1.5", EvalText("1.5 & ''"));
  EXPECT_EQ("2", EvalText("4.0 / 2 & ''"));
  EXPECT_EQ("-3", EvalText("-a - b & ''"));
}

TEST_F(ExpressionTest, TextsCompareWithBlankPaddingAndTruth) {
  EXPECT_EQ(1, EvalInt("'abc' = 'abc   '"));
  EXPECT_EQ(1, EvalInt("'ab' < 'abc'"));
  EXPECT_EQ(1, EvalInt("'ab' > 'ab' & CHR(9)"));  // a control character sorts below a blank
  EXPECT_EQ(1, EvalInt("'B' < 'a'"));              // code order, case significant
  EXPECT_EQ(1, EvalInt(Cp("'Я' < 'а'")));
  EXPECT_EQ(0, EvalInt("'   ' AND 1"));
  EXPECT_EQ(1, EvalInt("' x' AND 1"));
  EXPECT_EQ(0, EvalInt("0.0 OR ''"));
  EXPECT_EQ(1, EvalInt("NOT ''"));
}

TEST_F(ExpressionTest, BoundVariablesOfEveryTypeReadTheirCurrentValue) {
  // One record buffer laid out as a file's fields would be.
  unsigned char rec[64] = {};
  auto at = [&](int off) { return rec + off; };
  BIND("r:byte", Variable::Field(kTypeByte, at(0), 1));
  BIND("r:short", Variable::Field(kTypeShort, at(1), 2));
  BIND("r:ushort", Variable::Field(kTypeUShort, at(3), 2));
  BIND("r:long", Variable::Field(kTypeLong, at(5), 4));
  BIND("r:ulong", Variable::Field(kTypeULong, at(9), 4));
  BIND("r:real", Variable::Field(kTypeReal, at(13), 8));
  BIND("r:dec", Variable::Field(kTypeDecimal, at(21), 3, 2));  // 5 digits, 2 after the point
  BIND("r:str", Variable::Field(kTypeString, at(24), 8));
  BIND("r:cstr", Variable::Field(kTypeCString, at(32), 8));
  BIND("r:pstr", Variable::Field(kTypePString, at(40), 8));
  BIND("r:date", Variable::Field(kTypeDate, at(48), 4));
  BIND("r:time", Variable::Field(kTypeTime, at(52), 4));
  BIND("r:sreal", Variable::Field(kTypeSReal, at(56), 4));

  auto e = CompileExpression(
      "r:byte & '|' & r:short & '|' & r:ushort & '|' & r:long & '|' & r:ulong & '|' & r:real &"
      " '|' & r:dec & '|' & r:str & '|' & r:cstr & '|' & r:pstr & '|' & r:date & '|' & r:time &"
      " '|' & r:sreal");
  ASSERT_TRUE(e);
  rec[0] = 200;
  rec[1] = 0xFE; rec[2] = 0xFF;            // -2
  rec[3] = 0xFE; rec[4] = 0xFF;            // 65534
  rec[5] = 0x40; rec[6] = 0xE2; rec[7] = 0x01; rec[8] = 0x00;  // 123456
  std::memset(at(9), 0xFF, 4);             // 4294967295
  double d = 2.25;
  std::memcpy(at(13), &d, 8);
  rec[21] = 0x81; rec[22] = 0x23; rec[23] = 0x45;  // -123.45
  std::memcpy(at(24), "word    ", 8);
  std::memcpy(at(32), "ab\0zzzzz", 8);
  rec[40] = 3; std::memcpy(at(41), "xyzqqqq", 7);
  rec[48] = 1; rec[49] = 1; rec[50] = 0x09; rec[51] = 0x07;  // 1 January 1801
  rec[52] = 5; rec[53] = 2; rec[54] = 1; rec[55] = 0;        // 00:01:02.05
  float f = 0.5f;
  std::memcpy(at(56), &f, 4);
  EXPECT_EQ("200|-2|65534|123456|4294967295|2.25|-123.45|word    |ab|xyz|4|6206|0.5",
            e->EvaluateText());

  // The next evaluation sees the buffer as it is then.
  std::memcpy(at(24), "other   ", 8);
  rec[0] = 7;
  rec[21] = 0x00;
  std::memset(at(48), 0, 8);
  EXPECT_EQ("7|-2|65534|123456|4294967295|2.25|23.45|other   |ab|xyz|0|0|0.5",
            e->EvaluateText());

  auto types = [](const char* t) { return CompileExpression(t)->type(); };
  EXPECT_EQ(kInteger, types("r:date"));
  EXPECT_EQ(kReal, types("r:ulong"));
  EXPECT_EQ(kReal, types("r:dec"));
  EXPECT_EQ(kText, types("r:pstr"));
}

TEST_F(ExpressionTest, SubscriptsSelectElementsCharactersAndSlices) {
  char name[10] = {};
  std::memcpy(name, "Lexicon   ", 10);
  int32_t counts[2][3] = {{1, 2, 3}, {4, 5, 6}};
  char words[3][4] = {};
  std::memcpy(words, "one two thre", 12);
  BIND("n", Variable::String(name, 10));
  BIND("c", Variable::Of(&counts[0][0]).Dim({2, 3}));
  BIND("w", Variable::String(&words[0][0], 4).Dim({3}));
  EXPECT_EQ("exi", EvalText("n[2:4]"));
  EXPECT_EQ("x", EvalText("n[3]"));
  EXPECT_EQ("Lexicon   ", EvalText("n[0:99]"));
  EXPECT_EQ("", EvalText("n[5:4]"));
  EXPECT_EQ(6, EvalInt("c[2,3]"));
  EXPECT_EQ(2, EvalInt("c[1,a+1]"));
  EXPECT_EQ(0, EvalInt("c[3,1]"));  // outside the array
  EXPECT_EQ(0, EvalInt("c[1,0]"));
  EXPECT_EQ("two ", EvalText("w[2]"));
  EXPECT_EQ("hr", EvalText("w[3,2:3]"));
  EXPECT_FALSE(Compiles("c[1]"));
  EXPECT_FALSE(Compiles("c[1,2,3]"));
  EXPECT_FALSE(Compiles("a[1]"));
  EXPECT_FALSE(Compiles("n[1,2]"));
  EXPECT_FALSE(Compiles("n[1:2"));
}

// The application's filter over a file of participants: while the fragment is blank every
// record passes, otherwise exactly the records whose field contains it, case-sensitively.
TEST_F(ExpressionTest, ApplicationFilterSelectsRecordsContainingTheFragment) {
  char fr1[20] = {};
  char ak2a[30] = {};
  BIND("glo:fr1", Variable::String(fr1, sizeof fr1));
  BIND("AK2:a", Variable::String(ak2a, sizeof ak2a));
  auto filter = CompileExpression("(clip(glo:fr1)='' or instring(clip(glo:fr1),AK2:a,1)<>0)");
  ASSERT_TRUE(filter);
  auto put = [](char* buf, size_t n, const std::string& v) {
    std::memset(buf, ' ', n);
    std::memcpy(buf, v.data(), std::min(n, v.size()));
  };
  const std::string records[] = {Cp("Агенс"), Cp("Пациенс"), Cp("Адресат"), Cp("агенс 2"),
                                 Cp("Инструмент")};
  auto passing = [&](const std::string& fragment) {
    put(fr1, sizeof fr1, fragment);
    std::string which;
    for (size_t k = 0; k < std::size(records); ++k) {
      put(ak2a, sizeof ak2a, records[k]);
      if (filter->EvaluateBool()) which += std::to_string(k);
    }
    return which;
  };
  EXPECT_EQ("01234", passing(""));
  EXPECT_EQ("013", passing(Cp("енс")));
  EXPECT_EQ("0", passing(Cp("Аген")));
  EXPECT_EQ("3", passing(Cp("агенс")));
  EXPECT_EQ("", passing(Cp("Агенс 2")));
  EXPECT_EQ("0", passing(Cp("Агенс                ")));  // trailing blanks clipped
}

}  // namespace
}  // namespace korawin::lang
