#include "storage/dat/collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <numeric>

#include "platform/codepage.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "storage/driver.h"

namespace korawin::storage::dat {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

std::string AsciiUpper(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

enum class Charset { kAnsi, kOem, kUtf8 };

// Brings a value of the environment file into Windows-1251.
bool ToAnsi(std::string_view value, Charset charset, std::string* out) {
  switch (charset) {
    case Charset::kAnsi:
      *out = std::string(value);
      return true;
    case Charset::kOem:
      *out = std::string(value);
      platform::OemToAnsiInPlace(out->data(), out->size());
      return true;
    case Charset::kUtf8: {
      auto converted = platform::Utf8ToCp1251(value);
      if (!converted) return false;
      *out = *converted;
      return true;
    }
  }
  return false;
}

}  // namespace

Collation::Collation() {
  std::iota(ansiWeight_, ansiWeight_ + 256, 0);
  std::iota(oemWeight_, oemWeight_ + 256, 0);
  SetAsciiCase();
  Precompute();
}

void Collation::Precompute() {
  for (int k = 0; k < 4; ++k) {
    for (int c = 0; c < 256; ++c) {
      auto u = static_cast<uint8_t>(c);
      if (k & 2) u = Upper(u);
      weighed_[k][c] = (k & 1) ? oemWeight_[platform::AnsiToOem(u)] : ansiWeight_[u];
    }
  }
  std::fill(digraphAt_, digraphAt_ + 256, int16_t{-1});
  // Backwards, so that the first digraph of a character is the one kept.
  for (size_t i = digraphs_.size(); i-- > 0;)
    digraphAt_[digraphs_[i].from] = static_cast<int16_t>(i);
}

void Collation::SetAsciiCase() {
  std::fill(partner_, partner_ + 256, 0);
  std::fill(class_, class_ + 256, 0);
  for (int c = 'A'; c <= 'Z'; ++c) {
    partner_[c] = static_cast<uint8_t>(c + 32);
    partner_[c + 32] = static_cast<uint8_t>(c);
    class_[c] = kCaseUpper;
    class_[c + 32] = kCaseLower;
  }
  for (int c = '0'; c <= '9'; ++c) class_[c] = kCaseDigit;
}

void Collation::SetWindowsCase() {
  std::fill(partner_, partner_ + 256, 0);
  std::fill(class_, class_ + 256, 0);
  for (int c = 0; c < 256; ++c) {
    UChar32 u = static_cast<UChar32>(platform::Cp1251ToUnicode(static_cast<unsigned char>(c)));
    if (u_isdigit(u)) class_[c] = kCaseDigit;
    UChar32 other;
    if (u_isupper(u)) {
      class_[c] = kCaseUpper;
      other = u_tolower(u);
    } else if (u_islower(u)) {
      class_[c] = kCaseLower;
      other = u_toupper(u);
    } else {
      continue;
    }
    if (other == u) continue;
    auto b = platform::UnicodeToCp1251(static_cast<char32_t>(other));
    if (b && *b != c) partner_[c] = *b;
  }
}

Code Collation::SetWindowsOrder() {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(
      icu::Collator::createInstance(icu::Locale("ru", "RU"), status));
  if (U_FAILURE(status) || !collator) return kErrUnknownError;
  std::vector<icu::UnicodeString> text(256);
  for (int c = 2; c <= 254; ++c)
    text[c] = icu::UnicodeString(
        static_cast<UChar32>(platform::Cp1251ToUnicode(static_cast<unsigned char>(c))));
  std::vector<int> order(253);
  std::iota(order.begin(), order.end(), 2);
  // Characters the collator takes as equal (the ignorable controls) keep their code order.
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    UErrorCode st = U_ZERO_ERROR;
    return collator->compare(text[a], text[b], st) == UCOL_LESS;
  });
  std::iota(ansiWeight_, ansiWeight_ + 256, 0);
  for (size_t i = 0; i < order.size(); ++i)
    ansiWeight_[order[i]] = static_cast<uint8_t>(2 + i);
  return 0;
}

// A custom order: the listed characters sort in the listed order, together, at the place of
// the lowest-coded of them; every other character keeps its place relative to the rest.
// Characters 0 and 1 always come first.
void Collation::OrderFromList(std::string_view list, uint8_t* weights) {
  bool listed[256] = {};
  std::vector<uint8_t> seq;
  for (char ch : list) {
    auto c = static_cast<uint8_t>(ch);
    if (c < 2 || listed[c]) continue;
    listed[c] = true;
    seq.push_back(c);
  }
  if (seq.empty()) {
    std::iota(weights, weights + 256, 0);
    return;
  }
  uint8_t lowest = *std::min_element(seq.begin(), seq.end());
  std::vector<uint8_t> order;
  for (int c = 0; c < 256; ++c) {
    if (c == lowest) order.insert(order.end(), seq.begin(), seq.end());
    if (!listed[c]) order.push_back(static_cast<uint8_t>(c));
  }
  for (size_t i = 0; i < order.size(); ++i) weights[order[i]] = static_cast<uint8_t>(i);
}

void Collation::DeriveOem() {
  for (int o = 0; o < 256; ++o)
    oemWeight_[o] = ansiWeight_[platform::OemToAnsi(static_cast<unsigned char>(o))];
}

void Collation::DeriveAnsi() {
  for (int a = 0; a < 256; ++a)
    ansiWeight_[a] = oemWeight_[platform::AnsiToOem(static_cast<unsigned char>(a))];
}

Code Collation::Parse(std::string_view text, Collation* out, std::string* warnings) {
  *out = Collation();
  auto warn = [&](const std::string& w) {
    if (warnings) *warnings += w + "\n";
  };
  std::string charsetValue, colseq, caseValue, digraph;
  bool haveColseq = false, haveCase = false, haveDigraph = false;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#' || line[0] == '[') continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      warn("line without '=': " + std::string(line));
      continue;
    }
    std::string name = AsciiUpper(Trim(line.substr(0, eq)));
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (name == "VELCHARSET") {
      charsetValue = AsciiUpper(value);
    } else if (name == "VELCOLSEQ") {
      colseq = std::string(value);
      haveColseq = true;
    } else if (name == "VELCASE") {
      caseValue = std::string(value);
      haveCase = true;
    } else if (name == "VELDIGRAPH") {
      digraph = std::string(value);
      haveDigraph = true;
    } else {
      warn("unknown setting: " + name);
    }
  }
  Charset charset = charsetValue == "OEM"                              ? Charset::kOem
                    : (charsetValue == "UTF-8" || charsetValue == "UTF8") ? Charset::kUtf8
                                                                          : Charset::kAnsi;
  int rc = 0;

  if (haveCase && !caseValue.empty()) {
    if (AsciiUpper(caseValue) == "WINDOWS") {
      out->SetWindowsCase();
    } else {
      std::string pairs;
      if (!ToAnsi(caseValue, charset, &pairs) || pairs.size() % 2 != 0) {
        warn("VELCASE: pairs of an upper-case and a lower-case character expected");
      } else {
        std::fill(out->partner_, out->partner_ + 256, 0);
        for (int c = 0; c < 256; ++c) out->class_[c] &= kCaseDigit;
        for (size_t i = 0; i < pairs.size(); i += 2) {
          auto up = static_cast<uint8_t>(pairs[i]);
          auto low = static_cast<uint8_t>(pairs[i + 1]);
          out->partner_[up] = low;
          out->partner_[low] = up;
          out->class_[up] = kCaseUpper;
          out->class_[low] = kCaseLower;
        }
      }
    }
  }

  if (haveColseq && !colseq.empty()) {
    if (AsciiUpper(colseq) == "WINDOWS") {
      rc = out->SetWindowsOrder();
      if (rc) warn("VELCOLSEQ: the system's collator is not available");
      out->DeriveOem();
    } else if (charset == Charset::kOem) {
      OrderFromList(colseq, out->oemWeight_);
      out->DeriveAnsi();
    } else {
      std::string list;
      if (!ToAnsi(colseq, charset, &list)) {
        warn("VELCOLSEQ: text not in the declared character set");
      } else {
        OrderFromList(list, out->ansiWeight_);
        out->DeriveOem();
      }
    }
  }

  if (haveDigraph && !digraph.empty()) {
    std::string list;
    if (!ToAnsi(digraph, charset, &list)) {
      warn("VELDIGRAPH: text not in the declared character set");
    } else {
      size_t i = 0;
      while (i < list.size()) {
        if (list[i] == ',' || list[i] == ' ') {
          ++i;
          continue;
        }
        size_t stop = list.find_first_of(", ", i);
        if (stop == std::string::npos) stop = list.size();
        if (stop - i == 3) {
          out->digraphs_.push_back({static_cast<uint8_t>(list[i]),
                                    static_cast<uint8_t>(list[i + 1]),
                                    static_cast<uint8_t>(list[i + 2])});
        } else {
          warn("VELDIGRAPH: an item must be one character and the two it sorts as");
        }
        i = stop;
      }
    }
  }
  out->Precompute();
  return rc;
}

Code Collation::Load(const std::string& path, Collation* out, std::string* warnings) {
  std::string text;
  if (platform::ReadWholeFile(path, &text) != 0) {
    *out = Collation();  // no environment file: the defaults
    return 0;
  }
  return Parse(text, out, warnings);
}

void Collation::Translate(const unsigned char* in, size_t n, bool nocase, bool oem,
                          unsigned char* out) const {
  if (digraphs_.empty()) {
    const uint8_t* weigh = weighed_[(nocase ? 2 : 0) + (oem ? 1 : 0)];
    for (size_t i = 0; i < n; ++i) out[i] = weigh[in[i]];
    return;
  }
  // A digraph's two characters are weighed as they stand, without case folding.
  const uint8_t* weigh = weighed_[oem ? 1 : 0];
  size_t o = 0;
  for (size_t i = 0; i < n && o < n; ++i) {
    uint8_t c = nocase ? Upper(in[i]) : in[i];
    int d = digraphAt_[c];
    if (d < 0) {
      out[o++] = weigh[c];
      continue;
    }
    out[o++] = weigh[digraphs_[static_cast<size_t>(d)].first];
    if (o < n) out[o++] = weigh[digraphs_[static_cast<size_t>(d)].second];
  }
}

namespace {
std::mutex g_envMutex;
std::string g_envPath;
Collation& ActiveStorage() {
  static Collation active;
  return active;
}
}  // namespace

std::string EnvironmentPath() {
  {
    std::lock_guard<std::mutex> lock(g_envMutex);
    if (!g_envPath.empty()) return g_envPath;
  }
  return platform::ResolveExisting(
      platform::JoinPath(platform::ExecutableDirectory(), "korawin1.ENV"));
}

void SetEnvironmentPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_envMutex);
  g_envPath = path;
}

const Collation& ActiveCollation() { return ActiveStorage(); }

void SetActiveCollation(const Collation& collation) { ActiveStorage() = collation; }

Code LoadActiveCollation(std::string* warnings) {
  Collation c;
  int rc = Collation::Load(EnvironmentPath(), &c, warnings);
  SetActiveCollation(c);
  return rc;
}

}  // namespace korawin::storage::dat
