#include "app/files.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace korawin::app {

namespace {

using storage::FieldDescriptor;
using storage::FileDescriptor;
using storage::KeyDescriptor;

struct FieldSpec {
  const char* name;
  uint8_t type;
  uint32_t size;
};

struct KeySpec {
  const char* name;
  const char* field;
  uint32_t attributes;
};

struct FileSpec {
  const char* label;
  const char* prefix;
  const char* disk;
  uint32_t recordSize;
  std::vector<FieldSpec> fields;
  std::vector<KeySpec> keys;
  uint32_t memoSize;
};

constexpr uint32_t kOptNoCase = storage::kKeyOpt | storage::kKeyNoCase;
constexpr uint32_t kDupOptNoCase = storage::kKeyDup | kOptNoCase;

std::vector<FieldSpec> SlovoFields() {
  using namespace storage;
  std::vector<FieldSpec> f = {{"I_VERB", kTypeString, 64}, {"DATE", kTypeLong, 4},
                              {"NAME", kTypeString, 10},   {"VERV", kTypeString, 20},
                              {"EXAMPLE", kTypeString, 255}, {"F_M", kTypeString, 164}};
  static const char* const kActs[5][5] = {
      {"ACT11", "ACT12", "ACT13", "ACT14", "ACT15"},
      {"ACT21", "ACT22", "ACT23", "ACT24", "ACT25"},
      {"ACT31", "ACT32", "ACT33", "ACT34", "ACT35"},
      {"ACT41", "ACT42", "ACT43", "ACT44", "ACT45"},
      {"ACT51", "ACT52", "ACT53", "ACT54", "ACT55"}};
  const uint32_t actSizes[5] = {4, 30, 5, 30, 70};
  for (int g = 0; g < 5; ++g)
    for (int i = 0; i < 5; ++i) f.push_back({kActs[g][i], kTypeString, actSizes[g]});
  const FieldSpec rest[] = {
      {"IV", kTypeString, 140},     {"V_0", kTypeString, 150},  {"V_1", kTypeString, 150},
      {"V_2", kTypeString, 150},    {"V_3", kTypeString, 150},  {"V_4", kTypeString, 150},
      {"V_5", kTypeString, 186},    {"V_7", kTypeString, 210},  {"V_6", kTypeString, 210},
      {"V8B", kTypeString, 40},     {"V8E", kTypeString, 210},  {"V_9", kTypeString, 190},
      {"V_10", kTypeString, 150},   {"TEMA", kTypeString, 164}, {"II_MORFOLOG", kTypeString, 64},
      {"VI", kTypeString, 80},      {"VIII", kTypeString, 255}, {"VIII_ADD", kTypeString, 255},
      {"METKA", kTypeString, 1},    {"Q1", kTypeByte, 1},       {"Q2", kTypeByte, 1},
      {"Q3", kTypeByte, 1}};
  f.insert(f.end(), std::begin(rest), std::end(rest));
  return f;
}

FileSpec SpecOf(LexiconFile which) {
  using namespace storage;
  switch (which) {
    case LexiconFile::kAk2:
      return {"AK2", "AK2", "ak2.dat", 30, {{"A", kTypeString, 30}}, {{"BY_A", "A", kOptNoCase}}, 0};
    case LexiconFile::kSlovo:
      return {"SLOVO", "SLO", "slovo.dat", kSlovoRecordSize, SlovoFields(),
              {{"K_SLO", "I_VERB", kOptNoCase},
               {"K_VERV", "VERV", kDupOptNoCase},
               {"BY_TAX", "IV", kDupOptNoCase},
               {"BY_TEMA", "TEMA", kDupOptNoCase},
               {"BY_V8B", "V8B", kDupOptNoCase},
               {"BY_V4", "V_4", kDupOptNoCase},
               {"BY_V7", "V_7", kDupOptNoCase},
               {"BY_V8E", "V8E", kDupOptNoCase},
               {"BY_ACP", "II_MORFOLOG", kDupOptNoCase}},
              kSlovoMemoSize};
    case LexiconFile::kAk3:
      return {"AK3", "AK3", "ak3.dat", 70, {{"A", kTypeString, 70}}, {{"BY_A", "A", kOptNoCase}}, 0};
    case LexiconFile::kDct:
      return {"DCT", "DCT", "dct.dat", 65, {{"VERV", kTypeString, 64}, {"NUM", kTypeByte, 1}},
              {{"BY_VERV", "VERV", kOptNoCase}}, 0};
    case LexiconFile::kP4:
      return {"P_4", "P_4", "p_4.dat", 150, {{"F", kTypeString, 150}}, {{"K_P_4", "F", kOptNoCase}}, 0};
    case LexiconFile::kP7:
      return {"P_7", "P_7", "p_7.dat", 150, {{"F", kTypeString, 150}}, {{"K_P_7", "F", kOptNoCase}}, 0};
    case LexiconFile::kP8b:
      return {"P8B", "P8B", "p8b.dat", 40, {{"F", kTypeString, 40}}, {{"K_P8B", "F", kOptNoCase}}, 0};
    case LexiconFile::kP8e:
      return {"P8E", "P8E", "p8e.dat", 210, {{"F", kTypeString, 210}}, {{"K_P8E", "F", kOptNoCase}}, 0};
    case LexiconFile::kTax:
      return {"TAX", "TAX", "taxonom.dat", 140, {{"T", kTypeString, 140}}, {{"TAX_K", "T", kOptNoCase}}, 0};
    case LexiconFile::kTema:
      return {"TEMA", "TEM", "tema.dat", 164, {{"T", kTypeString, 164}}, {{"K_T", "T", kOptNoCase}}, 0};
    case LexiconFile::kAbc:
      // ABC carries no extension in its declaration; the data file default applies.
      return {"ABC", "ABC", "abc", 120, {{"LEXEMA", kTypeString, 60}, {"SLOVO", kTypeString, 60}},
              {{"KEYLEXEMA", "LEXEMA", kKeyOpt}, {"KEYSLOVO", "SLOVO", kKeyDup | kKeyNoCase}}, 0};
  }
  return {};
}

std::string Join(const std::string& folder, const char* name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

std::string_view FileLabel(LexiconFile which) {
  static const char* const kLabels[] = {"AK2", "SLOVO", "AK3", "DCT", "P_4", "P_7",
                                        "P8B", "P8E",   "TAX", "TEMA", "ABC"};
  return kLabels[static_cast<int>(which)];
}

std::string_view FilePrefix(LexiconFile which) {
  static const char* const kPrefixes[] = {"AK2", "SLO", "AK3", "DCT", "P_4", "P_7",
                                          "P8B", "P8E", "TAX", "TEM", "ABC"};
  return kPrefixes[static_cast<int>(which)];
}

DeclaredFile DeclareFile(LexiconFile which, storage::DriverEntryFn driver,
                         const std::string& folder) {
  FileSpec table = SpecOf(which);
  DeclaredFile d;
  d.file = std::make_unique<FileDescriptor>();
  FileDescriptor& fd = *d.file;
  fd.driver = driver;
  fd.label = table.label;
  fd.name = Join(folder, table.disk);
  fd.attributes = storage::kFileCreate | storage::kFileReclaim;
  fd.recordSize = table.recordSize;
  uint32_t offset = 0;
  for (const FieldSpec& f : table.fields) {
    FieldDescriptor field;
    field.type = f.type;
    field.offset = offset;
    field.label = std::string(table.prefix) + ":" + f.name;
    field.size = f.size;
    fd.fields.push_back(std::move(field));
    offset += f.size;
  }
  assert(offset == table.recordSize);
  for (const KeySpec& k : table.keys) {
    KeyDescriptor key;
    key.label = std::string(table.prefix) + ":" + k.name;
    key.attributes = k.attributes;
    auto it = std::find_if(table.fields.begin(), table.fields.end(),
                           [&](const FieldSpec& f) { return std::strcmp(f.name, k.field) == 0; });
    key.components.push_back(static_cast<int32_t>(it - table.fields.begin()) + 1);
    fd.keys.push_back(std::move(key));
  }
  d.record.assign(table.recordSize, ' ');
  if (table.memoSize) {
    d.memo.assign(table.memoSize, ' ');
    storage::MemoDescriptor memo;
    memo.label = std::string(table.prefix) + ":EXA_MEMO";
    memo.size = table.memoSize;
    fd.memos.push_back(std::move(memo));
  }
  fd.record = d.record.data();
  if (!fd.memos.empty()) fd.memos[0].buffer = d.memo.data();
  d.Clear();
  return d;
}

int DeclaredFile::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < file->fields.size(); ++i) {
    const std::string& label = file->fields[i].label;
    auto colon = label.find(':');
    if (std::string_view(label).substr(colon + 1) == name) return static_cast<int>(i);
  }
  return -1;
}

std::string_view DeclaredFile::Field(std::string_view name) const {
  int i = FieldIndex(name);
  if (i < 0) return {};
  const FieldDescriptor& f = file->fields[static_cast<size_t>(i)];
  return std::string_view(record.data() + f.offset, f.size);
}

void DeclaredFile::SetField(std::string_view name, std::string_view value) {
  int i = FieldIndex(name);
  if (i < 0) return;
  const FieldDescriptor& f = file->fields[static_cast<size_t>(i)];
  char* p = record.data() + f.offset;
  size_t n = std::min<size_t>(value.size(), f.size);
  if (n) std::memcpy(p, value.data(), n);  // an empty text may have no data at all
  std::memset(p + n, ' ', f.size - n);
}

void DeclaredFile::Clear() {
  for (const FieldDescriptor& f : file->fields) {
    char fill = f.type == storage::kTypeString || f.type == storage::kTypeGroup ? ' ' : '\0';
    std::memset(record.data() + f.offset, fill, f.size);
  }
  std::fill(memo.begin(), memo.end(), ' ');
}

}  // namespace korawin::app
