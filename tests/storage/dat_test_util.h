// Helpers of the DAT driver tests: a temporary folder, a small declared file, raw file access.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "storage/dat/dat_driver.h"
#include "storage/dat/dat_file.h"
#include "storage/dat/dat_header.h"
#include "storage/dat/journal.h"
#include "storage/driver.h"
#include "tests/support/temp_dir.h"

namespace korawin::storage::dat::testing {

using test::TempDir;

// While it lives, every write of a transaction goes to its file at once, its undo flushed to the
// journal first: the journal meets each change, as in a transaction larger than its bound.
class StageEveryWrite {
 public:
  StageEveryWrite() { Journal::Instance().set_keep_limit(0); }
  ~StageEveryWrite() { Journal::Instance().set_keep_limit(Journal::kDefaultKeepLimit); }
  StageEveryWrite(const StageEveryWrite&) = delete;
  StageEveryWrite& operator=(const StageEveryWrite&) = delete;
};

// A declared file "PEOPLE": PEO:ID LONG, PEO:NAME STRING(20), PEO:AGE BYTE, one key on ID.
struct People {
  std::unique_ptr<FileDescriptor> fd = std::make_unique<FileDescriptor>();
  std::vector<char> record;

  explicit People(const std::string& path, uint32_t attributes = kFileCreate | kFileReclaim) {
    fd->driver = &DatDriverEntry;
    fd->name = path;
    fd->label = "PEOPLE";
    fd->attributes = attributes;
    fd->recordSize = 25;
    record.assign(25, '\0');
    fd->record = record.data();
    FieldDescriptor id;
    id.type = kTypeLong;
    id.offset = 0;
    id.size = 4;
    id.label = "PEO:ID";
    FieldDescriptor name;
    name.type = kTypeString;
    name.offset = 4;
    name.size = 20;
    name.label = "PEO:NAME";
    FieldDescriptor age;
    age.type = kTypeByte;
    age.offset = 24;
    age.size = 1;
    age.label = "PEO:AGE";
    fd->fields = {id, name, age};
    KeyDescriptor key;
    key.label = "PEO:BY_ID";
    key.components = {1};
    fd->keys = {key};
  }

  FileDescriptor& file() { return *fd; }
  DatFile& dat() { return DatFile::Of(*fd); }

  void Set(int32_t id, const std::string& name, uint8_t age = 0) {
    std::memcpy(record.data(), &id, 4);
    std::string padded = name;
    padded.resize(20, ' ');
    std::memcpy(record.data() + 4, padded.data(), 20);
    record[24] = static_cast<char>(age);
  }
  int32_t Id() const {
    int32_t id;
    std::memcpy(&id, record.data(), 4);
    return id;
  }
  std::string Name() const {
    std::string n(record.data() + 4, 20);
    return n.substr(0, n.find_last_not_of(' ') + 1);
  }

  int Call(uint8_t op, int64_t number = 0, const std::string& text = std::string(),
           unsigned mode = 0x22) {
    DriverArgs args;
    args.number = number;
    args.text = text;
    args.mode = mode;
    return CallDriver(op, *fd, args);
  }
  int64_t Value(uint8_t op) {
    DriverArgs args;
    EXPECT_EQ(0, CallDriver(op, *fd, args));
    return args.value;
  }
  std::string Send(const std::string& option, int* code = nullptr) {
    DriverArgs args;
    args.text = option;
    int err = CallDriver(kOpSend, *fd, args);
    if (code) *code = err;
    return args.result;
  }
  int AddNamed(int32_t id, const std::string& name) {
    Set(id, name);
    return Call(kOpAdd);
  }
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void Patch32(const std::string& path, size_t offset, uint32_t value) {
  std::string bytes = ReadAll(path);
  Put32(reinterpret_cast<unsigned char*>(bytes.data()) + offset, value);
  WriteAll(path, bytes);
}

inline uint32_t Read32(const std::string& bytes, size_t offset) {
  return Get32(reinterpret_cast<const unsigned char*>(bytes.data()) + offset);
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace korawin::storage::dat::testing
