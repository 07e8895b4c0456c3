// Long runs of one value in a DUP key: inserts, removals and positioned searches in the middle
// of a run that spans many leaves and inner entries, against a sorted model.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <utility>

#include "storage/dat/key_file.h"
#include "tests/support/temp_dir.h"

namespace korawin::storage::dat {
namespace {

constexpr uint32_t kKeyLength = 100;  // 4 entries a page: a few thousand entries make 6 levels

std::string V(char c) { return std::string(kKeyLength, c); }
const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

class KeyDupRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ + "/R.K01";
  }

  KeyShape Shape() const { return KeyShape{kKeyLength, 1, kKeyFlagDup | kKeyFlagNotOpt}; }

  void Insert(KeyFile& kf, char c, uint32_t r) {
    ASSERT_EQ(kf.Insert(U(V(c)), r), 0) << c << "/" << r;
    model_.insert({c, r});
  }
  void Remove(KeyFile& kf, char c, uint32_t r) {
    ASSERT_EQ(kf.Remove(U(V(c)), r), 0) << c << "/" << r;
    model_.erase({c, r});
  }
  // The whole key in order equals the model, and the tree is sound.
  void ExpectModel(KeyFile& kf) {
    std::string why;
    ASSERT_EQ(kf.Check(&why), 0) << why;
    kf.SetToStart();
    auto it = model_.begin();
    std::string v;
    uint32_t r = 0;
    size_t n = 0;
    while (kf.Next() == 0) {
      ASSERT_NE(it, model_.end());
      EXPECT_EQ(0, kf.Current(&v, &r));
      ASSERT_EQ(v, V(it->first)) << "entry " << n;
      ASSERT_EQ(r, it->second) << "entry " << n;
      ++it;
      ++n;
    }
    EXPECT_EQ(it, model_.end());
    uint32_t entries = 0;
    ASSERT_EQ(kf.Entries(&entries), 0);
    EXPECT_EQ(entries, model_.size());
  }
  // Seek to (c, r) stands before the first model entry not below it.
  void ExpectSeek(KeyFile& kf, char c, uint32_t r) {
    SearchResult where;
    ASSERT_EQ(kf.Seek(U(V(c)), r, &where), 0);
    auto it = model_.lower_bound({c, r});
    if (it == model_.end()) {
      EXPECT_EQ(where, SearchResult::kPastEnd);
      return;
    }
    // Record number 0 finds any entry of the value.
    const bool found = it->first == c && (r == 0 || it->second == r);
    EXPECT_EQ(where, found ? SearchResult::kFound : SearchResult::kBefore);
    ASSERT_EQ(kf.Next(), 0);
    std::string v;
    uint32_t got = 0;
    EXPECT_EQ(0, kf.Current(&v, &got));
    EXPECT_EQ(v, V(it->first));
    EXPECT_EQ(got, it->second) << "seek " << c << "/" << r;
  }

  test::TempDir temp_{"keys"};
  std::string dir_ = temp_.path(), path_;
  std::set<std::pair<char, uint32_t>> model_;
};

TEST_F(KeyDupRunTest, ShuffledRecordsInOneRunKeepOrderThroughInsertsRemovalsAndReopen) {
  std::mt19937 rng(11);
  std::vector<uint32_t> recs(3000);
  for (uint32_t i = 0; i < recs.size(); ++i) recs[i] = 2 * i + 2;  // even: odd ones stay absent
  std::shuffle(recs.begin(), recs.end(), rng);
  {
    KeyFile kf;
    ASSERT_EQ(kf.Create(path_, Shape()), 0);
    kf.set_flush_headers(false);
    kf.set_shared(false);
    // Neighbouring values around the run, so the run's first and last children have others.
    for (uint32_t r = 1; r <= 40; ++r) Insert(kf, 'A', r * 7);
    for (uint32_t r = 1; r <= 40; ++r) Insert(kf, 'C', r * 5);
    for (uint32_t r : recs) Insert(kf, 'B', r);
    ExpectModel(kf);
    for (uint32_t r : {1u, 2u, 3u, 3001u, 3002u, 5999u, 6000u, 6001u, 9999u}) ExpectSeek(kf, 'B', r);
    // Take out every third, then search for the holes and their neighbours.
    for (size_t i = 0; i < recs.size(); i += 3) Remove(kf, 'B', recs[i]);
    ExpectModel(kf);
    for (size_t i = 0; i < recs.size(); i += 97) {
      ExpectSeek(kf, 'B', recs[i]);
      ExpectSeek(kf, 'B', recs[i] + 1);
    }
    // A removed record's entry is not found; a DUP insert of an existing pair is refused.
    EXPECT_EQ(kf.Remove(U(V('B')), recs[0]), kErrRecordNotFound);
    EXPECT_EQ(kf.Insert(U(V('B')), recs[1]), kErrDuplicateKey);
  }
  // The same tree read back from the file, with the run grown again at both of its ends.
  KeyFile kf;
  ASSERT_EQ(kf.Open(path_, kOpenReadWrite | kShareDenyAll, Shape(), -1), 0);
  kf.set_flush_headers(false);
  Insert(kf, 'B', 1);
  Insert(kf, 'B', 100001);
  ExpectModel(kf);
  ExpectSeek(kf, 'B', 0);
  ExpectSeek(kf, 'B', 100000);
}

// Records added at the end of their file come in record order: an insert told that its record
// number is above every other one goes after its value's run without reading the run's last
// entries, and must build the very tree the full search builds.
TEST_F(KeyDupRunTest, InsertsKnownToComeLastInTheirRunBuildTheSameFile) {
  const std::string hinted = dir_ + "/H.K01";
  std::mt19937 rng(5);
  KeyFile plain, told;
  ASSERT_EQ(plain.Create(path_, Shape()), 0);
  ASSERT_EQ(told.Create(hinted, Shape()), 0);
  for (KeyFile* kf : {&plain, &told}) {
    kf->set_flush_headers(false);
    kf->set_shared(false);
  }
  for (uint32_t r = 1; r <= 4000; ++r) {
    // A few values, most of them often: long runs that span leaves and inner levels.
    const char c = static_cast<char>('A' + (rng() % 3 == 0 ? rng() % 20 : rng() % 3));
    ASSERT_EQ(plain.Insert(U(V(c)), r), 0);
    ASSERT_EQ(told.Insert(U(V(c)), r, {false, true}), 0);
    model_.insert({c, r});
  }
  ExpectModel(told);
  plain.Close();
  told.Close();
  auto bytes = [](const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    char buf[4096];
    for (size_t n; f && (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    if (f) std::fclose(f);
    return out;
  };
  const std::string a = bytes(path_), b = bytes(hinted);
  EXPECT_GT(a.size(), 100000u);
  EXPECT_TRUE(a == b);
}

}  // namespace
}  // namespace korawin::storage::dat
