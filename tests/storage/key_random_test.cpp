// Thousands of ADD, PUT and DELETE on a file with DUP, OPT, NOCASE and unique keys, checked
// after every batch against a plain in-memory model.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "storage/dat/key_file.h"
#include "tests/support/temp_dir.h"

namespace korawin::storage::dat {
namespace {

constexpr uint32_t kRecordSize = 104;  // STRING(100) name, LONG number

struct Key {
  KeyLayout layout;
  KeyFile file;
  std::set<std::pair<std::string, uint32_t>> model;
};

class RandomKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FieldDescriptor name, number;
    name.type = kTypeString;
    name.offset = 0;
    name.size = 100;
    name.label = "R:NAME";
    number.type = kTypeLong;
    number.offset = 100;
    number.size = 4;
    number.label = "R:NUM";
    file_.fields = {name, number};
    file_.recordSize = kRecordSize;
    file_.keys = {
        KeyDescriptor{"", "R:BY_NAME", kKeyDup | kKeyNoCase, {1}},   // 4 entries a page
        KeyDescriptor{"", "R:BY_NUM", kKeyOpt, {2}},                  // unique, zero left out
        KeyDescriptor{"", "R:OPT", kKeyDup | kKeyOpt, {1, -2}},      // blank names left out
        KeyDescriptor{"", "R:UNAME", kKeyNoCase | kKeyOpt, {1, 2}},   // unique, NOCASE, OPT
    };
    for (size_t k = 0; k < keys_.size(); ++k) {
      ASSERT_EQ(keys_[k].layout.Init(file_, k, &collation_), 0);
      ASSERT_EQ(keys_[k].file.Create(dir_ + "/R.K0" + std::to_string(k + 1),
                                     keys_[k].layout.shape()), 0);
      keys_[k].file.set_shared(false);
      keys_[k].file.set_flush_headers(false);
    }
  }

  std::string RandomRecord() {
    static const char* names[] = {"ivan", "IVAN", "Ivan", "petr", "anna", "ANNA", "",
                                  "zoya", "boris", "gleb", "   ", "olga"};
    std::string rec(kRecordSize, ' ');
    std::string n = names[rng_() % 12];
    if (rng_() % 3 == 0) n += std::to_string(rng_() % 50);
    std::memcpy(rec.data(), n.data(), n.size());
    int32_t num = static_cast<int32_t>(rng_() % 1000) - 500;
    if (rng_() % 4 == 0) num = 0;
    std::memcpy(rec.data() + 100, &num, 4);
    return rec;
  }

  bool Skipped(const Key& k, const std::string& rec) {
    return k.layout.opt() && k.layout.IsBlank(rec.data());
  }
  bool ModelHasValue(const Key& k, const std::string& v, uint32_t except) {
    auto it = k.model.lower_bound({v, 0});
    for (; it != k.model.end() && it->first == v; ++it)
      if (it->second != except) return true;
    return false;
  }
  // Would rec clash with another record in a unique key?
  bool Clashes(const std::string& rec, uint32_t except) {
    for (auto& k : keys_) {
      if (k.layout.dup() || Skipped(k, rec)) continue;
      if (ModelHasValue(k, k.layout.Encode(rec.data()), except)) return true;
    }
    return false;
  }
  void Enter(uint32_t r, const std::string& rec) {
    for (auto& k : keys_) {
      if (Skipped(k, rec)) continue;
      std::string v = k.layout.Encode(rec.data());
      ASSERT_EQ(k.file.Insert(reinterpret_cast<const unsigned char*>(v.data()), r), 0);
      k.model.insert({v, r});
    }
  }
  void Leave(uint32_t r, const std::string& rec) {
    for (auto& k : keys_) {
      if (Skipped(k, rec)) continue;
      std::string v = k.layout.Encode(rec.data());
      ASSERT_EQ(k.file.Remove(reinterpret_cast<const unsigned char*>(v.data()), r), 0);
      k.model.erase({v, r});
    }
  }

  void Step() {
    int what = static_cast<int>(rng_() % 10);
    if (what < 5 || records_.empty()) {  // ADD
      std::string rec = RandomRecord();
      uint32_t r = nextRecno_++;
      if (Clashes(rec, 0)) {
        // The key layer must refuse it as well, in the first unique key that has the value.
        for (auto& k : keys_) {
          if (k.layout.dup() || Skipped(k, rec)) continue;
          std::string v = k.layout.Encode(rec.data());
          if (ModelHasValue(k, v, 0)) {
            EXPECT_EQ(k.file.Insert(reinterpret_cast<const unsigned char*>(v.data()), r),
                      kErrDuplicateKey);
            break;
          }
        }
        return;
      }
      Enter(r, rec);
      records_[r] = rec;
      return;
    }
    auto it = records_.begin();
    std::advance(it, rng_() % records_.size());
    if (what < 8) {  // PUT with a new value
      std::string rec = RandomRecord();
      if (Clashes(rec, it->first)) return;
      Leave(it->first, it->second);
      Enter(it->first, rec);
      it->second = rec;
    } else {  // DELETE
      Leave(it->first, it->second);
      records_.erase(it);
    }
  }

  void Verify() {
    for (auto& k : keys_) {
      SCOPED_TRACE(k.layout.opt() ? "opt key" : "key");
      std::string fault;
      ASSERT_EQ(k.file.Check(&fault), 0) << fault;
      sawFreePages_ |= k.file.header().firstFree != 0;
      uint32_t count = 0;
      ASSERT_EQ(k.file.Entries(&count), 0);
      ASSERT_EQ(count, k.model.size());
      std::vector<std::pair<std::string, uint32_t>> fwd, back;
      std::string v;
      uint32_t r;
      k.file.SetToStart();
      while (k.file.Next() == 0) {
        EXPECT_EQ(0, k.file.Current(&v, &r));
        fwd.push_back({v, r});
      }
      k.file.SetToEnd();
      while (k.file.Previous() == 0) {
        EXPECT_EQ(0, k.file.Current(&v, &r));
        back.insert(back.begin(), {v, r});
      }
      std::vector<std::pair<std::string, uint32_t>> want(k.model.begin(), k.model.end());
      ASSERT_EQ(fwd, want);
      ASSERT_EQ(back, want);
      // Searches for values present and absent.
      for (int i = 0; i < 20; ++i) {
        std::string probe = k.layout.Encode(RandomRecord().data());
        SearchResult res;
        ASSERT_EQ(k.file.Search(reinterpret_cast<const unsigned char*>(probe.data()), 0, &res),
                  0);
        auto lb = k.model.lower_bound({probe, 0});
        if (lb == k.model.end()) {
          EXPECT_EQ(res, SearchResult::kPastEnd);
        } else if (lb->first == probe) {
          EXPECT_EQ(res, SearchResult::kFound);
          ASSERT_EQ(k.file.Current(&v, &r), 0);
          EXPECT_EQ(r, lb->second);
        } else {
          EXPECT_EQ(res, SearchResult::kBefore);
          ASSERT_EQ(k.file.Next(), 0);
          EXPECT_EQ(0, k.file.Current(&v, &r));
          EXPECT_EQ(std::make_pair(v, r), *lb);
        }
      }
      if (!want.empty()) {
        size_t n = rng_() % want.size();
        ASSERT_EQ(k.file.SeekNth(n + 1), 0);
        EXPECT_EQ(0, k.file.Current(&v, &r));
        EXPECT_EQ(std::make_pair(v, r), want[n]);
      }
    }
  }

  Collation collation_;
  FileDescriptor file_;
  std::array<Key, 4> keys_;
  std::map<uint32_t, std::string> records_;
  uint32_t nextRecno_ = 1;
  bool sawFreePages_ = false;
  std::mt19937 rng_{20240601};
  test::TempDir temp_{"keyrand"};
  std::string dir_ = temp_.path();
};

TEST_F(RandomKeysTest, ModelAgreesAfterEveryBatch) {
  for (int batch = 0; batch < 40; ++batch) {
    for (int i = 0; i < 100; ++i) {
      Step();
      if (HasFatalFailure()) return;
    }
    Verify();
    if (HasFatalFailure()) return;
  }
  // The run must have grown trees of several levels and freed pages on the way.
  EXPECT_GT(records_.size(), 150u);
  EXPECT_GE(keys_[0].file.header().levels, 3);
  EXPECT_TRUE(sawFreePages_);
  EXPECT_LT(keys_[1].model.size(), records_.size());  // OPT keys left records out
  EXPECT_LT(keys_[2].model.size(), records_.size());
  std::printf("records %zu, entries %zu/%zu/%zu/%zu, levels %d, pages %u\n", records_.size(),
              keys_[0].model.size(), keys_[1].model.size(), keys_[2].model.size(),
              keys_[3].model.size(), keys_[0].file.header().levels,
              keys_[0].file.header().pages);
  // The files reopen with the live record count, OPT keys holding no more than it.
  for (size_t k = 0; k < keys_.size(); ++k) {
    keys_[k].file.Close();
    EXPECT_EQ(keys_[k].file.Open(dir_ + "/R.K0" + std::to_string(k + 1),
                                 kOpenReadWrite | kShareDenyAll, keys_[k].layout.shape(),
                                 static_cast<int64_t>(records_.size())),
              0);
  }
  // A bulk build of the same records gives the same walk.
  for (auto& k : keys_) {
    KeyBuilder b(k.layout.key_length());
    for (auto& [r, rec] : records_)
      if (!Skipped(k, rec)) b.Add(reinterpret_cast<const unsigned char*>(
                                      k.layout.Encode(rec.data()).data()), r);
    ASSERT_EQ(k.file.Build(b, ""), 0);
  }
  Verify();
}

}  // namespace
}  // namespace korawin::storage::dat
