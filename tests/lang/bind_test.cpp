#include <atomic>
#include <cstring>
#include <thread>

#include "lang/bind.h"
#include "lang_test_util.h"

namespace korawin::lang {
namespace {

using testing::Cp;
using testing::EvalInt;
using testing::ScopedTest;

class BindTest : public ScopedTest {};

TEST_F(BindTest, NamesMatchWithoutRegardToCaseLatinAndCyrillic) {
  int32_t len = 7;
  char tema[10] = {};
  std::memcpy(tema, Cp("Движение  ").data(), 10);
  ASSERT_TRUE(BIND("L:LenT81", Variable::Of(&len)));
  ASSERT_TRUE(BIND(Cp("L:ТемаЁ"), Variable::String(tema, 10)));
  EXPECT_EQ(7, EvalInt("l:lent81"));
  EXPECT_EQ(7, EvalInt("L:LENT81 + 0"));
  // Cyrillic letters of the name fold too, Ё/ё included.
  EXPECT_EQ(1, EvalInt(Cp("l:темаё = 'Движение'")));
  EXPECT_EQ(1, EvalInt(Cp("L:ТЕМАЁ = 'Движение'")));
  // Е and Ё are different letters.
  EXPECT_FALSE(testing::Compiles(Cp("L:ТемаЕ")));
  EXPECT_EQ(kErrNoBind, ErrorCode());
}

TEST_F(BindTest, BindKeepsTheNamePartOfItsText) {
  EXPECT_EQ("glo:fr1", BindName("glo:fr1 extra"));
  EXPECT_EQ("Name$", BindName("Name$x"));
  EXPECT_EQ("A#", BindName("A##"));
  EXPECT_EQ("q\"", BindName("q\"tail"));
  EXPECT_EQ("", BindName("(x)"));
  EXPECT_EQ(100u, BindName(std::string(150, 'a')).size());

  int32_t v = 3;
  EXPECT_TRUE(BIND("loc:Count and more", Variable::Of(&v)));
  EXPECT_EQ(3, EvalInt("LOC:COUNT"));
  EXPECT_FALSE(BIND("  ", Variable::Of(&v)));
  // Not readable: no address, or a size that does not fit the type.
  EXPECT_FALSE(BIND("x", Variable::Field(kTypeLong, nullptr, 4)));
  EXPECT_FALSE(BIND("x", Variable::Field(kTypeLong, &v, 2)));
  EXPECT_FALSE(BIND("x", Variable::Field(kTypeReal, &v, 4)));
  EXPECT_FALSE(BIND("x", Variable::Field(23, &v, 4)));
}

TEST_F(BindTest, FunctionsAndKeywordsWinOverBoundNames) {
  int32_t date = 99, andv = 5;
  BIND("DATE", Variable::Of(&date));
  BIND("and", Variable::Of(&andv));
  EXPECT_FALSE(testing::Compiles("date"));  // the function, without its parentheses
  EXPECT_EQ(4, EvalInt("Date(1,1,1801)"));
  EXPECT_EQ(1, EvalInt("1 AND 1"));
}

TEST_F(BindTest, RebindingReplacesTheVariable) {
  int32_t a = 1, b = 2;
  BIND("X", Variable::Of(&a));
  BIND("x", Variable::Of(&b));
  EXPECT_EQ(2, EvalInt("x"));
  // A compiled tree keeps reading the variable it was compiled against.
  auto e = CompileExpression("X * 10");
  ASSERT_TRUE(e);
  BIND("X", Variable::Of(&a));
  b = 4;
  EXPECT_EQ(40, e->EvaluateInteger());
}

TEST_F(BindTest, BarrierHidesOuterNamesAndPopRestoresThem) {
  int32_t outer = 1, inner = 2;
  BIND("outer", Variable::Of(&outer));
  BIND("shared", Variable::Of(&outer));

  PUSHSCOPE(1);  // outer names stay visible
  BIND("shared", Variable::Of(&inner));
  EXPECT_EQ(1, EvalInt("outer"));
  EXPECT_EQ(2, EvalInt("shared"));  // the inner binding shadows
  EXPECT_EQ(0, POPSCOPE());
  EXPECT_EQ(1, EvalInt("shared"));

  PUSHSCOPE(0);  // barrier
  EXPECT_FALSE(testing::Compiles("outer"));
  EXPECT_EQ(kErrNoBind, ErrorCode());
  EXPECT_EQ("No BIND on variable", ErrorText());
  EXPECT_EQ(3, EvalInt("len('abc')"));  // functions are there in any scope
  PUSHSCOPE(1);                        // a see-through scope inside the barrier
  EXPECT_FALSE(testing::Compiles("outer"));
  EXPECT_EQ(0, POPSCOPE());
  EXPECT_EQ(0, POPSCOPE());
  EXPECT_EQ(1, EvalInt("outer"));
}

TEST_F(BindTest, ClearBindsDropsOnlyTheCurrentScope) {
  int32_t a = 1, b = 2;
  BIND("a", Variable::Of(&a));
  PUSHSCOPE(1);
  BIND("b", Variable::Of(&b));
  ClearBinds();
  EXPECT_FALSE(testing::Compiles("b"));
  EXPECT_EQ(1, EvalInt("a"));
  EXPECT_EQ(1, EvalInt("abs(-1)"));  // keywords and functions come back
  BIND("b", Variable::Of(&b));
  EXPECT_EQ(3, EvalInt("a + b"));
  POPSCOPE();
}

TEST(ScopeTest, PopWithoutPushIsError802) {
  ASSERT_EQ(0, ScopeDepth());
  EXPECT_EQ(kErrScopeMismatch, POPSCOPE());
  EXPECT_EQ(kErrScopeMismatch, ErrorCode());
  EXPECT_EQ("Mismatched POPSCOPE", ErrorText());
  EXPECT_EQ("Mismatched PUSHSCOPE/POPSCOPE", LangErrorText(kErrScopeMismatch));
}

TEST(ScopeTest, ManyNamesAreAllFound) {
  PUSHSCOPE(0);
  std::vector<int32_t> values(500);
  for (int k = 0; k < 500; ++k) {
    values[k] = k;
    // Mixed order around the sentinel, as record fields of several files would come.
    std::string name = (k % 2 ? "zz:f" : "aa:f") + std::to_string(k);
    ASSERT_TRUE(BIND(name, Variable::Of(&values[k])));
  }
  for (int k = 0; k < 500; k += 37) {
    std::string name = (k % 2 ? "ZZ:F" : "AA:F") + std::to_string(k);
    EXPECT_EQ(k, EvalInt(name)) << name;
  }
  EXPECT_EQ(0, POPSCOPE());
}

// Windows run on threads of their own: a scope belongs to its thread, and globals bound
// before any scope are seen by every thread.
TEST(ScopeTest, ScopesBelongToTheirThreadAndGlobalsAreShared) {
  ASSERT_EQ(0, ScopeDepth());
  char fr1[20] = {};
  std::memset(fr1, ' ', sizeof fr1);
  std::memcpy(fr1, "abc", 3);
  ASSERT_TRUE(BIND("glo:fr1", Variable::String(fr1, sizeof fr1)));

  int32_t mine = 11;
  PUSHSCOPE(1);
  BIND("loc:mine", Variable::Of(&mine));

  std::atomic<int> otherPop{-1};
  std::atomic<bool> otherSawGlobal{false}, otherSawMine{true}, otherOwnScope{false};
  std::thread other([&] {
    otherSawGlobal = EvalInt("clip(glo:fr1) = 'abc'") == 1;
    otherSawMine = testing::Compiles("loc:mine");
    otherPop = POPSCOPE();  // must not pop this thread's scope
    int32_t theirs = 22;
    PUSHSCOPE(0);
    BIND("loc:mine", Variable::Of(&theirs));
    otherOwnScope = EvalInt("loc:mine") == 22;
    POPSCOPE();
  });
  other.join();
  EXPECT_TRUE(otherSawGlobal);
  EXPECT_FALSE(otherSawMine);
  EXPECT_EQ(kErrScopeMismatch, otherPop.load());
  EXPECT_TRUE(otherOwnScope);
  EXPECT_EQ(1, ScopeDepth());
  EXPECT_EQ(11, EvalInt("loc:mine"));
  EXPECT_EQ(0, POPSCOPE());
  ClearBinds();  // the globals
  EXPECT_FALSE(testing::Compiles("glo:fr1"));
}

TEST(ScopeTest, ThreadsCompilingWhileGlobalsChangeDoNotInterfere) {
  int32_t g = 5;
  ASSERT_TRUE(BIND("glo:n", Variable::Of(&g)));
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      int32_t local = t;
      for (int k = 0; k < 300; ++k) {
        PUSHSCOPE(1);
        BIND("loc:t", Variable::Of(&local));
        auto e = CompileExpression("glo:n * 10 + loc:t");
        if (!e || e->EvaluateInteger() != 50 + t) ++failures;
        if (POPSCOPE() != 0) ++failures;
        if (t == 0) BIND("glo:other" + std::to_string(k), Variable::Of(&g));
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, failures.load());
  ClearBinds();
}

}  // namespace
}  // namespace korawin::lang
