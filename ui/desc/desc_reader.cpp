#include "ui/desc/desc_reader.h"

#include "platform/codepage.h"

namespace korawin::ui::desc {

namespace {
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
}  // namespace

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

std::string_view WithoutMark(std::string_view id) {
  if (!id.empty() && id[0] == '?') id.remove_prefix(1);
  return id;
}

bool IsIdentifier(std::string_view s) {
  if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  return true;
}

void Reader::Throw(const std::string& why) const {
  throw Fault{platform::Cp1251ToUtf8(where_) + ": " + why};
}

void Reader::Expect(bool ok, const std::string& why) const {
  if (!ok) Throw(why);
}

void Reader::Keys(const Json& j, std::initializer_list<const char*> allowed) const {
  for (auto it = j.begin(); it != j.end(); ++it) {
    bool known = false;
    for (const char* a : allowed) known = known || it.key() == a;
    Expect(known, "unknown key \"" + it.key() + "\"");
  }
}

std::string Reader::Text(const Json& j, const char* key) const {
  if (!j.contains(key)) return {};
  std::string quoted = std::string("\"").append(key).append("\"");
  Expect(j[key].is_string(), quoted + " must be a text");
  size_t bad = 0;
  auto text = platform::Utf8ToCp1251(j[key].get<std::string>(), &bad);
  Expect(text.has_value(), quoted + " holds a character Windows-1251 lacks (at byte " +
                               std::to_string(bad) + ")");
  return *text;
}

bool Reader::Bool(const Json& j, const char* key, bool dflt) const {
  if (!j.contains(key)) return dflt;
  Expect(j[key].is_boolean(), std::string("\"").append(key).append("\" must be true or false"));
  return j[key].get<bool>();
}

int Reader::Whole(const Json& j, const char* key, int dflt, int low, int high) const {
  if (!j.contains(key)) return dflt;
  const Json& v = j[key];
  Expect(v.is_number_integer() && v.get<int64_t>() >= low && v.get<int64_t>() <= high,
         std::string("\"").append(key).append("\" must be a whole number from ") +
             std::to_string(low) + " to " + std::to_string(high));
  return v.get<int>();
}

std::vector<int> Reader::Numbers(const Json& a, size_t n, int high, const std::string& why) const {
  Expect(a.is_array() && a.size() == n, why);
  std::vector<int> out;
  for (const Json& v : a) {
    Expect(v.is_number_integer() && v.get<int64_t>() >= 0 && v.get<int64_t>() <= high, why);
    out.push_back(v.get<int>());
  }
  return out;
}

}  // namespace korawin::ui::desc
