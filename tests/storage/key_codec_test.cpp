// Key layouts and the byte-comparable encoding of key values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "storage/dat/key_codec.h"

namespace korawin::storage::dat {
namespace {

FieldDescriptor Field(uint8_t type, uint32_t offset, uint32_t size, const char* label) {
  FieldDescriptor f;
  f.type = type;
  f.offset = offset;
  f.size = size;
  f.label = label;
  return f;
}

// A file with one field of the given type at offset 0 and one key over it.
struct OneFieldFile {
  FileDescriptor file;
  std::vector<char> record;
  KeyLayout layout;
  OneFieldFile(uint8_t type, uint32_t size, uint32_t attributes = 0, int component = 1) {
    file.fields.push_back(Field(type, 0, size, "T:F"));
    file.recordSize = size;
    file.keys.push_back(KeyDescriptor{"", "T:K", attributes, {component}});
    record.assign(size, 0);
    file.record = record.data();
  }
  std::string Encode(const void* value) {
    std::memcpy(record.data(), value, record.size());
    return layout.Encode(record.data());
  }
};

std::string Hex(const std::string& s) {
  static const char* d = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (!out.empty()) out += ' ';
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

TEST(KeyLayoutTest, LengthsAndLimits) {
  OneFieldFile s60(kTypeString, 60);
  ASSERT_EQ(s60.layout.Init(s60.file, 0), 0);
  EXPECT_EQ(s60.layout.entry_length(), 64u);
  EXPECT_EQ(s60.layout.entries_per_page(), 7u);
  EXPECT_EQ(s60.layout.header_flags(), kKeyFlagNotOpt);

  OneFieldFile s245(kTypeString, 245);
  EXPECT_EQ(s245.layout.Init(s245.file, 0), 0);
  EXPECT_EQ(s245.layout.entries_per_page(), 2u);

  // Two components adding up to 246 bytes.
  FileDescriptor wide;
  wide.fields.push_back(Field(kTypeString, 0, 200, "W:A"));
  wide.fields.push_back(Field(kTypeString, 200, 46, "W:B"));
  wide.keys.push_back(KeyDescriptor{"", "W:K", 0, {1, 2}});
  KeyLayout layout;
  EXPECT_EQ(layout.Init(wide, 0), kErrInvalidKeyLength);
  wide.keys[0].components = {1, 3};
  EXPECT_EQ(layout.Init(wide, 0), kErrInvalidFieldType);

  OneFieldFile memo(kTypeMemo, 10);
  EXPECT_EQ(memo.layout.Init(memo.file, 0), kErrUnsupportedDataType);

  OneFieldFile flags(kTypeString, 10, kKeyDup | kKeyOpt | kKeyNoCase | kKeyIndex);
  ASSERT_EQ(flags.layout.Init(flags.file, 0), 0);
  EXPECT_EQ(flags.layout.header_flags(), kKeyFlagDup | kKeyFlagNoCase | kKeyFlagIndex);
  EXPECT_TRUE(flags.layout.opt());
}

TEST(KeyLayoutTest, NumbersEncodeInSortOrder) {
  OneFieldFile sh(kTypeShort, 2);
  ASSERT_EQ(sh.layout.Init(sh.file, 0), 0);
  int16_t m1 = -1, z = 0, p1 = 1;
  EXPECT_EQ(Hex(sh.Encode(&m1)), "7F FF");
  EXPECT_EQ(Hex(sh.Encode(&z)), "80 00");
  EXPECT_EQ(Hex(sh.Encode(&p1)), "80 01");

  OneFieldFile lg(kTypeLong, 4);
  ASSERT_EQ(lg.layout.Init(lg.file, 0), 0);
  std::vector<int32_t> longs = {INT32_MIN, -70000, -1, 0, 1, 255, 256, 70000, INT32_MAX};
  for (size_t i = 1; i < longs.size(); ++i)
    EXPECT_LT(lg.Encode(&longs[i - 1]), lg.Encode(&longs[i])) << longs[i];

  OneFieldFile re(kTypeReal, 8);
  ASSERT_EQ(re.layout.Init(re.file, 0), 0);
  std::vector<double> reals = {-1e300, -2.5, -1.0, -1e-300, 0.0, 1e-300, 0.5, 1.0, 3e10, 1e300};
  for (size_t i = 1; i < reals.size(); ++i)
    EXPECT_LT(re.Encode(&reals[i - 1]), re.Encode(&reals[i])) << reals[i];

  OneFieldFile by(kTypeByte, 1);
  ASSERT_EQ(by.layout.Init(by.file, 0), 0);
  unsigned char b200 = 200, b7 = 7;
  EXPECT_LT(by.Encode(&b7), by.Encode(&b200));

  // Packed decimals, sign in the high bit of the first byte: -12.5 < -1.0 < 0 < 1.0 < 12.5.
  OneFieldFile de(kTypeDecimal, 3);
  ASSERT_EQ(de.layout.Init(de.file, 0), 0);
  unsigned char dm125[3] = {0x80, 0x12, 0x50}, dm1[3] = {0x80, 0x01, 0x00},
                d0[3] = {0, 0, 0}, d1[3] = {0x00, 0x01, 0x00}, d125[3] = {0x00, 0x12, 0x50};
  EXPECT_LT(de.Encode(dm125), de.Encode(dm1));
  EXPECT_LT(de.Encode(dm1), de.Encode(d0));
  EXPECT_LT(de.Encode(d0), de.Encode(d1));
  EXPECT_LT(de.Encode(d1), de.Encode(d125));
}

TEST(KeyLayoutTest, DescendingComponentReversesOrder) {
  OneFieldFile up(kTypeLong, 4), down(kTypeLong, 4, 0, -1);
  ASSERT_EQ(up.layout.Init(up.file, 0), 0);
  ASSERT_EQ(down.layout.Init(down.file, 0), 0);
  int32_t a = -5, b = 3;
  EXPECT_LT(up.Encode(&a), up.Encode(&b));
  EXPECT_GT(down.Encode(&a), down.Encode(&b));
  OneFieldFile s(kTypeString, 3, 0, -1);
  ASSERT_EQ(s.layout.Init(s.file, 0), 0);
  EXPECT_GT(s.Encode("ABC"), s.Encode("ABD"));
}

TEST(KeyLayoutTest, TextCaseAndCodePages) {
  OneFieldFile plain(kTypeString, 3), nocase(kTypeString, 3, kKeyNoCase);
  Collation identity;
  ASSERT_EQ(plain.layout.Init(plain.file, 0, &identity), 0);
  ASSERT_EQ(nocase.layout.Init(nocase.file, 0, &identity), 0);
  EXPECT_NE(plain.Encode("abc"), plain.Encode("ABC"));
  EXPECT_EQ(nocase.Encode("abc"), nocase.Encode("ABC"));
  // Without an environment file Cyrillic sorts by code and NOCASE leaves it alone:
  // upper-case А (C0) before lower-case а (E0), Ё (A8) before both.
  const char kUpperA[] = "\xC0  ", kLowerA[] = "\xE0  ", kYo[] = "\xA8  ";
  EXPECT_NE(nocase.Encode(kLowerA), nocase.Encode(kUpperA));
  EXPECT_LT(plain.Encode(kUpperA), plain.Encode(kLowerA));
  EXPECT_LT(plain.Encode(kYo), plain.Encode(kUpperA));

  // An OEM-coded file weighs its text after conversion to code page 866 (А is 0x80 there).
  OneFieldFile oem(kTypeString, 3);
  oem.file.attributes = kFileOem;
  ASSERT_EQ(oem.layout.Init(oem.file, 0, &identity), 0);
  EXPECT_EQ(Hex(oem.Encode(kUpperA)), "80 20 20");
}

TEST(KeyLayoutTest, BlankRecordsForOptKeys) {
  FileDescriptor f;
  f.fields.push_back(Field(kTypeString, 0, 4, "B:S"));
  f.fields.push_back(Field(kTypeLong, 4, 4, "B:L"));
  f.fields.push_back(Field(kTypeReal, 8, 8, "B:R"));
  f.keys.push_back(KeyDescriptor{"", "B:K", kKeyOpt, {1, 2, 3}});
  KeyLayout layout;
  ASSERT_EQ(layout.Init(f, 0), 0);
  char rec[16];
  std::memset(rec, 0, sizeof rec);
  std::memcpy(rec, "    ", 4);
  double negZero = -0.0;
  std::memcpy(rec + 8, &negZero, 8);
  EXPECT_TRUE(layout.IsBlank(rec));
  rec[2] = 'x';
  EXPECT_FALSE(layout.IsBlank(rec));
  rec[2] = ' ';
  rec[5] = 1;
  EXPECT_FALSE(layout.IsBlank(rec));
  rec[5] = 0;
  double one = 1.0;
  std::memcpy(rec + 8, &one, 8);
  EXPECT_FALSE(layout.IsBlank(rec));
}

TEST(KeyLayoutTest, DescribeForReports) {
  FileDescriptor f;
  f.fields.push_back(Field(kTypeString, 0, 6, "D:S"));
  f.fields.push_back(Field(kTypeLong, 6, 4, "D:L"));
  f.fields.push_back(Field(kTypeDecimal, 10, 3, "D:D"));
  f.fields.back().decimalPlaces = 2;
  f.keys.push_back(KeyDescriptor{"", "D:K", 0, {1, 2, 3}});
  KeyLayout layout;
  ASSERT_EQ(layout.Init(f, 0), 0);
  char rec[13];
  std::memcpy(rec, "abc   ", 6);
  int32_t n = -42;
  std::memcpy(rec + 6, &n, 4);
  const unsigned char dec[3] = {0x80, 0x12, 0x50};
  std::memcpy(rec + 10, dec, 3);
  EXPECT_EQ(layout.Describe(rec), "abc, -42, -12.50");
}

TEST(KeyFileNameTest, BaseThirtySixNumbers) {
  EXPECT_EQ(KeyFileName("/d/SLOVO.DAT", 1, false), "/d/SLOVO.K01");
  EXPECT_EQ(KeyFileName("/d/SLOVO.DAT", 10, false), "/d/SLOVO.K0A");
  EXPECT_EQ(KeyFileName("/d/SLOVO.DAT", 36, false), "/d/SLOVO.K10");
  EXPECT_EQ(KeyFileName("/d/SLOVO.DAT", 3, true), "/d/SLOVO.I03");
  EXPECT_EQ(KeyFileName("abc", 2, false), "abc.K02");
}

}  // namespace
}  // namespace korawin::storage::dat
