#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "storage/dat/memo_file.h"
#include "storage/driver.h"
#include "tests/support/temp_dir.h"

namespace korawin::storage::dat {
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

uint32_t LinkOf(const std::string& file, uint32_t block) {
  return Get32(reinterpret_cast<const unsigned char*>(file.data()) + kMemoHeaderSize +
               (block - 1) * kMemoBlockSize);
}

// A memo file image: header with the given free head, then blocks given as (link, text).
std::string Image(uint32_t firstFree, const std::vector<std::pair<uint32_t, std::string>>& blocks) {
  std::string out(kMemoHeaderSize, '\0');
  auto* h = reinterpret_cast<unsigned char*>(out.data());
  Put16(h, kMemoSignature);
  Put32(h + 2, firstFree);
  for (const auto& [link, text] : blocks) {
    std::string block(kMemoBlockSize, ' ');
    Put32(reinterpret_cast<unsigned char*>(block.data()), link);
    block.replace(kMemoLinkSize, text.size(), text);
    out += block;
  }
  return out;
}

// Counts the writes that reach the memo file.
class WriteCounter : public WriteObserver {
 public:
  Code Write(DatStream&, uint64_t, const void*, size_t, bool* taken) override {
    *taken = false;
    ++writes;
    return writes == failAt ? kErrUnableToLog : 0;
  }
  Code BeforeTruncate(DatStream&, uint64_t) override { return 0; }
  int writes = 0;
  int failAt = 0;
};

std::string Text(size_t n, char seed = 'a') {
  std::string s(n, ' ');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i % 26);
  return s;
}

// A memo buffer of size n holding text, blank-padded.
std::string Buffer(const std::string& text, size_t n) {
  std::string b(n, ' ');
  b.replace(0, text.size(), text);
  return b;
}

class MemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("SLOVO.MEM");
    ASSERT_EQ(0, memo_.Create(path_));
  }
  // Stores text in a MEMO(n) buffer as a new record's memo; returns the first block.
  uint32_t Store(const std::string& text, size_t n = 10000) {
    std::string buf = Buffer(text, n);
    uint32_t first = 0;
    EXPECT_EQ(0, memo_.Write(0, buf.data(), n, false, &first));
    return first;
  }
  std::string Load(uint32_t first, size_t n = 10000) {
    std::string buf(n, '?');
    EXPECT_EQ(0, memo_.Read(first, buf.data(), n)) << memo_.fault();
    return buf;
  }

  TempDir dir_;
  std::string path_;
  MemoFile memo_;
};

TEST(MemoCrc, MatchesTheArcCheckValue) {
  EXPECT_EQ(0xBB3D, Crc16Arc("123456789", 9));
  EXPECT_EQ(0, Crc16Arc("", 0));
  // Running over two pieces gives the value of the whole.
  EXPECT_EQ(Crc16Arc("123456789", 9), Crc16Arc("6789", 4, Crc16Arc("12345", 5)));
}

TEST(MemoNames, ExtensionIsReplacedAndTextIsTrimmed) {
  EXPECT_EQ("/w/slovo.MEM", MemoFileName("/w/slovo.dat"));
  EXPECT_EQ("/w.d/slovo.MEM", MemoFileName("/w.d/slovo"));
  EXPECT_EQ(3u, MemoLength("abc   ", 6, false));
  EXPECT_EQ(6u, MemoLength("abc   ", 6, true));
  EXPECT_EQ(3u, MemoLength("ab \0\0", 5, true));
  EXPECT_EQ(0u, MemoLength("     ", 5, false));
}

TEST(MemoOpen, HeaderFaultsAndCaseInsensitiveName) {
  TempDir dir;
  MemoFile memo;
  EXPECT_EQ(kErrMemoMissing, memo.Open(dir.File("none.mem"), kOpenReadWrite));

  Spit(dir.File("short.mem"), std::string("M3\0", 3));
  EXPECT_EQ(kErrMemoMissing, memo.Open(dir.File("short.mem"), kOpenReadWrite));

  Spit(dir.File("wrong.mem"), std::string("C3\0\0\0\0", 6));
  EXPECT_EQ(kErrInvalidMemoFile, memo.Open(dir.File("wrong.mem"), kOpenReadWrite));
  EXPECT_FALSE(memo.is_open());

  ASSERT_EQ(0, memo.Create(dir.File("SLOVO.MEM")));
  memo.Close();
  EXPECT_EQ(std::string("M3\0\0\0\0", 6), Slurp(dir.File("SLOVO.MEM")));
  ASSERT_EQ(0, memo.Open(dir.File("slovo.mem"), kOpenReadWrite | kShareDenyNone));
  EXPECT_EQ(0u, memo.first_free());
}

TEST_F(MemoTest, BlockCountFollowsTheTextLengthAndPadsWithBlanks) {
  uint32_t one = Store(Text(252));
  EXPECT_EQ(1u, one);
  EXPECT_EQ(1u, memo_.BlockCount());
  uint32_t two = Store(Text(253, 'A'));
  EXPECT_EQ(2u, two);
  EXPECT_EQ(3u, memo_.BlockCount());

  std::string file = Slurp(path_);
  ASSERT_EQ(kMemoHeaderSize + 3 * kMemoBlockSize, file.size());
  EXPECT_EQ(0u, LinkOf(file, 1));
  EXPECT_EQ(3u, LinkOf(file, 2));
  EXPECT_EQ(0u, LinkOf(file, 3));
  // The second chain's last block holds one character and 251 blanks.
  std::string last = file.substr(kMemoHeaderSize + 2 * kMemoBlockSize + kMemoLinkSize);
  EXPECT_EQ(Text(253, 'A').substr(252), last.substr(0, 1));
  EXPECT_EQ(std::string(251, ' '), last.substr(1));

  EXPECT_EQ(Buffer(Text(253, 'A'), 10000), Load(two));
}

TEST_F(MemoTest, ShortMemoReadsBackPaddedToTheDeclaredSize) {
  uint32_t first = Store(Text(40));
  std::string back = Load(first);
  EXPECT_EQ(Text(40), back.substr(0, 40));
  EXPECT_EQ(std::string(9960, ' '), back.substr(40));
  EXPECT_EQ(Crc16Arc(back.data(), back.size()), memo_.read_check());

  // A full-size memo survives whole.
  std::string full = Text(10000, 'K');
  uint32_t big = Store(full);
  EXPECT_EQ(full, Load(big));
}

TEST_F(MemoTest, BlankMemoIsNoMemoAndFreesAnOldChain) {
  WriteCounter counter;
  memo_.stream().set_observer(&counter);
  uint32_t first = 99;
  std::string blanks(10000, ' ');
  ASSERT_EQ(0, memo_.Write(0, blanks.data(), blanks.size(), false, &first));
  EXPECT_EQ(0u, first);
  EXPECT_EQ(0, counter.writes);
  EXPECT_EQ(blanks, Load(0));

  // Clearing a stored memo returns its blocks for the next one.
  uint32_t old = Store(Text(600));
  ASSERT_EQ(0, memo_.Write(old, blanks.data(), blanks.size(), false, &first));
  EXPECT_EQ(0u, first);
  EXPECT_EQ(old, memo_.first_free());
  Store(Text(700));
  EXPECT_EQ(3u, memo_.BlockCount());
  EXPECT_EQ(0u, memo_.first_free());
}

TEST_F(MemoTest, UnchangedMemoIsNotRewrittenButAChangedOneIs) {
  uint32_t first = Store(Text(500));
  std::string buf = Load(first);
  WriteCounter counter;
  memo_.stream().set_observer(&counter);

  uint32_t again = 0;
  ASSERT_EQ(0, memo_.Write(first, buf.data(), buf.size(), false, &again));
  EXPECT_EQ(first, again);
  EXPECT_EQ(0, counter.writes);

  buf[300] = 'Z';
  ASSERT_EQ(0, memo_.Write(first, buf.data(), buf.size(), false, &again));
  EXPECT_EQ(first, again);
  EXPECT_GT(counter.writes, 0);
  EXPECT_EQ(buf, Load(first));
}

TEST_F(MemoTest, TextWithTheSameCheckValueIsStillWritten) {
  const size_t n = 300;
  uint32_t first = Store(Text(100), n);
  std::string original = Load(first, n);
  const uint16_t crc = memo_.read_check();

  // Change byte 10, then find the two bytes at 20 that bring the check value back.
  std::string changed = original;
  changed[10] = '#';
  bool found = false;
  for (int v = 0; v < 65536 && !found; ++v) {
    changed[20] = static_cast<char>(v & 0xFF);
    changed[21] = static_cast<char>(v >> 8);
    found = Crc16Arc(changed.data(), n) == crc;
  }
  ASSERT_TRUE(found);
  ASSERT_NE(original, changed);

  uint32_t again = 0;
  ASSERT_EQ(0, memo_.Write(first, changed.data(), n, false, &again));
  EXPECT_EQ(changed, Load(again, n));
}

TEST_F(MemoTest, ReadOfAnotherRecordDoesNotMakeAWriteLookUnchanged) {
  uint32_t a = Store("first record");
  uint32_t b = Store("second record");
  // Record A's memo is read; record B is then saved with that same text.
  std::string buf = Load(a);
  uint32_t first = 0;
  ASSERT_EQ(0, memo_.Write(b, buf.data(), buf.size(), false, &first));
  EXPECT_EQ(b, first);
  EXPECT_EQ(Buffer("first record", 10000), Load(b));
}

TEST_F(MemoTest, ShrinkingMemoEndsItsChainAndFreesTheSurplus) {
  uint32_t first = Store(Text(700));  // blocks 1, 2, 3
  std::string shorter = Buffer("short", 10000);
  uint32_t again = 0;
  ASSERT_EQ(0, memo_.Write(first, shorter.data(), shorter.size(), false, &again));
  EXPECT_EQ(first, again);
  EXPECT_EQ(shorter, Load(again));  // nothing of the old text follows

  std::string file = Slurp(path_);
  EXPECT_EQ(0u, LinkOf(file, 1));
  EXPECT_EQ(2u, memo_.first_free());
  EXPECT_EQ(3u, LinkOf(file, 2));

  // A later two-block memo takes the freed blocks; the file doesn't grow.
  uint32_t other = Store(Text(400, 'M'));
  EXPECT_EQ(2u, other);
  EXPECT_EQ(3u, memo_.BlockCount());
  EXPECT_EQ(Buffer(Text(400, 'M'), 10000), Load(other));
  EXPECT_EQ(shorter, Load(first));
}

TEST_F(MemoTest, GrowingMemoReusesItsChainThenFreeBlocksThenAppends) {
  uint32_t a = Store(Text(200));        // block 1
  uint32_t b = Store(Text(300, 'B'));   // blocks 2, 3
  Store(Text(10, 'C'));                 // block 4
  ASSERT_EQ(0, memo_.Free(b));
  EXPECT_EQ(b, memo_.first_free());

  std::string longer = Buffer(Text(1200, 'D'), 10000);  // five blocks
  uint32_t first = 0;
  ASSERT_EQ(0, memo_.Write(a, longer.data(), longer.size(), false, &first));
  EXPECT_EQ(a, first);
  EXPECT_EQ(6u, memo_.BlockCount());  // 1, 2, 3 reused; 5, 6 appended
  EXPECT_EQ(0u, memo_.first_free());
  EXPECT_EQ(longer, Load(first));

  MemoCheckResult check;
  EXPECT_EQ(0, memo_.Check({{1, first}, {3, 4}}, &check)) << check.fault;
  EXPECT_EQ(6u, check.usedBlocks);
  EXPECT_EQ(0u, check.lostBlocks);
}

TEST_F(MemoTest, DeletedMemoBlocksAreTakenBeforeTheFileGrows) {
  uint32_t gone = Store(Text(700));  // three blocks
  uint32_t kept = Store(Text(50, 'k'));
  ASSERT_EQ(0, memo_.Free(gone));
  ASSERT_EQ(0, memo_.Free(0));
  const uint32_t blocks = memo_.BlockCount();

  uint32_t reused = Store(Text(756, 'R'));  // exactly three blocks
  EXPECT_EQ(blocks, memo_.BlockCount());
  EXPECT_EQ(0u, memo_.first_free());
  EXPECT_EQ(Buffer(Text(756, 'R'), 10000), Load(reused));
  EXPECT_EQ(Buffer(Text(50, 'k'), 10000), Load(kept));
  Store("x");
  EXPECT_EQ(blocks + 1, memo_.BlockCount());
}

TEST_F(MemoTest, EmptyCutsTheFileToItsHeader) {
  uint32_t first = Store(Text(900));
  ASSERT_EQ(0, memo_.Free(first));
  ASSERT_EQ(0, memo_.Empty());
  EXPECT_EQ(std::string("M3\0\0\0\0", 6), Slurp(path_));
  EXPECT_EQ(1u, Store("again"));
}

TEST_F(MemoTest, BinaryMemoKeepsTrailingBlanksAndDropsTrailingNuls) {
  std::string buf(600, '\0');
  buf.replace(0, 5, "ab   ");
  uint32_t first = 0;
  ASSERT_EQ(0, memo_.Write(0, buf.data(), buf.size(), true, &first));
  std::string file = Slurp(path_);
  EXPECT_EQ(kMemoHeaderSize + kMemoBlockSize, file.size());
  EXPECT_EQ("ab   ", file.substr(kMemoHeaderSize + kMemoLinkSize, 5));

  std::string nuls(600, '\0');
  ASSERT_EQ(0, memo_.Write(first, nuls.data(), nuls.size(), true, &first));
  EXPECT_EQ(0u, first);
}

TEST_F(MemoTest, ReadOnlyFileRefusesWrites) {
  uint32_t first = Store("text");
  memo_.Close();
  ASSERT_EQ(0, memo_.Open(path_, kOpenReadOnly));
  std::string buf = Buffer("other", 100);
  uint32_t out = 0;
  EXPECT_EQ(kErrAccessDenied, memo_.Write(first, buf.data(), buf.size(), false, &out));
  EXPECT_EQ(kErrAccessDenied, memo_.Free(first));
  EXPECT_EQ(Buffer("text", 100), Load(first, 100));
}

TEST_F(MemoTest, FailedWriteIsReportedAndTheNextWriteIsNotSkipped) {
  uint32_t first = Store(Text(300));
  std::string buf = Load(first);
  buf[0] = '!';
  WriteCounter counter;
  counter.failAt = 1;
  memo_.stream().set_observer(&counter);
  uint32_t out = 0;
  EXPECT_EQ(kErrUnableToLog, memo_.Write(first, buf.data(), buf.size(), false, &out));
  // The retry must write even though the same text was offered before.
  ASSERT_EQ(0, memo_.Write(first, buf.data(), buf.size(), false, &out));
  EXPECT_EQ(buf, Load(first));
}

TEST_F(MemoTest, InterruptedDeleteLeavesTheChainEnded) {
  uint32_t kept = Store(Text(300, 'K'));   // blocks 1, 2
  uint32_t spare = Store(Text(100, 'S'));  // block 3
  ASSERT_EQ(0, memo_.Free(spare));         // the free chain is block 3
  WriteCounter counter;
  counter.failAt = 2;                      // the header write
  memo_.stream().set_observer(&counter);
  EXPECT_EQ(kErrUnableToLog, memo_.Free(kept));
  EXPECT_EQ(spare, memo_.first_free());
  // The record still owns its chain, and its memo doesn't run on into the free block.
  EXPECT_EQ(Buffer(Text(300, 'K'), 10000), Load(kept));
  MemoCheckResult check;
  EXPECT_EQ(0, memo_.Check({{1, kept}}, &check)) << check.fault;
}

TEST(MemoInterrupted, GrowingMemoNeverSharesBlocksWithTheFreeChain) {
  // Whichever write of the growth fails, no block ends up both free and in the record's chain.
  for (int failAt = 1; failAt <= 4; ++failAt) {
    TempDir dir;
    MemoFile memo;
    ASSERT_EQ(0, memo.Create(dir.File("g.mem")));
    std::string small = Buffer("small", 1000);
    std::string other = Buffer(Text(600), 1000);
    uint32_t record = 0, gone = 0;
    ASSERT_EQ(0, memo.Write(0, small.data(), small.size(), false, &record));  // block 1
    ASSERT_EQ(0, memo.Write(0, other.data(), other.size(), false, &gone));    // blocks 2-4
    ASSERT_EQ(0, memo.Free(gone));
    WriteCounter counter;
    counter.failAt = failAt;
    memo.stream().set_observer(&counter);
    std::string grown = Buffer(Text(700, 'W'), 1000);
    uint32_t first = 0;
    int err = memo.Write(record, grown.data(), grown.size(), false, &first);
    if (err == 0) {
      EXPECT_EQ(record, first);
    }
    MemoCheckResult check;
    EXPECT_EQ(0, memo.Check({{1, record}}, &check)) << "failing write " << failAt << ": "
                                                     << check.fault;
  }
}

// Two opens that others may write, as two stations: the reader sees chains the writer adds
// past the end it last saw, and a chain the writer cut away is reported, not read.
TEST(MemoStations, ReaderFollowsAFileAnotherOpenGrowsAndCuts) {
  TempDir dir;
  MemoFile writer, reader;
  ASSERT_EQ(0, writer.Create(dir.File("s.mem")));
  writer.Close();
  ASSERT_EQ(0, writer.Open(dir.File("s.mem"), kOpenReadWrite | kShareDenyNone));
  ASSERT_EQ(0, reader.Open(dir.File("s.mem"), kOpenReadWrite | kShareDenyNone));
  auto store = [&](const std::string& text) {
    std::string buf = Buffer(text, 1000);
    uint32_t first = 0;
    EXPECT_EQ(0, writer.Write(0, buf.data(), buf.size(), false, &first));
    return first;
  };
  auto read = [&](uint32_t first, std::string* out) {
    out->assign(1000, '?');
    return reader.Read(first, out->data(), out->size());
  };
  std::string got;
  uint32_t one = store(Text(300));
  ASSERT_EQ(0, read(one, &got)) << reader.fault();
  EXPECT_EQ(Buffer(Text(300), 1000), got);
  uint32_t two = store(Text(600, 'A'));  // blocks past what the reader has seen
  ASSERT_EQ(0, read(two, &got)) << reader.fault();
  EXPECT_EQ(Buffer(Text(600, 'A'), 1000), got);

  ASSERT_EQ(0, writer.Empty());
  EXPECT_EQ(kErrInvalidMemoFile, read(two, &got));
  EXPECT_NE(std::string::npos, reader.fault().find("runs past the end")) << reader.fault();
}

// Damaged chains: detected, reported, never followed forever nor past the buffer.
class MemoDamageTest : public ::testing::Test {
 protected:
  void Open(const std::string& image) {
    path_ = dir_.File("d.mem");
    Spit(path_, image);
    ASSERT_EQ(0, memo_.Open(path_, kOpenReadWrite));
  }
  TempDir dir_;
  std::string path_;
  MemoFile memo_;
};

TEST_F(MemoDamageTest, LoopingChainIsReportedOnReadFreeAndCheck) {
  std::string image = Image(0, {{2, "one"}, {3, "two"}, {2, "three"}});
  Open(image);
  std::vector<char> buf(2000 + 16, 'G');
  EXPECT_EQ(kErrInvalidMemoFile, memo_.Read(1, buf.data(), 2000));
  EXPECT_NE(std::string::npos, memo_.fault().find("loops")) << memo_.fault();
  EXPECT_EQ(std::string(16, 'G'), std::string(buf.data() + 2000, 16));

  // Freeing it would splice a loop into the free chain: refused, file untouched.
  EXPECT_EQ(kErrInvalidMemoFile, memo_.Free(1));
  EXPECT_EQ(image, Slurp(path_));

  MemoCheckResult check;
  EXPECT_EQ(kErrInvalidMemoFile, memo_.Check({{7, 1}}, &check));
  EXPECT_EQ("the memo chain of record 7 loops: block 3 links back to block 2", check.fault);
}

TEST_F(MemoDamageTest, ChainPastTheEndIsReported) {
  Open(Image(0, {{2, "one"}, {40, "two"}}));
  std::string buf(1000, '?');
  EXPECT_EQ(kErrInvalidMemoFile, memo_.Read(1, buf.data(), buf.size()));
  EXPECT_NE(std::string::npos, memo_.fault().find("block 2 links to block 40")) << memo_.fault();
  EXPECT_EQ(kErrInvalidMemoFile, memo_.Read(9, buf.data(), buf.size()));

  MemoCheckResult check;
  EXPECT_EQ(kErrInvalidMemoFile, memo_.Check({{1, 1}}, &check));
  EXPECT_EQ("the memo chain of record 1 runs past the end of the file: block 2 links to block 40, "
            "the file has 2 blocks",
            check.fault);
}

TEST_F(MemoDamageTest, ReadStopsAtTheBufferSize) {
  // A long chain into a small MEMO: only the buffer's bytes are filled, the rest isn't walked.
  Open(Image(0, {{2, Text(252)}, {3, Text(252, 'A')}, {99, "tail"}}));
  std::vector<char> buf(300 + 8, 'G');
  ASSERT_EQ(0, memo_.Read(1, buf.data(), 300));
  EXPECT_EQ(Text(252) + Text(48, 'A'), std::string(buf.data(), 300));
  EXPECT_EQ(std::string(8, 'G'), std::string(buf.data() + 300, 8));
}

TEST_F(MemoDamageTest, CheckFindsSharedBlocksAndFreeChainOverlap) {
  // Records 1 and 2 both reach block 3; block 4 is free; block 5 is in no chain.
  Open(Image(4, {{3, "a"}, {3, "b"}, {0, "c"}, {0, ""}, {0, ""}}));
  MemoCheckResult check;
  EXPECT_EQ(kErrInvalidMemoFile, memo_.Check({{1, 1}, {2, 2}}, &check));
  EXPECT_EQ("the memo chain of record 2 uses block 3, which belongs to the memo of record 1",
            check.fault);

  EXPECT_EQ(kErrInvalidMemoFile, memo_.Check({{1, 1}, {2, 4}}, &check));
  EXPECT_EQ("the memo chain of record 2 uses block 4, which is on the free chain", check.fault);

  ASSERT_EQ(0, memo_.Check({{1, 1}, {2, 0}}, &check)) << check.fault;
  EXPECT_EQ(5u, check.blocks);
  EXPECT_EQ(2u, check.usedBlocks);
  EXPECT_EQ(1u, check.freeBlocks);
  EXPECT_EQ(2u, check.lostBlocks);
}

TEST_F(MemoDamageTest, DamagedFreeChainIsNotHandedOutTwice) {
  // The free chain runs 2 -> 3 -> 2. A three-block memo takes 2 and 3 and appends the third.
  Open(Image(2, {{0, "used"}, {3, ""}, {2, ""}}));
  MemoCheckResult check;
  EXPECT_EQ(kErrInvalidMemoFile, memo_.Check({{1, 1}}, &check));
  EXPECT_EQ("the free chain loops: block 3 links back to block 2", check.fault);

  std::string text = Buffer(Text(700), 1000);
  uint32_t first = 0;
  ASSERT_EQ(0, memo_.Write(0, text.data(), text.size(), false, &first));
  std::string back(1000, '?');
  ASSERT_EQ(0, memo_.Read(first, back.data(), back.size()));
  EXPECT_EQ(text, back);
  ASSERT_EQ(0, memo_.Check({{1, 1}, {2, first}}, &check)) << check.fault;
  EXPECT_EQ(0u, memo_.first_free());
  EXPECT_EQ(4u, memo_.BlockCount());
}

TEST_F(MemoDamageTest, RewritingADamagedChainKeepsTheFileSound) {
  // Record 1's chain loops (1 -> 2 -> 1). A new text reuses what is sound, frees nothing.
  Open(Image(0, {{2, "x"}, {1, "y"}}));
  std::string text = Buffer(Text(900), 1000);
  uint32_t first = 0;
  ASSERT_EQ(0, memo_.Write(1, text.data(), text.size(), false, &first));
  std::string back(1000, '?');
  ASSERT_EQ(0, memo_.Read(first, back.data(), back.size())) << memo_.fault();
  EXPECT_EQ(text, back);
  MemoCheckResult check;
  EXPECT_EQ(0, memo_.Check({{1, first}}, &check)) << check.fault;
}

}  // namespace
}  // namespace korawin::storage::dat
