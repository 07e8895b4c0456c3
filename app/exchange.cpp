#include "app/exchange.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>

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

std::string DriverMessage(int code, const char* op, const storage::FileDescriptor& fd) {
  return std::string(op) + " " + fd.name + ": error " + std::to_string(code) + " (" +
         std::string(storage::ErrorTextOf(code)) + ")";
}

// Adds the failure of a clean-up step to the message of the failure that caused it.
void AlsoFailed(int code, const char* op, const storage::FileDescriptor& fd, std::string* error) {
  if (code) *error += "; " + DriverMessage(code, op, fd);
}

// Line and column (from 1) of a byte offset of text.
std::string WhereInText(std::string_view text, size_t offset) {
  offset = std::min(offset, text.size());
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;  // count characters, not the continuation bytes of UTF-8
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Converts one card (a JSON object; with numbersAsText, numbers may come as digit strings).
int ConvertCard(const Json& card, size_t number, bool numbersAsText, CardImage* out,
                std::string* error) {
  DeclaredFile& layout = SlovoLayout();
  out->name = "card " + std::to_string(number);
  if (!card.is_object()) {
    *error = out->name + ": not an object";
    return kBadCards;
  }
  auto id = card.find("I_VERB");
  if (id != card.end() && id->is_string()) out->name += " (" + id->get<std::string>() + ")";
  out->record.assign(kSlovoRecordSize, ' ');
  for (const FieldDescriptor& f : layout.fd().fields)
    if (f.type != storage::kTypeString) std::memset(out->record.data() + f.offset, 0, f.size);
  out->memo.assign(kSlovoMemoSize, ' ');

  for (auto it = card.begin(); it != card.end(); ++it) {
    const std::string& key = it.key();
    const Json& value = it.value();
    auto fail = [&](const std::string& what) {
      *error = out->name + ": field " + key + ": " + what;
      return kBadCards;
    };
    char* dest = nullptr;
    size_t width = 0;
    uint8_t type = storage::kTypeString;
    if (key == kMemoName) {
      dest = out->memo.data();
      width = kSlovoMemoSize;
    } else {
      int i = layout.FieldIndex(key);
      if (i < 0) return fail("not a field of SLOVO");
      const FieldDescriptor& f = layout.fd().fields[static_cast<size_t>(i)];
      dest = out->record.data() + f.offset;
      width = f.size;
      type = f.type;
    }
    if (value.is_null()) continue;
    if (type == storage::kTypeString) {
      if (!value.is_string()) return fail("must be a text");
      size_t bad = 0;
      std::optional<std::string> text = platform::Utf8ToCp1251(value.get<std::string>(), &bad);
      if (!text) {
        const std::string& s = value.get_ref<const std::string&>();
        size_t end = bad + 1;
        while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) ++end;
        return fail("Windows-1251 cannot hold \"" + s.substr(bad, end - bad) + "\"");
      }
      std::memcpy(dest, text->data(), std::min(width, text->size()));
      continue;
    }
    int64_t n = 0;
    if (value.is_number_integer()) {
      n = value.get<int64_t>();
    } else if (numbersAsText && value.is_string()) {
      const std::string& s = value.get_ref<const std::string&>();
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

// RFC 4180: fields separated by commas, records by CR LF (a bare LF is taken too), quoted
// fields may hold commas, line breaks and doubled quotes.
int ParseCsv(std::string_view text, std::vector<std::vector<std::string>>* rows,
             std::vector<size_t>* rowOffsets, std::string* error) {
  std::vector<std::string> row;
  std::string field;
  size_t i = 0;
  size_t rowStart = 0;
  bool any = false;  // the current row has begun
  auto endField = [&] {
    row.push_back(std::move(field));
    field.clear();
  };
  auto endRow = [&] {
    endField();
    rows->push_back(std::move(row));
    rowOffsets->push_back(rowStart);
    row.clear();
    any = false;
  };
  while (i < text.size()) {
    char c = text[i];
    if (!any) {
      rowStart = i;
      any = true;
    }
    if (c == '"' && field.empty()) {
      size_t open = i++;
      for (;;) {
        if (i >= text.size()) {
          *error = "malformed CSV at " + WhereInText(text, open) + ": unterminated quoted field";
          return kBadCards;
        }
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += text[i++];
      }
      if (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
        *error = "malformed CSV at " + WhereInText(text, i) + ": text after a closing quote";
        return kBadCards;
      }
      continue;
    }
    if (c == ',') {
      endField();
      ++i;
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      endRow();
      i += 2;
    } else if (c == '\n') {
      endRow();
      ++i;
    } else if (c == '"') {
      *error = "malformed CSV at " + WhereInText(text, i) + ": quote inside an unquoted field";
      return kBadCards;
    } else {
      field += c;
      ++i;
    }
  }
  if (any) endRow();
  return 0;
}

int CsvToJson(std::string_view text, Json* cards, std::string* error) {
  std::vector<std::vector<std::string>> rows;
  std::vector<size_t> offsets;
  int err = ParseCsv(text, &rows, &offsets, error);
  if (err) return err;
  *cards = Json::array();
  if (rows.empty()) return 0;
  const std::vector<std::string>& header = rows[0];
  for (size_t r = 1; r < rows.size(); ++r) {
    if (rows[r].size() != header.size()) {
      *error = "malformed CSV at " + WhereInText(text, offsets[r]) + ": " +
               std::to_string(rows[r].size()) + " fields, the header has " +
               std::to_string(header.size());
      return kBadCards;
    }
    Json card = Json::object();
    for (size_t c = 0; c < header.size(); ++c) card[header[c]] = rows[r][c];
    cards->push_back(std::move(card));
  }
  return 0;
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

int ParseCards(std::string_view text, CardFormat format, std::vector<CardImage>* cards,
               std::string* error) {
  cards->clear();
  Json list;
  if (format == CardFormat::kJson) {
    try {
      list = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& e) {
      std::string what = e.what();
      size_t colon = what.find(": ", what.find("column"));
      std::string why = colon == std::string::npos ? what : what.substr(colon + 2);
      *error = "malformed JSON at " + WhereInText(text, e.byte ? e.byte - 1 : 0) + ": " + why;
      return kBadCards;
    }
    if (!list.is_array()) {
      *error = "the cards must be a JSON list of objects";
      return kBadCards;
    }
  } else {
    int err = CsvToJson(text, &list, error);
    if (err) return err;
  }
  std::vector<CardImage> out(list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    int err = ConvertCard(list[i], i + 1, format == CardFormat::kCsv, &out[i], error);
    if (err) return err;
  }
  *cards = std::move(out);
  return 0;
}

int ImportCards(const LexiconFiles& files, std::string_view text, CardFormat format,
                int64_t* added, std::string* error) {
  *added = 0;
  std::vector<CardImage> cards;
  int err = ParseCards(text, format, &cards, error);
  if (err) return err;

  DeclaredFile& slovo = files[LexiconFile::kSlovo];
  DriverArgs open;
  open.mode = storage::kOpenReadWrite | storage::kShareDenyWrite;
  err = CallDriver(storage::kOpOpen, slovo.fd(), open);
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
  for (const CardImage& card : cards) {
    std::memcpy(slovo.record.data(), card.record.data(), kSlovoRecordSize);
    std::memcpy(slovo.memo.data(), card.memo.data(), kSlovoMemoSize);
    err = CallDriver(storage::kOpAdd, slovo.fd());
    if (err) {
      *error = err == storage::kErrDuplicateKey
                   ? card.name + ": the identifier I_VERB is already taken (case ignored)"
                   : card.name + ": " + DriverMessage(err, "ADD", slovo.fd());
      break;
    }
    ++*added;
  }
  if (err) {
    AlsoFailed(CallDriver(storage::kOpRollback, slovo.fd()), "ROLLBACK", slovo.fd(), error);
    *added = 0;
    AlsoFailed(CallDriver(storage::kOpClose, slovo.fd()), "CLOSE", slovo.fd(), error);
    return err == storage::kErrDuplicateKey ? kBadCards : err;
  }
  err = CallDriver(storage::kOpCommit, slovo.fd());
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
