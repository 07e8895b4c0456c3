// Record I/O of the DAT driver against plain positioned I/O of the same bytes, measured in the
// same run: ADD (STREAM batch), GET by number and NEXT over N records of 4,120 bytes. Prints
// each operation's time as a ratio to the baseline.
//
//   dat_bench [records] [folder]     (defaults: 100000, the current folder)
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "storage/dat/dat_driver.h"
#include "storage/driver.h"

using namespace korawin::storage;

namespace {

constexpr uint32_t kRecordSize = 4120;

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Check(int code, const char* what) {
  if (code != 0) {
    std::fprintf(stderr, "%s failed: %d %s\n", what, code, ErrorText().c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string folder = argc > 2 ? argv[2] : ".";
  const std::string datName = folder + "/dat_bench.dat";
  const std::string rawName = folder + "/dat_bench.raw";

  FileDescriptor fd;
  fd.driver = &dat::DatDriverEntry;
  fd.name = datName;
  fd.attributes = kFileCreate;
  fd.recordSize = kRecordSize;
  std::vector<char> record(kRecordSize, ' ');
  fd.record = record.data();
  FieldDescriptor id;
  id.type = kTypeLong;
  id.size = 4;
  id.label = "BEN:ID";
  FieldDescriptor text;
  text.type = kTypeString;
  text.offset = 4;
  text.size = kRecordSize - 4;
  text.label = "BEN:TEXT";
  fd.fields = {id, text};

  // Baseline: the same record bytes (5-byte prefix + buffer) with pwrite/pread.
  const size_t length = kRecordSize + 5;
  std::vector<char> raw(length, ' ');
  int rawFd = ::open(rawName.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (rawFd < 0) return 1;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) {
    std::memcpy(raw.data() + 5, &i, 4);
    if (::pwrite(rawFd, raw.data(), length, static_cast<off_t>(i) * length) != (ssize_t)length)
      return 1;
  }
  ::fdatasync(rawFd);  // as FLUSH ends the driver's batch
  const double rawWrite = Seconds(start);
  std::vector<int> order(n);
  for (int i = 0; i < n; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(42));
  start = std::chrono::steady_clock::now();
  for (int i : order)
    if (::pread(rawFd, raw.data(), length, static_cast<off_t>(i) * length) != (ssize_t)length)
      return 1;
  const double rawRandom = Seconds(start);
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i)
    if (::pread(rawFd, raw.data(), length, static_cast<off_t>(i) * length) != (ssize_t)length)
      return 1;
  const double rawSeq = Seconds(start);
  ::close(rawFd);
  ::unlink(rawName.c_str());

  Check(CallDriver(kOpCreate, fd), "CREATE");
  DriverArgs open;
  open.mode = kOpenReadWrite | kShareDenyAll;
  Check(CallDriver(kOpOpen, fd, open), "OPEN");
  Check(CallDriver(kOpStream, fd), "STREAM");
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) {
    std::memcpy(record.data(), &i, 4);
    Check(CallDriver(kOpAdd, fd), "ADD");
  }
  Check(CallDriver(kOpFlush, fd), "FLUSH");
  const double add = Seconds(start);
  start = std::chrono::steady_clock::now();
  DriverArgs get;
  for (int i : order) {
    get.number = i + 1;
    Check(CallDriver(kOpGetFilePtr, fd, get), "GET");
  }
  const double getTime = Seconds(start);
  Check(CallDriver(kOpSetFile, fd), "SET");
  start = std::chrono::steady_clock::now();
  int count = 0;
  while (CallDriver(kOpNext, fd) == 0) ++count;
  const double next = Seconds(start);
  if (count != n) return 1;
  Check(CallDriver(kOpClose, fd), "CLOSE");
  ::unlink(datName.c_str());

  std::printf("%d records of %u bytes\n", n, kRecordSize);
  std::printf("%-16s %9s %9s %7s\n", "operation", "driver s", "pread s", "ratio");
  std::printf("%-16s %9.3f %9.3f %7.2f\n", "ADD (STREAM)", add, rawWrite, add / rawWrite);
  std::printf("%-16s %9.3f %9.3f %7.2f\n", "GET by number", getTime, rawRandom,
              getTime / rawRandom);
  std::printf("%-16s %9.3f %9.3f %7.2f\n", "NEXT", next, rawSeq, next / rawSeq);
  return 0;
}
