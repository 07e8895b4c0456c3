#include "lang/expression.h"

#include <charconv>
#include <cmath>

#include "lang/builtins.h"
#include "lang/charset.h"

namespace korawin::lang {

namespace {

enum TokKind : uint8_t {
  kTokEnd, kTokBad, kTokName, kTokInt, kTokReal, kTokText, kTokPicture, kTokOp,
  kTokLParen, kTokRParen, kTokLBracket, kTokRBracket, kTokComma, kTokColon,
};

struct Token {
  TokKind kind = kTokEnd;
  size_t start = 0;
  size_t end = 0;
  uint8_t op = 0;
  int error = 0;  // kTokBad: the code to fail with
  int64_t i = 0;
  double r = 0;
  std::string text;
  SymbolInfo sym;
};

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(unsigned char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsNameStart(unsigned char c) { return IsLetter(c) || c == '?' || c == '_'; }
bool IsNameChar(unsigned char c) { return IsLetter(c) || IsDigit(c) || c == '_' || c == ':'; }

int DigitValue(unsigned char c) {
  if (IsDigit(c)) return c - '0';
  c = static_cast<unsigned char>(c & ~0x20);
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// Reads the token that starts at or after at.
Token Scan(std::string_view s, size_t at) {
  Token t;
  while (at < s.size() && (s[at] == ' ' || s[at] == '\t')) ++at;
  t.start = at;
  t.end = at;
  if (at >= s.size()) return t;
  auto bad = [&](int code, size_t end) {
    t.kind = kTokBad;
    t.error = code;
    t.end = end;
    return t;
  };
  unsigned char c = static_cast<unsigned char>(s[at]);
  size_t p = at;
  if (IsNameStart(c)) {
    while (p < s.size() && IsNameChar(static_cast<unsigned char>(s[p]))) ++p;
    if (p == at) ++p;  // a lone "?"
    if (p < s.size() && (s[p] == '#' || s[p] == '$' || s[p] == '"')) ++p;
    t.end = p;
    if (!LookupName(s.substr(at, p - at), &t.sym)) return bad(kErrNoBind, p);
    if (t.sym.kind == kSymbolOperator) {
      t.kind = kTokOp;
      t.op = t.sym.op;
    } else {
      t.kind = kTokName;
    }
    return t;
  }
  if (IsDigit(c) || (c == '.' && at + 1 < s.size() && IsDigit(static_cast<unsigned char>(s[at + 1])))) {
    while (p < s.size() && IsAlnum(static_cast<unsigned char>(s[p]))) ++p;
    bool allDigits = true;
    for (size_t k = at; k < p; ++k) allDigits = allDigits && IsDigit(static_cast<unsigned char>(s[k]));
    if (p < s.size() && s[p] == '.' && allDigits) {
      // Real: digits, point, digits, optional exponent.
      ++p;
      while (p < s.size() && IsDigit(static_cast<unsigned char>(s[p]))) ++p;
      if (p < s.size() && (s[p] == 'e' || s[p] == 'E')) {
        ++p;
        if (p < s.size() && (s[p] == '+' || s[p] == '-')) ++p;
        size_t digits = p;
        while (p < s.size() && IsDigit(static_cast<unsigned char>(s[p]))) ++p;
        if (p == digits) return bad(kErrInvalidExpression, p);
      }
      double v = 0;
      auto [ptr, ec] = std::from_chars(s.data() + at, s.data() + p, v);
      if (ec != std::errc() || ptr != s.data() + p || !std::isfinite(v)) {
        return bad(kErrInvalidExpression, p);
      }
      t.kind = kTokReal;
      t.r = v;
      t.end = p;
      return t;
    }
    std::string_view digits = s.substr(at, p - at);
    int base = 10;
    if (digits.size() > 1) {
      unsigned char last = static_cast<unsigned char>(digits.back() & ~0x20);
      if (last == 'H') base = 16;
      else if (last == 'O') base = 8;
      else if (last == 'B') base = 2;
      if (base != 10) digits.remove_suffix(1);
    }
    uint64_t v = 0;
    for (unsigned char d : digits) {
      int dv = DigitValue(d);
      if (dv >= base) return bad(kErrInvalidExpression, p);
      if (v > (static_cast<uint64_t>(INT64_MAX) - dv) / base) return bad(kErrInvalidExpression, p);
      v = v * base + dv;
    }
    t.kind = kTokInt;
    t.i = static_cast<int64_t>(v);
    t.end = p;
    return t;
  }
  if (c == '\'') {
    ++p;
    for (;;) {
      if (p >= s.size()) return bad(kErrInvalidExpression, p);
      if (s[p] == '\'') {
        if (p + 1 < s.size() && s[p + 1] == '\'') {
          t.text.push_back('\'');
          p += 2;
          continue;
        }
        ++p;
        break;
      }
      t.text.push_back(s[p++]);
    }
    t.kind = kTokText;
    t.end = p;
    return t;
  }
  if (c == '@') {
    while (p < s.size() && s[p] != ' ' && s[p] != '\t' && s[p] != ',' && s[p] != ')') ++p;
    t.kind = kTokPicture;
    t.text.assign(s.substr(at, p - at));
    t.end = p;
    return t;
  }
  t.end = at + 1;
  switch (c) {
    case '^': t.kind = kTokOp; t.op = kOpPower; break;
    case '*': t.kind = kTokOp; t.op = kOpMul; break;
    case '/': t.kind = kTokOp; t.op = kOpDiv; break;
    case '%': t.kind = kTokOp; t.op = kOpMod; break;
    case '+': t.kind = kTokOp; t.op = kOpAdd; break;
    case '-': t.kind = kTokOp; t.op = kOpSub; break;
    case '&': t.kind = kTokOp; t.op = kOpConcat; break;
    case '=': t.kind = kTokOp; t.op = kRelEq; break;
    case '<': t.kind = kTokOp; t.op = kRelLt; break;
    case '>': t.kind = kTokOp; t.op = kRelGt; break;
    case '~': t.kind = kTokOp; t.op = kOpNot; break;
    case ',': t.kind = kTokComma; t.op = 20; break;
    case ':': t.kind = kTokColon; t.op = 21; break;
    case '(': t.kind = kTokLParen; break;
    case ')': t.kind = kTokRParen; break;
    case '[': t.kind = kTokLBracket; break;
    case ']': t.kind = kTokRBracket; break;
    default: return bad(kErrInvalidExpression, at + 1);
  }
  return t;
}

bool IsOp(const Token& t, uint8_t op) { return t.kind == kTokOp && t.op == op; }

}  // namespace

// Recursive descent over the grammar, lowest precedence first. Nesting of brackets and calls
// and the height of the tree are bounded, so hostile texts fail instead of overflowing the stack.
class Parser {
 public:
  Parser(std::string_view text, Expression* e) : text_(text), e_(e) { tok_ = Scan(text_, 0); }

  static std::unique_ptr<Expression> Compile(std::string_view text, size_t* consumed);
  bool Parse(uint32_t* root) { return ParseExpression(root); }
  const Token& Lookahead() const { return tok_; }
  int error() const { return error_; }
  bool Fail(int code) {
    if (error_ == 0) error_ = code;
    return false;
  }
  bool FailAtToken() { return Fail(tok_.kind == kTokBad ? tok_.error : kErrInvalidExpression); }

 private:
  void Advance() { tok_ = Scan(text_, tok_.end); }

  bool Add(ExpressionNode node, std::initializer_list<uint32_t> children, uint32_t* out) {
    int h = 0;
    for (uint32_t c : children) {
      if (c != kNoNode) h = std::max(h, static_cast<int>(heights_[c]));
    }
    if (h + 1 > kMaxHeight) return Fail(kErrInvalidExpression);
    e_->nodes_.push_back(std::move(node));
    heights_.push_back(static_cast<uint16_t>(h + 1));
    *out = static_cast<uint32_t>(e_->nodes_.size() - 1);
    return true;
  }

  bool Binary(uint8_t code, ResultType type, uint32_t l, uint32_t r, uint32_t* out) {
    ExpressionNode n;
    n.op = kNodeBinary;
    n.code = code;
    n.type = type;
    n.a = l;
    n.b = r;
    return Add(std::move(n), {l, r}, out);
  }

  ResultType TypeOf(uint32_t n) const { return e_->nodes_[n].type; }

  bool ParseExpression(uint32_t* out) {
    uint32_t l;
    if (!ParseConjunction(&l)) return false;
    while (IsOp(tok_, kOpOr) || IsOp(tok_, kOpXor)) {
      uint8_t op = tok_.op;
      Advance();
      uint32_t r;
      if (!ParseConjunction(&r) || !Binary(op, kInteger, l, r, &l)) return false;
    }
    *out = l;
    return true;
  }

  bool ParseConjunction(uint32_t* out) {
    uint32_t l;
    if (!ParseNegation(&l)) return false;
    while (IsOp(tok_, kOpAnd)) {
      Advance();
      uint32_t r;
      if (!ParseNegation(&r) || !Binary(kOpAnd, kInteger, l, r, &l)) return false;
    }
    *out = l;
    return true;
  }

  bool ParseNegation(uint32_t* out) {
    if (!IsOp(tok_, kOpNot)) return ParseComparison(out);
    Advance();
    uint32_t x;
    if (!ParseComparison(&x)) return false;
    ExpressionNode n;
    n.op = kNodeNot;
    n.type = kInteger;
    n.a = x;
    return Add(std::move(n), {x}, out);
  }

  // The relation at the lookahead, consuming its one or two tokens; 0 when there is none.
  uint8_t MatchRelation() {
    if (tok_.kind != kTokOp) return 0;
    uint8_t first = tok_.op;
    if (first != kRelEq && first != kRelLt && first != kRelGt && first != kOpNot) return 0;
    Token next = Scan(text_, tok_.end);
    uint8_t second = next.kind == kTokOp ? next.op : 0;
    uint8_t rel = 0;
    bool pair = true;
    switch (first) {
      case kRelEq:
        rel = second == kRelLt ? kRelLe : second == kRelGt ? kRelGe : 0;
        if (rel == 0) { rel = kRelEq; pair = false; }
        break;
      case kRelLt:
        rel = second == kRelGt ? kRelNe : second == kRelEq ? kRelLe : 0;
        if (rel == 0) { rel = kRelLt; pair = false; }
        break;
      case kRelGt:
        rel = second == kRelEq ? kRelGe : 0;
        if (rel == 0) { rel = kRelGt; pair = false; }
        break;
      default:  // NOT or "~"
        rel = second == kRelEq ? kRelNe : second == kRelLt ? kRelGe : second == kRelGt ? kRelLe : 0;
        if (rel == 0) return 0;
        break;
    }
    if (pair) {
      tok_ = std::move(next);
    }
    Advance();
    return rel;
  }

  bool ParseComparison(uint32_t* out) {
    uint32_t l;
    if (!ParseConcatenation(&l)) return false;
    uint8_t rel = MatchRelation();
    if (rel == 0) {
      *out = l;
      return true;
    }
    uint32_t r;
    if (!ParseConcatenation(&r)) return false;
    return Binary(rel, kInteger, l, r, out);
  }

  bool ParseConcatenation(uint32_t* out) {
    uint32_t l;
    if (!ParseSum(&l)) return false;
    while (IsOp(tok_, kOpConcat)) {
      Advance();
      uint32_t r;
      if (!ParseSum(&r) || !Binary(kOpConcat, kText, l, r, &l)) return false;
    }
    *out = l;
    return true;
  }

  ResultType ArithmeticType(uint8_t op, uint32_t l, uint32_t r) const {
    if (op == kOpDiv || op == kOpPower) return kReal;
    return TypeOf(l) == kInteger && TypeOf(r) == kInteger ? kInteger : kReal;
  }

  bool ParseSum(uint32_t* out) {
    uint32_t l;
    if (!ParseProduct(&l)) return false;
    while (IsOp(tok_, kOpAdd) || IsOp(tok_, kOpSub)) {
      uint8_t op = tok_.op;
      Advance();
      uint32_t r;
      if (!ParseProduct(&r) || !Binary(op, ArithmeticType(op, l, r), l, r, &l)) return false;
    }
    *out = l;
    return true;
  }

  bool ParseProduct(uint32_t* out) {
    uint32_t l;
    if (!ParsePower(&l)) return false;
    while (IsOp(tok_, kOpMul) || IsOp(tok_, kOpDiv) || IsOp(tok_, kOpMod)) {
      uint8_t op = tok_.op;
      Advance();
      uint32_t r;
      if (!ParsePower(&r) || !Binary(op, ArithmeticType(op, l, r), l, r, &l)) return false;
    }
    *out = l;
    return true;
  }

  bool ParsePower(uint32_t* out) {
    uint32_t l;
    if (!ParseUnary(&l)) return false;
    while (IsOp(tok_, kOpPower)) {
      Advance();
      uint32_t r;
      if (!ParseUnary(&r) || !Binary(kOpPower, kReal, l, r, &l)) return false;
    }
    *out = l;
    return true;
  }

  bool ParseUnary(uint32_t* out) {
    bool negate = false;
    while (IsOp(tok_, kOpSub) || IsOp(tok_, kOpAdd)) {
      if (tok_.op == kOpSub) negate = !negate;
      Advance();
    }
    uint32_t x;
    if (!ParsePrimary(&x)) return false;
    if (!negate) {
      *out = x;
      return true;
    }
    ExpressionNode n;
    n.op = kNodeNegate;
    n.type = TypeOf(x) == kInteger ? kInteger : kReal;
    n.a = x;
    return Add(std::move(n), {x}, out);
  }

  bool Enter() {
    if (++nesting_ > kMaxNesting) return Fail(kErrInvalidExpression);
    return true;
  }
  void Leave() { --nesting_; }

  bool Constant(Value v, std::string text, uint32_t* out) {
    ExpressionNode n;
    n.op = kNodeConst;
    n.type = v.type;
    n.constant = v;
    n.text = std::move(text);
    Advance();
    return Add(std::move(n), {}, out);
  }

  bool ParsePrimary(uint32_t* out) {
    switch (tok_.kind) {
      case kTokLParen: {
        if (!Enter()) return false;
        Advance();
        uint32_t x;
        if (!ParseExpression(&x)) return false;
        if (tok_.kind != kTokRParen) return FailAtToken();
        Advance();
        Leave();
        *out = x;
        return true;
      }
      case kTokInt: return Constant(Value::Int(tok_.i), {}, out);
      case kTokReal: return Constant(Value::Real(tok_.r), {}, out);
      case kTokText:
      case kTokPicture: return Constant(Value::Text({}), std::move(tok_.text), out);
      case kTokName:
        return tok_.sym.kind == kSymbolFunction ? ParseCall(out) : ParseVariable(out);
      default:
        return FailAtToken();
    }
  }

  // Collects expressions separated by "," up to (not including) a token of kind stop or ":".
  bool ParseList(std::vector<uint32_t>* items, TokKind stop) {
    if (tok_.kind == stop) return true;
    for (;;) {
      uint32_t x;
      if (!ParseExpression(&x)) return false;
      items->push_back(x);
      if (tok_.kind != kTokComma) return true;
      Advance();
    }
  }

  uint32_t StoreArgs(const std::vector<uint32_t>& items) {
    uint32_t base = static_cast<uint32_t>(e_->args_.size());
    e_->args_.insert(e_->args_.end(), items.begin(), items.end());
    return base;
  }

  bool AddWithList(ExpressionNode n, const std::vector<uint32_t>& items,
                   std::initializer_list<uint32_t> more, uint32_t* out) {
    int h = 0;
    for (uint32_t c : items) h = std::max(h, static_cast<int>(heights_[c]));
    for (uint32_t c : more) {
      if (c != kNoNode) h = std::max(h, static_cast<int>(heights_[c]));
    }
    if (h + 1 > kMaxHeight) return Fail(kErrInvalidExpression);
    n.a = StoreArgs(items);
    e_->nodes_.push_back(std::move(n));
    heights_.push_back(static_cast<uint16_t>(h + 1));
    *out = static_cast<uint32_t>(e_->nodes_.size() - 1);
    return true;
  }

  bool ParseCall(uint32_t* out) {
    SymbolInfo fn = tok_.sym;
    Advance();
    if (tok_.kind != kTokLParen) return FailAtToken();
    if (!Enter()) return false;
    Advance();
    std::vector<uint32_t> args;
    if (!ParseList(&args, kTokRParen)) return false;
    if (tok_.kind != kTokRParen || args.size() > fn.maxArgs) return FailAtToken();
    Advance();
    Leave();
    ExpressionNode n;
    n.op = kNodeCall;
    n.code = fn.function;
    n.type = fn.resultType;
    n.argc = static_cast<uint8_t>(args.size());
    return AddWithList(std::move(n), args, {}, out);
  }

  bool ParseVariable(uint32_t* out) {
    const Variable var = tok_.sym.var;
    Advance();
    ExpressionNode n;
    n.var = var;
    n.type = ResultTypeOf(var.type);
    if (tok_.kind != kTokLBracket) {
      n.op = kNodeVariable;
      return Add(std::move(n), {}, out);
    }
    if (!Enter()) return false;
    Advance();
    std::vector<uint32_t> items;
    if (!ParseList(&items, kTokRBracket)) return false;
    uint32_t sliceEnd = kNoNode;
    if (tok_.kind == kTokColon) {
      Advance();
      if (!ParseExpression(&sliceEnd)) return false;
    }
    if (tok_.kind != kTokRBracket) return FailAtToken();
    Advance();
    Leave();
    const size_t dims = var.dimCount;
    const bool text = n.type == kText;
    if (items.size() < dims || items.size() > dims + 1) return Fail(kErrInvalidExpression);
    if (items.size() == dims + 1 && !text) return Fail(kErrInvalidExpression);
    if (sliceEnd != kNoNode && items.size() != dims + 1) return Fail(kErrInvalidExpression);
    n.op = kNodeSubscript;
    n.argc = static_cast<uint8_t>(dims);
    if (items.size() == dims + 1) {
      n.b = items.back();
      items.pop_back();
      n.c = sliceEnd;
    }
    return AddWithList(std::move(n), items, {n.b, n.c}, out);
  }

  std::string_view text_;
  Expression* e_;
  Token tok_;
  int error_ = 0;
  int nesting_ = 0;
  std::vector<uint16_t> heights_;

};

// Compiles text: whole when consumed is null, else the leading expression.
std::unique_ptr<Expression> Parser::Compile(std::string_view text, size_t* consumed) {
  std::unique_ptr<Expression> e(new Expression());
  Parser p(text, e.get());
  uint32_t root;
  bool ok = p.Parse(&root);
  if (ok && consumed == nullptr && p.Lookahead().kind != kTokEnd) ok = p.FailAtToken();
  if (!ok) {
    SetError(p.error() != 0 ? p.error() : kErrInvalidExpression);
    return nullptr;
  }
  if (consumed) *consumed = p.Lookahead().start;
  e->root_ = root;
  e->values_.resize(e->args_.size());
  ClearError();
  return e;
}

std::unique_ptr<Expression> CompileExpression(std::string_view text) {
  return Parser::Compile(text, nullptr);
}

std::unique_ptr<Expression> CompilePartialExpression(std::string_view text, size_t* consumed) {
  size_t at = 0;
  auto e = Parser::Compile(text, &at);
  if (consumed) *consumed = e ? at : 0;
  return e;
}

std::string EVALUATE(std::string_view text) {
  auto e = CompileExpression(text);
  if (!e) return {};
  return e->EvaluateText();
}

std::string Expression::EvaluateText() {
  std::string scratch;
  Value v = Evaluate();
  return std::string(ValueToText(v, &scratch));
}

Value Expression::Evaluate() { return Eval(root_); }

Value Expression::Coerce(uint32_t child, const Value& v, char want) {
  switch (want) {
    case 'T': return v.type == kText ? v : Value::Text(ValueToText(v, &nodes_[child].scratch));
    case 'I': return v.type == kInteger ? v : Value::Int(ValueToInt(v));
    case 'R': return v.type == kReal ? v : Value::Real(ValueToReal(v));
    default: return v;
  }
}

namespace {
int64_t Wrap(uint64_t v) { return static_cast<int64_t>(v); }

double Finite(double v) { return std::isfinite(v) ? v : 0.0; }

bool Relate(uint8_t rel, int c) {
  switch (rel) {
    case kRelEq: return c == 0;
    case kRelNe: return c != 0;
    case kRelLt: return c < 0;
    case kRelGt: return c > 0;
    case kRelLe: return c <= 0;
    default: return c >= 0;
  }
}

int Compare(const Value& l, const Value& r) {
  if (l.type == kText && r.type == kText) return CompareTexts(l.s, r.s);
  if (l.type == kInteger && r.type == kInteger) return l.i < r.i ? -1 : l.i > r.i ? 1 : 0;
  double x = ValueToReal(l), y = ValueToReal(r);
  return x < y ? -1 : x > y ? 1 : 0;
}
}  // namespace

Value Expression::Eval(uint32_t n) {
  ExpressionNode& node = nodes_[n];
  switch (node.op) {
    case kNodeConst:
      return node.type == kText ? Value::Text(node.text) : node.constant;
    case kNodeVariable:
      return ReadVariable(node.var, node.var.address);
    case kNodeSubscript:
      return EvalSubscript(node);
    case kNodeNegate: {
      Value v = Eval(node.a);
      if (node.type == kInteger) return Value::Int(Wrap(0 - static_cast<uint64_t>(v.i)));
      return Value::Real(-ValueToReal(v));
    }
    case kNodeNot:
      return Value::Int(ValueTruth(Eval(node.a)) ? 0 : 1);
    case kNodeCall:
      return EvalCall(node);
    case kNodeBinary:
      break;
  }
  switch (node.code) {
    case kOpAnd:
      return Value::Int(ValueTruth(Eval(node.a)) && ValueTruth(Eval(node.b)) ? 1 : 0);
    case kOpOr:
      return Value::Int(ValueTruth(Eval(node.a)) || ValueTruth(Eval(node.b)) ? 1 : 0);
    case kOpXor: {
      bool l = ValueTruth(Eval(node.a));
      bool r = ValueTruth(Eval(node.b));
      return Value::Int(l != r ? 1 : 0);
    }
    case kOpConcat: {
      std::string_view l = Coerce(node.a, Eval(node.a), 'T').s;
      std::string_view r = Coerce(node.b, Eval(node.b), 'T').s;
      node.scratch.assign(l);
      node.scratch.append(r);
      return Value::Text(node.scratch);
    }
    case kRelEq: case kRelNe: case kRelLt: case kRelGt: case kRelLe: case kRelGe: {
      Value l = Eval(node.a);
      Value r = Eval(node.b);
      return Value::Int(Relate(node.code, Compare(l, r)) ? 1 : 0);
    }
    default:
      break;
  }
  Value lv = Eval(node.a);
  Value rv = Eval(node.b);
  if (node.type == kInteger) {
    uint64_t l = static_cast<uint64_t>(lv.i), r = static_cast<uint64_t>(rv.i);
    switch (node.code) {
      case kOpAdd: return Value::Int(Wrap(l + r));
      case kOpSub: return Value::Int(Wrap(l - r));
      case kOpMul: return Value::Int(Wrap(l * r));
      default:  // remainder; by 0 or -1 it is 0 (the latter would trap on the lowest value)
        return Value::Int(rv.i == 0 || rv.i == -1 ? 0 : lv.i % rv.i);
    }
  }
  double l = ValueToReal(lv), r = ValueToReal(rv);
  switch (node.code) {
    case kOpAdd: return Value::Real(Finite(l + r));
    case kOpSub: return Value::Real(Finite(l - r));
    case kOpMul: return Value::Real(Finite(l * r));
    case kOpDiv: return Value::Real(r == 0 ? 0 : Finite(l / r));
    case kOpMod: return Value::Real(r == 0 ? 0 : Finite(std::fmod(l, r)));
    default: return Value::Real(Finite(std::pow(l, r)));
  }
}

Value Expression::EvalCall(ExpressionNode& node) {
  for (uint32_t k = 0; k < node.argc; ++k) {
    uint32_t child = args_[node.a + k];
    values_[node.a + k] = Coerce(child, Eval(child), FunctionArgKind(node.code, static_cast<int>(k)));
  }
  Value v = CallFunction(node.code, node.argc ? &values_[node.a] : nullptr, node.argc, &node.scratch);
  if (v.type == node.type) return v;
  switch (node.type) {
    case kInteger: return Value::Int(ValueToInt(v));
    case kReal: return Value::Real(ValueToReal(v));
    default: return Value::Text(ValueToText(v, &node.scratch));
  }
}

Value Expression::EvalSubscript(ExpressionNode& node) {
  const Variable& var = node.var;
  uint64_t element = 0;
  bool inside = true;
  for (uint32_t k = 0; k < node.argc; ++k) {
    int64_t index = ValueToInt(Eval(args_[node.a + k]));
    if (index < 1 || static_cast<uint64_t>(index) > var.dims[k]) inside = false;
    element = element * var.dims[k] + (inside ? static_cast<uint64_t>(index - 1) : 0);
  }
  if (!inside) return node.type == kText ? Value::Text({}) : Value::Int(0);
  Value v = ReadVariable(var, static_cast<const char*>(var.address) + element * var.size);
  if (node.b == kNoNode) {
    if (node.type == kReal && v.type != kReal) return Value::Real(ValueToReal(v));
    return v;
  }
  int64_t from = ValueToInt(Eval(node.b));
  int64_t to = node.c == kNoNode ? from : ValueToInt(Eval(node.c));
  const int64_t len = static_cast<int64_t>(v.s.size());
  if (from < 1) from = 1;
  if (to > len) to = len;
  if (from > to) return Value::Text({});
  return Value::Text(v.s.substr(static_cast<size_t>(from - 1), static_cast<size_t>(to - from + 1)));
}

}  // namespace korawin::lang
