#include "storage/dat/dat_check.h"

#include <set>

#include "storage/dat/dat_file.h"

namespace korawin::storage::dat {

Code CheckDeletedChain(DatStream& stream, const DatHeader& h, std::string* fault) {
  auto fail = [&](const std::string& why) {
    if (fault) *fault = why;
    return Code(kErrInvalidDataFile);
  };
  if (h.recordLength < kRecordPrefixSize) return fail("record length below 5");
  if (h.deleted > h.records) return fail("deleted count above the record count");
  std::set<uint32_t> seen;
  uint32_t n = h.firstDeleted;
  while (n != 0) {
    if (n > h.records)
      return fail("deleted chain points at record " + std::to_string(n) + " past the count");
    if (!seen.insert(n).second)
      return fail("deleted chain loops at record " + std::to_string(n));
    if (seen.size() > h.deleted)
      return fail("deleted chain longer than the deleted count");
    unsigned char prefix[kRecordPrefixSize];
    uint64_t pos = h.dataOffset + static_cast<uint64_t>(n - 1) * h.recordLength;
    if (stream.Read(pos, prefix, kRecordPrefixSize, kErrInvalidDataFile))
      return fail("record " + std::to_string(n) + " of the deleted chain cannot be read");
    if (!(prefix[0] & kStatusDeleted))
      return fail("deleted chain points at live record " + std::to_string(n));
    n = Get32(prefix + 1);
  }
  if (seen.size() != h.deleted) return fail("deleted chain shorter than the deleted count");
  return 0;
}

// ---- verification ----

Code DatFile::Check(std::string* fault) {
  if (!stream_.is_open()) return kErrFileNotOpen;
  Code err = CheckDeletedChain(stream_, layout_.header, fault);
  if (err) return err;
  const DatHeader& h = layout_.header;
  std::vector<MemoOwner> owners;
  std::vector<std::vector<std::pair<std::string, uint32_t>>> expected;
  std::vector<unsigned char> raw;
  for (uint32_t n = 1; n <= h.records; ++n) {
    err = ReadRecordRaw(n, &raw);
    if (err) {
      *fault = "record " + std::to_string(n) + " cannot be read";
      return err;
    }
    // A hold left by a station that went away is not a fault of the file.
    if (raw[0] & kStatusDeleted) continue;
    owners.push_back({n, Get32(raw.data() + 1)});
    std::vector<char> img = AnsiImage(raw.data() + kRecordPrefixSize);
    keys_.Expect(n, img.data(), &expected);
  }
  err = keys_.Check(expected, file_, fault);
  if (err) return err;
  if (HasMemo() && memo_.is_open()) {
    MemoCheckResult result;
    err = memo_.Check(owners, &result);
    if (err) {
      *fault = "memo: " + result.fault;
      return err;
    }
  }
  return 0;
}

}  // namespace korawin::storage::dat
