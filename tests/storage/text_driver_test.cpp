#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/file.h"
#include "storage/driver.h"
#include "storage/text/text_driver.h"
#include "tests/support/temp_dir.h"

namespace korawin::storage {
namespace {

using test::TempDir;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// A declared text file with a STRING record of the given size.
class TextFile {
 public:
  TextFile(const std::string& path, uint32_t size, uint32_t attributes = kFileCreate)
      : buffer_(size, 'X') {
    fd.driver = &TextDriverEntry;
    fd.name = path;
    fd.recordSize = size;
    fd.record = buffer_.data();
    fd.attributes = attributes;
  }
  int Call(uint8_t op) {
    DriverArgs args;
    return CallDriver(op, fd, args);
  }
  int Call(uint8_t op, DriverArgs& args) { return CallDriver(op, fd, args); }
  int Open(uint32_t mode = kOpenReadWrite | kShareDenyWrite) {
    DriverArgs args;
    args.mode = mode;
    return Call(kOpOpen, args);
  }
  int GetAt(int64_t position) {
    DriverArgs args;
    args.number = position;
    return Call(kOpGetFilePtr, args);
  }
  std::string Send(const std::string& option) {
    DriverArgs args;
    args.text = option;
    EXPECT_EQ(0, Call(kOpSend, args));
    return args.result;
  }
  int64_t Value(uint8_t op) {
    DriverArgs args;
    EXPECT_EQ(0, Call(op, args));
    return args.value;
  }
  void Put(const std::string& text) {
    buffer_.assign(buffer_.size(), ' ');
    buffer_.replace(0, text.size(), text);
  }
  std::string Record() const { return buffer_; }
  std::string Line() const { return Trimmed(buffer_); }
  // The remaining records of the sequence, trimmed; stops at the first failure.
  std::vector<std::string> Rest(int* last = nullptr) {
    std::vector<std::string> lines;
    int err = 0;
    while ((err = Call(kOpNext)) == 0) lines.push_back(Line());
    if (last) *last = err;
    return lines;
  }
  std::vector<std::string> All(int* last = nullptr) {
    EXPECT_EQ(0, Call(kOpSetFile));
    return Rest(last);
  }

  FileDescriptor fd;

 private:
  std::string buffer_;
};

using Lines = std::vector<std::string>;

TEST(TextRegistration, BlockListsTheOperationsAndRefusesTheRest) {
  const DriverRegistration& r = TextDriverRegistration();
  EXPECT_STREQ("ASCII", r.name);
  EXPECT_EQ("Ascii File Driver 1.0", r.banner);
  EXPECT_EQ(std::vector<uint8_t>({1,  51, 4,  59, 52, 14, 7,  9,  10, 13, 29, 53,
                                  16, 72, 20, 21, 23, 24, 25, 27, 61, 30, 54, 55,
                                  66, 37, 38, 63, 60, 41, 43, 71, 48, 50}),
            r.operations);
  EXPECT_EQ(std::vector<uint8_t>({kTypeString, kTypeGroup}), r.fieldTypes);
  EXPECT_EQ(&TextDriverEntry, r.entry);

  TempDir dir;
  Spit(dir.File("a.txt"), "one\r\ntwo\r\n");
  TextFile f(dir.File("a.txt"), 10);
  ASSERT_EQ(0, f.Open());
  ASSERT_EQ(0, f.Call(kOpNext));
  for (uint8_t op : {kOpDelete, kOpPrevious, kOpHoldFile, kOpWatch, kOpLogout, kOpGetFileKey,
                     kOpSetKey, kOpBuildFile, kOpBlobSize, kOpRecordsFile}) {
    EXPECT_EQ(kErrUnsupportedFunction, f.Call(op)) << OperationName(op);
  }
  EXPECT_EQ(80, ErrorCode());
  // The sequence and the file are as they were.
  EXPECT_EQ(1, f.Value(kOpPointerFile));
  EXPECT_EQ(Lines({"two"}), f.Rest());
  EXPECT_EQ("one\r\ntwo\r\n", Slurp(dir.File("a.txt")));
}

TEST(TextOpen, NamesModesAndClosedFiles) {
  TempDir dir;
  TextFile missing(dir.File("none.txt"), 10);
  EXPECT_EQ(kErrFileNotFound, missing.Open());
  EXPECT_EQ(kErrFileNotOpen, missing.Call(kOpNext));
  TextFile unnamed("", 10);
  EXPECT_EQ(kErrInvalidFilename, unnamed.Open());

  // An existing file is found whatever the case of its declared name.
  Spit(dir.File("Card.TXT"), "x\r\n");
  TextFile card(dir.File("card.txt"), 10);
  ASSERT_EQ(0, card.Open(kOpenReadOnly | kShareDenyNone));
  EXPECT_EQ(Lines({"x"}), card.All());
  DriverArgs name;
  ASSERT_EQ(0, card.Call(kOpName, name));
  EXPECT_EQ(dir.File("card.txt"), name.result);

  // A read-only open refuses every write.
  card.Put("new");
  EXPECT_EQ(kErrAccessDenied, card.Call(kOpAdd));
  EXPECT_EQ(kErrAccessDenied, card.Call(kOpEmpty));
  ASSERT_EQ(0, card.GetAt(1));
  EXPECT_EQ(kErrAccessDenied, card.Call(kOpPut));
  EXPECT_EQ("x\r\n", Slurp(dir.File("Card.TXT")));

  // Another open that denies writing keeps a writer out.
  TextFile writer(dir.File("card.txt"), 10);
  TextFile denier(dir.File("card.txt"), 10);
  ASSERT_EQ(0, card.Call(kOpClose));
  ASSERT_EQ(0, denier.Open(kOpenReadOnly | kShareDenyWrite));
  EXPECT_EQ(kErrAccessDenied, writer.Open(kOpenReadWrite | kShareDenyNone));
}

TEST(TextRead, LinesPositionsAndTheEnd) {
  TempDir dir;
  Spit(dir.File("a.txt"), "one\r\ntwo\r\n\r\nlast");
  TextFile f(dir.File("a.txt"), 8);
  ASSERT_EQ(0, f.Open());
  ASSERT_EQ(0, f.Call(kOpSetFile));
  EXPECT_EQ(0, f.Value(kOpEof));
  ASSERT_EQ(0, f.Call(kOpNext));
  EXPECT_EQ("one     ", f.Record());
  EXPECT_EQ(1, f.Value(kOpPointerFile));
  EXPECT_EQ(5, f.Value(kOpBytes));
  ASSERT_EQ(0, f.Call(kOpNext));
  EXPECT_EQ(6, f.Value(kOpPointerFile));
  ASSERT_EQ(0, f.Call(kOpNext));
  EXPECT_EQ(std::string(8, ' '), f.Record());  // an empty line is all blanks
  EXPECT_EQ(2, f.Value(kOpBytes));
  EXPECT_EQ(0, f.Value(kOpEof));
  ASSERT_EQ(0, f.Call(kOpNext));  // the last line has no terminator
  EXPECT_EQ("last", f.Line());
  EXPECT_EQ(13, f.Value(kOpPointerFile));
  EXPECT_EQ(4, f.Value(kOpBytes));
  EXPECT_EQ(1, f.Value(kOpEof));
  EXPECT_EQ(kErrRecordNotAvailable, f.Call(kOpNext));
  EXPECT_EQ(kErrRecordNotAvailable, f.Call(kOpNext));

  // By position: the record starting at that byte; nothing at 0 or past the end.
  ASSERT_EQ(0, f.GetAt(7));
  EXPECT_EQ("wo", f.Line());
  EXPECT_EQ(Lines({"", "last"}), f.Rest());
  EXPECT_EQ(kErrRecordNotAvailable, f.GetAt(0));
  EXPECT_EQ(kErrRecordNotAvailable, f.GetAt(17));
  EXPECT_EQ(kErrRecordNotAvailable, f.GetAt(100));

  // A saved position brings back the same record.
  ASSERT_EQ(0, f.GetAt(6));
  DriverArgs pos;
  ASSERT_EQ(0, f.Call(kOpPositionFile, pos));
  pos.text = pos.result;
  ASSERT_EQ(0, f.GetAt(1));
  ASSERT_EQ(0, f.Call(kOpRegetFile, pos));
  EXPECT_EQ("two", f.Line());
  ASSERT_EQ(0, f.Call(kOpSetFile));
  ASSERT_EQ(0, f.Call(kOpResetFile, pos));
  EXPECT_EQ(Lines({"two", "", "last"}), f.Rest());
  DriverArgs sequence;
  sequence.number = 11;
  ASSERT_EQ(0, f.Call(kOpSetFilePtr, sequence));
  EXPECT_EQ(Lines({"", "last"}), f.Rest());

  // GETfileptrlen reads no more than the length asked for.
  DriverArgs len;
  len.number = 13;
  len.length = 2;
  ASSERT_EQ(0, f.Call(kOpGetFilePtrLen, len));
  EXPECT_EQ("la      ", f.Record());
  EXPECT_EQ(Lines({"st"}), f.Rest());
}

TEST(TextRead, LongLinesContinueInTheNextRecord) {
  TempDir dir;
  std::string huge;
  for (int i = 0; i < 5000; ++i) huge += static_cast<char>('a' + i % 26);
  Spit(dir.File("a.txt"), "ABCDEFGHIJKLMN\r\n0123456789\r\nxy\r\n" + huge + "\r\nend\r\n");
  for (const char* scan : {"QUICKSCAN=ON", "QUICKSCAN=OFF"}) {
    TextFile f(dir.File("a.txt"), 10);
    ASSERT_EQ(0, f.Open());
    f.Send(scan);
    ASSERT_EQ(0, f.Call(kOpSetFile));
    Lines lines = f.Rest();
    ASSERT_EQ(4u + 500u + 1u, lines.size()) << scan;
    // A line of exactly the record's width is one record, not two.
    EXPECT_EQ(Lines({"ABCDEFGHIJ", "KLMN", "0123456789", "xy"}),
              Lines(lines.begin(), lines.begin() + 4));
    std::string joined;
    for (size_t i = 4; i < 504; ++i) joined += lines[i];
    EXPECT_EQ(huge, joined) << scan;
    EXPECT_EQ("end", lines.back());
  }
}

TEST(TextRead, TabsCtrlZAndNulBytes) {
  TempDir dir;
  Spit(dir.File("t.txt"), "A\tB\r\n\tx\r\n");
  TextFile f(dir.File("t.txt"), 12);
  ASSERT_EQ(0, f.Open());
  EXPECT_EQ("8", f.Send("TAB"));
  EXPECT_EQ(Lines({"A       B", "        x"}), f.All());
  f.Send("TAB=4");
  EXPECT_EQ(Lines({"A   B", "    x"}), f.All());
  f.Send("TAB=-2");
  EXPECT_EQ(Lines({"A  B", "  x"}), f.All());
  f.Send("TAB=-100");
  EXPECT_EQ(Lines({"A\tB", "\tx"}), f.All());
  f.Send("TAB=0");
  EXPECT_EQ(Lines({"AB", "x"}), f.All());
  // Tabs that widen a line past the record carry the rest over instead of dropping it.
  Spit(dir.File("w.txt"), "a\tb\tc\r\n");
  TextFile w(dir.File("w.txt"), 10);
  ASSERT_EQ(0, w.Open());
  EXPECT_EQ(Lines({"a       b", "c"}), w.All());

  // Ctrl-Z at the start of a line ends the file; inside a line it ends the line's text.
  Spit(dir.File("z.txt"), "ab\x1A" "cd\r\nef\r\n\x1A" "gh\r\n");
  TextFile z(dir.File("z.txt"), 10);
  ASSERT_EQ(0, z.Open());
  int last = 0;
  EXPECT_EQ(Lines({"ab", "ef"}), z.All(&last));
  EXPECT_EQ(kErrRecordNotAvailable, last);
  EXPECT_EQ(1, z.Value(kOpEof));
  EXPECT_EQ("OFF", z.Send("CTRLZISEOF=OFF"));
  EXPECT_EQ(Lines({"ab\x1A" "cd", "ef", "\x1A" "gh"}), z.All());

  // A NUL byte is data like any other.
  Spit(dir.File("n.txt"), std::string("a\0b\r\nc\r\n", 8));
  TextFile n(dir.File("n.txt"), 5);
  ASSERT_EQ(0, n.Open());
  ASSERT_EQ(0, n.Call(kOpSetFile));
  ASSERT_EQ(0, n.Call(kOpNext));
  EXPECT_EQ(std::string("a\0b  ", 5), n.Record());
  EXPECT_EQ(Lines({"c"}), n.Rest());
}

TEST(TextWrite, AddClipsAndAppends) {
  TempDir dir;
  const std::string path = dir.File("out.txt");
  TextFile f(path, 20);
  ASSERT_EQ(0, f.Call(kOpCreate));
  EXPECT_EQ("", Slurp(path));
  ASSERT_EQ(0, f.Open(kOpenReadWrite | kShareDenyWrite));
  f.Put("abc");
  ASSERT_EQ(0, f.Call(kOpAdd));
  EXPECT_EQ("abc\r\n", Slurp(path));
  EXPECT_EQ("OFF", f.Send("CLIP=OFF"));
  ASSERT_EQ(0, f.Call(kOpAppend));
  EXPECT_EQ("abc\r\nabc                 \r\n", Slurp(path));
  f.Send("CLIP=ON");
  f.Put("length form");
  DriverArgs len;
  len.length = 6;
  ASSERT_EQ(0, f.Call(kOpAddFileLen, len));
  EXPECT_EQ(Lines({"abc", "abc", "length"}), f.All());

  ASSERT_EQ(0, f.Call(kOpEmpty));
  EXPECT_EQ("", Slurp(path));
  EXPECT_EQ(1, f.Value(kOpEof));

  // Lines ended by LF alone, both ways.
  EXPECT_EQ("2,13,10", f.Send("ENDOFRECORD"));
  EXPECT_EQ("1,10", f.Send("ENDOFRECORD=1,10"));
  f.Put("one");
  ASSERT_EQ(0, f.Call(kOpAdd));
  f.Put("two");
  ASSERT_EQ(0, f.Call(kOpAdd));
  EXPECT_EQ("one\ntwo\n", Slurp(path));
  EXPECT_EQ(Lines({"one", "two"}), f.All());
  // A malformed terminator leaves the old one.
  EXPECT_EQ("1,10", f.Send("ENDOFRECORD=3,13,10"));
  EXPECT_EQ("1,10", f.Send("ENDOFRECORD=1,300"));
}

TEST(TextWrite, AddReplacesATrailingCtrlZ) {
  TempDir dir;
  const std::string path = dir.File("old.txt");
  Spit(path, "first\r\n\x1A");
  TextFile f(path, 10);
  ASSERT_EQ(0, f.Open());
  f.Put("second");
  ASSERT_EQ(0, f.Call(kOpAdd));
  f.Put("third");
  ASSERT_EQ(0, f.Call(kOpAdd));
  EXPECT_EQ("first\r\nsecond\r\nthird\r\n", Slurp(path));
  ASSERT_EQ(0, f.Call(kOpClose));

  // With CTRLZISEOF off the Ctrl-Z is text and stays.
  Spit(path, "first\r\n\x1A");
  TextFile g(path, 10);
  ASSERT_EQ(0, g.Open());
  g.Send("CTRLZISEOF=OFF");
  g.Put("second");
  ASSERT_EQ(0, g.Call(kOpAdd));
  EXPECT_EQ("first\r\n\x1Asecond\r\n", Slurp(path));
}

TEST(TextWrite, PutRewritesInPlace) {
  TempDir dir;
  const std::string path = dir.File("p.txt");
  Spit(path, "alpha\r\nbravo\r\ncharlie\r\n");
  TextFile f(path, 10);
  ASSERT_EQ(0, f.Open());
  EXPECT_EQ(kErrRecordNotAvailable, f.Call(kOpPut));
  ASSERT_EQ(0, f.Call(kOpSetFile));
  ASSERT_EQ(0, f.Call(kOpNext));
  ASSERT_EQ(0, f.Call(kOpNext));
  f.Put("BRAVO");
  ASSERT_EQ(0, f.Call(kOpPut));
  EXPECT_EQ("alpha\r\nBRAVO\r\ncharlie\r\n", Slurp(path));
  // The sequence goes on after the rewritten record.
  EXPECT_EQ(Lines({"charlie"}), f.Rest());

  // A shorter line keeps the old line's length, so no stray line appears.
  ASSERT_EQ(0, f.GetAt(1));
  f.Put("al");
  ASSERT_EQ(0, f.Call(kOpPut));
  EXPECT_EQ("al   \r\nBRAVO\r\ncharlie\r\n", Slurp(path));
  EXPECT_EQ(Lines({"al", "BRAVO", "charlie"}), f.All());

  // By position, also with a length.
  f.Put("CHARLIE");
  DriverArgs at;
  at.number = 15;
  ASSERT_EQ(0, f.Call(kOpPutFilePtr, at));
  f.Put("xyz");
  DriverArgs len;
  len.number = 8;
  len.length = 2;
  ASSERT_EQ(0, f.Call(kOpPutFilePtrLen, len));
  EXPECT_EQ("al   \r\nxy   \r\nCHARLIE\r\n", Slurp(path));
  at.number = 0;
  EXPECT_EQ(kErrRecordNotAvailable, f.Call(kOpPutFilePtr, at));
  at.number = 100;
  EXPECT_EQ(kErrRecordNotAvailable, f.Call(kOpPutFilePtr, at));
}

TEST(TextWrite, OemCodedFileIsConvertedBothWays) {
  TempDir dir;
  const std::string path = dir.File("oem.txt");
  const std::string ansi = platform::Utf8ToCp1251("Лексема").value();
  std::string oem = ansi;
  platform::AnsiToOemInPlace(oem.data(), oem.size());
  ASSERT_NE(ansi, oem);
  Spit(path, oem + "\r\n");
  TextFile f(path, 10, kFileCreate | kFileOem);
  ASSERT_EQ(0, f.Open());
  EXPECT_EQ(Lines({ansi}), f.All());
  f.Put(ansi);
  ASSERT_EQ(0, f.Call(kOpAdd));
  EXPECT_EQ(oem + "\r\n" + oem + "\r\n", Slurp(path));
  EXPECT_EQ(ansi, f.Line());  // the record buffer itself is left in ANSI
}

TEST(TextOptions, DefaultsDependOnSharingAndDriverStringApplies) {
  TempDir dir;
  Spit(dir.File("a.txt"), "a\tb   \r\n");
  TextFile shared(dir.File("a.txt"), 100);
  ASSERT_EQ(0, shared.Open(kOpenReadOnly | kShareDenyNone));
  EXPECT_EQ("OFF", shared.Send("QUICKSCAN"));
  EXPECT_EQ("512", shared.Send("FILEBUFFERS"));
  EXPECT_EQ("ON", shared.Send("CLIP"));
  EXPECT_EQ("ON", shared.Send("ctrlzi"));  // upper-cased and matched by prefix
  EXPECT_EQ("", shared.Send("RECOVER=10"));  // another driver's option is ignored

  TextFile exclusive(dir.File("a.txt"), 600);
  ASSERT_EQ(0, exclusive.Open(kOpenReadOnly | kShareDenyWrite));
  EXPECT_EQ("ON", exclusive.Send("QUICKSCAN"));
  EXPECT_EQ("1200", exclusive.Send("FILEBUFFERS"));  // twice the record
  EXPECT_EQ("2048", exclusive.Send("FILEBUFFERS=4"));
  EXPECT_EQ("600", exclusive.Send("FILEBUFFERS=1"));  // never below the record
  EXPECT_EQ(std::to_string(16u << 20), exclusive.Send("FILEBUFFERS=999999999"));
  EXPECT_EQ("OFF", exclusive.Send("QUICKSCAN=maybe"));
  ASSERT_EQ(0, exclusive.Call(kOpClose));

  TextFile configured(dir.File("a.txt"), 10);
  configured.fd.driverString = "/TAB=2/CLIP=OFF/ENDOFRECORD=\"2,13,10\"";
  ASSERT_EQ(0, configured.Open());
  EXPECT_EQ("2", configured.Send("TAB"));
  EXPECT_EQ("OFF", configured.Send("CLIP"));
  EXPECT_EQ(Lines({"a b"}), configured.All());
  // A later open starts again from the defaults and the driver string.
  configured.Send("TAB=5");
  ASSERT_EQ(0, configured.Call(kOpClose));
  ASSERT_EQ(0, configured.Open());
  EXPECT_EQ("2", configured.Send("TAB"));
}

TEST(TextLocks, LockNestsAndKeepsOtherOpensOut) {
  TempDir dir;
  const std::string path = dir.File("l.txt");
  Spit(path, "");
  TextFile a(path, 10);
  TextFile b(path, 10);
  ASSERT_EQ(0, a.Open(kOpenReadWrite | kShareDenyNone));
  ASSERT_EQ(0, b.Open(kOpenReadWrite | kShareDenyNone));
  ASSERT_EQ(0, a.Call(kOpLockFile));
  ASSERT_EQ(0, a.Call(kOpLockFile));
  EXPECT_EQ(kErrFileLocked, b.Call(kOpLockFile));
  // The holder writes freely; the other station waits and is refused.
  a.Put("mine");
  EXPECT_EQ(0, a.Call(kOpAdd));
  b.Put("theirs");
  EXPECT_EQ(kErrAccessDenied, b.Call(kOpAdd));
  EXPECT_EQ(0, a.Call(kOpUnlock));
  EXPECT_EQ(kErrFileLocked, b.Call(kOpLockFile));
  EXPECT_EQ(0, a.Call(kOpUnlock));
  EXPECT_EQ(0, a.Call(kOpUnlock));  // one too many does no harm
  EXPECT_EQ(0, b.Call(kOpLockFile));
  EXPECT_EQ(kErrFileLocked, a.Call(kOpLockFile));
  EXPECT_EQ(0, b.Call(kOpAdd));
  ASSERT_EQ(0, b.Call(kOpClose));  // closing gives the lock up
  EXPECT_EQ(0, a.Call(kOpLockFile));
  EXPECT_EQ("mine\r\ntheirs\r\n", Slurp(path));
}

TEST(TextFiles, CreateRemoveRenameCopy) {
  TempDir dir;
  TextFile plain(dir.File("nocreate.txt"), 10, 0);
  EXPECT_EQ(kErrNoCreateAttribute, plain.Call(kOpCreate));
  EXPECT_FALSE(platform::FileExists(dir.File("nocreate.txt")));

  const std::string path = dir.File("f.txt");
  Spit(path, "old\r\n");
  TextFile f(path, 10);
  ASSERT_EQ(0, f.Call(kOpCreate));  // an existing file is replaced
  EXPECT_EQ("", Slurp(path));
  ASSERT_EQ(0, f.Open());
  f.Put("kept");
  ASSERT_EQ(0, f.Call(kOpAdd));
  ASSERT_EQ(0, f.Call(kOpFlush));
  EXPECT_EQ(kErrAccessDenied, f.Call(kOpRemove));  // still open
  DriverArgs copy;
  copy.text = dir.File("copy.txt");
  ASSERT_EQ(0, f.Call(kOpCopy, copy));
  EXPECT_EQ("kept\r\n", Slurp(dir.File("copy.txt")));
  ASSERT_EQ(0, f.Call(kOpClose));
  DriverArgs rename;
  rename.text = dir.File("g.txt");
  ASSERT_EQ(0, f.Call(kOpRename, rename));
  EXPECT_FALSE(platform::FileExists(path));
  EXPECT_EQ("kept\r\n", Slurp(dir.File("g.txt")));
  TextFile g(dir.File("g.txt"), 10);
  ASSERT_EQ(0, g.Call(kOpRemove));
  EXPECT_FALSE(platform::FileExists(dir.File("g.txt")));
  EXPECT_EQ(kErrFileNotFound, g.Call(kOpRemove));
}

}  // namespace
}  // namespace korawin::storage
