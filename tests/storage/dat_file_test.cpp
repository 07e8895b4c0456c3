// Record operations of the DAT data file, header layout and malformed files.
#include <thread>

#include "platform/codepage.h"
#include "storage/dat/dat_check.h"
#include "tests/storage/dat_test_util.h"

namespace korawin::storage::dat {
namespace {

using testing::People;
using testing::TempDir;

constexpr uint32_t kDataOffset = 85 + 3 * 27 + 19 + 6;
constexpr uint32_t kRecordLength = 30;

TEST(DatHeaderLayout, NewFileHeaderAndDescriptionsAreLaidOutAsStored) {
  TempDir dir;
  People p(dir.File("people"));
  ASSERT_EQ(0, p.Call(kOpCreate));
  std::string bytes = testing::ReadAll(dir.File("people.DAT"));
  ASSERT_EQ(kDataOffset, bytes.size());
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  EXPECT_EQ(0x43, b[0]);
  EXPECT_EQ(0x33, b[1]);
  EXPECT_EQ(0x00A0, Get16(b + 2));  // always-set bit + RECLAIM
  EXPECT_EQ(1, b[4]);               // key count
  EXPECT_EQ(0u, Get32(b + 5));      // records
  EXPECT_EQ(0u, Get32(b + 9));      // deleted
  EXPECT_EQ(3, Get16(b + 13));
  EXPECT_EQ(kRecordLength, Get16(b + 19));
  EXPECT_EQ(kDataOffset, Get32(b + 21));
  EXPECT_EQ(0u, Get32(b + 33));
  EXPECT_EQ(std::string(12, ' '), bytes.substr(37, 12));
  EXPECT_EQ(std::string("PEO", 3), bytes.substr(61, 3));
  EXPECT_EQ(std::string("PEO", 3), bytes.substr(64, 3));
  EXPECT_GT(Get32(b + 79), 40000u);  // a change date was written
  // Second field description: STRING, name, offset 4, length 20.
  const unsigned char* f = b + 85 + 27;
  EXPECT_EQ(kStoredString, f[0]);
  EXPECT_EQ("PEO:NAME        ", bytes.substr(85 + 27 + 1, 16));
  EXPECT_EQ(4, Get16(f + 17));
  EXPECT_EQ(20, Get16(f + 19));
  // Key description: one component, required, length 4, field 1 of type LONG at 0.
  const unsigned char* k = b + 85 + 81;
  EXPECT_EQ(1, k[0]);
  EXPECT_EQ("PEO:BY_ID       ", bytes.substr(85 + 81 + 1, 16));
  EXPECT_EQ(kKeyFlagRequired, k[17]);
  EXPECT_EQ(4, k[18]);
  EXPECT_EQ(kStoredLong, k[19]);
  EXPECT_EQ(1, Get16(k + 20));
}

TEST(DatHeaderLayout, PicturesArraysAndLongPrefixes) {
  FileDescriptor fd;
  fd.recordSize = 46;
  FieldDescriptor a;
  a.type = kTypeString;
  a.size = 10;
  a.label = "LONGPREFIX:FIRSTNAME_TOO_LONG";
  a.picture = "@s10";
  FieldDescriptor b = a;
  b.offset = 10;
  b.label = "LP:B";
  FieldDescriptor arr;
  arr.type = kTypeLong;
  arr.offset = 20;
  arr.size = 24;
  arr.elements = 6;
  arr.dims = {2, 3};
  arr.label = "LP:ARR";
  FieldDescriptor skipped;
  skipped.type = kTypeShort;
  skipped.offset = 44;
  skipped.size = 2;
  skipped.notStored = true;
  fd.fields = {a, b, arr, skipped};
  DatLayout layout;
  ASSERT_EQ(0, LayoutFromDeclaration(fd, &layout));
  EXPECT_EQ(3, layout.header.fieldCount);  // the unstored field is left out
  ASSERT_EQ(1u, layout.pictures.size());   // one picture shared by both fields
  EXPECT_EQ(1, layout.fields[1].picture);
  EXPECT_EQ(kStoredPictureString, layout.fields[0].type);
  EXPECT_EQ("LON:FIRSTNAME_TO", layout.fields[0].name);
  ASSERT_EQ(1u, layout.arrays.size());
  EXPECT_EQ(1, layout.fields[2].array);
  EXPECT_EQ(4, layout.fields[2].length);
  EXPECT_EQ(3, layout.arrays[0].steps[0]);
  EXPECT_EQ(1, layout.arrays[0].steps[1]);
  EXPECT_EQ(85u + 3 * 27 + (4 + 5) + (6 + 8), layout.header.dataOffset);
  // Encoding and decoding agree.
  unsigned char head[kHeaderSize];
  layout.header.Encode(head);
  std::string all(reinterpret_cast<char*>(head), kHeaderSize);
  all += layout.EncodeDescriptions();
  DatLayout back;
  ASSERT_EQ(0, DecodeLayout(reinterpret_cast<const unsigned char*>(all.data()), all.size(), &back));
  EXPECT_EQ("@s10", back.pictures[0]);
  EXPECT_EQ(2u, back.arrays[0].sizes.size());
  EXPECT_EQ(0, CompareLayouts(back, layout));

  fd.fields[2].dims = {1, 1, 2, 3, 1};
  EXPECT_EQ(kErrInvalidFieldType, LayoutFromDeclaration(fd, &layout));
}

TEST(DatHeaderLayout, MalformedFrontsAreRefusedWithoutReadingPastTheBytes) {
  TempDir dir;
  People p(dir.File("people"));
  ASSERT_EQ(0, p.Call(kOpCreate));
  std::string good = testing::ReadAll(dir.File("people.DAT"));
  auto decode = [](std::string bytes) {
    DatLayout l;
    return DecodeLayout(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &l);
  };
  EXPECT_EQ(0, decode(good));
  for (size_t cut : {size_t{0}, size_t{40}, size_t{84}, size_t{100}, good.size() - 1})
    EXPECT_EQ(kErrInvalidDataFile, decode(good.substr(0, cut))) << cut;
  std::string bad = good;
  bad[1] = 0x34;
  EXPECT_EQ(kErrInvalidDataFile, decode(bad));
  bad = good;
  bad[13] = static_cast<char>(0xFF);  // 255 fields
  EXPECT_EQ(kErrInvalidDataFile, decode(bad));
  bad = good;
  bad[15] = 1;  // a picture that is not there: its length is read from the key bytes
  bad += std::string("\xFF\xFF\xFF\x7F", 4);
  EXPECT_EQ(kErrInvalidDataFile, decode(bad));
}

class DatFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, p_.Call(kOpCreate));
    ASSERT_EQ(0, p_.Call(kOpOpen, 0, "", 0x12));
  }
  void AddMany(int n) {
    for (int i = 1; i <= n; ++i) ASSERT_EQ(0, p_.AddNamed(i, "name" + std::to_string(i)));
  }
  std::string Data() { return testing::ReadAll(dir_.File("people.DAT")); }

  TempDir dir_;
  People p_{dir_.File("people")};
};

TEST_F(DatFileTest, ReclaimReusesTheDeletedChainLastDeletedFirst) {
  AddMany(6);
  ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 3));
  ASSERT_EQ(0, p_.Call(kOpDelete));
  ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 5));
  ASSERT_EQ(0, p_.Call(kOpDelete));
  std::string d = Data();
  EXPECT_EQ(5u, testing::Read32(d, 33));
  EXPECT_EQ(2u, testing::Read32(d, 9));
  EXPECT_EQ(3u, testing::Read32(d, kDataOffset + 4 * kRecordLength + 1));  // 5 -> 3
  EXPECT_EQ(0u, testing::Read32(d, kDataOffset + 2 * kRecordLength + 1));  // 3 -> end
  EXPECT_EQ(kStatusNew | kStatusDeleted, d[kDataOffset + 2 * kRecordLength]);
  EXPECT_EQ(4, p_.Value(kOpRecordsFile));

  ASSERT_EQ(0, p_.AddNamed(70, "seventy"));
  EXPECT_EQ(5, p_.Value(kOpPointerFile));
  ASSERT_EQ(0, p_.AddNamed(80, "eighty"));
  EXPECT_EQ(3, p_.Value(kOpPointerFile));
  ASSERT_EQ(0, p_.AddNamed(90, "ninety"));
  EXPECT_EQ(7, p_.Value(kOpPointerFile));
  d = Data();
  EXPECT_EQ(0u, testing::Read32(d, 33));
  EXPECT_EQ(0u, testing::Read32(d, 9));
  EXPECT_EQ(7u, testing::Read32(d, 5));
  ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 3));
  EXPECT_EQ(80, p_.Id());
  EXPECT_EQ("eighty", p_.Name());
}

TEST(DatFileNoReclaim, AddAlwaysAppendsAndRecordsCountsLiveOnes) {
  TempDir dir;
  People p(dir.File("plain.dat"), kFileCreate);
  ASSERT_EQ(0, p.Call(kOpCreate));
  ASSERT_EQ(0, p.Call(kOpOpen, 0, "", 0x22));
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(0, p.AddNamed(i, "x"));
  ASSERT_EQ(0, p.Call(kOpGetFilePtr, 2));
  ASSERT_EQ(0, p.Call(kOpDelete));
  ASSERT_EQ(0, p.AddNamed(4, "y"));
  EXPECT_EQ(4, p.Value(kOpPointerFile));
  EXPECT_EQ(3, p.Value(kOpRecordsFile));
}

TEST_F(DatFileTest, GetByNumberRefusesOutOfRangeAndDeletedRecords) {
  AddMany(3);
  EXPECT_EQ(kErrRecordNotFound, p_.Call(kOpGetFilePtr, 0));
  EXPECT_EQ(kErrRecordNotFound, p_.Call(kOpGetFilePtr, 4));
  EXPECT_EQ(kErrRecordNotFound, p_.Call(kOpGetFilePtr, -1));
  EXPECT_EQ(0, p_.Value(kOpPointerFile));  // a failed read leaves no current record
  EXPECT_EQ(kErrRecordNotAvailable, p_.Call(kOpPut));
  ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 2));
  ASSERT_EQ(0, p_.Call(kOpDelete));
  EXPECT_EQ(kErrRecordNotAvailable, p_.Call(kOpDelete));  // no current record after DELETE
  EXPECT_EQ(kErrRecordNotFound, p_.Call(kOpGetFilePtr, 2));
  // With IGNORESTATUS the deleted record reads, and DELETED tells what it is.
  EXPECT_EQ("ON", p_.Send("IGNORESTATUS=ON"));
  ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 2));
  EXPECT_EQ(2, p_.Id());
  EXPECT_EQ("ON", p_.Send("DELETED"));
  EXPECT_EQ("OFF", p_.Send("HELD"));
  EXPECT_EQ("OFF", p_.Send("ignorestatus=OFF"));
  // A file whose records are all deleted finds nothing.
  for (int n : {1, 3}) {
    ASSERT_EQ(0, p_.Call(kOpGetFilePtr, n));
    ASSERT_EQ(0, p_.Call(kOpDelete));
  }
  EXPECT_EQ(kErrRecordNotFound, p_.Call(kOpGetFilePtr, 1));
  int code = 0;
  p_.Send("DELETED", &code);
  EXPECT_EQ(kErrRecordNotAvailable, code);
}

TEST_F(DatFileTest, RecordOrderWalksBothWaysPassingDeletedRecords) {
  AddMany(5);
  for (int n : {1, 3, 5}) {
    ASSERT_EQ(0, p_.Call(kOpGetFilePtr, n));
    ASSERT_EQ(0, p_.Call(kOpDelete));
  }
  ASSERT_EQ(0, p_.Call(kOpSetFile));
  std::vector<int> seen;
  while (p_.Call(kOpNext) == 0) seen.push_back(p_.Id());
  EXPECT_EQ((std::vector<int>{2, 4}), seen);
  EXPECT_EQ(kErrRecordNotAvailable, ErrorCode());
  ASSERT_EQ(0, p_.Call(kOpSetFile));
  seen.clear();
  while (p_.Call(kOpPrevious) == 0) seen.push_back(p_.Id());
  EXPECT_EQ((std::vector<int>{4, 2}), seen);

  // SET to a record number, then NEXT reads that record; POSITION/RESET come back to it.
  ASSERT_EQ(0, p_.Call(kOpSetFilePtr, 4));
  ASSERT_EQ(0, p_.Call(kOpNext));
  EXPECT_EQ(4, p_.Id());
  DriverArgs pos;
  ASSERT_EQ(0, CallDriver(kOpPositionFile, p_.file(), pos));
  EXPECT_EQ(kErrRecordNotAvailable, p_.Call(kOpNext));
  ASSERT_EQ(0, p_.Call(kOpResetFile, 0, pos.result));
  ASSERT_EQ(0, p_.Call(kOpPrevious));
  EXPECT_EQ(4, p_.Id());
  ASSERT_EQ(0, p_.Call(kOpPrevious));
  EXPECT_EQ(2, p_.Id());
  ASSERT_EQ(0, p_.Call(kOpRegetFile, 0, pos.result));
  EXPECT_EQ(4, p_.Id());
  EXPECT_EQ(kErrInvalidParameters, p_.Call(kOpResetFile, 0, "xy"));
}

TEST_F(DatFileTest, PutRewritesInPlaceAndMarksTheRecordRevised) {
  AddMany(2);
  ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 1));
  p_.Set(11, "changed", 7);
  ASSERT_EQ(0, p_.Call(kOpPut));
  std::string d = Data();
  EXPECT_EQ(kStatusNew | kStatusRevised, d[kDataOffset]);
  EXPECT_EQ("changed", d.substr(kDataOffset + 5 + 4, 7));
  ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 2));
  ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 1));
  EXPECT_EQ(11, p_.Id());
  EXPECT_EQ(2, p_.Value(kOpRecordsFile));
}

TEST_F(DatFileTest, EmptyCutsTheFileAndForgetsTheChain) {
  AddMany(4);
  ASSERT_EQ(0, p_.Call(kOpGetFilePtr, 2));
  ASSERT_EQ(0, p_.Call(kOpDelete));
  ASSERT_EQ(0, p_.Call(kOpEmpty));
  std::string d = Data();
  EXPECT_EQ(kDataOffset, d.size());
  EXPECT_EQ(0u, testing::Read32(d, 5));
  EXPECT_EQ(0u, testing::Read32(d, 33));
  EXPECT_EQ(0, p_.Value(kOpRecordsFile));
  ASSERT_EQ(0, p_.AddNamed(1, "again"));
  EXPECT_EQ(1, p_.Value(kOpPointerFile));
}

TEST(DatFileOem, TextFieldsAreStoredInTheOemCodePage) {
  TempDir dir;
  People p(dir.File("oem"), kFileCreate | kFileOem);
  ASSERT_EQ(0, p.Call(kOpCreate));
  ASSERT_EQ(0, p.Call(kOpOpen));
  const std::string word = *platform::Utf8ToCp1251("Слово");
  p.Set(300, word);
  ASSERT_EQ(0, p.Call(kOpAdd));
  std::string d = testing::ReadAll(dir.File("oem.DAT"));
  std::string stored = d.substr(kDataOffset + 5 + 4, word.size());
  std::string expected = word;
  platform::AnsiToOemInPlace(expected.data(), expected.size());
  EXPECT_EQ(expected, stored);
  EXPECT_NE(word, stored);
  EXPECT_EQ(300, testing::Read32(d, kDataOffset + 5));  // numbers untouched
  p.Set(0, "");
  ASSERT_EQ(0, p.Call(kOpGetFilePtr, 1));
  EXPECT_EQ(word, p.Name());
}

TEST(DatFileOpen, DeclarationMismatchAndMalformedFilesGiveTheirCodes) {
  TempDir dir;
  People p(dir.File("people"));
  ASSERT_EQ(0, p.Call(kOpCreate));
  ASSERT_EQ(0, p.Call(kOpOpen));
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(0, p.AddNamed(i, "n"));
  ASSERT_EQ(0, p.Call(kOpClose));
  const std::string path = dir.File("people.DAT");
  const std::string good = testing::ReadAll(path);

  // Labels stored in another letter case still match; a different record size does not.
  {
    People lower(dir.File("PEOPLE.dat"));
    lower.fd->keys[0].label = "peo:by_id";
    lower.fd->fields[1].label = "Peo:Name";
    EXPECT_EQ(0, lower.Call(kOpOpen));
    ASSERT_EQ(0, lower.Call(kOpClose));
    People bigger(dir.File("people"));
    bigger.fd->recordSize = 26;
    bigger.record.resize(26);
    bigger.fd->record = bigger.record.data();
    EXPECT_EQ(kErrInvalidRecordDeclaration, bigger.Call(kOpOpen));
    People keyless(dir.File("people"));
    keyless.fd->keys.clear();
    EXPECT_EQ(kErrInvalidRecordDeclaration, keyless.Call(kOpOpen));
  }
  auto openWith = [&](const std::string& bytes) {
    testing::WriteAll(path, bytes);
    People q(dir.File("people"));
    int err = q.Call(kOpOpen);
    return err;
  };
  EXPECT_EQ(kErrInvalidDataFile, openWith(good.substr(0, 50)));
  EXPECT_EQ(kErrInvalidDataFile, openWith(good.substr(0, good.size() - 1)));  // count past end
  std::string bad = good;
  Put32(reinterpret_cast<unsigned char*>(bad.data()) + 5, 1000000);
  EXPECT_EQ(kErrInvalidDataFile, openWith(bad));
  bad = good;
  Put32(reinterpret_cast<unsigned char*>(bad.data()) + 21, 0xFFFFFFF0u);  // data offset
  EXPECT_EQ(kErrInvalidDataFile, openWith(bad));
  // A deleted chain that points at a live record, and one that loops.
  bad = good;
  auto* b = reinterpret_cast<unsigned char*>(bad.data());
  Put32(b + 33, 2);
  Put32(b + 9, 1);
  EXPECT_EQ(kErrInvalidDataFile, openWith(bad));
  b[kDataOffset + kRecordLength] |= kStatusDeleted;
  b[kDataOffset + 2 * kRecordLength] |= kStatusDeleted;
  Put32(b + kDataOffset + kRecordLength + 1, 3);
  Put32(b + kDataOffset + 2 * kRecordLength + 1, 2);
  Put32(b + 9, 2);
  std::string fault;
  {
    testing::WriteAll(path, bad);
    DatStream s;
    ASSERT_EQ(0, s.Open(path, 0x40));
    DatHeader h;
    ASSERT_EQ(0, h.Decode(b, kHeaderSize));
    EXPECT_EQ(kErrInvalidDataFile, CheckDeletedChain(s, h, &fault));
    EXPECT_NE(std::string::npos, fault.find("loops")) << fault;
  }
  EXPECT_EQ(kErrInvalidDataFile, openWith(bad));
  // Nothing was written to the refused file.
  EXPECT_EQ(bad, testing::ReadAll(path));

  People missing(dir.File("nothere"));
  EXPECT_EQ(kErrFileNotFound, missing.Call(kOpOpen));
  People unnamed("");
  EXPECT_EQ(kErrInvalidFilename, unnamed.Call(kOpOpen));
  EXPECT_EQ(kErrInvalidFilename, unnamed.Call(kOpShare));
}

TEST(DatFileCreate, WithoutTheCreateAttributeNothingIsCreated) {
  TempDir dir;
  People p(dir.File("nocreate"), kFileReclaim);
  EXPECT_EQ(kErrNoCreateAttribute, p.Call(kOpCreate));
  EXPECT_FALSE(testing::Exists(dir.File("nocreate.DAT")));
}

TEST(DatFileWholeFile, RenameCopyAndRemove) {
  TempDir dir;
  People p(dir.File("a"));
  ASSERT_EQ(0, p.Call(kOpCreate));
  ASSERT_EQ(0, p.Call(kOpOpen));
  ASSERT_EQ(0, p.AddNamed(1, "one"));
  EXPECT_EQ(kErrAccessDenied, p.Call(kOpRemove));  // still open
  ASSERT_EQ(0, p.Call(kOpClose));
  ASSERT_EQ(0, p.Call(kOpCopy, 0, dir.File("b")));
  EXPECT_EQ(testing::ReadAll(dir.File("a.DAT")), testing::ReadAll(dir.File("b.DAT")));
  ASSERT_EQ(0, p.Call(kOpRename, 0, dir.File("c.dat")));
  EXPECT_FALSE(testing::Exists(dir.File("a.DAT")));
  People c(dir.File("c.dat"));
  ASSERT_EQ(0, c.Call(kOpOpen));
  ASSERT_EQ(0, c.Call(kOpGetFilePtr, 1));
  EXPECT_EQ("one", c.Name());
  ASSERT_EQ(0, c.Call(kOpClose));
  ASSERT_EQ(0, c.Call(kOpRemove));
  EXPECT_FALSE(testing::Exists(dir.File("c.dat")));
  EXPECT_EQ(kErrFileNotFound, c.Call(kOpRemove));
}

TEST(DatDriver, RegistrationAndDispatch) {
  const DriverRegistration& r = VelmoraRegistration();
  EXPECT_STREQ("Velmora", r.name);
  EXPECT_EQ("Velmora 2.1 File Driver 1.0", r.banner);
  ASSERT_EQ(64u, r.operations.size());
  EXPECT_EQ(1, r.operations.front());
  EXPECT_EQ(58, r.operations.back());
  EXPECT_EQ(9u, r.fieldTypes.size());
  EXPECT_EQ(814u, r.keyAreaSize);

  TempDir dir;
  People p(dir.File("d"));
  ASSERT_EQ(0, p.Call(kOpCreate));
  std::string before = testing::ReadAll(dir.File("d.DAT"));
  EXPECT_EQ(kErrUnsupportedFunction, p.Call(kOpBlobSize));
  EXPECT_EQ(kErrUnsupportedFunction, p.Call(kOpAddFileLen));
  EXPECT_EQ(kErrUnsupportedFunction, ErrorCode());
  EXPECT_EQ("Unsupported File Driver Function", ErrorText());
  EXPECT_EQ(0, p.Call(kOpInView));
  EXPECT_EQ(0, p.Call(kOpEndView));
  EXPECT_EQ(before, testing::ReadAll(dir.File("d.DAT")));
  DriverArgs q;
  q.text = "peo:by_id";
  ASSERT_EQ(0, CallDriver(kOpQueryKey, p.file(), q));
  EXPECT_EQ(1, q.value);
  EXPECT_EQ(25, p.Value(kOpBytes));

  // The current error belongs to the thread that called.
  std::thread other([&] {
    People t(dir.File("d"));
    EXPECT_EQ(kErrFileNotOpen, t.Call(kOpPut));
    EXPECT_EQ(kErrFileNotOpen, ErrorCode());
  });
  other.join();
  EXPECT_EQ(0, ErrorCode());
}

TEST(DatDriver, OptionsBySendAndByTheDriverString) {
  TempDir dir;
  People p(dir.File("opts"));
  p.fd->driverString = "/RECOVER=7 /MAINTAINHEADERTIME=\"ON\"";
  ASSERT_EQ(0, p.Call(kOpCreate));
  ASSERT_EQ(0, p.Call(kOpShare, 0, "", 0x2));
  EXPECT_EQ("7", p.Send("recover"));
  EXPECT_EQ("ON", p.Send("MAINTAINHEADERTIME"));
  int code = 0;
  EXPECT_EQ("", p.Send("IGNORESTATUS=ON", &code));
  EXPECT_EQ(kErrExclusiveAccess, code);
  EXPECT_EQ("OFF", p.Send("IGNORESTATUS"));
  EXPECT_EQ("", p.Send("NOSUCHOPTION=1", &code));
  EXPECT_EQ(0, code);
  // MAINTAINHEADERTIME: a PUT rewrites the header's highest written record too.
  ASSERT_EQ(0, p.AddNamed(1, "a"));
  ASSERT_EQ(0, p.AddNamed(2, "b"));
  std::string d = testing::ReadAll(dir.File("opts.DAT"));
  Put32(reinterpret_cast<unsigned char*>(d.data()) + 79, 5);  // an old change date
  testing::WriteAll(dir.File("opts.DAT"), d);
  ASSERT_EQ(0, p.Call(kOpGetFilePtr, 1));
  ASSERT_EQ(0, p.Call(kOpPut));
  EXPECT_NE(5u, testing::Read32(testing::ReadAll(dir.File("opts.DAT")), 79));
}

TEST(DatDriver, TraceDescribesTheFileInDeclarationForm) {
  TempDir dir;
  People p(dir.File("t"));
  p.fd->driverString = "/RECOVER=1";
  p.fd->keys[0].attributes = kKeyDup | kKeyNoCase;
  p.fd->keys[0].components = {-2, 1};
  std::string text = DescribeFile(p.file());
  EXPECT_EQ(0u, text.find("FILE,DRIVER(Velmora,'/RECOVER=1'),NAME('" + dir.File("t") +
                          "'),CREATE,RECLAIM\n"));
  EXPECT_NE(std::string::npos, text.find("KEY(-PEO:NAME,+PEO:ID),DUP,NOCASE\n"));
  EXPECT_NE(std::string::npos, text.find("RECORD\nLONG\nSTRING(20)\nBYTE\nEND\nEND\n"));
}

}  // namespace
}  // namespace korawin::storage::dat
