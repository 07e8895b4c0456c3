// Hostile and random texts: every text compiles or fails cleanly, and evaluating the
// application's filter allocates nothing once warmed up.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <sstream>

#include "lang_test_util.h"

namespace korawin::lang::fuzz {
int CheckOneText(std::string_view text);
}

namespace {
thread_local bool tCounting = false;
thread_local int64_t tAllocations = 0;
}  // namespace

void* operator new(size_t n) {
  if (tCounting) ++tAllocations;
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace korawin::lang {
namespace {

using testing::Compiles;
using testing::EvalInt;

TEST(RobustnessTest, DeepNestingFailsCleanly) {
  EXPECT_FALSE(Compiles(std::string(10000, '(') + "1" + std::string(10000, ')')));
  EXPECT_EQ(kErrInvalidExpression, ErrorCode());
  EXPECT_FALSE(Compiles(std::string(10000, '(')));
  std::string calls;
  for (int k = 0; k < 5000; ++k) calls += "abs(";
  EXPECT_FALSE(Compiles(calls + "1" + std::string(5000, ')')));
  // Shallow enough texts still compile.
  EXPECT_EQ(1, EvalInt(std::string(kMaxNesting, '(') + "1" + std::string(kMaxNesting, ')')));
  // Long operator chains build tall trees; too tall fails instead of recursing without end.
  std::string chain = "1";
  for (int k = 0; k < 100; ++k) chain += "+1";
  EXPECT_EQ(101, EvalInt(chain));
  for (int k = 0; k < 10000; ++k) chain += "+1";
  EXPECT_FALSE(Compiles(chain));
  EXPECT_EQ(-1, EvalInt(std::string(10001, '-') + "1"));  // signs fold into one node
}

TEST(RobustnessTest, CorpusTextsCompileOrFailCleanly) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(KORAWIN_LANG_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(0, fuzz::CheckOneText(text.str())) << entry.path();
    ++files;
  }
  EXPECT_GE(files, 24);
}

TEST(RobustnessTest, RandomTextsCompileOrFailCleanly) {
  static const char* const kPieces[] = {
      "a", "b", "r", "d", "slo:I_VERB", "glo:fr1", "arr", "w", "slo:flag", "nosuch", "(", ")",
      "[", "]", ",", ":", "+", "-", "*", "/", "%", "^", "&", "=", "<", ">", "~", "AND", "OR",
      "XOR", "NOT", "'x'", "''", "'", "0FFH", "17O", "101B", "19O", "1.5", "1.0e308", "0", "3",
      "-1", "9223372036854775807", "@d6", "@n-8.2", "@s3", "@t4", "@p<<#p", " ", "clip", "sub",
      "instring", "format", "deformat", "choose", "inlist", "date", "today", "all", "bshift",
      "round", "age", "upper", "center", "left", "right", "val", "chr", "inrange", "getini"};
  std::mt19937 rng(20240611);
  int compiled = 0;
  for (int n = 0; n < 4000; ++n) {
    std::string text;
    int count = 1 + static_cast<int>(rng() % 14);
    for (int k = 0; k < count; ++k) {
      text += kPieces[rng() % std::size(kPieces)];
      if (rng() % 3 == 0) text += ' ';
    }
    ASSERT_EQ(0, fuzz::CheckOneText(text)) << text;
    if (CompileExpression(text)) ++compiled;
  }
  for (int n = 0; n < 2000; ++n) {
    std::string bytes(1 + rng() % 40, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    ASSERT_EQ(0, fuzz::CheckOneText(bytes));
  }
  // The generator must reach the evaluator, not only the error paths.
  EXPECT_GT(compiled, 100);
}

TEST(RobustnessTest, FilterEvaluationAllocatesNothing) {
  PUSHSCOPE(0);
  char fr1[20] = {}, verb[64] = {};
  const std::string fragment = testing::Cp("ить");
  const std::string verbs[] = {testing::Cp("бить 1"), testing::Cp("шить 2"), testing::Cp("нести")};
  std::memset(fr1, ' ', sizeof fr1);
  std::memcpy(fr1, fragment.data(), fragment.size());
  BIND("glo:fr1", Variable::String(fr1, sizeof fr1));
  BIND("slo:I_VERB", Variable::String(verb, sizeof verb));
  auto filter =
      CompileExpression("(clip(glo:fr1)='' or instring(clip(glo:fr1),slo:I_VERB,1)<>0)");
  auto texts = CompileExpression("upper(slo:I_VERB) & format(len(clip(slo:I_VERB)), @n3)");
  ASSERT_TRUE(filter && texts);
  std::memset(verb, ' ', sizeof verb);
  (void)texts->Evaluate();  // its buffers grow once
  int passed = 0;
  tAllocations = 0;
  tCounting = true;
  for (int k = 0; k < 999; ++k) {
    std::memset(verb, ' ', sizeof verb);
    std::memcpy(verb, verbs[k % 3].data(), verbs[k % 3].size());
    if (filter->EvaluateBool()) ++passed;
    (void)texts->Evaluate();
  }
  tCounting = false;
  EXPECT_EQ(0, tAllocations);
  EXPECT_EQ(666, passed);
  EXPECT_EQ(0, POPSCOPE());
}

}  // namespace
}  // namespace korawin::lang
