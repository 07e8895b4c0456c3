// Fuzz target: arbitrary texts through the expression compiler and evaluator. A text must
// either compile (and then evaluate to a value of its tree's type) or fail with 800 or 801;
// it must never crash, hang or read outside the bound variables.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "lang/bind.h"
#include "lang/expression.h"

namespace korawin::lang::fuzz {

namespace {
struct Record {
  int32_t a = 3;
  int32_t b = -7;
  uint8_t flag = 1;
  double r = 2.5;
  unsigned char dec[4] = {0x01, 0x23, 0x45, 0x67};
  char s[20];
  char fr1[20];
  int32_t arr[3][2] = {{1, 2}, {3, 4}, {5, 6}};
  char words[4][6];
  Record() {
    std::memcpy(s, "Lexeme text         ", 20);
    std::memcpy(fr1, "text                ", 20);
    std::memcpy(words, "alpha beta  gamma delta ", 24);
  }
};

Record& TheRecord() {
  static Record record;
  static const bool bound = [] {
    Record& r = record;
    BIND("a", Variable::Of(&r.a));
    BIND("b", Variable::Of(&r.b));
    BIND("slo:flag", Variable::Of(&r.flag));
    BIND("r", Variable::Of(&r.r));
    BIND("d", Variable::Decimal(r.dec, sizeof r.dec, 2));
    BIND("slo:I_VERB", Variable::String(r.s, sizeof r.s));
    BIND("glo:fr1", Variable::String(r.fr1, sizeof r.fr1));
    BIND("arr", Variable::Of(&r.arr[0][0]).Dim({3, 2}));
    BIND("w", Variable::String(&r.words[0][0], 6).Dim({4}));
    return true;
  }();
  (void)bound;
  return record;
}
}  // namespace

// Runs one text through whole and partial compiles; 0 when every rule held, else a number
// naming the broken rule.
int CheckOneText(std::string_view text) {
  TheRecord();
  auto e = CompileExpression(text);
  if (e) {
    if (ErrorCode() != 0) return 1;
    ResultType want = e->type();
    for (int k = 0; k < 2; ++k) {
      Value v = e->Evaluate();
      if (v.type != want) return 2;
      if (v.type == kText && v.s.size() > (1u << 20)) return 3;
    }
    (void)e->EvaluateText();
  } else if (ErrorCode() != kErrInvalidExpression && ErrorCode() != kErrNoBind) {
    return 4;
  }
  size_t used = 0;
  auto partial = CompilePartialExpression(text, &used);
  if (partial) {
    if (used > text.size()) return 5;
    if (partial->Evaluate().type != partial->type()) return 6;
  }
  if (e && !partial) return 7;  // a whole expression is also a partial one
  return 0;
}

}  // namespace korawin::lang::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (korawin::lang::fuzz::CheckOneText(text) != 0) __builtin_trap();
  return 0;
}
