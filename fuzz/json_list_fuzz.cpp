// Reads the input with JsonListReader and with nlohmann's parser and stops on any difference:
// a text one takes and the other refuses, or an element, name or value that differs.
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <nlohmann/json.hpp>

#include "app/json_list.h"

using korawin::app::JsonElement;
using korawin::app::JsonListReader;
using korawin::app::JsonValue;

namespace {

void Differ() { std::abort(); }

void Compare(const JsonValue& ours, const nlohmann::json& theirs) {
  switch (ours.kind) {
    case JsonValue::kNull:
      if (!theirs.is_null()) Differ();
      break;
    case JsonValue::kText:
      if (!theirs.is_string() || theirs.get_ref<const std::string&>() != ours.text) Differ();
      break;
    case JsonValue::kWhole:
      if (theirs.is_number_integer() && !theirs.is_number_unsigned()) {
        if (theirs.get<int64_t>() != ours.whole) Differ();
      } else if (theirs.is_number_unsigned()) {
        uint64_t u = theirs.get<uint64_t>();
        int64_t expect = u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                             ? std::numeric_limits<int64_t>::max()
                             : static_cast<int64_t>(u);
        if (expect != ours.whole) Differ();
      } else if (!theirs.is_number_float()) {  // a whole number beyond uint64 is a float there
        Differ();
      }
      break;
    case JsonValue::kOther:
      if (theirs.is_null() || theirs.is_string() || theirs.is_number_integer()) Differ();
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // The same text as a JSON value, names in the order written, duplicates kept.
  nlohmann::json doc;
  bool valid = true;
  try {
    doc = nlohmann::json::parse(text);
  } catch (const nlohmann::json::out_of_range&) {
    return 0;  // a fraction beyond double's range, which nlohmann refuses and the reader takes
  } catch (const nlohmann::json::exception&) {
    valid = false;
  }

  std::istringstream in(text);
  // A buffer of 8 to 23 bytes, so that values and escapes straddle its refills.
  JsonListReader reader(*in.rdbuf(), 8 + size % 16);
  JsonElement e;
  size_t index = 0;
  JsonListReader::Result r;
  while ((r = reader.Next(&e)) == JsonListReader::kElement) {
    // Elements before a fault further on come out as they are read.
    ++index;
    if (!valid) continue;
    if (!doc.is_array() || index > doc.size()) Differ();
    const nlohmann::json& theirs = doc[index - 1];
    if (e.object != theirs.is_object()) Differ();
    if (!e.object) continue;
    // nlohmann keeps the last value of a name given twice: compare each name's last value.
    size_t distinct = 0;
    for (size_t m = 0; m < e.count; ++m) {
      bool last = true;
      for (size_t later = m + 1; later < e.count; ++later)
        if (e.members[later].name == e.members[m].name) last = false;
      if (!last) continue;
      ++distinct;
      auto it = theirs.find(e.members[m].name);
      if (it == theirs.end()) Differ();
      Compare(e.members[m].value, *it);
    }
    if (distinct != theirs.size()) Differ();
  }
  if (r != reader.Next(&e)) Differ();  // an ended reading answers the same again
  switch (r) {
    case JsonListReader::kEnd:
      if (!valid || !doc.is_array() || index != doc.size()) Differ();
      break;
    case JsonListReader::kNotAList:
      // The reader says so before it reads on.
      if (index != 0 || (valid && doc.is_array())) Differ();
      break;
    case JsonListReader::kMalformed:
      if (reader.where() > size) Differ();
      // nlohmann ends the text at a NUL byte; the reader refuses what follows the list.
      if (valid && !(reader.where() < size && text[reader.where()] == '\0')) Differ();
      break;
    case JsonListReader::kElement:
      break;
  }
  return 0;
}
