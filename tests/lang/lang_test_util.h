// Helpers shared by the evaluator's tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "lang/bind.h"
#include "lang/expression.h"
#include "platform/codepage.h"

namespace korawin::lang::testing {

// Windows-1251 bytes of UTF-8 source text.
inline std::string Cp(std::string_view utf8) { return platform::Utf8ToCp1251(utf8).value(); }

inline bool Compiles(std::string_view text) { return CompileExpression(text) != nullptr; }

inline int64_t EvalInt(std::string_view text) {
  auto e = CompileExpression(text);
  EXPECT_TRUE(e) << "does not compile: " << text << " (error " << ErrorCode() << ")";
  return e ? e->EvaluateInteger() : -999999;
}

inline double EvalReal(std::string_view text) {
  auto e = CompileExpression(text);
  EXPECT_TRUE(e) << "does not compile: " << text << " (error " << ErrorCode() << ")";
  return e ? e->EvaluateReal() : -999999;
}

inline std::string EvalText(std::string_view text) {
  auto e = CompileExpression(text);
  EXPECT_TRUE(e) << "does not compile: " << text << " (error " << ErrorCode() << ")";
  return e ? e->EvaluateText() : "<no compile>";
}

// Each test runs inside a barrier scope of its own, so names never leak between tests.
class ScopedTest : public ::testing::Test {
 protected:
  void SetUp() override { PUSHSCOPE(0); }
  void TearDown() override {
    while (ScopeDepth() > 0) POPSCOPE();
  }
};

}  // namespace korawin::lang::testing
