#include "framework/step.h"

#include <algorithm>
#include <cstdint>

#include "lang/charset.h"
#include "lang/types.h"

namespace korawin::framework {

namespace {

constexpr std::string_view kNames =
    "   ALBAMEARNBAKBATBENBIABOBBRABROBUACACCARCENCHRCOECONCORCRUDASDELDIADONDURELDEVEFELFISFLO"
    "FREFUTGARGIBGOLGOSGREGUTHAMHEMHOBHOTINGJASJONKAGKEAKIRKORKYOLATLEOLIGLOUMACMAQMARMAUMCK"
    "MERMILMONMORNATNOLOKEPAGPAUPETPINPORPULRAUREYROBROSRUBSALSCASCHSCRSHASIGSKISNASOUSTESTI"
    "SUNTAYTIRTUCVANWACWASWEIWIEWIMWOLYOR";
constexpr std::string_view kTwoLetters =
    "  AFANATB BFBNBTC CFCNCTD DFDNDTE EFENETF FFFNFTG GFGNGTH HFHNHTI IFINITJ JFJNJTK KFKNKTL "
    "LFLNLTM MFMNMTN NFNNNTO OFONOTP PFPNPTQ QNR RFRNRTS SFSNSTT TFTNTTU UFUNUTV VFVNVTW WFWNWTX "
    "XFXNXTY YFYNYTZ ZN";
static_assert(kNames.size() == 300 && kTwoLetters.size() == 200);

// The punctuation a key may hold, in the order the table knows it (0xA3 stands where the
// pound sign was).
constexpr std::string_view kPunctuation = "`!\"\xA3$%^&*()'-=_+][#;~@:/.,?\\| ";
static_assert(kPunctuation.size() == 30);

constexpr int kEntries = 100;
constexpr int kComputedWidth = 4;
constexpr size_t kMaxRoot = 40;

std::string_view Clip(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string_view StepNameTable() { return kNames; }
std::string_view StepTwoLetterTable() { return kTwoLetters; }

int StepStringClass::Width() const {
  switch (LookupMode) {
    case StepLookupNames: return 3;
    case StepLookupComputed: return kComputedWidth;
    default: return 2;
  }
}

void StepStringClass::Init(uint8_t controls, uint8_t mode) {
  Controls = controls;
  LookupMode = mode;
  Root.clear();
  BuildSortChars();
  TestLen = static_cast<uint8_t>(Width() + 1);
  if (mode == StepLookupNames) Ref.assign(kNames);
  else if (mode == StepLookupComputed) Ref.assign(kEntries * kComputedWidth, ' ');
  else Ref.assign(kTwoLetters);
}

void StepStringClass::BuildSortChars() {
  SortChars.clear();
  const bool cased = Controls & StepCaseSensitive;
  for (int c = 1; c <= 255; ++c) {
    unsigned char ch = static_cast<unsigned char>(c);
    bool take = false;
    if ((Controls & StepLetters) && lang::IsLetter(ch) && (cased || lang::UpperChar(ch) == ch))
      take = true;
    if ((Controls & StepPunctuation) && kPunctuation.find(static_cast<char>(ch)) != std::string_view::npos)
      take = true;
    if ((Controls & StepDigits) && ch >= '0' && ch <= '9') take = true;
    if (take) SortChars.push_back(static_cast<char>(ch));
  }
}

void StepStringClass::SetLimit(std::string_view low, std::string_view high) {
  low = Clip(low);
  high = Clip(high);
  size_t common = 0;
  while (common < low.size() && common < high.size() && common < kMaxRoot &&
         low[common] == high[common]) {
    ++common;
  }
  Root.assign(low.substr(0, common));
  if (LookupMode != StepLookupComputed || SortChars.empty()) return;

  const bool cased = Controls & StepCaseSensitive;
  const int64_t base = static_cast<int64_t>(SortChars.size());
  // Four characters after Root as a number of that base, each character counting its place
  // in SortChars. Places count from 0 (a character outside SortChars counts as the first), so
  // that every number of four places has its four characters and the table rises with it.
  auto number = [&](std::string_view v, char pad) {
    std::string s(v.substr(std::min(v.size(), Root.size()), kComputedWidth));
    s.resize(kComputedWidth, pad);
    int64_t n = 0;
    for (char c : s) {
      if (!cased) c = static_cast<char>(lang::UpperChar(static_cast<unsigned char>(c)));
      size_t at = SortChars.find(c);
      n = n * base + (at == std::string::npos ? 0 : static_cast<int64_t>(at));
    }
    return n;
  };
  int64_t limit = 1;
  for (int k = 0; k < kComputedWidth; ++k) limit *= base;
  auto text = [&](double value) {
    int64_t n = std::clamp<int64_t>(static_cast<int64_t>(value), 0, limit - 1);
    std::string s(kComputedWidth, ' ');
    for (int k = kComputedWidth - 1; k >= 0; --k) {
      s[static_cast<size_t>(k)] = SortChars[static_cast<size_t>(n % base)];
      n /= base;
    }
    return s;
  };
  const double lo = static_cast<double>(number(low, SortChars.front()));
  const double hi = static_cast<double>(number(high, SortChars.back()));
  const double d = (hi - lo) / kEntries;
  const bool descending = Controls & StepDescending;
  Ref.assign(kEntries * kComputedWidth, ' ');
  for (int i = 0; i < kEntries; ++i) {
    int entry = descending ? kEntries - 1 - i : i;
    Ref.replace(static_cast<size_t>(entry) * kComputedWidth, kComputedWidth, text(lo + d * i));
  }
}

int StepStringClass::GetPercentile(std::string_view value) const {
  const size_t width = static_cast<size_t>(Width());
  std::string piece(value.substr(std::min(value.size(), Root.size()), width + 1));
  if (!(Controls & StepCaseSensitive)) {
    for (char& c : piece) c = static_cast<char>(lang::UpperChar(static_cast<unsigned char>(c)));
  }
  int count = 0;
  for (size_t k = 0; k + width <= Ref.size(); k += width)
    if (lang::CompareTexts(std::string_view(Ref).substr(k, width), piece) <= 0) ++count;
  if (Controls & StepDescending) count = kEntries - count;
  return std::clamp(count, 1, kEntries);
}

std::string StepStringClass::GetValue(int step) const {
  step = std::clamp(step, 1, kEntries);
  if (Controls & StepDescending) step = std::max(kEntries - step, 1);
  const size_t width = static_cast<size_t>(Width());
  return Root + Ref.substr(static_cast<size_t>(step - 1) * width, width);
}

}  // namespace korawin::framework
