#include "storage/dat/dat_header.h"

#include <algorithm>
#include <cstring>

#include "platform/codepage.h"

namespace korawin::storage::dat {

namespace {

void PutText(unsigned char* p, const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i)
    p[i] = static_cast<unsigned char>(i < text.size() ? text[i] : ' ');
}

void PutRaw(unsigned char* p, const std::string& text, size_t width, char pad) {
  for (size_t i = 0; i < width; ++i)
    p[i] = static_cast<unsigned char>(i < text.size() ? text[i] : pad);
}

std::string GetText(const unsigned char* p, size_t width) {
  return std::string(reinterpret_cast<const char*>(p), width);
}

std::string PrefixOf(const std::string& label) {
  size_t colon = label.find(':');
  if (colon == std::string::npos || colon == 0) return std::string();
  return label.substr(0, std::min<size_t>(colon, 3));
}

// A cursor over bytes that refuses to read past their end.
class Reader {
 public:
  Reader(const unsigned char* data, size_t n) : data_(data), n_(n) {}
  bool Take(size_t len, const unsigned char** out) {
    if (len > n_ - pos_) return false;
    *out = data_ + pos_;
    pos_ += len;
    return true;
  }
  size_t pos() const { return pos_; }

 private:
  const unsigned char* data_;
  size_t n_;
  size_t pos_ = 0;
};

}  // namespace

void DatHeader::Encode(unsigned char out[kHeaderSize]) const {
  std::memset(out, 0, kHeaderSize);
  Put16(out + 0, signature);
  Put16(out + 2, attributes);
  out[4] = keyCount;
  Put32(out + 5, records);
  Put32(out + 9, deleted);
  Put16(out + 13, fieldCount);
  Put16(out + 15, pictureCount);
  Put16(out + 17, arrayCount);
  Put16(out + 19, recordLength);
  Put32(out + 21, dataOffset);
  Put32(out + 25, highestWritten);
  Put32(out + 29, lowestWritten);
  Put32(out + 33, firstDeleted);
  PutText(out + 37, recordName, 12);
  PutText(out + 49, memoName, 12);
  PutRaw(out + 61, filePrefix, 3, '\0');
  PutRaw(out + 64, recordPrefix, 3, '\0');
  Put16(out + 67, memoLength);
  Put16(out + 69, memoWidth);
  Put32(out + 71, reserved);
  Put32(out + 75, changeTime);
  Put32(out + 79, changeDate);
  Put16(out + 83, checksum);
}

Code DatHeader::Decode(const unsigned char* in, size_t n) {
  if (n < kHeaderSize || Get16(in) != kSignature) return kErrInvalidDataFile;
  signature = Get16(in);
  attributes = Get16(in + 2);
  keyCount = in[4];
  records = Get32(in + 5);
  deleted = Get32(in + 9);
  fieldCount = Get16(in + 13);
  pictureCount = Get16(in + 15);
  arrayCount = Get16(in + 17);
  recordLength = Get16(in + 19);
  dataOffset = Get32(in + 21);
  highestWritten = Get32(in + 25);
  lowestWritten = Get32(in + 29);
  firstDeleted = Get32(in + 33);
  recordName = GetText(in + 37, 12);
  memoName = GetText(in + 49, 12);
  filePrefix = GetText(in + 61, 3);
  recordPrefix = GetText(in + 64, 3);
  memoLength = Get16(in + 67);
  memoWidth = Get16(in + 69);
  reserved = Get32(in + 71);
  changeTime = Get32(in + 75);
  changeDate = Get32(in + 79);
  checksum = Get16(in + 83);
  return 0;
}

std::string StoredLabel(const std::string& label) {
  std::string out;
  size_t colon = label.find(':');
  if (colon != std::string::npos && colon > 3)
    out = label.substr(0, 3) + ":" + label.substr(colon + 1, 12);
  else
    out = label.substr(0, 16);
  out.resize(16, ' ');
  return out;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (platform::UpperCp1251(static_cast<unsigned char>(a[i])) !=
        platform::UpperCp1251(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

uint8_t StoredTypeOf(const FieldDescriptor& field) {
  switch (field.type) {
    case kTypeLong: return kStoredLong;
    case kTypeReal: return kStoredReal;
    case kTypeString: return field.picture.empty() ? kStoredString : kStoredPictureString;
    case kTypeByte: return kStoredByte;
    case kTypeShort: return kStoredShort;
    case kTypeGroup: return kStoredGroup;
    case kTypeDecimal: return kStoredDecimal;
    default: return kStoredOther;
  }
}

const char* StoredTypeName(uint8_t type) {
  static const char* const kNames[] = {"OTHER", "LONG",  "REAL",  "STRING",
                                       "STRING(@)", "BYTE", "SHORT", "GROUP", "DECIMAL"};
  return type < 9 ? kNames[type] : "UNKNOWN";
}

std::vector<int> StoredFieldNumbers(const FileDescriptor& file) {
  std::vector<int> numbers;
  int next = 0;
  for (const FieldDescriptor& f : file.fields) numbers.push_back(f.notStored ? -1 : next++);
  return numbers;
}

Code LayoutFromDeclaration(const FileDescriptor& file, DatLayout* layout) {
  *layout = DatLayout();
  DatHeader& h = layout->header;
  if (file.recordSize + kRecordPrefixSize > 0xFFFF) return kErrInvalidRecordDeclaration;
  h.attributes = kAttrCreated;
  if (!file.owner.empty()) h.attributes |= kAttrOwned;
  if (file.attributes & kFileReclaim) h.attributes |= kAttrReclaim;
  if (file.attributes & kFileEncrypt) h.attributes |= kAttrEncrypted;
  h.recordLength = static_cast<uint16_t>(file.recordSize + kRecordPrefixSize);

  // Fields, with the arrays and pictures they refer to. Members of a dimensioned GROUP share
  // the group's array number.
  struct OpenGroup {
    uint32_t remaining;
    uint16_t array;
  };
  std::vector<OpenGroup> groups;
  for (const FieldDescriptor& f : file.fields) {
    uint16_t inheritedArray = 0;
    for (auto it = groups.rbegin(); it != groups.rend(); ++it)
      if (it->array) {
        inheritedArray = it->array;
        break;
      }
    for (OpenGroup& g : groups) --g.remaining;
    while (!groups.empty() && groups.back().remaining == 0) groups.pop_back();

    uint16_t array = inheritedArray;
    if (!f.dims.empty()) {
      if (f.dims.size() > kMaxArrayDims) return kErrInvalidFieldType;
      ArrayDesc a;
      a.total = static_cast<uint16_t>(f.elements);
      a.elementSize = static_cast<uint16_t>(f.ElementSize());
      for (size_t i = 0; i < f.dims.size(); ++i) {
        uint32_t step = 1;
        for (size_t j = i + 1; j < f.dims.size(); ++j) step *= f.dims[j];
        a.sizes.push_back(static_cast<uint16_t>(f.dims[i]));
        a.steps.push_back(static_cast<uint16_t>(step));
      }
      if (!f.notStored) {
        layout->arrays.push_back(a);
        array = static_cast<uint16_t>(layout->arrays.size());
      }
    }
    if (f.type == kTypeGroup && f.groupFields > 0)
      groups.push_back({f.groupFields, f.dims.empty() ? uint16_t{0} : array});
    if (f.notStored) continue;

    FieldDesc d;
    d.type = StoredTypeOf(f);
    d.name = StoredLabel(f.label);
    d.offset = static_cast<uint16_t>(f.offset);
    d.length = static_cast<uint16_t>(f.ElementSize());
    if (f.type == kTypeDecimal) {
      uint32_t bytes = f.decimalSize ? f.decimalSize : f.ElementSize();
      d.digits = static_cast<uint8_t>(2 * bytes - 1 - f.decimalPlaces);
      d.places = f.decimalPlaces;
    }
    d.array = array;
    if (f.type == kTypeString && !f.picture.empty()) {
      auto it = std::find(layout->pictures.begin(), layout->pictures.end(), f.picture);
      if (it == layout->pictures.end()) {
        layout->pictures.push_back(f.picture);
        d.picture = static_cast<uint16_t>(layout->pictures.size());
      } else {
        d.picture = static_cast<uint16_t>(it - layout->pictures.begin() + 1);
      }
    }
    layout->fields.push_back(d);
  }

  // Keys.
  std::vector<int> stored = StoredFieldNumbers(file);
  for (const KeyDescriptor& k : file.keys) {
    if (k.attributes & kKeyNotStored) continue;
    KeyDesc d;
    d.name = StoredLabel(k.name.empty() ? k.label : k.name);
    if (k.attributes & kKeyDup) d.flags |= kKeyFlagDup;
    if (k.attributes & kKeyNoCase) d.flags |= kKeyFlagNoCase;
    if (!(k.attributes & kKeyOpt)) d.flags |= kKeyFlagRequired;
    if (k.attributes & kKeyIndex) d.flags |= kKeyFlagIndex;
    uint32_t length = 0;
    for (int32_t c : k.components) {
      uint32_t n = static_cast<uint32_t>(c < 0 ? -static_cast<int64_t>(c) : c);
      if (n == 0 || n > file.fields.size() || stored[n - 1] < 0) return kErrInvalidParameters;
      const FieldDescriptor& f = file.fields[n - 1];
      KeyComponentDesc kc;
      kc.type = StoredTypeOf(f);
      kc.field = static_cast<uint16_t>(stored[n - 1] + 1);
      kc.offset = static_cast<uint16_t>(f.offset);
      kc.length = static_cast<uint8_t>(std::min<uint32_t>(f.ElementSize(), 255));
      length += f.ElementSize();
      d.components.push_back(kc);
      d.descending.push_back(c < 0);
    }
    if (length > kMaxKeyLength) return kErrInvalidKeyLength;
    d.length = static_cast<uint8_t>(length);
    layout->keys.push_back(d);
  }

  if (!file.memos.empty()) {
    if (file.memos[0].size > 0xFFFF) return kErrInvalidRecordDeclaration;
    h.attributes |= kAttrMemo;
    h.memoLength = static_cast<uint16_t>(file.memos[0].size);
  }

  // Prefixes: the file's from its keys, the record's from its fields; a file without a keyed
  // prefix takes the record's.
  for (const KeyDescriptor& k : file.keys)
    if (!PrefixOf(k.label).empty()) {
      h.filePrefix = PrefixOf(k.label);
      break;
    }
  for (const FieldDescriptor& f : file.fields)
    if (!PrefixOf(f.label).empty()) {
      h.recordPrefix = PrefixOf(f.label);
      break;
    }
  h.filePrefix.resize(3, '\0');
  h.recordPrefix.resize(3, '\0');
  if (h.filePrefix == std::string(3, '\0')) std::swap(h.filePrefix, h.recordPrefix);

  h.keyCount = static_cast<uint8_t>(layout->keys.size());
  h.fieldCount = static_cast<uint16_t>(layout->fields.size());
  h.pictureCount = static_cast<uint16_t>(layout->pictures.size());
  h.arrayCount = static_cast<uint16_t>(layout->arrays.size());
  h.dataOffset = static_cast<uint32_t>(kHeaderSize + layout->DescriptionsSize());
  return 0;
}

uint32_t DatLayout::DescriptionsSize() const {
  size_t n = fields.size() * kFieldDescSize;
  for (const KeyDesc& k : keys) n += kKeyDescBaseSize + kKeyComponentSize * k.components.size();
  for (const std::string& p : pictures) n += 4 + p.size() + 1;
  for (const ArrayDesc& a : arrays) n += 6 + 4 * a.sizes.size();
  return static_cast<uint32_t>(n);
}

std::string DatLayout::EncodeDescriptions() const {
  std::string out(DescriptionsSize(), '\0');
  unsigned char* p = reinterpret_cast<unsigned char*>(out.data());
  for (const FieldDesc& f : fields) {
    p[0] = f.type;
    PutText(p + 1, f.name, 16);
    Put16(p + 17, f.offset);
    Put16(p + 19, f.length);
    p[21] = f.digits;
    p[22] = f.places;
    Put16(p + 23, f.array);
    Put16(p + 25, f.picture);
    p += kFieldDescSize;
  }
  for (const KeyDesc& k : keys) {
    p[0] = static_cast<unsigned char>(k.components.size());
    PutText(p + 1, k.name, 16);
    p[17] = k.flags;
    p[18] = k.length;
    p += kKeyDescBaseSize;
    for (const KeyComponentDesc& c : k.components) {
      p[0] = c.type;
      Put16(p + 1, c.field);
      Put16(p + 3, c.offset);
      p[5] = c.length;
      p += kKeyComponentSize;
    }
  }
  for (const std::string& pic : pictures) {
    Put32(p, static_cast<uint32_t>(pic.size() + 1));
    std::memcpy(p + 4, pic.data(), pic.size());
    p[4 + pic.size()] = 0;
    p += 4 + pic.size() + 1;
  }
  for (const ArrayDesc& a : arrays) {
    Put16(p, static_cast<uint16_t>(a.sizes.size()));
    Put16(p + 2, a.total);
    Put16(p + 4, a.elementSize);
    p += 6;
    for (size_t i = 0; i < a.sizes.size(); ++i) {
      Put16(p, a.sizes[i]);
      Put16(p + 2, a.steps[i]);
      p += 4;
    }
  }
  return out;
}

Code DecodeLayout(const unsigned char* data, size_t n, DatLayout* layout) {
  *layout = DatLayout();
  int err = layout->header.Decode(data, n);
  if (err) return err;
  const DatHeader& h = layout->header;
  Reader r(data, n);
  const unsigned char* p = nullptr;
  r.Take(kHeaderSize, &p);
  for (uint16_t i = 0; i < h.fieldCount; ++i) {
    if (!r.Take(kFieldDescSize, &p)) return kErrInvalidDataFile;
    FieldDesc f;
    f.type = p[0];
    f.name = GetText(p + 1, 16);
    f.offset = Get16(p + 17);
    f.length = Get16(p + 19);
    f.digits = p[21];
    f.places = p[22];
    f.array = Get16(p + 23);
    f.picture = Get16(p + 25);
    layout->fields.push_back(f);
  }
  for (uint8_t i = 0; i < h.keyCount; ++i) {
    if (!r.Take(kKeyDescBaseSize, &p)) return kErrInvalidDataFile;
    KeyDesc k;
    uint8_t count = p[0];
    k.name = GetText(p + 1, 16);
    k.flags = p[17];
    k.length = p[18];
    for (uint8_t c = 0; c < count; ++c) {
      if (!r.Take(kKeyComponentSize, &p)) return kErrInvalidDataFile;
      KeyComponentDesc kc;
      kc.type = p[0];
      kc.field = Get16(p + 1);
      kc.offset = Get16(p + 3);
      kc.length = p[5];
      k.components.push_back(kc);
      k.descending.push_back(false);
    }
    layout->keys.push_back(k);
  }
  for (uint16_t i = 0; i < h.pictureCount; ++i) {
    if (!r.Take(4, &p)) return kErrInvalidDataFile;
    uint32_t len = Get32(p);
    if (len == 0 || !r.Take(len, &p)) return kErrInvalidDataFile;
    // The text ends at its NUL; a picture without one is taken whole.
    const unsigned char* end = static_cast<const unsigned char*>(std::memchr(p, 0, len));
    layout->pictures.emplace_back(reinterpret_cast<const char*>(p),
                                  end ? static_cast<size_t>(end - p) : len);
  }
  for (uint16_t i = 0; i < h.arrayCount; ++i) {
    if (!r.Take(6, &p)) return kErrInvalidDataFile;
    ArrayDesc a;
    uint16_t dims = Get16(p);
    a.total = Get16(p + 2);
    a.elementSize = Get16(p + 4);
    if (dims > kMaxArrayDims) return kErrInvalidDataFile;
    for (uint16_t d = 0; d < dims; ++d) {
      if (!r.Take(4, &p)) return kErrInvalidDataFile;
      a.sizes.push_back(Get16(p));
      a.steps.push_back(Get16(p + 2));
    }
    layout->arrays.push_back(a);
  }
  if (h.dataOffset < r.pos()) return kErrInvalidDataFile;
  if (h.recordLength < kRecordPrefixSize) return kErrInvalidDataFile;
  return 0;
}

Code ReadLayout(DatStream& stream, DatLayout* layout) {
  unsigned char head[kHeaderSize];
  int err = stream.Read(0, head, kHeaderSize, kErrInvalidDataFile);
  if (err) return err == kErrReadFault ? kErrInvalidDataFile : err;
  DatHeader h;
  err = h.Decode(head, kHeaderSize);
  if (err) return err;
  // The descriptions end at the data offset, which must lie inside the file.
  uint64_t size = stream.Size();
  if (h.dataOffset < kHeaderSize || h.dataOffset > size) return kErrInvalidDataFile;
  std::vector<unsigned char> front(h.dataOffset);
  err = stream.Read(0, front.data(), front.size(), kErrInvalidDataFile);
  if (err) return err == kErrReadFault ? kErrInvalidDataFile : err;
  return DecodeLayout(front.data(), front.size(), layout);
}

Code CompareLayouts(const DatLayout& disk, const DatLayout& declared) {
  const DatHeader& a = disk.header;
  const DatHeader& b = declared.header;
  constexpr uint16_t kCompared = kAttrMemo | kAttrOwned | kAttrEncrypted;
  if (a.recordLength != b.recordLength || (a.attributes & kCompared) != (b.attributes & kCompared) ||
      a.memoLength != b.memoLength || a.keyCount != b.keyCount ||
      a.fieldCount != b.fieldCount || a.arrayCount != b.arrayCount ||
      disk.fields.size() != declared.fields.size() || disk.keys.size() != declared.keys.size())
    return kErrInvalidRecordDeclaration;
  for (size_t i = 0; i < disk.fields.size(); ++i)
    if (!EqualNoCase(disk.fields[i].name, declared.fields[i].name))
      return kErrInvalidRecordDeclaration;
  for (size_t i = 0; i < disk.keys.size(); ++i) {
    const KeyDesc& x = disk.keys[i];
    const KeyDesc& y = declared.keys[i];
    if (!EqualNoCase(x.name, y.name) || x.flags != y.flags || x.length != y.length ||
        x.components.size() != y.components.size())
      return kErrInvalidRecordDeclaration;
    for (size_t c = 0; c < x.components.size(); ++c) {
      const KeyComponentDesc& p = x.components[c];
      const KeyComponentDesc& q = y.components[c];
      if (p.type != q.type || p.field != q.field || p.offset != q.offset || p.length != q.length)
        return kErrInvalidRecordDeclaration;
    }
  }
  return 0;
}

}  // namespace korawin::storage::dat
