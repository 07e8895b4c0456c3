#include "storage/dat/key_build.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include "storage/dat/dat_io.h"
#include "storage/dat/key_codec.h"

namespace korawin::storage::dat {

void KeyBuilder::Add(const unsigned char* value, uint32_t recno) {
  if (recno <= lastRecno_ && !data_.empty()) rising_ = false;
  lastRecno_ = recno;
  size_t at = data_.size();
  data_.resize(at + keyLength_ + 4);
  unsigned char* e = data_.data() + at;
  std::memcpy(e, value, keyLength_);
  e[keyLength_] = static_cast<unsigned char>(recno >> 24);
  e[keyLength_ + 1] = static_cast<unsigned char>(recno >> 16);
  e[keyLength_ + 2] = static_cast<unsigned char>(recno >> 8);
  e[keyLength_ + 3] = static_cast<unsigned char>(recno);
}

void HeldEntries::Add(const unsigned char* value, uint32_t recno) {
  size_t kept = keyLength_;
  const unsigned char pad = kept ? value[kept - 1] : 0;
  while (kept > 0 && value[kept - 1] == pad) --kept;
  const size_t at = data_.size();
  data_.resize(at + 3 + kept + 4);
  unsigned char* e = data_.data() + at;
  e[0] = static_cast<unsigned char>(kept);
  e[1] = static_cast<unsigned char>(kept >> 8);
  e[2] = pad;
  std::memcpy(e + 3, value, kept);
  std::memcpy(e + 3 + kept, &recno, 4);
  ++count_;
}

void HeldEntries::MoveInto(KeyBuilder* builder) {
  std::vector<unsigned char> value(keyLength_);
  for (size_t at = 0; at < data_.size();) {
    const unsigned char* e = data_.data() + at;
    const size_t kept = e[0] | size_t{e[1]} << 8;
    std::memcpy(value.data(), e + 3, kept);
    std::memset(value.data() + kept, e[2], keyLength_ - kept);
    uint32_t recno;
    std::memcpy(&recno, e + 3 + kept, 4);
    builder->Add(value.data(), recno);
    at += 3 + kept + 4;
  }
  data_ = std::vector<unsigned char>();
  count_ = 0;
}

uint32_t KeyBuilder::recno(size_t i) const {
  const unsigned char* r = entry(i) + keyLength_;
  return (uint32_t{r[0]} << 24) | (uint32_t{r[1]} << 16) | (uint32_t{r[2]} << 8) | r[3];
}

std::vector<uint32_t> KeyBuilder::SortedOrder() const {
  const size_t n = size();
  std::vector<uint32_t> order(n);
  if (rising_ && n > 1) {
    // Equal values already stand in record number order: only the distinct values need
    // sorting (a DUP key has long runs of equal values), and each entry then goes to its
    // value's place, in the order it came.
    std::unordered_map<std::string_view, uint32_t> ids;
    ids.reserve(n);
    std::vector<uint32_t> idOf(n);
    std::vector<const unsigned char*> values;
    for (size_t i = 0; i < n; ++i) {
      const unsigned char* v = entry(i);
      auto [it, fresh] = ids.try_emplace(
          std::string_view(reinterpret_cast<const char*>(v), keyLength_),
          static_cast<uint32_t>(values.size()));
      if (fresh) values.push_back(v);
      idOf[i] = it->second;
    }
    std::vector<uint32_t> byValue(values.size());
    std::iota(byValue.begin(), byValue.end(), 0u);
    std::sort(byValue.begin(), byValue.end(), [&](uint32_t a, uint32_t b) {
      return std::memcmp(values[a], values[b], keyLength_) < 0;
    });
    // start[id]: where the entries of value id begin in the order.
    std::vector<uint32_t> count(values.size(), 0), start(values.size());
    for (uint32_t id : idOf) ++count[id];
    uint32_t at = 0;
    for (uint32_t id : byValue) {
      start[id] = at;
      at += count[id];
    }
    for (size_t i = 0; i < n; ++i) order[start[idOf[i]]++] = static_cast<uint32_t>(i);
    return order;
  }
  std::iota(order.begin(), order.end(), 0u);
  const size_t stride = keyLength_ + 4;
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return std::memcmp(entry(a), entry(b), stride) < 0;
  });
  return order;
}

std::vector<uint32_t> KeyBuilder::Sort() {
  std::vector<uint32_t> order = SortedOrder();
  const size_t stride = keyLength_ + 4;
  std::vector<unsigned char> sorted(data_.size());
  for (size_t i = 0; i < order.size(); ++i)
    std::memcpy(sorted.data() + i * stride, entry(order[i]), stride);
  data_.swap(sorted);
  std::iota(order.begin(), order.end(), 0u);
  rising_ = order.size() <= 1;
  return order;
}

std::string DuplicateReport(const KeyBuilder& builder, const std::vector<uint32_t>& order,
                            const std::function<std::string(uint32_t)>& describe) {
  const uint32_t length = builder.key_length();
  std::string report;
  for (size_t i = 1; i < order.size(); ++i) {
    if (std::memcmp(builder.entry(order[i - 1]), builder.entry(order[i]), length) != 0) continue;
    uint32_t first = builder.recno(order[i - 1]), second = builder.recno(order[i]);
    std::string shown =
        describe ? describe(first)
                 : std::string(reinterpret_cast<const char*>(builder.entry(order[i])), length);
    char line[64];
    report += "Duplicate record numbers for:\n";
    report += shown + "\n";
    std::snprintf(line, sizeof line, "Record number: %lu\n", static_cast<unsigned long>(first));
    report += line;
    std::snprintf(line, sizeof line, "Record number: %lu\n\n", static_cast<unsigned long>(second));
    report += line;
  }
  return report;
}

Code WriteTree(const KeyBuilder& builder, const std::vector<uint32_t>& order,
               uint32_t entriesPerPage, uint16_t maxLevels,
               const std::function<Code(uint64_t, const void*, size_t)>& write, BuiltTree* tree) {
  const uint32_t keyLength = builder.key_length();
  const uint32_t entryLength = keyLength + 4;
  const uint32_t epp = entriesPerPage;
  const size_t n = order.size();
  if (n == 0 || epp == 0) return kErrInvalidKeyFile;
  std::vector<unsigned char> out;
  const size_t kChunkPages = 64;
  uint32_t nextPage = 1;
  uint64_t writtenPages = 0;  // pages written so far, from page 1
  auto flush = [&]() -> Code {
    if (out.empty()) return 0;
    Code rc = write((writtenPages + 1) * kPageSize, out.data(), out.size());
    writtenPages += out.size() / kPageSize;
    out.clear();
    return rc;
  };
  auto emit = [&](const unsigned char* entries, uint32_t count, uint32_t prev,
                  uint32_t next) -> Code {
    size_t at = out.size();
    out.resize(at + kPageSize, 0);
    unsigned char* pg = out.data() + at;
    pg[0] = static_cast<unsigned char>(count);
    Put32(pg + 1, next);
    Put32(pg + 5, prev);
    std::memcpy(pg + kPageHeaderSize, entries, static_cast<size_t>(count) * entryLength);
    return out.size() >= kChunkPages * kPageSize ? flush() : Code(0);
  };
  // The entry that stands for a page in the level above: the page and its highest value.
  auto up = [&](std::vector<unsigned char>* level, uint32_t page, const unsigned char* last) {
    unsigned char e[4];
    Put32(e, page);
    level->insert(level->end(), e, e + 4);
    level->insert(level->end(), last + 4, last + 4 + keyLength);
  };

  std::vector<unsigned char> level;  // the entries of the level above, built as we go
  const uint32_t leaves = static_cast<uint32_t>((n + epp - 1) / epp);
  std::vector<unsigned char> buf(static_cast<size_t>(epp) * entryLength);
  for (uint32_t l = 0; l < leaves; ++l) {
    size_t from = static_cast<size_t>(l) * epp;
    uint32_t count = static_cast<uint32_t>(std::min<size_t>(epp, n - from));
    for (uint32_t j = 0; j < count; ++j) {
      uint32_t i = order[from + j];
      unsigned char* e = buf.data() + static_cast<size_t>(j) * entryLength;
      Put32(e, builder.recno(i));
      std::memcpy(e + 4, builder.entry(i), keyLength);
    }
    uint32_t page = nextPage++;
    Code rc = emit(buf.data(), count, l ? page - 1 : 0, l + 1 < leaves ? page + 1 : 0);
    if (rc) return rc;
    up(&level, page, buf.data() + static_cast<size_t>(count - 1) * entryLength);
  }
  uint16_t levels = 1;
  uint32_t root = 1;
  // Inner levels until one page holds them all.
  while (level.size() / entryLength > 1) {
    size_t m = level.size() / entryLength;
    uint32_t pagesHere = static_cast<uint32_t>((m + epp - 1) / epp);
    std::vector<unsigned char> above;
    for (uint32_t q = 0; q < pagesHere; ++q) {
      size_t from = static_cast<size_t>(q) * epp;
      uint32_t count = static_cast<uint32_t>(std::min<size_t>(epp, m - from));
      const unsigned char* src = level.data() + from * entryLength;
      uint32_t page = nextPage++;
      Code rc = emit(src, count, q ? page - 1 : 0, q + 1 < pagesHere ? page + 1 : 0);
      if (rc) return rc;
      up(&above, page, src + static_cast<size_t>(count - 1) * entryLength);
      root = page;
    }
    level.swap(above);
    if (++levels > maxLevels) return kErrKeyRebuild;
  }
  Code rc = flush();
  if (rc) return rc;
  tree->root = root;
  tree->pages = nextPage - 1;
  tree->lastLeaf = leaves;
  tree->levels = levels;
  return 0;
}

}  // namespace korawin::storage::dat
