#include "storage/dat/key_codec.h"

#include <cstdio>
#include <cstring>

#include "platform/paths.h"

namespace korawin::storage::dat {

Code KeyLayout::Init(const FileDescriptor& file, size_t keyIndex, const Collation* collation) {
  parts_.clear();
  shape_ = KeyShape();
  collation_ = collation ? collation : &ActiveCollation();
  oem_ = file.attributes & kFileOem;
  if (keyIndex >= file.keys.size()) return kErrInvalidKeyFile;
  const KeyDescriptor& key = file.keys[keyIndex];
  if (key.components.empty() || key.components.size() > 255) return kErrInvalidKeyLength;
  uint32_t total = 0;
  for (int32_t number : key.components) {
    uint32_t n = static_cast<uint32_t>(number < 0 ? -static_cast<int64_t>(number) : number);
    if (n == 0 || n > file.fields.size()) return kErrInvalidFieldType;
    const FieldDescriptor& f = file.fields[n - 1];
    switch (f.type) {
      case kTypeByte: case kTypeShort: case kTypeLong: case kTypeReal: case kTypeDecimal:
      case kTypeString: case kTypeGroup:
        break;
      default:
        return kErrUnsupportedDataType;
    }
    KeyPart part;
    part.type = f.type;
    part.offset = f.offset;
    part.length = f.ElementSize();
    part.descending = number < 0;
    part.decimalPlaces = f.decimalPlaces;
    part.label = f.label;
    uint32_t natural = f.type == kTypeByte ? 1 : f.type == kTypeShort ? 2
                     : f.type == kTypeLong ? 4 : f.type == kTypeReal ? 8 : 0;
    if (natural && part.length != natural) return kErrInvalidFieldType;
    total += part.length;
    parts_.push_back(std::move(part));
  }
  if (total == 0 || total > kMaxKeyLength) return kErrInvalidKeyLength;
  shape_.keyLength = total;
  shape_.componentCount = static_cast<uint8_t>(parts_.size());
  uint8_t flags = 0;
  if (key.attributes & kKeyDup) flags |= kKeyFlagDup;
  if (key.attributes & kKeyNoCase) flags |= kKeyFlagNoCase;
  if (!(key.attributes & kKeyOpt)) flags |= kKeyFlagNotOpt;
  if (key.attributes & kKeyIndex) flags |= kKeyFlagIndex;
  shape_.flags = flags;
  return 0;
}

void KeyLayout::Encode(const char* record, unsigned char* out) const {
  for (const KeyPart& p : parts_) {
    const auto* b = reinterpret_cast<const unsigned char*>(record + p.offset);
    switch (p.type) {
      case kTypeByte:
        out[0] = b[0];
        break;
      case kTypeShort:
        out[0] = b[1] ^ 0x80;
        out[1] = b[0];
        break;
      case kTypeLong:
        out[0] = b[3] ^ 0x80;
        out[1] = b[2];
        out[2] = b[1];
        out[3] = b[0];
        break;
      case kTypeReal:
        for (int i = 0; i < 8; ++i) out[i] = b[7 - i];
        if (out[0] & 0x80) {
          for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(~out[i]);
        } else {
          out[0] ^= 0x80;
        }
        break;
      case kTypeDecimal:
        if (b[0] & 0x80) {
          for (uint32_t i = 0; i < p.length; ++i) out[i] = static_cast<unsigned char>(~b[i]);
        } else {
          std::memcpy(out, b, p.length);
          out[0] |= 0x80;
        }
        break;
      default:  // STRING, GROUP
        collation_->Translate(b, p.length, nocase(), oem_, out);
        break;
    }
    // Descending components sort by the inverted bytes of their ascending form.
    if (p.descending)
      for (uint32_t i = 0; i < p.length; ++i) out[i] = static_cast<unsigned char>(~out[i]);
    out += p.length;
  }
}

std::string KeyLayout::Encode(const char* record) const {
  std::string value(shape_.keyLength, '\0');
  Encode(record, reinterpret_cast<unsigned char*>(value.data()));
  return value;
}

bool KeyLayout::IsBlank(const char* record) const {
  for (const KeyPart& p : parts_) {
    const char* b = record + p.offset;
    if (p.type == kTypeString || p.type == kTypeGroup) {
      for (uint32_t i = 0; i < p.length; ++i)
        if (b[i] != ' ') return false;
    } else if (p.type == kTypeReal) {
      double d;
      std::memcpy(&d, b, sizeof d);
      if (d != 0.0) return false;
    } else {
      for (uint32_t i = 0; i < p.length; ++i)
        if (b[i] != 0) return false;
    }
  }
  return true;
}

std::string KeyLayout::Describe(const char* record) const {
  std::string text;
  for (const KeyPart& p : parts_) {
    if (!text.empty()) text += ", ";
    const auto* b = reinterpret_cast<const unsigned char*>(record + p.offset);
    char buf[64];
    switch (p.type) {
      case kTypeByte:
        text += std::to_string(b[0]);
        break;
      case kTypeShort: {
        int16_t v;
        std::memcpy(&v, b, 2);
        text += std::to_string(v);
        break;
      }
      case kTypeLong: {
        int32_t v;
        std::memcpy(&v, b, 4);
        text += std::to_string(v);
        break;
      }
      case kTypeReal: {
        double d;
        std::memcpy(&d, b, 8);
        std::snprintf(buf, sizeof buf, "%.15g", d);
        text += buf;
        break;
      }
      case kTypeDecimal: {
        // Packed digits: the first byte's low nibble, then two per byte; the sign bit first.
        std::string digits;
        for (uint32_t i = 0; i < p.length; ++i) {
          if (i > 0) digits += static_cast<char>('0' + ((b[i] >> 4) % 10));
          digits += static_cast<char>('0' + ((b[i] & 0x0F) % 10));
        }
        size_t places = p.decimalPlaces < digits.size() ? p.decimalPlaces : 0;
        if (places) digits.insert(digits.size() - places, 1, '.');
        size_t lead = 0;
        while (lead + 1 < digits.size() && digits[lead] == '0' && digits[lead + 1] != '.') ++lead;
        if (b[0] & 0x80) text += '-';
        text.append(digits, lead);
        break;
      }
      default: {
        size_t n = p.length;
        while (n > 0 && (b[n - 1] == ' ' || b[n - 1] == '\0')) --n;
        text.append(reinterpret_cast<const char*>(b), n);
        break;
      }
    }
  }
  return text;
}

std::string KeyFileName(const std::string& dataPath, int keyNumber, bool index) {
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  unsigned n = static_cast<unsigned>(keyNumber) % (36 * 36);
  std::string ext = index ? ".I" : ".K";
  ext += kDigits[n / 36];
  ext += kDigits[n % 36];
  return platform::ReplaceExtension(dataPath, ext);
}

}  // namespace korawin::storage::dat
