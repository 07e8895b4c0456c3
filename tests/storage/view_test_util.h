// Shared set-up of the view tests: a words table in memory with its names bound.
#pragma once

#include <string>
#include <vector>

#include "lang/bind.h"
#include "storage/view/view.h"
#include "tests/storage/view_memory_driver.h"

namespace korawin::storage::testing {

// WORDS: 1 NAME STRING(10), 2 NUM LONG, 3 MARK STRING(1); keys 1 BY_NAME (NAME, OPT NOCASE),
// 2 BY_NUM (NUM, DUP), 3 BY_NUM_DOWN (-NUM, DUP).
inline std::unique_ptr<MemoryTable> MakeWords() {
  return std::make_unique<MemoryTable>(
      "WORDS",
      std::vector<MemoryField>{{"W:NAME", kTypeString, 10}, {"W:NUM", kTypeLong, 4},
                               {"W:MARK", kTypeString, 1}},
      std::vector<MemoryKey>{{"W:BY_NAME", {1}, kKeyOpt | kKeyNoCase},
                             {"W:BY_NUM", {2}, kKeyDup},
                             {"W:BY_NUM_DOWN", {-2}, kKeyDup}});
}

inline void BindFields(MemoryTable& t) {
  for (const FieldDescriptor& f : t.fd().fields)
    lang::BIND(f.label, lang::Variable::Field(f.type, t.record() + f.offset, f.size));
}

inline void AddWord(MemoryTable& t, const char* name, int32_t num, const char* mark = " ") {
  t.Set(1, name);
  t.SetLong(2, num);
  t.Set(3, mark);
  t.Insert();
}

inline int SetProperty(View& v, int64_t property, const std::string& text) {
  DriverArgs a;
  a.number = property;
  a.text = text;
  return CallView(kOpSetProperty, v, a);
}

inline int SetView(View& v, int64_t n) {
  DriverArgs a;
  a.number = n;
  return CallView(kOpSetView, v, a);
}

// Reads on in one direction until the view's end; the field picked from each record.
template <typename Pick>
std::vector<std::string> Walk(View& v, bool forward, Pick pick, int limit = 100000) {
  std::vector<std::string> out;
  while (limit-- > 0 && CallView(forward ? kOpNext : kOpPrevious, v) == 0) out.push_back(pick());
  return out;
}

}  // namespace korawin::storage::testing
