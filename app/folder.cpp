#include "app/folder.h"

#include <algorithm>
#include <cstring>

#include "lang/types.h"
#include "platform/codepage.h"
#include "platform/field_codec.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "storage/dat/dat_driver.h"
#include "storage/dat/dat_file.h"
#include "storage/dat/memo_file.h"

namespace korawin::app {

namespace {

using namespace storage;
using namespace storage::dat;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// A stored 16-byte name without its padding.
std::string StoredName(const std::string& raw) {
  return std::string(platform::TrimTrailing(std::string_view(raw).substr(0, raw.find('\0'))));
}

uint8_t DeclaredTypeOf(uint8_t stored) {
  switch (stored) {
    case kStoredLong: return kTypeLong;
    case kStoredReal: return kTypeReal;
    case kStoredString:
    case kStoredPictureString: return kTypeString;
    case kStoredByte: return kTypeByte;
    case kStoredShort: return kTypeShort;
    case kStoredGroup: return kTypeGroup;
    case kStoredDecimal: return kTypeDecimal;
    default: return kTypeEnd;
  }
}

int DeclareOther(const std::string& path, FolderFile* out) {
  DatStream stream;
  int err = stream.Open(path, kOpenReadOnly | kShareDenyNone);
  DatLayout layout;
  if (!err) err = ReadLayout(stream, &layout);
  if (err) return err == kErrReadFault ? kErrInvalidDataFile : err;
  out->path = path;
  out->label = platform::BaseName(path);
  out->label = out->label.substr(0, out->label.rfind('.'));
  out->lexicon = false;
  return DeclareFromLayout(layout, path, &out->decl);
}

}  // namespace

int DeclareFromLayout(const DatLayout& layout, const std::string& path, DeclaredFile* out) {
  const DatHeader& h = layout.header;
  if (h.recordLength < kRecordPrefixSize) return kErrInvalidRecordDeclaration;
  DeclaredFile d;
  d.file = std::make_unique<FileDescriptor>();
  FileDescriptor& fd = *d.file;
  fd.driver = &DatDriverEntry;
  fd.name = path;
  fd.label = platform::BaseName(path);
  fd.attributes = (h.attributes & kAttrReclaim) ? kFileReclaim : 0;
  if (h.attributes & kAttrEncrypted) fd.attributes |= kFileEncrypt;
  fd.recordSize = h.recordLength - kRecordPrefixSize;
  for (const FieldDesc& s : layout.fields) {
    FieldDescriptor f;
    f.type = DeclaredTypeOf(s.type);
    if (f.type == kTypeEnd) return kErrInvalidRecordDeclaration;
    f.label = StoredName(s.name);
    f.offset = s.offset;
    f.elements = 1;
    if (s.array) {
      if (s.array > layout.arrays.size()) return kErrInvalidRecordDeclaration;
      const ArrayDesc& a = layout.arrays[s.array - 1];
      f.dims.assign(a.sizes.begin(), a.sizes.end());
      f.elements = std::max<uint32_t>(a.total, 1);
    }
    f.size = s.length * f.elements;
    if (f.type == kTypeDecimal) {
      f.decimalPlaces = s.places;
      f.decimalSize = static_cast<uint8_t>((s.digits + s.places + 2) / 2);
    }
    if (s.picture && s.picture <= layout.pictures.size()) f.picture = layout.pictures[s.picture - 1];
    if (f.offset + f.size > fd.recordSize) return kErrInvalidRecordDeclaration;
    fd.fields.push_back(std::move(f));
  }
  for (const KeyDesc& s : layout.keys) {
    KeyDescriptor k;
    k.label = StoredName(s.name);
    if (s.flags & kKeyFlagDup) k.attributes |= kKeyDup;
    if (s.flags & kKeyFlagNoCase) k.attributes |= kKeyNoCase;
    if (!(s.flags & kKeyFlagRequired)) k.attributes |= kKeyOpt;
    if (s.flags & kKeyFlagIndex) k.attributes |= kKeyIndex;
    for (const KeyComponentDesc& c : s.components) {
      if (c.field == 0 || c.field > fd.fields.size()) return kErrInvalidRecordDeclaration;
      k.components.push_back(c.field);
    }
    fd.keys.push_back(std::move(k));
  }
  if ((h.attributes & kAttrMemo) && h.memoLength > 0) {
    MemoDescriptor m;
    m.label = "MEMO";
    m.size = h.memoLength;
    fd.memos.push_back(std::move(m));
    d.memo.assign(m.size, ' ');
  }
  d.record.assign(fd.recordSize, '\0');
  for (const FieldDescriptor& f : fd.fields)
    if (platform::IsTextType(f.type)) std::memset(d.record.data() + f.offset, ' ', f.size);
  fd.record = d.record.data();
  if (!fd.memos.empty()) fd.memos[0].buffer = d.memo.data();
  *out = std::move(d);
  return 0;
}

int FolderFiles(const std::string& dir, std::vector<FolderFile>* out,
                std::vector<std::string>* problems) {
  out->clear();
  std::vector<std::string> all, names;
  if (platform::ListFolder(dir, &all) != 0) return kErrPathNotFound;
  for (std::string& name : all)
    if (name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".dat") names.push_back(name);
  std::sort(names.begin(), names.end());
  std::vector<bool> taken(names.size(), false);
  for (int i = 0; i < kLexiconFileCount; ++i) {
    auto which = static_cast<LexiconFile>(i);
    DeclaredFile decl = DeclareFile(which, &DatDriverEntry, dir);
    std::string want = Lower(platform::BaseName(DataFilePath(decl.fd().name)));
    for (size_t n = 0; n < names.size(); ++n) {
      if (taken[n] || Lower(names[n]) != want) continue;
      taken[n] = true;
      FolderFile f;
      f.path = platform::JoinPath(dir, names[n]);
      f.label = std::string(FileLabel(which));
      f.lexicon = true;
      f.decl = std::move(decl);
      f.decl.fd().name = f.path;
      out->push_back(std::move(f));
      break;
    }
  }
  for (size_t n = 0; n < names.size(); ++n) {
    if (taken[n]) continue;
    FolderFile f;
    std::string path = platform::JoinPath(dir, names[n]);
    int err = DeclareOther(path, &f);
    if (err) {
      problems->push_back(path + ": the header and descriptions cannot be read: " +
                          ErrorWords(err));
      continue;
    }
    out->push_back(std::move(f));
  }
  return 0;
}

int FindFolderFile(const std::string& dir, const std::string& name, FolderFile* out) {
  std::string want = Lower(name);
  for (int i = 0; i < kLexiconFileCount; ++i) {
    auto which = static_cast<LexiconFile>(i);
    DeclaredFile decl = DeclareFile(which, &DatDriverEntry, dir);
    std::string disk = Lower(platform::BaseName(DataFilePath(decl.fd().name)));
    std::string stem = disk.substr(0, disk.size() - 4);
    if (want != Lower(std::string(FileLabel(which))) &&
        want != Lower(std::string(FilePrefix(which))) && want != disk && want != stem)
      continue;
    out->path = platform::ResolveExisting(DataFilePath(decl.fd().name));
    out->label = std::string(FileLabel(which));
    out->lexicon = true;
    out->decl = std::move(decl);
    out->decl.fd().name = out->path;
    return 0;
  }
  std::string path = platform::ResolveExisting(DataFilePath(platform::JoinPath(dir, name)));
  if (access(path.c_str(), F_OK) != 0) return kErrFileNotFound;
  return DeclareOther(path, out);
}

int FindKey(const FileDescriptor& file, const std::string& name) {
  std::string want = Lower(name);
  for (size_t i = 0; i < file.keys.size(); ++i) {
    const std::string& label = file.keys[i].label;
    if (Lower(label) == want || Lower(WithoutPrefix(label)) == want) return static_cast<int>(i + 1);
  }
  if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos &&
      name.size() < 4) {
    int n = std::stoi(name);
    if (n >= 1 && static_cast<size_t>(n) <= file.keys.size()) return n;
  }
  return 0;
}

std::string WithoutPrefix(const std::string& label) {
  size_t colon = label.find(':');
  return colon == std::string::npos ? label : label.substr(colon + 1);
}

nlohmann::ordered_json RecordJson(const FileDescriptor& file, int64_t record) {
  nlohmann::ordered_json j;
  j["_rec"] = record;
  auto text = [](const char* p, size_t n) {
    std::string_view t(p, n);
    return platform::Cp1251ToUtf8(platform::TrimTrailing(t.substr(0, t.find('\0'))));
  };
  auto element = [&](const FieldDescriptor& f, const char* p) -> nlohmann::ordered_json {
    uint32_t size = f.ElementSize();
    if (platform::IsTextType(f.type)) return text(p, size);
    lang::Variable v = lang::Variable::Field(f.type, p, size, f.decimalPlaces);
    if (!v.Valid()) return nullptr;
    lang::Value value = lang::ReadVariable(v, p);
    if (value.type == lang::kInteger) return value.i;
    if (value.type == lang::kReal) return value.r;
    return platform::Cp1251ToUtf8(value.s);
  };
  for (const FieldDescriptor& f : file.fields) {
    if (f.type == kTypeGroup) continue;  // its members follow as fields of their own
    const char* p = file.record + f.offset;
    if (f.elements > 1) {
      nlohmann::ordered_json a = nlohmann::ordered_json::array();
      for (uint32_t e = 0; e < f.elements; ++e) a.push_back(element(f, p + e * f.ElementSize()));
      j[WithoutPrefix(f.label)] = std::move(a);
    } else {
      j[WithoutPrefix(f.label)] = element(f, p);
    }
  }
  for (const MemoDescriptor& m : file.memos) {
    if (!m.buffer) continue;
    size_t n = MemoLength(m.buffer, m.size, (m.attributes & kMemoBinary) != 0);
    j[WithoutPrefix(m.label)] = platform::Cp1251ToUtf8(std::string_view(m.buffer, n));
  }
  return j;
}

std::string ErrorWords(int code) {
  std::string text(ErrorTextOf(code));
  return "error " + std::to_string(code) + (text.empty() ? "" : " (" + text + ")");
}

}  // namespace korawin::app
