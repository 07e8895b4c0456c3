// korawin1-db sample FILE: a small data file written by the driver, for trying the tool.
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"
#include "storage/dat/dat_driver.h"
#include "storage/driver.h"
#include "tools/korawin1_db/commands.h"

namespace korawin::tools {

int RunSample(const std::vector<std::string>& args) {
  using namespace storage;
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: korawin1-db sample FILE\n");
    return 2;
  }
  // SMP:ID LONG, SMP:WORD STRING(30), SMP:RANK BYTE; a unique key on the word.
  FileDescriptor fd;
  fd.driver = &dat::DatDriverEntry;
  fd.name = args[0];
  fd.label = "SAMPLE";
  fd.attributes = kFileCreate | kFileReclaim;
  fd.recordSize = 35;
  std::vector<char> record(fd.recordSize, '\0');
  fd.record = record.data();
  auto field = [](uint8_t type, uint32_t offset, uint32_t size, const char* label) {
    FieldDescriptor f;
    f.type = type;
    f.offset = offset;
    f.size = size;
    f.label = label;
    return f;
  };
  fd.fields = {field(kTypeLong, 0, 4, "SMP:ID"), field(kTypeString, 4, 30, "SMP:WORD"),
               field(kTypeByte, 34, 1, "SMP:RANK")};
  KeyDescriptor key;
  key.label = "SMP:BY_WORD";
  key.attributes = kKeyNoCase;
  key.components = {2};
  fd.keys = {key};

  int err = CallDriver(kOpCreate, fd);
  DriverArgs open;
  open.mode = kOpenReadWrite | kShareDenyAll;
  if (!err) err = CallDriver(kOpOpen, fd, open);
  const char* const kWords[] = {"читать", "писать", "говорить", "слушать", "думать"};
  int32_t id = 0;
  for (const char* w : kWords) {
    if (err) break;
    ++id;
    std::memset(record.data(), ' ', record.size());
    std::memcpy(record.data(), &id, 4);
    std::string word = platform::Utf8ToCp1251Lossy(w);
    std::memcpy(record.data() + 4, word.data(), std::min<size_t>(word.size(), 30));
    record[34] = static_cast<char>(id);
    err = CallDriver(kOpAdd, fd);
  }
  if (!err) {
    // One deleted record, so that the sample shows a deleted chain.
    DriverArgs get;
    get.number = 2;
    err = CallDriver(kOpGetFilePtr, fd, get);
    if (!err) err = CallDriver(kOpDelete, fd);
  }
  int closeErr = CallDriver(kOpClose, fd);
  if (!err) err = closeErr;
  if (err) {
    std::fprintf(stderr, "korawin1-db sample: %s: error %d: %s\n", fd.name.c_str(), err,
                 ErrorText().c_str());
    return 1;
  }
  std::printf("%s: 5 records written, record 2 deleted\n", fd.name.c_str());
  return 0;
}

}  // namespace korawin::tools
