// korawin1-db info FILE [--json]: the front of a data file read without a declaration.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "app/folder_check.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/field_codec.h"
#include "platform/paths.h"
#include "storage/dat/dat_check.h"
#include "storage/dat/dat_file.h"
#include "storage/dat/dat_header.h"
#include "storage/driver.h"
#include "tools/korawin1_db/commands.h"

namespace korawin::tools {

namespace {

using namespace storage;
using namespace storage::dat;

// Text of the file (Windows-1251, padded with blanks or NULs) as UTF-8 without the padding.
std::string Text(const std::string& raw) {
  return platform::Cp1251ToUtf8(
      platform::TrimTrailing(std::string_view(raw).substr(0, raw.find('\0'))));
}

std::string DateText(uint32_t day) {
  if (day == 0) return "";
  int y = 0, m = 0, d = 0;
  platform::CivilDate(static_cast<int32_t>(day), &y, &m, &d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::string TimeText(uint32_t time) {
  if (time == 0) return "";
  uint32_t t = time - 1;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02u:%02u:%02u.%02u", t / 360000, t / 6000 % 60, t / 100 % 60,
                t % 100);
  return buf;
}

std::string Attributes(uint16_t a) {
  std::string s;
  auto add = [&](uint16_t bit, const char* name) {
    if (!(a & bit)) return;
    if (!s.empty()) s += ',';
    s += name;
  };
  add(kAttrLocked, "LOCKED");
  add(kAttrOwned, "OWNED");
  add(kAttrEncrypted, "ENCRYPTED");
  add(kAttrMemo, "MEMO");
  add(kAttrReclaim, "RECLAIM");
  add(kAttrCreated, "CREATED");
  return s;
}

std::string KeyFlags(uint8_t f) {
  std::string s = (f & kKeyFlagIndex) ? "INDEX" : "KEY";
  if (f & kKeyFlagDup) s += ",DUP";
  if (f & kKeyFlagNoCase) s += ",NOCASE";
  if (!(f & kKeyFlagRequired)) s += ",OPT";
  return s;
}

nlohmann::json ToJson(const DatLayout& l, uint64_t size, int chain, const std::string& fault) {
  const DatHeader& h = l.header;
  nlohmann::json j;
  j["header"] = {{"signature", h.signature},
                 {"attributes", h.attributes},
                 {"attributeNames", Attributes(h.attributes)},
                 {"keyCount", h.keyCount},
                 {"records", h.records},
                 {"deleted", h.deleted},
                 {"fieldCount", h.fieldCount},
                 {"pictureCount", h.pictureCount},
                 {"arrayCount", h.arrayCount},
                 {"recordLength", h.recordLength},
                 {"dataOffset", h.dataOffset},
                 {"highestWritten", h.highestWritten},
                 {"lowestWritten", h.lowestWritten},
                 {"firstDeleted", h.firstDeleted},
                 {"recordName", Text(h.recordName)},
                 {"memoName", Text(h.memoName)},
                 {"filePrefix", Text(h.filePrefix)},
                 {"recordPrefix", Text(h.recordPrefix)},
                 {"memoLength", h.memoLength},
                 {"memoWidth", h.memoWidth},
                 {"changeTime", h.changeTime},
                 {"changeDate", h.changeDate},
                 {"changed", DateText(h.changeDate) + " " + TimeText(h.changeTime)},
                 {"checksum", h.checksum}};
  j["fields"] = nlohmann::json::array();
  for (const FieldDesc& f : l.fields)
    j["fields"].push_back({{"type", f.type}, {"typeName", StoredTypeName(f.type)},
                           {"name", Text(f.name)}, {"offset", f.offset}, {"length", f.length},
                           {"digits", f.digits}, {"places", f.places}, {"array", f.array},
                           {"picture", f.picture}});
  j["keys"] = nlohmann::json::array();
  for (const KeyDesc& k : l.keys) {
    nlohmann::json comps = nlohmann::json::array();
    for (const KeyComponentDesc& c : k.components)
      comps.push_back({{"type", c.type}, {"field", c.field}, {"offset", c.offset},
                       {"length", c.length}});
    j["keys"].push_back({{"name", Text(k.name)}, {"flags", k.flags},
                         {"flagNames", KeyFlags(k.flags)}, {"length", k.length},
                         {"components", comps}});
  }
  j["pictures"] = nlohmann::json::array();
  for (const std::string& p : l.pictures) j["pictures"].push_back(platform::Cp1251ToUtf8(p));
  j["arrays"] = nlohmann::json::array();
  for (const ArrayDesc& a : l.arrays)
    j["arrays"].push_back({{"total", a.total}, {"elementSize", a.elementSize},
                           {"sizes", a.sizes}, {"steps", a.steps}});
  j["counts"] = {{"live", static_cast<int64_t>(h.records) - h.deleted},
                 {"fileSize", size},
                 {"recordsEnd", h.dataOffset + static_cast<uint64_t>(h.records) * h.recordLength},
                 {"deletedChain", chain == 0 ? "ok" : fault}};
  return j;
}

void PrintText(const std::string& path, const DatLayout& l, uint64_t size, int chain,
               const std::string& fault) {
  const DatHeader& h = l.header;
  std::printf("file            %s\n", path.c_str());
  std::printf("signature       0x%04X\n", h.signature);
  std::printf("attributes      0x%04X %s\n", h.attributes, Attributes(h.attributes).c_str());
  std::printf("keys            %u\n", h.keyCount);
  std::printf("records         %u\n", h.records);
  std::printf("deleted         %u\n", h.deleted);
  std::printf("live records    %lld\n", static_cast<long long>(h.records) - h.deleted);
  std::printf("fields          %u\n", h.fieldCount);
  std::printf("pictures        %u\n", h.pictureCount);
  std::printf("arrays          %u\n", h.arrayCount);
  std::printf("record length   %u\n", h.recordLength);
  std::printf("data offset     %u\n", h.dataOffset);
  std::printf("highest written %u\n", h.highestWritten);
  std::printf("lowest written  %u\n", h.lowestWritten);
  std::printf("first deleted   %u\n", h.firstDeleted);
  std::printf("record name     '%s'\n", Text(h.recordName).c_str());
  std::printf("memo name       '%s'\n", Text(h.memoName).c_str());
  std::printf("file prefix     '%s'\n", Text(h.filePrefix).c_str());
  std::printf("record prefix   '%s'\n", Text(h.recordPrefix).c_str());
  std::printf("memo length     %u\n", h.memoLength);
  std::printf("memo width      %u\n", h.memoWidth);
  std::printf("changed         %s %s (date %u, time %u)\n", DateText(h.changeDate).c_str(),
              TimeText(h.changeTime).c_str(), h.changeDate, h.changeTime);
  std::printf("checksum        %u\n", h.checksum);
  std::printf("file size       %llu\n", static_cast<unsigned long long>(size));
  std::printf("deleted chain   %s\n", chain == 0 ? "ok" : fault.c_str());
  std::printf("\nfields:\n");
  int n = 0;
  for (const FieldDesc& f : l.fields) {
    std::printf("  %3d %-16s %-9s offset %5u length %5u", ++n, Text(f.name).c_str(),
                StoredTypeName(f.type), f.offset, f.length);
    if (f.type == kStoredDecimal) std::printf(" digits %u places %u", f.digits, f.places);
    if (f.array) std::printf(" array %u", f.array);
    if (f.picture) std::printf(" picture %u", f.picture);
    std::printf("\n");
  }
  std::printf("\nkeys:\n");
  n = 0;
  for (const KeyDesc& k : l.keys) {
    std::printf("  %3d %-16s %s length %u (", ++n, Text(k.name).c_str(), KeyFlags(k.flags).c_str(),
                k.length);
    for (size_t i = 0; i < k.components.size(); ++i)
      std::printf("%sfield %u", i ? ", " : "", k.components[i].field);
    std::printf(")\n");
  }
  if (!l.pictures.empty()) {
    std::printf("\npictures:\n");
    n = 0;
    for (const std::string& p : l.pictures)
      std::printf("  %3d %s\n", ++n, platform::Cp1251ToUtf8(p).c_str());
  }
  if (!l.arrays.empty()) {
    std::printf("\narrays:\n");
    n = 0;
    for (const ArrayDesc& a : l.arrays) {
      std::printf("  %3d elements %u of %u bytes, DIM(", ++n, a.total, a.elementSize);
      for (size_t i = 0; i < a.sizes.size(); ++i) std::printf("%s%u", i ? "," : "", a.sizes[i]);
      std::printf(")\n");
    }
  }
}

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
  std::string file;
  bool json = false;
  for (const std::string& a : args) {
    if (a == "--json")
      json = true;
    else if (file.empty())
      file = a;
    else {
      std::fprintf(stderr, "korawin1-db info: unexpected argument '%s'\n", a.c_str());
      return 2;
    }
  }
  if (file.empty()) {
    std::fprintf(stderr, "usage: korawin1-db info FILE [--json]\n");
    return 2;
  }
  std::string path = platform::ResolveExisting(DataFilePath(file));
  DatStream stream;
  int err = stream.Open(path, kOpenReadOnly | kShareDenyNone);
  DatLayout layout;
  if (!err) err = ReadLayout(stream, &layout);
  if (err) {
    std::fprintf(stderr, "korawin1-db info: %s: error %d: %s\n", path.c_str(), err,
                 std::string(ErrorTextOf(err)).c_str());
    return 1;
  }
  uint64_t size = stream.Size();
  std::string fault;
  int chain = CheckDeletedChain(stream, layout.header, &fault);
  // A transaction left behind: what is read here may be what the next open undoes.
  const app::PendingWords pending = app::DescribePendingTransaction(path);
  if (json) {
    auto j = ToJson(layout, size, chain, fault);
    if (!pending.text.empty()) j["transaction"] = pending.text;
    std::printf("%s\n", j.dump(2).c_str());
  } else {
    if (!pending.text.empty()) std::printf("transaction     %s\n", pending.text.c_str());
    PrintText(path, layout, size, chain, fault);
  }
  return 0;
}

}  // namespace korawin::tools
