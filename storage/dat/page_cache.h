// The pages of one key file kept in memory between calls: a slot per page number, pages that
// come from blocks allocated together, and the pages that wait to be written in a batch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "storage/dat/key_codec.h"
#include "storage/driver.h"

namespace korawin::storage::dat {

class PageCache {
 public:
  struct Page {
    unsigned char b[kPageSize];
    bool dirty = false;  // written in the cache only (a batch), not yet in the file
  };
  // Writes n bytes at pos of the file.
  using Writer = std::function<Code(uint64_t pos, const void* bytes, size_t n)>;

  PageCache() = default;
  PageCache(const PageCache&) = delete;
  PageCache& operator=(const PageCache&) = delete;

  // Page n when cached, else nullptr.
  Page* Find(uint32_t n) const { return n < slots_.size() ? slots_[n] : nullptr; }
  // A slot for page n, which must not be cached; its bytes are undefined.
  Page* Put(uint32_t n);
  // Page n, cached or not, all zero.
  Page* Fresh(uint32_t n);
  // Page n waits to be written.
  void MarkDirty(uint32_t n, Page* page);
  bool has_dirty() const { return !dirty_.empty(); }
  // Writes the pages that wait, in page order, runs of consecutive pages in one write each.
  Code Flush(const Writer& write);

  // Pages held.
  size_t size() const { return held_; }
  // Forgets every page, written or not.
  void Clear();
  // Forgets every other page but keep (the root); call with no page waiting.
  void EvictHalf(uint32_t keep);
  // Changes whenever a page's place in the cache may have changed (positions go stale).
  uint64_t generation() const { return generation_; }
  void Bump() { ++generation_; }

 private:
  std::vector<Page*> slots_;  // by page number; the pages live in blocks_
  std::vector<uint32_t> numbers_;  // the page numbers whose slots hold a page
  size_t held_ = 0;
  std::vector<std::unique_ptr<Page[]>> blocks_;
  std::vector<Page*> spare_;  // block pages no page number holds
  std::vector<uint32_t> dirty_;
  uint64_t generation_ = 0;
};

}  // namespace korawin::storage::dat
