// The depth of key trees grown by inserts, against a BUILD of the same entries: for keys shaped
// as the nine keys of SLOVO (from seven entries a page down to two), with entries coming in
// record order, in random order and in runs of equal values, the tree is at most two levels
// deeper than the BUILD, and sound.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "storage/dat/key_file.h"

namespace korawin::storage::dat {
namespace {

struct Shape {
  const char* name;
  uint32_t length;
  bool dup;
};
// K_SLO, K_VERV, BY_TAX, BY_TEMA, BY_V8B, BY_V4, BY_V7, BY_V8E, BY_ACP.
constexpr Shape kSlovoKeys[] = {{"K_SLO", 64, false},  {"K_VERV", 20, true},
                                {"BY_TAX", 140, true}, {"BY_TEMA", 164, true},
                                {"BY_V8B", 40, true},  {"BY_V4", 150, true},
                                {"BY_V7", 210, true},  {"BY_V8E", 210, true},
                                {"BY_ACP", 64, true}};
constexpr uint32_t kCards = 6000;

enum class Order { kRecord, kRandom, kRuns };

// The entries of one key over the cards: unique values for a unique key, a few hundred values
// shared by many cards for the others (as themes and classes are).
std::vector<std::pair<std::string, uint32_t>> Entries(const Shape& shape, Order order) {
  std::mt19937 random(shape.length * 7 + static_cast<unsigned>(order));
  std::vector<std::pair<std::string, uint32_t>> entries;
  for (uint32_t r = 1; r <= kCards; ++r) {
    uint32_t v = shape.dup ? random() % 300 : random();
    char text[32];
    std::snprintf(text, sizeof text, "%010u", v);
    std::string value(text);
    value.resize(shape.length, ' ');
    entries.emplace_back(std::move(value), r);
  }
  if (order == Order::kRandom) std::shuffle(entries.begin(), entries.end(), random);
  if (order == Order::kRuns) std::sort(entries.begin(), entries.end());
  return entries;
}

const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(KeyDepthTest, InsertedTreesAreAtMostTwoLevelsDeeperThanABuild) {
  char tmpl[] = "/tmp/keydepthXXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  for (const Shape& shape : kSlovoKeys) {
    KeyShape ks{shape.length, 1,
                static_cast<uint8_t>(kKeyFlagNotOpt | (shape.dup ? kKeyFlagDup : 0))};
    for (Order order : {Order::kRecord, Order::kRandom, Order::kRuns}) {
      SCOPED_TRACE(std::string(shape.name) + " order " + std::to_string(static_cast<int>(order)));
      auto entries = Entries(shape, order);
      KeyFile grown;
      ASSERT_EQ(0, grown.Create(dir + "/grown.K01", ks));
      grown.set_flush_headers(false, true);  // a batch: pages wait in memory
      KeyBuilder builder(shape.length);
      for (const auto& [value, recno] : entries) {
        int rc = grown.Insert(U(value), recno);
        if (rc == kErrDuplicateKey && !shape.dup) continue;  // a random value drawn twice
        ASSERT_EQ(0, rc);
        builder.Add(U(value), recno);
      }
      ASSERT_EQ(0, grown.Flush());
      KeyFile built;
      ASSERT_EQ(0, built.Create(dir + "/built.K01", ks, /*empty=*/false));
      ASSERT_EQ(0, built.Build(builder, std::string()));
      EXPECT_EQ(grown.header().entries, built.header().entries);
      EXPECT_LE(grown.header().levels, built.header().levels + 2)
          << "built " << built.header().levels << ", entries per page " << ks.entries_per_page();
      std::string why;
      EXPECT_EQ(0, grown.Check(&why)) << why;
    }
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace korawin::storage::dat
