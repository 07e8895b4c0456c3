// BUILD of a key file from its entries: the entries collected, sorted by value and record
// number, checked for duplicates of a unique key, and laid out as a tree whose pages are
// written once each, in page order: the leaves, then each level above them, the root last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "storage/driver.h"

namespace korawin::storage::dat {

// Collects (value, record number) pairs for a BUILD.
class KeyBuilder {
 public:
  explicit KeyBuilder(uint32_t keyLength) : keyLength_(keyLength) {}
  // Adds one entry; value holds keyLength bytes.
  void Add(const unsigned char* value, uint32_t recno);
  // Makes room for n entries in all.
  void Reserve(size_t n) { data_.reserve(n * (keyLength_ + 4)); }
  size_t size() const { return data_.size() / (keyLength_ + 4); }
  uint32_t key_length() const { return keyLength_; }
  // Entry i: the value, then the record number big-endian (so one memcmp orders entries).
  const unsigned char* entry(size_t i) const { return data_.data() + i * (keyLength_ + 4); }
  uint32_t recno(size_t i) const;
  // The entries' numbers sorted by value, then record number.
  std::vector<uint32_t> SortedOrder() const;
  // Puts the entries themselves in that order, so that entry(i) is the i-th; returns the order,
  // which is then 0, 1, 2 ... The entries are read in order afterwards, not all over memory.
  std::vector<uint32_t> Sort();

 private:
  uint32_t keyLength_;
  std::vector<unsigned char> data_;
  bool rising_ = true;  // each entry's record number above the one before
  uint32_t lastRecno_ = 0;
};

// Entries that wait to go into a tree, kept short: a value goes without the run of its last
// byte at its end (the blank padding of a text, mostly), so that a key of long, mostly blank
// values holds many more entries in the same memory.
class HeldEntries {
 public:
  explicit HeldEntries(uint32_t keyLength) : keyLength_(keyLength) {}
  void Add(const unsigned char* value, uint32_t recno);
  size_t size() const { return count_; }
  size_t bytes() const { return data_.size(); }
  // Adds every entry, whole, to builder in the order they came, and forgets them.
  void MoveInto(KeyBuilder* builder);

 private:
  uint32_t keyLength_;
  size_t count_ = 0;
  std::vector<unsigned char> data_;  // per entry: bytes kept (2), pad byte, those bytes, recno
};

// The report of neighbouring equal values in sorted entries ("" when there are none): for each
// pair the lines "Duplicate record numbers for:", the value as describe shows the first record
// (the raw value without describe), and both record numbers.
std::string DuplicateReport(const KeyBuilder& builder, const std::vector<uint32_t>& order,
                            const std::function<std::string(uint32_t)>& describe);

// The shape of a tree laid out by WriteTree.
struct BuiltTree {
  uint32_t root = 1;
  uint32_t pages = 1;
  uint32_t lastLeaf = 1;
  uint16_t levels = 1;
};

// Writes the tree of the sorted entries (at least one) from page 1 on, entriesPerPage entries a
// page, through write(pos, bytes, n) in runs of pages; every page is written once.
Code WriteTree(const KeyBuilder& builder, const std::vector<uint32_t>& order,
               uint32_t entriesPerPage, uint16_t maxLevels,
               const std::function<Code(uint64_t, const void*, size_t)>& write, BuiltTree* tree);

}  // namespace korawin::storage::dat
