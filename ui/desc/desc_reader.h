// What the readers of description files (windows, reports) share: names compared as the program
// compares them, the checks of a JSON object's keys and values with the place of a fault, the
// reading of a file that holds one description or a list of them, and the table of the
// descriptions registered for the program.
#pragma once

#include <deque>
#include <initializer_list>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace korawin::ui::desc {

// Compares names with ASCII letters in either case as equal.
bool SameNoCase(std::string_view a, std::string_view b);
// An equate name without its leading "?".
std::string_view WithoutMark(std::string_view id);
// True when s can name a C++ namespace or constant.
bool IsIdentifier(std::string_view s);

// A fault of a description, with the place it was found (UTF-8).
struct Fault {
  std::string why;
};

class Reader {
 public:
  using Json = nlohmann::json;

  // Where the faults found next are (Windows-1251, told in UTF-8).
  void SetWhere(std::string where) { where_ = std::move(where); }
  const std::string& Where() const { return where_; }
  [[noreturn]] void Throw(const std::string& why) const;
  void Expect(bool ok, const std::string& why) const;
  // Refuses a key of j that allowed lacks.
  void Keys(const Json& j, std::initializer_list<const char*> allowed) const;
  // The text of key in Windows-1251 (empty when absent); a character the code page lacks is
  // refused.
  std::string Text(const Json& j, const char* key) const;
  bool Bool(const Json& j, const char* key, bool dflt) const;
  // A whole number from low to high; dflt when key is absent.
  int Whole(const Json& j, const char* key, int dflt, int low, int high) const;
  // n whole numbers from 0 to high; refused with why otherwise.
  std::vector<int> Numbers(const Json& a, size_t n, int high, const std::string& why) const;

 private:
  std::string where_;
};

// Reads a file that holds one description object or a list of them, one(object) making each.
// False, with the fault in *why, on malformed JSON or a Fault thrown by one.
template <typename D, typename One>
bool ParseList(std::string_view json, One one, std::vector<D>* out, std::string* why) {
  out->clear();
  nlohmann::json doc = nlohmann::json::parse(json.begin(), json.end(), nullptr, false);
  if (doc.is_discarded()) {
    if (why) *why = "not valid JSON";
    return false;
  }
  try {
    if (doc.is_array()) {
      for (const nlohmann::json& j : doc) out->push_back(one(j));
    } else {
      out->push_back(one(doc));
    }
  } catch (const Fault& f) {
    if (why) *why = f.why;
    return false;
  }
  return true;
}

// The descriptions registered for the program, by module and name (case ignored). A
// description handed out stays where it is until the program ends.
template <typename D>
class Table {
 public:
  // Adds the descriptions not registered yet; settle(d) runs on each once it is in place.
  template <typename Settle>
  void Add(std::vector<D>&& items, Settle settle) {
    std::lock_guard<std::mutex> lock(mu_);
    for (D& d : items) {
      bool known = false;
      for (const D& old : items_)
        known = known || (SameNoCase(old.module, d.module) && SameNoCase(old.name, d.name));
      if (known) continue;
      items_.push_back(std::move(d));
      settle(items_.back());
    }
  }
  const D* Find(std::string_view module, std::string_view name) {
    std::lock_guard<std::mutex> lock(mu_);
    for (const D& d : items_)
      if (SameNoCase(d.module, module) && SameNoCase(d.name, name)) return &d;
    return nullptr;
  }
  std::vector<const D*> All() {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<const D*> out;
    for (const D& d : items_) out.push_back(&d);
    return out;
  }

 private:
  std::mutex mu_;
  std::deque<D> items_;  // stable addresses
};

}  // namespace korawin::ui::desc
