// A driver over records kept in memory, for the view engine's tests: record order, sorted keys
// (DUP, OPT, NOCASE, descending components), sequences and positions with the conventions of
// DriverArgs, PUT/DELETE/ADD, and counters of the calls a test wants to see.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "storage/driver.h"

namespace korawin::storage::testing {

struct MemoryField {
  const char* label;
  uint8_t type;
  uint32_t size;
};

struct MemoryKey {
  const char* label;
  std::vector<int32_t> components;
  uint32_t attributes;
};

// One in-memory file: its descriptor, record buffer and rows.
class MemoryTable {
 public:
  MemoryTable(const char* label, std::vector<MemoryField> fields, std::vector<MemoryKey> keys);

  FileDescriptor& fd() { return file_; }
  char* record() { return buffer_.data(); }
  // Field access by number from 1.
  void Set(int field, std::string_view text);
  void SetLong(int field, int32_t v);
  std::string Get(int field) const;  // text without trailing blanks
  int32_t GetLong(int field) const;
  // Appends the buffer as a new record (skipping the key checks); its record number.
  uint32_t Insert();
  // Overwrites record number rec (from 1) with the buffer, as another station would.
  void Overwrite(uint32_t rec);
  uint32_t current() const { return current_; }

  std::map<uint8_t, int> calls;  // operation -> number of calls

  static Code Entry(uint8_t op, FileDescriptor& file, DriverArgs& args);

 private:
  struct Entry_ {
    std::string key;
    uint32_t rec;
  };
  struct Bound {
    int inf = 0;  // -1 below everything, 1 above everything, 0 the entry below
    std::string key;
    uint32_t rec = 0;
    bool inclusive = false;
  };

  int Dispatch(uint8_t op, DriverArgs& args);
  std::string KeyBytes(int key, const char* rec) const;
  bool Blank(int key, const char* rec) const;
  const std::vector<Entry_>& Order(int key);
  int Read(uint32_t rec);
  int Step(bool forward);
  static int Compare(const Entry_& e, const Bound& b);
  int CheckUnique(const char* rec, uint32_t self) const;

  FileDescriptor file_;
  std::vector<char> buffer_;
  std::vector<std::string> rows_;
  std::vector<bool> deleted_;
  bool open_ = false;
  uint32_t current_ = 0;
  int seqKey_ = 0;
  Bound next_, prev_;  // NEXT yields the first entry above next_, PREVIOUS the last below prev_
  std::vector<std::vector<Entry_>> orders_;
  uint64_t version_ = 1;
  std::vector<uint64_t> built_;
};

}  // namespace korawin::storage::testing
