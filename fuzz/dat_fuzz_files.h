// The files of the data-file fuzz target: one input is a data file, a key file and a memo
// file, each behind a 4-byte little-endian length.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "storage/dat/dat_driver.h"
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

inline void AppendPart(std::string& out, const std::string& part) {
  uint32_t n = static_cast<uint32_t>(part.size());
  char len[4];
  std::memcpy(len, &n, 4);
  out.append(len, 4);
  out += part;
}

// Splits an input into its three parts; missing parts are empty.
inline std::vector<std::string> SplitParts(const uint8_t* data, size_t size) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (parts.size() < 3) {
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
