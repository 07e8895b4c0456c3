// A view over SLOVO-shaped cards walked at random (forwards, backwards, SET with and without a
// value, RESET to saved positions, filter changes) agrees with a brute-force model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "lang/charset.h"
#include "tests/storage/view_test_util.h"

namespace korawin::storage::testing {
namespace {

struct Card {
  std::string verb;
  std::string mark;
  uint32_t rec;
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(lang::UpperChar(static_cast<unsigned char>(c)));
  return s;
}

class ViewModelTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ViewModelTest, RandomWalkAgreesWithTheModel) {
  const bool keyed = std::string(GetParam()) == "UPPER(SLO:I_VERB)";
  lang::PUSHSCOPE(1);
  MemoryTable slovo("SLOVO", {{"SLO:I_VERB", kTypeString, 64}, {"SLO:METKA", kTypeString, 1}},
                    {{"SLO:K_SLO", {1}, kKeyOpt | kKeyNoCase}});
  BindFields(slovo);
  char fragment[20];
  lang::BIND("glo:fr1", lang::Variable::String(fragment, sizeof fragment));
  ASSERT_EQ(CallDriver(kOpOpen, slovo.fd()), 0);

  // Cards with Cyrillic identifiers in Windows-1251, some blank (left out of the OPT key).
  std::mt19937 rng(7);
  const char kLetters[] = "\xE0\xE1\xE2\xE3\xE4\xC0\xC1\xC2";  // а б в г д А Б В
  std::vector<Card> cards;
  for (uint32_t i = 0; i < 400; ++i) {
    std::string verb;
    if (rng() % 20 != 0) {
      verb = "x";
      for (int n = 2 + static_cast<int>(rng() % 5); n > 0; --n) verb += kLetters[rng() % 8];
      verb += std::to_string(i);  // unique under the key's case folding
    }
    std::string mark = rng() % 3 == 0 ? "*" : " ";
    slovo.Set(1, verb);
    slovo.Set(2, mark);
    cards.push_back({verb, mark, slovo.Insert()});
  }

  View view(ViewDeclaration{&slovo.fd(), {1, 2}, {}});
  ASSERT_EQ(CallView(kOpOpen, view), 0);
  ASSERT_EQ(SetProperty(view, kViewPropertyOrder, GetParam()), 0);
  const char* kFilters[] = {"", "(clip(glo:fr1)='' or instring(clip(glo:fr1),slo:I_VERB,1)<>0)",
                            ("(slo:metka='*' and (clip(glo:fr1)='' or "
                             "instring(clip(glo:fr1),slo:I_VERB,1)<>0))")};
  const char* kFragments[] = {"", "\xE0\xE1", "\xC0"};

  std::vector<Card> model;  // the view's records in order under the current filter
  int filter = 0;
  std::string fr;
  auto rebuild = [&] {
    model.clear();
    for (const Card& c : cards) {
      if (keyed && c.verb.empty()) continue;
      if (filter >= 1 && !fr.empty() && c.verb.find(fr) == std::string::npos) continue;
      if (filter == 2 && c.mark != "*") continue;
      model.push_back(c);
    }
    std::stable_sort(model.begin(), model.end(), [&](const Card& a, const Card& b) {
      return keyed ? Upper(a.verb) < Upper(b.verb) : a.verb < b.verb;
    });
  };
  rebuild();
  // Model cursor: NEXT yields model[next], PREVIOUS model[prev].
  int64_t next = 0, prev = static_cast<int64_t>(model.size()) - 1;
  std::vector<std::pair<std::string, size_t>> saved;  // view position, model index

  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE(step);
    const int action = static_cast<int>(rng() % 100);
    if (action < 35 || action >= 95) {
      const bool forward = action < 35;
      const int64_t want = forward ? next : prev;
      const int rc = CallView(forward ? kOpNext : kOpPrevious, view);
      if (want < 0 || want >= static_cast<int64_t>(model.size())) {
        ASSERT_EQ(rc, kErrRecordNotAvailable);
        next = forward ? static_cast<int64_t>(model.size()) : 0;
        prev = forward ? static_cast<int64_t>(model.size()) - 1 : -1;
        continue;
      }
      ASSERT_EQ(rc, 0);
      ASSERT_EQ(slovo.Get(1), model[static_cast<size_t>(want)].verb);
      next = want + 1;
      prev = want - 1;
      if (rng() % 8 == 0) {
        DriverArgs pos;
        ASSERT_EQ(CallView(kOpPositionFile, view, pos), 0);
        saved.emplace_back(pos.result, static_cast<size_t>(want));
      }
    } else if (action < 75) {
      // Back a few steps or on a few steps.
      const int64_t count = static_cast<int64_t>(rng() % 7) - 3;
      if (count == 0) continue;
      const int64_t first = count > 0 ? next : prev;
      const int64_t last = count > 0 ? next + count - 1 : prev + count + 1;
      DriverArgs skip;
      skip.number = count;
      const int rc = CallView(kOpSkip, view, skip);
      if (first < 0 || first >= static_cast<int64_t>(model.size()) || last < 0 ||
          last >= static_cast<int64_t>(model.size())) {
        ASSERT_EQ(rc, kErrRecordNotAvailable);
        // Where a skip over an end leaves the walk is set again before going on.
        ASSERT_EQ(SetView(view, 0), 0);
        next = 0;
        prev = static_cast<int64_t>(model.size()) - 1;
        continue;
      }
      ASSERT_EQ(rc, 0);
      ASSERT_EQ(slovo.Get(1), model[static_cast<size_t>(last)].verb);
      next = last + 1;
      prev = last - 1;
    } else if (action < 82) {
      // SET on a value typed into the buffer (a locator), or on the start.
      std::string probe = rng() % 4 == 0 ? std::string() : std::string(1, kLetters[rng() % 8]);
      if (!probe.empty()) probe = "x" + probe;
      slovo.Set(1, probe);
      ASSERT_EQ(SetView(view, probe.empty() ? 0 : 1), 0);
      if (probe.empty()) {
        next = 0;
        prev = static_cast<int64_t>(model.size()) - 1;
      } else {
        auto below = [&](const Card& c) {
          return keyed ? Upper(c.verb) < Upper(probe) : lang::CompareTexts(c.verb, probe) < 0;
        };
        auto atMost = [&](const Card& c) {
          return keyed ? Upper(c.verb) <= Upper(probe) : lang::CompareTexts(c.verb, probe) <= 0;
        };
        next = std::find_if_not(model.begin(), model.end(), below) - model.begin();
        prev = (std::find_if_not(model.begin(), model.end(), atMost) - model.begin()) - 1;
      }
    } else if (action < 90 && !saved.empty()) {
      const auto& [pos, index] = saved[rng() % saved.size()];
      DriverArgs reset;
      reset.text = pos;
      ASSERT_EQ(CallView(kOpResetFile, view, reset), 0);
      next = prev = static_cast<int64_t>(index);
    } else if (action < 95) {
      filter = static_cast<int>(rng() % 3);
      fr = kFragments[rng() % 3];
      std::memset(fragment, ' ', sizeof fragment);
      std::memcpy(fragment, fr.data(), fr.size());
      ASSERT_EQ(SetProperty(view, kViewPropertyFilter, kFilters[filter]), 0);
      rebuild();
      saved.clear();
      next = 0;
      prev = static_cast<int64_t>(model.size()) - 1;
      DriverArgs count;
      ASSERT_EQ(CallView(kOpRecordsFile, view, count), 0);
      ASSERT_EQ(count.value, static_cast<int64_t>(model.size()));
    }
  }
  lang::POPSCOPE();
}

INSTANTIATE_TEST_SUITE_P(KeyAndSort, ViewModelTest,
                         ::testing::Values("UPPER(SLO:I_VERB)", "SLO:I_VERB"));

}  // namespace
}  // namespace korawin::storage::testing
