#include "app/exchange.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <sstream>
#include <unordered_map>
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
      int i = SlovoFieldIndex(key);
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
      std::optional<std::string> text =
          platform::Utf8ToCp1251(value.get_ref<const std::string&>(), &bad);
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
    Json card = Json::object();
    for (size_t c = 0; c < header.size(); ++c) card[header[c]] = std::move(row[c]);
    CardImage image;
    int err = ConvertCard(card, number, true, &image, error);
    if (!err) err = sink(image, error);
    if (err) return err;
  }
}

// Builds each element of the top-level list from the parser's events and hands it on as soon
// as it is complete; nothing else of the document is kept.
class CardEvents final : public nlohmann::json_sax<Json> {
 public:
  CardEvents(const CardSink& sink, std::string* error) : sink_(sink), error_(error) {}

  bool null() override { return Value(nullptr); }
  bool boolean(bool v) override { return Value(v); }
  bool number_integer(number_integer_t v) override { return Value(v); }
  bool number_unsigned(number_unsigned_t v) override { return Value(v); }
  bool number_float(number_float_t v, const string_t&) override { return Value(v); }
  bool string(string_t& v) override { return Value(std::move(v)); }
  bool binary(binary_t& v) override { return Value(Json::binary(std::move(v))); }
  bool start_object(std::size_t) override { return Open(Json::object()); }
  bool key(string_t& k) override {
    key_ = std::move(k);
    return true;
  }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override {
    if (!inList_ && !listDone_) return inList_ = true;
    return Open(Json::array());
  }
  bool end_array() override {
    if (open_.empty()) {
      inList_ = false;
      listDone_ = true;
      return true;
    }
    return Close();
  }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& e) override {
    malformedAt_ = position;
    std::string what = e.what();
    size_t colon = what.find(": ", what.find("column"));
    malformed_ = colon == std::string::npos ? what : what.substr(colon + 2);
    return false;
  }

  // The parse stopped on malformed text at this byte count (0: it did not).
  size_t malformedAt() const { return malformedAt_; }
  const std::string& malformed() const { return malformed_; }
  // The code that stopped it otherwise (a card that fails, a text that is no list).
  int code() const { return code_; }

 private:
  bool NotAList() {
    *error_ = "the cards must be a JSON list of objects";
    code_ = kBadCards;
    return false;
  }
  // Places v where the parse stands; a container stays open to take what follows.
  Json* Place(Json v) {
    if (open_.empty()) {
      card_ = std::move(v);
      return &card_;
    }
    Json& parent = *open_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(v));
      return &parent.back();
    }
    Json& slot = parent[key_];
    slot = std::move(v);
    return &slot;
  }
  bool Value(Json v) {
    if (!inList_) return NotAList();
    Place(std::move(v));
    return open_.empty() ? Finish() : true;
  }
  bool Open(Json v) {
    if (!inList_) return NotAList();
    open_.push_back(Place(std::move(v)));
    return true;
  }
  bool Close() {
    open_.pop_back();
    return open_.empty() ? Finish() : true;
  }
  bool Finish() {
    CardImage image;
    code_ = ConvertCard(card_, ++number_, false, &image, error_);
    if (!code_) code_ = sink_(image, error_);
    card_ = nullptr;
    return code_ == 0;
  }

  const CardSink& sink_;
  std::string* error_;
  bool inList_ = false;
  bool listDone_ = false;
  std::vector<Json*> open_;  // the containers of the card being read, outermost first
  Json card_;
  std::string key_;
  size_t number_ = 0;
  int code_ = 0;
  size_t malformedAt_ = 0;
  std::string malformed_;
};

int ReadJsonCards(std::istream& in, const CardSink& sink, std::string* error) {
  CardEvents events(sink, error);
  Json::sax_parse(in, &events);
  if (events.code()) return events.code();
  if (events.malformedAt()) {
    *error = "malformed JSON at " + WhereInStream(in, events.malformedAt() - 1) + ": " +
             events.malformed();
    return kBadCards;
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
