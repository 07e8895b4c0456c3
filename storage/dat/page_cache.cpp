#include "storage/dat/page_cache.h"

#include <algorithm>
#include <cstring>

namespace korawin::storage::dat {

PageCache::Page* PageCache::Put(uint32_t n) {
  if (spare_.empty()) {
    // Pages come in blocks: one allocation per block instead of one per page.
    constexpr size_t kBlock = 64;
    blocks_.push_back(std::make_unique<Page[]>(kBlock));
    for (size_t i = kBlock; i-- > 0;) spare_.push_back(&blocks_.back()[i]);
  }
  Page* p = spare_.back();
  spare_.pop_back();
  p->dirty = false;
  if (n >= slots_.size()) slots_.resize(n + n / 4 + 16, nullptr);
  slots_[n] = p;
  numbers_.push_back(n);
  ++held_;
  return p;
}

PageCache::Page* PageCache::Fresh(uint32_t n) {
  Page* p = Find(n);
  if (!p) p = Put(n);
  std::memset(p->b, 0, kPageSize);
  return p;
}

void PageCache::MarkDirty(uint32_t n, Page* page) {
  if (page->dirty) return;
  page->dirty = true;
  dirty_.push_back(n);
}

Code PageCache::Flush(const Writer& write) {
  if (dirty_.empty()) return 0;
  std::sort(dirty_.begin(), dirty_.end());
  std::vector<unsigned char> run;
  Code rc = 0;
  for (size_t i = 0; i < dirty_.size() && rc == 0;) {
    size_t j = i;
    run.clear();
    do {
      Page* p = slots_[dirty_[j]];
      run.insert(run.end(), p->b, p->b + kPageSize);
      p->dirty = false;
      ++j;
    } while (j < dirty_.size() && dirty_[j] == dirty_[j - 1] + 1);
    rc = write(static_cast<uint64_t>(dirty_[i]) * kPageSize, run.data(), run.size());
    i = j;
  }
  dirty_.clear();
  return rc;
}

void PageCache::Clear() {
  dirty_.clear();
  // Only the slots in use are emptied and the table keeps its size: a shared file clears its
  // cache at every call, and must not pay for the whole table each time.
  for (uint32_t n : numbers_) {
    spare_.push_back(slots_[n]);
    slots_[n] = nullptr;
  }
  numbers_.clear();
  held_ = 0;
  ++generation_;
}

void PageCache::EvictHalf(uint32_t keep) {
  // Every other page in page order, as a walk over the whole table would drop them.
  std::sort(numbers_.begin(), numbers_.end());
  bool drop = false;
  std::vector<uint32_t> kept;
  kept.reserve(numbers_.size() / 2 + 1);
  for (uint32_t n : numbers_) {
    if (n != keep && (drop = !drop)) {
      spare_.push_back(slots_[n]);
      slots_[n] = nullptr;
      --held_;
    } else {
      kept.push_back(n);
    }
  }
  numbers_.swap(kept);
  ++generation_;
}

}  // namespace korawin::storage::dat
