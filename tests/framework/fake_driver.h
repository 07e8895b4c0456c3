// An in-memory file driver for the framework's tests: records and memos per file name,
// keys in memory, transactions by snapshot, and scripted failures of any operation.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "storage/driver.h"

namespace korawin::testing {

class FakeStore {
 public:
  static FakeStore& Instance();
  // Forgets every file, counter, script and transaction.
  void Reset();

  // The driver entry to put into FileDescriptor::driver.
  static storage::Code Entry(uint8_t op, storage::FileDescriptor& file, storage::DriverArgs& args);

  // Makes file name exist (empty) on the "disk".
  void MakeFile(const std::string& name);
  bool Exists(const std::string& name);
  // The live records of a file (record bytes, then memo bytes), by record number.
  std::map<uint32_t, std::string> Records(const std::string& name);
  // Another station rewrites record recno.
  void Rewrite(const std::string& name, uint32_t recno, const std::string& bytes);

  // The next calls of op answer code instead of working (after skip calls that work).
  void FailNext(uint8_t op, int code, int times = 1, int skip = 0);
  // Calls made so far of op on file name ("" = all files).
  int Calls(uint8_t op, const std::string& name = std::string());
  // Texts sent with SEND to name, in order.
  std::vector<std::string> Sent(const std::string& name);
  // Mode of the last OPEN of name that succeeded.
  uint32_t LastOpenMode(const std::string& name);
  // When set, LOGOUT answers 80.
  void SetNoTransactions(bool on);

 private:
  struct Failure {
    int code = 0;
    int times = 0;
    int skip = 0;
  };
  struct Table {
    std::map<uint32_t, std::string> records;
    uint32_t next = 1;
  };
  friend struct FakeAccess;

  std::recursive_mutex mu_;
  std::map<std::string, Table> files_;
  std::map<uint8_t, Failure> failures_;
  std::map<std::pair<uint8_t, std::string>, int> calls_;
  std::map<std::string, std::vector<std::string>> sent_;
  std::map<std::string, uint32_t> openModes_;
  bool noTransactions_ = false;
  bool inTransaction_ = false;
  std::map<std::string, Table> snapshot_;
};

// A declared file for tests: fields laid out one after another, keys by field numbers.
struct TestField {
  std::string label;
  uint8_t type;
  uint32_t size;
};
struct TestKey {
  std::string label;
  uint32_t attributes;
  std::vector<int32_t> components;
};
class TestFile {
 public:
  TestFile(const std::string& name, const std::vector<TestField>& fields,
           const std::vector<TestKey>& keys, uint32_t memoSize = 0);
  storage::FileDescriptor fd;

  // Field number from 1: text blank-padded, LONG as a number.
  void Set(int field, const std::string& text);
  std::string Get(int field) const;  // trailing blanks removed
  void SetLong(int field, int32_t v);
  int32_t GetLong(int field) const;
  std::string Memo() const;
  void SetMemo(const std::string& text);
  // A record's field from FakeStore::Records bytes.
  std::string FieldOf(const std::string& bytes, int field) const;
  int32_t LongOf(const std::string& bytes, int field) const;

 private:
  std::vector<char> record_;
  std::vector<char> memo_;
};

}  // namespace korawin::testing
