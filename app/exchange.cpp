#include "app/exchange.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <sstream>
#include <unordered_map>
#include <utility>
#include <nlohmann/json.hpp>

#include "app/json_list.h"
#include "platform/codepage.h"
#include "platform/field_codec.h"

extern "C" const unsigned char korawin_demo_json[];
extern "C" const unsigned long korawin_demo_json_size;

namespace korawin::app {

namespace {

using storage::CallDriver;
using storage::DriverArgs;
using storage::FieldDescriptor;
using Json = nlohmann::ordered_json;

constexpr const char* kMemoName = "EXA_MEMO";

// SLOVO's layout, for converting cards without a file at hand.
DeclaredFile& SlovoLayout() {
  static DeclaredFile layout = DeclareFile(LexiconFile::kSlovo, nullptr);
  return layout;
}

std::string NameOf(const FieldDescriptor& f) { return f.label.substr(f.label.find(':') + 1); }

// A SLOVO field's place by its name without prefix, or -1: looked up for every field of every
// card an import reads.
int SlovoFieldIndex(const std::string& name) {
  static const std::unordered_map<std::string, int> byName = [] {
    std::unordered_map<std::string, int> m;
    const auto& fields = SlovoLayout().fd().fields;
    for (size_t i = 0; i < fields.size(); ++i) m.emplace(NameOf(fields[i]), static_cast<int>(i));
    return m;
  }();
  auto it = byName.find(name);
  return it == byName.end() ? -1 : it->second;
}

std::string DriverMessage(int code, const char* op, const storage::FileDescriptor& fd) {
  return std::string(op) + " " + fd.name + ": error " + std::to_string(code) + " (" +
         std::string(storage::ErrorTextOf(code)) + ")";
}

// Adds the failure of a clean-up step to the message of the failure that caused it.
void AlsoFailed(int code, const char* op, const storage::FileDescriptor& fd, std::string* error) {
  if (code) *error += "; " + DriverMessage(code, op, fd);
}

// Line and column (from 1) of a text position, columns counted in characters.
struct TextPlace {
  uint64_t line = 1;
  uint64_t column = 1;
  // Moves past byte c.
  void Pass(char c) {
    if (c == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++column;  // count characters, not the continuation bytes of UTF-8
    }
  }
  std::string Words() const {
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
  }
};

// Where byte offset of in stands (the end of the text when it is shorter): read again from the
// start, since a fault is found once and the text is not kept.
std::string WhereInStream(std::istream& in, uint64_t offset) {
  TextPlace place;
  in.clear();
  in.seekg(0);
  char buf[65536];
  while (offset > 0 && in) {
    in.read(buf, static_cast<std::streamsize>(std::min<uint64_t>(offset, sizeof buf)));
    std::streamsize n = in.gcount();
    if (n <= 0) break;
    for (std::streamsize i = 0; i < n; ++i) place.Pass(buf[i]);
    offset -= static_cast<uint64_t>(n);
  }
  return place.Words();
}

// Converts one card (an object; with numbersAsText, numbers may come as digit strings). A
// name given twice takes its last value, in the place of its first.
int ConvertCard(const JsonElement& card, size_t number, bool numbersAsText, CardImage* out,
                std::string* error) {
  DeclaredFile& layout = SlovoLayout();
  const auto& fields = layout.fd().fields;
  out->name = "card " + std::to_string(number);
  if (!card.object) {
    *error = out->name + ": not an object";
    return kBadCards;
  }
  // Each member's field (fields.size() for the memo, -1 for a name SLOVO lacks), and for each
  // field the member that gives its value (-1 once the field is filled).
  thread_local std::vector<int> fieldOf;
  thread_local std::vector<int> lastOf;
  fieldOf.resize(card.count);
  lastOf.assign(fields.size() + 1, -1);
  for (size_t m = 0; m < card.count; ++m) {
    const std::string& key = card.members[m].name;
    int i = key == kMemoName ? static_cast<int>(fields.size()) : SlovoFieldIndex(key);
    fieldOf[m] = i;
    if (i >= 0) lastOf[static_cast<size_t>(i)] = static_cast<int>(m);
  }
  static const int kIVerb = SlovoFieldIndex("I_VERB");
  if (int m = lastOf[static_cast<size_t>(kIVerb)]; m >= 0) {
    const JsonValue& id = card.members[static_cast<size_t>(m)].value;
    if (id.kind == JsonValue::kText) out->name += " (" + id.text + ")";
  }
  out->record.assign(kSlovoRecordSize, ' ');
  for (const FieldDescriptor& f : fields)
    if (f.type != storage::kTypeString) std::memset(out->record.data() + f.offset, 0, f.size);
  out->memo.assign(kSlovoMemoSize, ' ');

  for (size_t m = 0; m < card.count; ++m) {
    const std::string& key = card.members[m].name;
    auto fail = [&](const std::string& what) {
      *error = out->name + ": field " + key + ": " + what;
      return kBadCards;
    };
    const int i = fieldOf[m];
    if (i < 0) return fail("not a field of SLOVO");
    const int last = std::exchange(lastOf[static_cast<size_t>(i)], -1);
    if (last < 0) continue;  // a name given again, its last value already in place
    const JsonValue& value = card.members[static_cast<size_t>(last)].value;
    char* dest = nullptr;
    size_t width = 0;
    uint8_t type = storage::kTypeString;
    if (static_cast<size_t>(i) == fields.size()) {
      dest = out->memo.data();
      width = kSlovoMemoSize;
    } else {
      const FieldDescriptor& f = fields[static_cast<size_t>(i)];
      dest = out->record.data() + f.offset;
      width = f.size;
      type = f.type;
    }
    if (value.kind == JsonValue::kNull) continue;
    if (type == storage::kTypeString) {
      if (value.kind != JsonValue::kText) return fail("must be a text");
      size_t bad = 0;
      std::optional<std::string> text = platform::Utf8ToCp1251(value.text, &bad);
      if (!text) {
        const std::string& s = value.text;
        size_t end = bad + 1;
        while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) ++end;
        return fail("Windows-1251 cannot hold \"" + s.substr(bad, end - bad) + "\"");
      }
      std::memcpy(dest, text->data(), std::min(width, text->size()));
      continue;
    }
    int64_t n = 0;
    if (value.kind == JsonValue::kWhole) {
      n = value.whole;
    } else if (numbersAsText && value.kind == JsonValue::kText) {
      const std::string& s = value.text;
      if (!s.empty()) {
        auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
        if (ec != std::errc() || p != s.data() + s.size()) return fail("must be a whole number");
      }
    } else {
      return fail("must be a whole number");
    }
    if (type == storage::kTypeLong) {
      if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max())
        return fail("out of the range of a LONG");
      int32_t v = static_cast<int32_t>(n);
      std::memcpy(dest, &v, 4);
    } else {
      if (n < 0 || n > 255) return fail("out of the range 0 to 255");
      dest[0] = static_cast<char>(n);
    }
  }
  std::string_view iVerb(out->record.data(), 64);
  if (iVerb.find_first_not_of(' ') == std::string_view::npos) {
    *error = out->name + ": I_VERB is blank (a card needs an identifier)";
    return kBadCards;
  }
  return 0;
}

// Rows of RFC 4180 text, one at a time: fields separated by commas, records by CR LF (a bare
// LF is taken too), quoted fields may hold commas, line breaks and doubled quotes.
class CsvReader {
 public:
  explicit CsvReader(std::istream& in) : in_(*in.rdbuf()) {}

  // The next row into *row, with where it starts. 1 for a row, 0 at the end of the text,
  // kBadCards with *error for malformed text.
  int Next(std::vector<std::string>* row, TextPlace* start, std::string* error) {
    row->clear();
    if (Peek() == kEnd) return 0;
    *start = place_;
    std::string field;
    for (;;) {
      int c = Peek();
      if (c == '"' && field.empty()) {
        TextPlace open = place_;
        Take();
        for (;;) {
          c = Peek();
          if (c == kEnd) {
            *error = "malformed CSV at " + open.Words() + ": unterminated quoted field";
            return kBadCards;
          }
          Take();
          if (c != '"') {
            field += static_cast<char>(c);
          } else if (Peek() == '"') {
            Take();
            field += '"';
          } else {
            break;
          }
        }
        c = Peek();
        if (c != kEnd && c != ',' && c != '\r' && c != '\n') {
          *error = "malformed CSV at " + place_.Words() + ": text after a closing quote";
          return kBadCards;
        }
        continue;
      }
      if (c == kEnd) break;
      if (c == '"') {
        *error = "malformed CSV at " + place_.Words() + ": quote inside an unquoted field";
        return kBadCards;
      }
      Take();
      if (c == ',') {
        row->push_back(std::move(field));
        field.clear();
      } else if (c == '\n') {
        break;
      } else if (c == '\r' && Peek() == '\n') {
        Take();
        break;
      } else {
        field += static_cast<char>(c);
      }
    }
    row->push_back(std::move(field));
    return 1;
  }

 private:
  static constexpr int kEnd = std::char_traits<char>::eof();
  int Peek() { return in_.sgetc(); }
  void Take() { place_.Pass(static_cast<char>(in_.sbumpc())); }

  std::streambuf& in_;
  TextPlace place_;
};

int ReadCsvCards(std::istream& in, const CardSink& sink, std::string* error) {
  CsvReader reader(in);
  std::vector<std::string> header, row;
  JsonElement card;
  TextPlace start;
  int more = reader.Next(&header, &start, error);
  if (more <= 0) return more;
  for (size_t number = 1;; ++number) {
    more = reader.Next(&row, &start, error);
    if (more <= 0) return more;
    if (row.size() != header.size()) {
      *error = "malformed CSV at " + start.Words() + ": " + std::to_string(row.size()) +
               " fields, the header has " + std::to_string(header.size());
      return kBadCards;
    }
    card.object = true;
    card.count = header.size();
    card.members.resize(header.size());
    for (size_t c = 0; c < header.size(); ++c) {
      card.members[c].name = header[c];
      card.members[c].value.kind = JsonValue::kText;
      card.members[c].value.text = std::move(row[c]);
    }
    CardImage image;
    int err = ConvertCard(card, number, true, &image, error);
    if (!err) err = sink(image, error);
    if (err) return err;
  }
}

int ReadJsonCards(std::istream& in, const CardSink& sink, std::string* error) {
  JsonListReader reader(*in.rdbuf());
  JsonElement card;
  CardImage image;
  for (size_t number = 1;; ++number) {
    switch (reader.Next(&card)) {
      case JsonListReader::kEnd:
        return 0;
      case JsonListReader::kNotAList:
        *error = "the cards must be a JSON list of objects";
        return kBadCards;
      case JsonListReader::kMalformed:
        *error = "malformed JSON at " + WhereInStream(in, reader.where()) + ": " + reader.why();
        return kBadCards;
      case JsonListReader::kElement:
        break;
    }
    if (int err = ConvertCard(card, number, false, &image, error)) return err;
    if (int err = sink(image, error)) return err;
  }
}

void AppendCsvField(std::string* out, std::string_view value) {
  if (value.find_first_of(",\"\r\n") == std::string_view::npos) {
    out->append(value);
    return;
  }
  out->push_back('"');
  for (char c : value) {
    if (c == '"') out->push_back('"');
    out->push_back(c);
  }
  out->push_back('"');
}

}  // namespace

int CreateDatabase(const LexiconFiles& files, std::string* error) {
  for (int i = 0; i < kLexiconFileCount; ++i) {
    DeclaredFile& d = files[static_cast<LexiconFile>(i)];
    int err = CallDriver(storage::kOpCreate, d.fd());
    if (err) {
      *error = DriverMessage(err, "CREATE", d.fd());
      return err;
    }
  }
  return 0;
}

int ReadCards(std::istream& in, CardFormat format, const CardSink& sink, std::string* error) {
  return format == CardFormat::kCsv ? ReadCsvCards(in, sink, error)
                                    : ReadJsonCards(in, sink, error);
}

int ImportCards(const LexiconFiles& files, std::istream& in, CardFormat format,
                const ImportProgress& progress, int64_t* added, std::string* error) {
  *added = 0;
  DeclaredFile& slovo = files[LexiconFile::kSlovo];
  DriverArgs open;
  open.mode = storage::kOpenReadWrite | storage::kShareDenyWrite;
  int err = CallDriver(storage::kOpOpen, slovo.fd(), open);
  if (err) {
    *error = DriverMessage(err, "OPEN", slovo.fd());
    return err;
  }
  // All or nothing: every addition is journalled and undone when a later card fails.
  err = CallDriver(storage::kOpLogout, slovo.fd());
  if (err) {
    *error = DriverMessage(err, "LOGOUT", slovo.fd());
    AlsoFailed(CallDriver(storage::kOpClose, slovo.fd()), "CLOSE", slovo.fd(), error);
    return err;
  }
  constexpr int64_t kProgressEvery = 500;
  err = CallDriver(storage::kOpStream, slovo.fd());
  if (!err) err = ReadCards(in, format, [&](const CardImage& card, std::string* why) {
    std::memcpy(slovo.record.data(), card.record.data(), kSlovoRecordSize);
    std::memcpy(slovo.memo.data(), card.memo.data(), kSlovoMemoSize);
    int code = CallDriver(storage::kOpAdd, slovo.fd());
    if (code == storage::kErrDuplicateKey) {
      *why = card.name + ": the identifier I_VERB is already taken (case ignored)";
      return kBadCards;
    }
    if (code) {
      *why = card.name + ": " + DriverMessage(code, "ADD", slovo.fd());
      return code;
    }
    if (++*added % kProgressEvery == 0 && progress) progress(*added);
    return 0;
  }, error);
  if (err) {
    AlsoFailed(CallDriver(storage::kOpRollback, slovo.fd()), "ROLLBACK", slovo.fd(), error);
    *added = 0;
    AlsoFailed(CallDriver(storage::kOpClose, slovo.fd()), "CLOSE", slovo.fd(), error);
    return err;
  }
  if (progress && *added % kProgressEvery != 0) progress(*added);
  err = CallDriver(storage::kOpFlush, slovo.fd());
  if (!err) err = CallDriver(storage::kOpCommit, slovo.fd());
  if (err) {
    *error = DriverMessage(err, "COMMIT", slovo.fd());
    AlsoFailed(CallDriver(storage::kOpRollback, slovo.fd()), "ROLLBACK", slovo.fd(), error);
    *added = 0;
    AlsoFailed(CallDriver(storage::kOpClose, slovo.fd()), "CLOSE", slovo.fd(), error);
    return err;
  }
  err = CallDriver(storage::kOpClose, slovo.fd());
  if (err) *error = DriverMessage(err, "CLOSE", slovo.fd());
  return err;
}

int ImportCards(const LexiconFiles& files, std::string_view text, CardFormat format,
                int64_t* added, std::string* error) {
  std::istringstream in{std::string(text)};
  return ImportCards(files, in, format, nullptr, added, error);
}

int ExportCards(const LexiconFiles& files, CardFormat format, std::string* out,
                std::string* error) {
  out->clear();
  DeclaredFile& slovo = files[LexiconFile::kSlovo];
  DriverArgs open;
  open.mode = storage::kOpenReadOnly | storage::kShareDenyWrite;
  int err = CallDriver(storage::kOpOpen, slovo.fd(), open);
  if (err) {
    *error = DriverMessage(err, "OPEN", slovo.fd());
    return err;
  }
  const std::vector<FieldDescriptor>& fields = slovo.fd().fields;
  Json list = Json::array();
  if (format == CardFormat::kCsv) {
    for (const FieldDescriptor& f : fields) {
      AppendCsvField(out, NameOf(f));
      out->push_back(',');
    }
    out->append(kMemoName);
    out->append("\r\n");
  }
  DriverArgs set;
  set.key = 1;  // K_SLO
  err = CallDriver(storage::kOpSetKey, slovo.fd(), set);
  while (!err) {
    err = CallDriver(storage::kOpNext, slovo.fd());
    if (err == storage::kErrRecordNotAvailable) {
      err = 0;
      break;
    }
    if (err) break;
    Json card = Json::object();
    bool first = true;
    auto put = [&](const std::string& name, const std::string& text, bool blank, int64_t n,
                   bool isText) {
      if (format == CardFormat::kCsv) {
        if (!first) out->push_back(',');
        first = false;
        AppendCsvField(out, isText ? text : std::to_string(n));
      } else if (!blank) {
        if (isText) card[name] = text;
        else card[name] = n;
      }
    };
    for (const FieldDescriptor& f : fields) {
      const char* p = slovo.record.data() + f.offset;
      if (f.type == storage::kTypeString) {
        std::string text = platform::Cp1251ToUtf8(platform::TrimTrailing(std::string_view(p, f.size)));
        put(NameOf(f), text, text.empty(), 0, true);
      } else {
        int64_t n = 0;
        if (f.type == storage::kTypeLong) {
          int32_t v;
          std::memcpy(&v, p, 4);
          n = v;
        } else {
          n = static_cast<unsigned char>(p[0]);
        }
        put(NameOf(f), std::string(), n == 0, n, false);
      }
    }
    std::string memo = platform::Cp1251ToUtf8(
        platform::TrimTrailing(std::string_view(slovo.memo.data(), slovo.memo.size())));
    put(kMemoName, memo, memo.empty(), 0, true);
    if (format == CardFormat::kCsv) out->append("\r\n");
    else list.push_back(std::move(card));
  }
  if (err) *error = DriverMessage(err, "NEXT", slovo.fd());
  int closeErr = CallDriver(storage::kOpClose, slovo.fd());
  if (!err && closeErr) {
    err = closeErr;
    *error = DriverMessage(err, "CLOSE", slovo.fd());
  }
  if (!err && format == CardFormat::kJson) *out = list.dump(1, ' ', false) + "\n";
  return err;
}

std::string_view DemoCardsJson() {
  return std::string_view(reinterpret_cast<const char*>(korawin_demo_json),
                          korawin_demo_json_size);
}

int BuildDemoDatabase(const LexiconFiles& files, ui::MessageUi& messages,
                      const PassProgress& progress, PassReport* repair, std::string* error) {
  int err = CreateDatabase(files, error);
  if (err) return err;
  int64_t added = 0;
  err = ImportCards(files, DemoCardsJson(), CardFormat::kJson, &added, error);
  if (err) return err;
  PassReport local;
  PassReport& report = repair ? *repair : local;
  err = RepairDatabase(files, messages, progress, &report);
  if (err) {
    *error = "repair: " + report.failedWhere + ": error " + std::to_string(err) + " (" +
             std::string(storage::ErrorTextOf(err)) + ")";
  }
  return err;
}

}  // namespace korawin::app
