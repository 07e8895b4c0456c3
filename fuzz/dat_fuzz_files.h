// The files of the storage fuzz targets: the declared file they open, and inputs made of
// parts, each behind a 4-byte little-endian length (for the data-file target a data file, a
// key file and a memo file).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "storage/dat/dat_driver.h"
#include "storage/dat/dat_file.h"
#include "storage/driver.h"

namespace korawin::fuzz {

// FZ:NAME STRING(12), FZ:NUM LONG; key 1 unique NOCASE OPT on NAME, key 2 DUP on NUM then
// NAME; memo FZ:NOTE MEMO(700).
struct FuzzFile {
  std::unique_ptr<storage::FileDescriptor> fd = std::make_unique<storage::FileDescriptor>();
  std::vector<char> record = std::vector<char>(16, ' ');
  std::vector<char> memo = std::vector<char>(700, ' ');

  explicit FuzzFile(const std::string& path) {
    using namespace storage;
    fd->driver = &dat::DatDriverEntry;
    fd->name = path;
    fd->label = "FUZZ";
    fd->attributes = kFileCreate | kFileReclaim;
    fd->recordSize = 16;
    fd->record = record.data();
    FieldDescriptor name, num;
    name.type = kTypeString;
    name.size = 12;
    name.label = "FZ:NAME";
    num.type = kTypeLong;
    num.offset = 12;
    num.size = 4;
    num.label = "FZ:NUM";
    fd->fields = {name, num};
    KeyDescriptor byName, byNum;
    byName.label = "FZ:BY_NAME";
    byName.attributes = kKeyNoCase | kKeyOpt;
    byName.components = {1};
    byNum.label = "FZ:BY_NUM";
    byNum.attributes = kKeyDup;
    byNum.components = {2, 1};
    fd->keys = {byName, byNum};
    MemoDescriptor m;
    m.label = "FZ:NOTE";
    m.size = 700;
    m.buffer = memo.data();
    fd->memos = {m};
  }

  int Call(uint8_t op, int key = 0, int64_t number = 0, unsigned mode = 0x12) {
    storage::DriverArgs args;
    args.key = key;
    args.number = number;
    args.mode = mode;
    return storage::CallDriver(op, *fd, args);
  }
};

// Walks an open file in record order and along both keys in both directions (each walk
// bounded: a file that lies must end it with a code, not loop), verifies it, then changes its
// first record and memo.
inline void WalkAndChange(FuzzFile& f) {
  using namespace storage;
  const int kMaxSteps = 5000;
  f.Call(kOpSetFile);
  for (int i = 0; i < kMaxSteps && f.Call(kOpNext) == 0; ++i) {
  }
  for (int key = 1; key <= 2; ++key) {
    for (uint8_t op : {kOpNext, kOpPrevious}) {
      f.Call(kOpSetKey, key);
      for (int i = 0; i < kMaxSteps && f.Call(op) == 0; ++i) {
      }
    }
  }
  std::string fault;
  // What the check finds in arbitrary bytes is no fault of the engine; it must only not crash.
  (void)dat::DatFile::Of(*f.fd).Check(&fault);
  if (f.Call(kOpGetFilePtr, 0, 1) == 0) {
    f.record[0] = 'z';
    f.memo[0] = 'q';
    f.Call(kOpPut);
  }
}

inline void AppendPart(std::string& out, const std::string& part) {
  uint32_t n = static_cast<uint32_t>(part.size());
  char len[4];
  std::memcpy(len, &n, 4);
  out.append(len, 4);
  out += part;
}

// Splits an input into its count parts; missing parts are empty.
inline std::vector<std::string> SplitParts(const uint8_t* data, size_t size, size_t count = 3) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (parts.size() < count) {
    if (at + 4 > size) {
      parts.emplace_back();
      continue;
    }
    uint32_t n;
    std::memcpy(&n, data + at, 4);
    at += 4;
    size_t take = std::min<size_t>(n, size - at);
    parts.emplace_back(reinterpret_cast<const char*>(data + at), take);
    at += take;
  }
  return parts;
}

}  // namespace korawin::fuzz
