// What the description compilers (korawin-wdc for windows, korawin-rdc for reports) share:
//   TOOL --cpp OUT.cpp --header OUT.h --function NAME FILE.json...
// Each file is checked; a faulty one stops the build with a message naming the file and the
// place in it. The C++ made carries the files' text into the program, registered by NAME, and
// the header names the numbers of what each description holds.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korawin::ui::tools {

// One description as the header names it.
struct Compiled {
  std::string module, name, cname;
  std::vector<std::pair<std::string, int>> numbers;  // (equate name such as "?Insert", number)
};

struct CompilerKind {
  const char* tool;           // "korawin-wdc"
  const char* what;           // "window descriptions"
  const char* idsNamespace;   // "korawin::ids"
  const char* nameConstant;   // "kWindow": the constant holding the description's name
  const char* include;        // the header of the register function
  const char* registerCall;   // "ui::RegisterWindowDescs"
  // Checks one file's text; false with the fault in *why.
  std::function<bool(std::string_view json, std::vector<Compiled>* out, std::string* why)> parse;
};

// The tool's main.
int RunCompiler(int argc, char** argv, const CompilerKind& kind);

}  // namespace korawin::ui::tools
