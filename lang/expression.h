// Run-time expressions: texts over bound names compiled once into a compact tree and evaluated
// as often as needed (a view filter: once per record), each evaluation reading the current
// values of the bound variables. Evaluation allocates nothing once every text buffer of the
// tree has grown to its working size. A compiled Expression belongs to its caller and is
// evaluated by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lang/bind.h"
#include "lang/types.h"

namespace korawin::lang {

// Node operations.
enum NodeOp : uint8_t {
  kNodeConst = 1,
  kNodeVariable = 2,
  kNodeSubscript = 3,  // array element, text character or slice of a variable
  kNodeNegate = 4,
  kNodeNot = 5,
  kNodeBinary = 6,  // code: an operator or relation code
  kNodeCall = 7,    // code: the function number
};

// Operator and relation codes of binary nodes.
enum : uint8_t {
  kOpPower = 2, kOpMul = 3, kOpDiv = 4, kOpMod = 5, kOpAdd = 7, kOpSub = 8, kOpConcat = 9,
  kRelEq = 10, kRelNe = 11, kRelLt = 12, kRelGt = 13, kRelLe = 14, kRelGe = 15,
};

constexpr uint32_t kNoNode = 0xFFFFFFFFu;

struct ExpressionNode {
  NodeOp op = kNodeConst;
  ResultType type = kInteger;
  uint8_t code = 0;
  uint8_t argc = 0;       // kNodeCall: arguments; kNodeSubscript: array indices
  uint32_t a = kNoNode;   // first operand; kNodeCall/kNodeSubscript: first entry in the arg list
  uint32_t b = kNoNode;   // second operand; kNodeSubscript: character index or slice start
  uint32_t c = kNoNode;   // kNodeSubscript: slice end
  Value constant;         // kNodeConst (a text points into text)
  Variable var;           // kNodeVariable, kNodeSubscript
  std::string text;       // constant text
  std::string scratch;    // computed text of this node, reused between evaluations
};

class Expression {
 public:
  Expression(const Expression&) = delete;
  Expression& operator=(const Expression&) = delete;

  ResultType type() const { return nodes_[root_].type; }
  // The value of the expression for the variables' current contents; a text stays valid until
  // the next evaluation.
  Value Evaluate();
  bool EvaluateBool() { return ValueTruth(Evaluate()); }
  int64_t EvaluateInteger() { return ValueToInt(Evaluate()); }
  double EvaluateReal() { return ValueToReal(Evaluate()); }
  std::string EvaluateText();

  size_t NodeCount() const { return nodes_.size(); }
  const ExpressionNode& Node(uint32_t index) const { return nodes_[index]; }
  uint32_t Root() const { return root_; }

 private:
  friend class Parser;
  Expression() = default;

  Value Eval(uint32_t n);
  Value EvalCall(ExpressionNode& node);
  Value EvalSubscript(ExpressionNode& node);
  Value Coerce(uint32_t child, const Value& v, char want);

  std::vector<ExpressionNode> nodes_;
  std::vector<uint32_t> args_;   // argument lists of calls and subscripts
  std::vector<Value> values_;    // evaluated arguments, parallel to args_
  uint32_t root_ = kNoNode;
};

// Deepest nesting of brackets and calls, and the highest tree, that a text may have; deeper
// texts fail to compile instead of exhausting the stack.
constexpr int kMaxNesting = 64;
constexpr int kMaxHeight = 256;

// Compiles a whole text; nothing when it is not exactly one expression (the thread's error is
// then 801 for a name without BIND, otherwise 800; 0 on success).
std::unique_ptr<Expression> CompileExpression(std::string_view text);
// Compiles the expression at the start of text, which may be followed by more input (the items
// of an order list); *consumed receives the offset where the expression's text ends.
std::unique_ptr<Expression> CompilePartialExpression(std::string_view text, size_t* consumed);

// EVALUATE: compiles and evaluates text and returns the result as text; "" with error 800
// (801 for a name without BIND) when the text does not compile.
std::string EVALUATE(std::string_view text);

}  // namespace korawin::lang
