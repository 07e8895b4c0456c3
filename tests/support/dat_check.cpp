#include "tests/support/dat_check.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "platform/file.h"
#include "platform/paths.h"
#include "storage/dat/dat_file.h"
#include "storage/dat/dat_header.h"
#include "storage/dat/journal.h"

namespace korawin::test {

namespace dat = storage::dat;

namespace {

std::string Printable(const unsigned char* p, size_t n) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = p[i];
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += '\\';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

std::string CheckDatFile(storage::FileDescriptor& file, std::string* damage) {
  using namespace storage;
  const std::string label = file.name.substr(file.name.find_last_of('/') + 1) + ": ";
  auto bad = [&](const std::string& why) {
    if (damage->empty()) *damage = label + why;
    return std::string();
  };
  file.control.reset();  // a fresh start: nothing cached from an earlier run
  DriverArgs open;
  open.mode = kOpenReadWrite | kShareDenyWrite;
  int err = CallDriver(kOpOpen, file, open);
  if (err) return bad("OPEN gives " + std::to_string(err) + " " + ErrorText());

  // The walk through the driver.
  std::map<uint32_t, std::string> walked;
  DriverArgs args;
  err = CallDriver(kOpSetFile, file, args);
  if (err) return bad("SET gives " + std::to_string(err));
  for (;;) {
    DriverArgs next;
    err = CallDriver(kOpNext, file, next);
    if (err == kErrRecordNotAvailable) break;
    if (err) {
      bad("NEXT gives " + std::to_string(err));
      break;
    }
    DriverArgs pointer;
    err = CallDriver(kOpPointerFile, file, pointer);
    if (err) return bad("POINTER gives " + std::to_string(err));
    walked[static_cast<uint32_t>(pointer.value)] =
        Printable(reinterpret_cast<unsigned char*>(file.record), file.recordSize);
  }
  DriverArgs records;
  err = CallDriver(kOpRecordsFile, file, records);
  if (err) return bad("RECORDS gives " + std::to_string(err));
  std::string path = dat::DatFile::Of(file).path();
  err = CallDriver(kOpClose, file, args);
  if (err) return bad("CLOSE gives " + std::to_string(err));
  file.control.reset();

  // The bytes on disk.
  std::string bytes = ReadBytes(path);
  dat::DatHeader h;
  if (h.Decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()))
    return bad("header cannot be decoded");
  if (static_cast<uint64_t>(h.dataOffset) + static_cast<uint64_t>(h.records) * h.recordLength >
      bytes.size())
    return bad("record count " + std::to_string(h.records) + " runs past the end of the file");
  std::map<uint32_t, uint32_t> links;  // deleted record -> next
  std::map<uint32_t, std::string> live;
  for (uint32_t n = 1; n <= h.records; ++n) {
    const unsigned char* r = reinterpret_cast<const unsigned char*>(bytes.data()) +
                             h.dataOffset + static_cast<uint64_t>(n - 1) * h.recordLength;
    if (r[0] & ~(dat::kStatusNew | dat::kStatusRevised | dat::kStatusDeleted | dat::kStatusHeld))
      return bad("record " + std::to_string(n) + " has status " + std::to_string(r[0]));
    if (r[0] & dat::kStatusHeld) return bad("record " + std::to_string(n) + " is left held");
    if (r[0] & dat::kStatusDeleted)
      links[n] = dat::Get32(r + 1);
    else
      live[n] = Printable(r + dat::kRecordPrefixSize, h.recordLength - dat::kRecordPrefixSize);
  }
  if (links.size() != h.deleted)
    return bad("deleted count " + std::to_string(h.deleted) + " but " +
               std::to_string(links.size()) + " records are marked deleted");
  if (records.value != static_cast<int64_t>(live.size()))
    return bad("RECORDS gives " + std::to_string(records.value) + " for " +
               std::to_string(live.size()) + " live records");
  if (walked != live) return bad("the walk in record order differs from the records on disk");
  std::ostringstream state;
  state << label << "chain";
  std::set<uint32_t> seen;
  for (uint32_t n = h.firstDeleted; n != 0; n = links[n]) {
    if (!links.count(n) || !seen.insert(n).second)
      return bad("deleted chain broken at " + std::to_string(n));
    state << ' ' << n;
  }
  if (seen.size() != links.size()) return bad("deleted records off the chain");
  state << '\n';
  for (const auto& [n, data] : live) state << label << '#' << n << ' ' << data << '\n';

  if (platform::FileExists(platform::ResolveExisting(dat::MarkerPathOf(path))))
    return bad("the transaction marker is still there after OPEN");
  return state.str();
}

}  // namespace korawin::test
