// Bound names: BIND makes a program variable or record field known to expression texts under
// a name; names live in nested scopes. Scopes belong to the thread that opened them, so one
// window's PUSHSCOPE/POPSCOPE never touches another thread's names. Names bound while the
// thread has no scope open are global: every thread sees them unless a barrier hides them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lang/types.h"

namespace korawin::lang {

enum SymbolKind : uint8_t {
  kSymbolNone = 0,  // the tree's sentinel root
  kSymbolVariable = 1,
  kSymbolOperator = 4,
  kSymbolFunction = 6,
};

// Codes of the operator keywords.
enum : uint8_t { kOpNot = 16, kOpAnd = 17, kOpOr = 18, kOpXor = 19 };

// What a name stands for.
struct SymbolInfo {
  SymbolKind kind = kSymbolNone;
  ResultType resultType = kInteger;
  Variable var;          // kSymbolVariable
  uint8_t op = 0;        // kSymbolOperator
  uint8_t function = 0;  // kSymbolFunction: number from 1
  uint8_t maxArgs = 0;   // kSymbolFunction: highest argument count
};

struct FunctionInfo {
  const char* name;
  uint8_t maxArgs;
  ResultType result;
};
constexpr int kFunctionCount = 44;
// The built-in functions; entry k is function number k + 1.
const FunctionInfo& FunctionByNumber(int number);

// The names of one scope: a binary search tree ordered by name without regard to case, rooted
// at the sentinel "MMMMMMM" and filled with the keywords and functions before any BIND.
class SymbolTree {
 public:
  SymbolTree();
  SymbolTree(const SymbolTree&) = delete;
  SymbolTree& operator=(const SymbolTree&) = delete;

  // Adds the variable under name or replaces the content of a variable entry of that name; a
  // keyword or function keeps its entry (a variable of that name would never be reached).
  void Bind(std::string_view name, const Variable& var);
  // The entry of name; nullptr when absent.
  const SymbolInfo* Find(std::string_view name) const;
  // Length of the longest search path, for tests of the tree's shape.
  int Depth() const;

 private:
  struct Entry {
    int32_t left = -1;
    int32_t right = -1;
    std::string name;
    SymbolInfo info;
  };
  // Index of the entry named name, or of the slot (by parent and side) where it would go.
  int32_t Locate(std::string_view name, int32_t* parent, bool* goRight) const;
  void Insert(std::string_view name, const SymbolInfo& info);

  std::vector<Entry> entries_;  // entry 0 is the root
};

// The part of a name that BIND keeps: at most 100 characters, cut after the leading run of
// letters, digits, "_" and ":", with one following "#", "$" or double quote.
std::string_view BindName(std::string_view name);

// BIND: binds name to var in the current scope (the global names when the thread has no scope
// open). False, with nothing bound, when the name is empty or the variable is not readable.
bool BIND(std::string_view name, const Variable& var);
// ClearBinds: drops every name bound in the current scope.
void ClearBinds();
// PUSHSCOPE: opens a scope on this thread; flag 0 makes it a barrier that hides outer names.
void PUSHSCOPE(int flag);
// POPSCOPE: closes this thread's innermost scope; 802 "Mismatched POPSCOPE" when none is open.
int POPSCOPE();
// Number of scopes this thread has open.
int ScopeDepth();

// Looks name up as the compiler does: the current scope first (keywords and functions are
// there), then outer scopes from inner to outer, stopping after the first barrier.
bool LookupName(std::string_view name, SymbolInfo* out);

}  // namespace korawin::lang
