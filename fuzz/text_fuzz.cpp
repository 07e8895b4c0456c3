// Fuzz target: arbitrary bytes read as a text file, with options taken from the input's first
// bytes. Every read must give a code; a record never receives more than its buffer holds.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/scratch_folder.h"
#include "storage/driver.h"
#include "storage/text/text_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korawin::storage;
  static std::string path = korawin::fuzz::ScratchFolder("textfuzz") + "/t.txt";
  if (size < 3) return 0;
  const uint8_t recordSize = static_cast<uint8_t>(1 + data[0] % 80);
  const uint8_t flags = data[1];
  const int8_t tab = static_cast<int8_t>(data[2]);
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data + 3), static_cast<std::streamsize>(size - 3));

  // The record buffer has a guard after it that must stay untouched.
  std::vector<char> buffer(recordSize + 16, '#');
  FileDescriptor fd;
  fd.driver = &TextDriverEntry;
  fd.name = path;
  fd.label = "TEXT";
  fd.recordSize = recordSize;
  fd.record = buffer.data();
  FieldDescriptor line;
  line.type = kTypeString;
  line.size = recordSize;
  line.label = "TXT:LINE";
  fd.fields = {line};
  DriverArgs open;
  open.mode = (flags & 1) ? 0x40 : 0x20;
  if (CallDriver(kOpOpen, fd, open) != 0) return 0;
  auto send = [&](const std::string& option) {
    DriverArgs a;
    a.text = option;
    (void)CallDriver(kOpSend, fd, a);  // an option refused is an outcome like any other
  };
  send(std::string("QUICKSCAN=") + ((flags & 2) ? "ON" : "OFF"));
  send(std::string("CTRLZISEOF=") + ((flags & 4) ? "ON" : "OFF"));
  send("TAB=" + std::to_string(tab));
  if (flags & 8) send("ENDOFRECORD=1,10");
  if (flags & 16) send("FILEBUFFERS=" + std::to_string(1 + flags % 3));
  DriverArgs set;
  (void)CallDriver(kOpSetFile, fd, set);  // a refusal shows in the NEXT that follows
  std::string firstPos;
  for (int i = 0; i < 100000; ++i) {
    DriverArgs a;
    if (CallDriver(kOpNext, fd, a) != 0) break;
    if (i == 0) {
      DriverArgs p;
      (void)CallDriver(kOpPositionFile, fd, p);  // a refusal leaves the position empty
      firstPos = p.result;
    }
  }
  if (!firstPos.empty()) {
    DriverArgs r;
    r.text = firstPos;
    (void)CallDriver(kOpRegetFile, fd, r);  // only that it does not write past the record
  }
  for (size_t i = recordSize; i < buffer.size(); ++i)
    if (buffer[i] != '#') std::abort();  // written past the record
  DriverArgs close;
  (void)CallDriver(kOpClose, fd, close);  // nothing is written: nothing to report
  return 0;
}
