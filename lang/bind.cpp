#include "lang/bind.h"

#include <memory>
#include <mutex>
#include <shared_mutex>

#include "lang/charset.h"

namespace korawin::lang {

namespace {
const FunctionInfo kFunctions[kFunctionCount] = {
    {"MEMORY", 1, kInteger},  {"SUB", 3, kText},       {"INSTRING", 4, kInteger},
    {"CLIP", 1, kText},       {"ALL", 2, kText},       {"CENTER", 2, kText},
    {"CHR", 1, kText},        {"DEFORMAT", 2, kText},  {"FORMAT", 2, kText},
    {"LEFT", 2, kText},       {"LEN", 1, kInteger},    {"LOWER", 1, kText},
    {"NUMERIC", 1, kInteger}, {"RIGHT", 2, kText},     {"UPPER", 1, kText},
    {"VAL", 1, kInteger},     {"ABS", 1, kReal},       {"INRANGE", 3, kInteger},
    {"INT", 1, kInteger},     {"LOGE", 1, kReal},      {"LOG10", 1, kReal},
    {"RANDOM", 2, kInteger},  {"ROUND", 2, kReal},     {"SQRT", 1, kReal},
    {"SIN", 1, kReal},        {"COS", 1, kReal},       {"TAN", 1, kReal},
    {"ASIN", 1, kReal},       {"ACOS", 1, kReal},      {"ATAN", 1, kReal},
    {"BAND", 2, kInteger},    {"BOR", 2, kInteger},    {"BXOR", 2, kInteger},
    {"BSHIFT", 2, kInteger},  {"TODAY", 0, kInteger},  {"CLOCK", 0, kInteger},
    {"DATE", 3, kInteger},    {"DAY", 1, kInteger},    {"MONTH", 1, kInteger},
    {"YEAR", 1, kInteger},    {"AGE", 2, kText},       {"CHOOSE", 25, kText},
    {"INLIST", 25, kInteger}, {"GETINI", 4, kText},
};

struct Keyword {
  const char* name;
  uint8_t op;
};
const Keyword kKeywords[] = {{"AND", kOpAnd}, {"NOT", kOpNot}, {"OR", kOpOr}, {"XOR", kOpXor}};

bool IsNameChar(unsigned char c) {
  return IsLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == ':';
}

struct Scope {
  std::unique_ptr<SymbolTree> tree;  // created on first use
  bool barrier = false;
};

// Global names (bound with no scope open); shared by all threads.
std::shared_mutex gGlobalMutex;
std::unique_ptr<SymbolTree> gGlobalTree;

thread_local std::vector<Scope> tScopes;

bool Search(const SymbolTree* tree, std::string_view name, SymbolInfo* out) {
  if (tree == nullptr) return false;
  const SymbolInfo* info = tree->Find(name);
  if (info == nullptr || info->kind == kSymbolNone) return false;
  *out = *info;
  return true;
}
}  // namespace

const FunctionInfo& FunctionByNumber(int number) { return kFunctions[number - 1]; }

SymbolTree::SymbolTree() {
  Entry root;
  root.name = "MMMMMMM";
  entries_.push_back(std::move(root));
  for (const Keyword& k : kKeywords) {
    SymbolInfo info;
    info.kind = kSymbolOperator;
    info.op = k.op;
    Insert(k.name, info);
  }
  for (int n = 1; n <= kFunctionCount; ++n) {
    SymbolInfo info;
    info.kind = kSymbolFunction;
    info.function = static_cast<uint8_t>(n);
    info.maxArgs = kFunctions[n - 1].maxArgs;
    info.resultType = kFunctions[n - 1].result;
    Insert(kFunctions[n - 1].name, info);
  }
}

int32_t SymbolTree::Locate(std::string_view name, int32_t* parent, bool* goRight) const {
  int32_t at = 0;
  *parent = -1;
  *goRight = false;
  while (at >= 0) {
    int c = CompareNoCase(name, entries_[at].name);
    if (c == 0) return at;
    *parent = at;
    *goRight = c > 0;
    at = c > 0 ? entries_[at].right : entries_[at].left;
  }
  return -1;
}

void SymbolTree::Insert(std::string_view name, const SymbolInfo& info) {
  int32_t parent;
  bool right;
  int32_t at = Locate(name, &parent, &right);
  if (at >= 0) {
    entries_[at].info = info;
    return;
  }
  Entry e;
  e.name = std::string(name);
  e.info = info;
  entries_.push_back(std::move(e));
  int32_t index = static_cast<int32_t>(entries_.size() - 1);
  (right ? entries_[parent].right : entries_[parent].left) = index;
}

void SymbolTree::Bind(std::string_view name, const Variable& var) {
  int32_t parent;
  bool right;
  int32_t at = Locate(name, &parent, &right);
  if (at >= 0 && (entries_[at].info.kind == kSymbolOperator ||
                  entries_[at].info.kind == kSymbolFunction)) {
    return;
  }
  SymbolInfo info;
  info.kind = kSymbolVariable;
  info.var = var;
  info.resultType = ResultTypeOf(var.type);
  Insert(name, info);
}

const SymbolInfo* SymbolTree::Find(std::string_view name) const {
  int32_t parent;
  bool right;
  int32_t at = Locate(name, &parent, &right);
  return at >= 0 ? &entries_[at].info : nullptr;
}

int SymbolTree::Depth() const {
  // Iterative walk: the tree may be as deep as it has entries.
  int deepest = 0;
  std::vector<std::pair<int32_t, int>> stack{{0, 1}};
  while (!stack.empty()) {
    auto [at, d] = stack.back();
    stack.pop_back();
    deepest = std::max(deepest, d);
    if (entries_[at].left >= 0) stack.push_back({entries_[at].left, d + 1});
    if (entries_[at].right >= 0) stack.push_back({entries_[at].right, d + 1});
  }
  return deepest;
}

std::string_view BindName(std::string_view name) {
  if (name.size() > 100) name = name.substr(0, 100);
  size_t n = 0;
  while (n < name.size() && IsNameChar(static_cast<unsigned char>(name[n]))) ++n;
  if (n < name.size() && (name[n] == '#' || name[n] == '$' || name[n] == '"')) ++n;
  return name.substr(0, n);
}

bool BIND(std::string_view name, const Variable& var) {
  std::string_view kept = BindName(name);
  if (kept.empty() || !var.Valid()) return false;
  if (tScopes.empty()) {
    std::unique_lock lock(gGlobalMutex);
    if (!gGlobalTree) gGlobalTree = std::make_unique<SymbolTree>();
    gGlobalTree->Bind(kept, var);
    return true;
  }
  Scope& s = tScopes.back();
  if (!s.tree) s.tree = std::make_unique<SymbolTree>();
  s.tree->Bind(kept, var);
  return true;
}

void ClearBinds() {
  if (tScopes.empty()) {
    std::unique_lock lock(gGlobalMutex);
    gGlobalTree.reset();
    return;
  }
  tScopes.back().tree.reset();
}

void PUSHSCOPE(int flag) {
  Scope s;
  s.barrier = flag == 0;
  tScopes.push_back(std::move(s));
}

int POPSCOPE() {
  if (tScopes.empty()) {
    SetError(kErrScopeMismatch, "Mismatched POPSCOPE");
    return kErrScopeMismatch;
  }
  tScopes.pop_back();
  return 0;
}

int ScopeDepth() { return static_cast<int>(tScopes.size()); }

bool LookupName(std::string_view name, SymbolInfo* out) {
  // Keywords and functions are in every tree, the current one included, so they always win;
  // a scope whose tree was never made answers them from a shared table.
  static const SymbolTree kBuiltins;
  for (size_t k = tScopes.size(); k-- > 0;) {
    const Scope& s = tScopes[k];
    if (Search(s.tree ? s.tree.get() : (k + 1 == tScopes.size() ? &kBuiltins : nullptr), name,
               out)) {
      return true;
    }
    if (s.barrier) return false;
  }
  std::shared_lock lock(gGlobalMutex);
  return Search(gGlobalTree ? gGlobalTree.get() : &kBuiltins, name, out);
}

}  // namespace korawin::lang
