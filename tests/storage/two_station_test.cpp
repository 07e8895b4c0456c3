// Two stations (processes) working at random on one shared file with keys and a memo: watched
// rewrites, holds, adds, deletes and whole-file locks. Each station logs what it did; the
// parent then checks that no change was lost, that every rewrite based on a stale read was
// refused with 89, and that the keys still agree with the data. A station killed while it
// holds a record and the file lock leaves both to be broken by RECOVER.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "tests/storage/dat_test_util.h"

namespace korawin::storage::dat {
namespace {

using testing::TempDir;

constexpr int kInitial = 40;  // records every station works on
constexpr int kOps = 1500;    // per station

// SHR:NAME STRING(12), SHR:SEQ LONG, SHR:WHO BYTE, memo SHR:NOTE MEMO(100).
// Keys: 1 BY_NAME unique NOCASE; 2 BY_SEQ DUP.
struct Shared {
  std::unique_ptr<FileDescriptor> fd = std::make_unique<FileDescriptor>();
  std::vector<char> record = std::vector<char>(17, ' ');
  std::vector<char> memo = std::vector<char>(100, ' ');

  explicit Shared(const std::string& path) {
    fd->driver = &DatDriverEntry;
    fd->name = path;
    fd->label = "SHARED";
    fd->attributes = kFileCreate;  // no RECLAIM: a deleted record number is never reused
    fd->recordSize = 17;
    fd->record = record.data();
    auto field = [](uint8_t type, uint32_t offset, uint32_t size, const char* label) {
      FieldDescriptor f;
      f.type = type;
      f.offset = offset;
      f.size = size;
      f.label = label;
      return f;
    };
    fd->fields = {field(kTypeString, 0, 12, "SHR:NAME"), field(kTypeLong, 12, 4, "SHR:SEQ"),
                  field(kTypeByte, 16, 1, "SHR:WHO")};
    fd->keys = {KeyDescriptor{"", "SHR:BY_NAME", kKeyNoCase, {1}},
                KeyDescriptor{"", "SHR:BY_SEQ", kKeyDup, {2}}};
    MemoDescriptor m;
    m.label = "SHR:NOTE";
    m.size = 100;
    m.buffer = memo.data();
    fd->memos = {m};
  }
  int Call(uint8_t op, int64_t number = 0, unsigned mode = 0x42, const std::string& text = {}) {
    DriverArgs a;
    a.number = number;
    a.mode = mode;
    a.text = text;
    return CallDriver(op, *fd, a);
  }
  int64_t Value(uint8_t op, int key = 0) {
    DriverArgs a;
    a.key = key;
    return CallDriver(op, *fd, a) == 0 ? a.value : -1;
  }
  int32_t Seq() const {
    int32_t s;
    std::memcpy(&s, record.data() + 12, 4);
    return s;
  }
  std::string Name() const {
    std::string n(record.data(), 12);
    return n.erase(n.find_last_not_of(' ') + 1);
  }
  std::string Note() const {
    std::string n(memo.data(), memo.size());
    return n.erase(n.find_last_not_of(' ') + 1);
  }
  // A new value of the record (and of its memo, which must travel with it).
  void Write(int32_t seq, int who) {
    std::memcpy(record.data() + 12, &seq, 4);
    record[16] = static_cast<char>(who);
    std::fill(memo.begin(), memo.end(), ' ');
    std::string note = "seq " + std::to_string(seq);
    std::copy(note.begin(), note.end(), memo.begin());
  }
  void SetName(const std::string& name) {
    std::fill(record.begin(), record.begin() + 12, ' ');
    std::copy(name.begin(), name.end(), record.begin());
  }
};

// One station's random work. Log lines: "W rec base seq rc" for a watched rewrite (base: the
// value read), "A rec name rc", "D rec rc", "H rc" (HOLD), "L rc" (LOCK).
int Station(const std::string& path, const std::string& logPath, int who) {
  Shared f(path);
  // The other station may hold its LOCK at this moment: OPEN then gives 5 until it lets go.
  int opened = f.Call(kOpOpen, 0, 0x42);
  for (int tries = 0; opened == kErrAccessDenied && tries < 500; ++tries) {
    ::usleep(10000);
    opened = f.Call(kOpOpen, 0, 0x42);
  }
  if (opened) return 10;
  if (f.Call(kOpStream)) return 11;
  std::mt19937 rng(static_cast<unsigned>(who * 7919));
  std::ostringstream log;
  int32_t counter = 0;
  // Reads a record, watches it and writes a new value over it.
  auto rewrite = [&](int64_t rec) {
    int rc = f.Call(kOpGetFilePtr, rec);
    if (rc) return rc;
    if (f.Call(kOpWatch)) return 12;
    const int32_t base = f.Seq();
    if (rng() % 4 == 0) ::usleep(200);  // widen the window for the other station
    const int32_t seq = who * 1000000 + ++counter;
    f.Write(seq, who);
    rc = f.Call(kOpPut);
    log << "W " << rec << ' ' << base << ' ' << seq << ' ' << rc << '\n';
    return 0;
  };
  for (int op = 0; op < kOps; ++op) {
    const int what = static_cast<int>(rng() % 100);
    const int64_t records = f.Value(kOpRecordsFile) + 60;  // deleted ones come back as 35
    const int64_t rec = what < 80 ? 1 + rng() % kInitial : 1 + rng() % records;
    if (what < 60) {
      rewrite(rec);
    } else if (what < 72) {
      if (f.Call(kOpGetFilePtr, rec)) continue;
      const int rc = f.Call(kOpHoldFile);
      log << "H " << rc << '\n';
      if (rc == 0) {
        rewrite(rec);
        if (f.Call(kOpRelease)) return 13;
      }
    } else if (what < 84) {
      const std::string name = "s" + std::to_string(who) + "-" + std::to_string(op);
      f.SetName(name);
      f.Write(who * 1000000 + ++counter, who);
      const int rc = f.Call(kOpAdd);
      log << "A " << (rc ? 0 : f.Value(kOpPointerFile)) << ' ' << name << ' ' << f.Seq() << ' '
          << rc << '\n';
    } else if (what < 90) {
      if (rec <= kInitial / 2 || f.Call(kOpGetFilePtr, rec)) continue;  // keep a hot set alive
      const int rc = f.Call(kOpDelete);
      log << "D " << rec << ' ' << rc << '\n';
    } else {
      const int rc = f.Call(kOpLockFile);
      log << "L " << rc << '\n';
      if (rc == 0) {
        rewrite(1 + rng() % kInitial);
        if (f.Call(kOpUnlock)) return 14;
      }
    }
  }
  if (f.Call(kOpFlush) || f.Call(kOpClose)) return 15;
  std::ofstream(logPath) << log.str();
  return 0;
}

pid_t Fork(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Write {
  int32_t base, seq;
};

TEST(TwoStationTest, RandomWorkOfTwoStationsLosesNothing) {
  TempDir dir;
  const std::string path = dir.File("shared");
  {
    Shared f(path);
    ASSERT_EQ(0, f.Call(kOpCreate));
    ASSERT_EQ(0, f.Call(kOpOpen, 0, 0x42));
    for (int i = 1; i <= kInitial; ++i) {
      f.SetName("init" + std::to_string(i));
      f.Write(i, 0);
      ASSERT_EQ(0, f.Call(kOpAdd));
    }
    ASSERT_EQ(0, f.Call(kOpClose));
  }
  pid_t a = Fork([&] { return Station(path, dir.File("a.log"), 1); });
  pid_t b = Fork([&] { return Station(path, dir.File("b.log"), 2); });
  ASSERT_EQ(0, Wait(a));
  ASSERT_EQ(0, Wait(b));

  // Successful rewrites per record, added and deleted records, and the codes seen.
  std::map<int64_t, std::vector<Write>> writes;
  std::map<int64_t, std::pair<std::string, int32_t>> added;
  std::set<int64_t> deleted;
  std::map<std::string, int> tally;
  for (const char* name : {"a.log", "b.log"}) {
    std::ifstream in(dir.File(name));
    std::string kind;
    while (in >> kind) {
      if (kind == "W") {
        int64_t rec;
        int32_t base, seq;
        int rc;
        in >> rec >> base >> seq >> rc;
        tally["W" + std::to_string(rc)]++;
        // 33: the record was deleted by the other station meanwhile.
        ASSERT_TRUE(rc == 0 || rc == kErrRecordChanged || rc == kErrRecordNotAvailable) << rc;
        if (rc == 0) writes[rec].push_back({base, seq});
      } else if (kind == "A") {
        int64_t rec;
        std::string n;
        int32_t seq;
        int rc;
        in >> rec >> n >> seq >> rc;
        tally["A" + std::to_string(rc)]++;
        ASSERT_TRUE(rc == 0 || rc == kErrAccessDenied || rc == kErrFileLocked) << rc;
        if (rc == 0) {
          ASSERT_FALSE(added.count(rec)) << "record " << rec << " added twice";
          added[rec] = {n, seq};
        }
      } else if (kind == "D") {
        int64_t rec;
        int rc;
        in >> rec >> rc;
        tally["D" + std::to_string(rc)]++;
        ASSERT_TRUE(rc == 0 || rc == kErrRecordNotAvailable) << rc;
        if (rc == 0) {
          ASSERT_TRUE(deleted.insert(rec).second) << "record " << rec << " deleted twice";
        }
      } else {
        int rc;
        in >> rc;
        tally[kind + std::to_string(rc)]++;
        if (kind == "H") ASSERT_TRUE(rc == 0 || rc == kErrRecordHeld) << rc;
        else ASSERT_TRUE(rc == 0 || rc == kErrFileLocked) << rc;
      }
    }
  }
  std::string summary;
  for (const auto& [k, n] : tally) summary += k + "=" + std::to_string(n) + " ";
  RecordProperty("codes", summary);
  EXPECT_GT(tally["W0"], 500) << summary;
  EXPECT_GT(tally["A0"], 50) << summary;

  Shared f(path);
  ASSERT_EQ(0, f.Call(kOpOpen, 0, 0x42));
  std::string fault;
  EXPECT_EQ(0, DatFile::Of(*f.fd).Check(&fault)) << fault;
  const int64_t last = f.Value(kOpRecordsFile) + static_cast<int64_t>(deleted.size());
  int64_t alive = 0;
  for (int64_t rec = 1; rec <= last; ++rec) {
    SCOPED_TRACE("record " + std::to_string(rec));
    const int rc = f.Call(kOpGetFilePtr, rec);
    if (deleted.count(rec)) {
      EXPECT_EQ(kErrRecordNotFound, rc);
      continue;
    }
    ASSERT_EQ(0, rc);
    ++alive;
    // The rewrites form one chain from the first value: each one read the value the one
    // before it wrote. Two based on the same value would be a lost update.
    int32_t value = rec <= kInitial ? static_cast<int32_t>(rec) : added.at(rec).second;
    if (rec > kInitial) {
      EXPECT_EQ(added.at(rec).first, f.Name());
    }
    std::map<int32_t, int32_t> next;
    for (const Write& w : writes[rec])
      EXPECT_TRUE(next.emplace(w.base, w.seq).second) << "two rewrites based on " << w.base;
    size_t steps = 0;
    for (auto it = next.find(value); it != next.end(); it = next.find(value), ++steps)
      value = it->second;
    EXPECT_EQ(steps, writes[rec].size()) << "rewrites not in one chain";
    EXPECT_EQ(value, f.Seq());
    EXPECT_EQ("seq " + std::to_string(f.Seq()), f.Note());
  }
  EXPECT_EQ(alive, f.Value(kOpRecordsFile));
  EXPECT_EQ(alive, f.Value(kOpRecordsKey, 1));
  EXPECT_EQ(alive, f.Value(kOpRecordsKey, 2));
  ASSERT_EQ(0, f.Call(kOpClose));
}

// A station walking a shared file goes on from the entry where it stood, without a search from
// the root; a change by another station is seen all the same by its next NEXT, GET and SET.
TEST(TwoStationTest, ChangesOfAnotherStationAreSeenByTheNextRead) {
  TempDir dir;
  const std::string path = dir.File("seen");
  auto name = [](int i) {
    char text[16];
    std::snprintf(text, sizeof text, "n%03d", i);
    return std::string(text);
  };
  Shared a(path);
  ASSERT_EQ(0, a.Call(kOpCreate));
  ASSERT_EQ(0, a.Call(kOpOpen, 0, 0x42));
  for (int i = 0; i < 400; i += 2) {
    a.SetName(name(i));
    a.Write(i, 0);
    ASSERT_EQ(0, a.Call(kOpAdd));
  }
  auto keyCall = [&](uint8_t op) {
    DriverArgs args;
    args.key = 1;  // BY_NAME
    return CallDriver(op, *a.fd, args);
  };
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    a.SetName(name(100 * round));
    ASSERT_EQ(0, keyCall(kOpSetKeyKey));
    for (int i = 0; i < 10; ++i) {
      ASSERT_EQ(0, a.Call(kOpNext));
      ASSERT_EQ(name(100 * round + 2 * i), a.Name());
    }
    // Another station adds a record right after the one just read, rewrites the next one and
    // deletes the one after.
    const int base = 100 * round + 18;
    pid_t child = ::fork();
    if (child == 0) {
      Shared b(path);
      if (b.Call(kOpOpen, 0, 0x42)) ::_exit(1);
      b.SetName(name(base + 1));
      b.Write(base + 1, 1);
      if (b.Call(kOpAdd)) ::_exit(2);
      DriverArgs by;
      by.key = 1;
      b.SetName(name(base + 2));
      if (CallDriver(kOpGetFileKey, *b.fd, by)) ::_exit(3);
      b.Write(7777, 1);
      if (b.Call(kOpPut)) ::_exit(4);
      b.SetName(name(base + 4));
      if (CallDriver(kOpGetFileKey, *b.fd, by) || b.Call(kOpDelete)) ::_exit(5);
      ::_exit(b.Call(kOpClose) ? 6 : 0);
    }
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    ASSERT_EQ(0, WEXITSTATUS(status));
    ASSERT_EQ(0, a.Call(kOpNext));
    EXPECT_EQ(name(base + 1), a.Name());
    ASSERT_EQ(0, a.Call(kOpNext));
    EXPECT_EQ(name(base + 2), a.Name());
    EXPECT_EQ(7777, a.Seq());
    ASSERT_EQ(0, a.Call(kOpNext));
    EXPECT_EQ(name(base + 6), a.Name());
    a.SetName(name(base + 1));
    ASSERT_EQ(0, keyCall(kOpGetFileKey));
    EXPECT_EQ(base + 1, a.Seq());
    a.SetName(name(base + 3));
    ASSERT_EQ(0, keyCall(kOpSetKeyKey));
    ASSERT_EQ(0, a.Call(kOpNext));
    EXPECT_EQ(name(base + 6), a.Name());
  }
  ASSERT_EQ(0, a.Call(kOpClose));
}

TEST(TwoStationTest, RecoverBreaksTheHoldAndLockOfAKilledStation) {
  TempDir dir;
  const std::string path = dir.File("shared");
  Shared f(path);
  ASSERT_EQ(0, f.Call(kOpCreate));
  ASSERT_EQ(0, f.Call(kOpOpen, 0, 0x42));
  for (int i = 1; i <= 5; ++i) {
    f.SetName("r" + std::to_string(i));
    f.Write(i, 0);
    ASSERT_EQ(0, f.Call(kOpAdd));
  }
  pid_t victim = Fork([&] {
    Shared g(path);
    if (g.Call(kOpOpen, 0, 0x42) || g.Call(kOpGetFilePtr, 3) || g.Call(kOpHoldFile) ||
        g.Call(kOpLockFile))
      return 1;
    ::kill(::getpid(), SIGKILL);
    return 2;
  });
  int status = 0;
  ::waitpid(victim, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

  // Left behind: the file locked, record 3 held.
  EXPECT_EQ(kErrFileLocked, f.Call(kOpLockFile));
  ASSERT_EQ(0, f.Call(kOpGetFilePtr, 3));
  EXPECT_EQ(kErrRecordHeld, f.Call(kOpHoldFile));

  DriverArgs send;
  send.text = "RECOVER=1";
  ASSERT_EQ(0, CallDriver(kOpSend, *f.fd, send));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, f.Call(kOpLockFile));
  EXPECT_EQ(0, f.Call(kOpUnlock));
  ASSERT_EQ(0, f.Call(kOpGetFilePtr, 3));
  EXPECT_EQ(0, f.Call(kOpHoldFile));
  f.Write(33, 0);
  EXPECT_EQ(0, f.Call(kOpPut));
  EXPECT_EQ(0, f.Call(kOpRelease));
  // Both were broken only after the stale time had passed.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

  // Nothing is left held or locked: a fresh station gets both at once.
  pid_t fresh = Fork([&] {
    Shared g(path);
    if (g.Call(kOpOpen, 0, 0x42)) return 1;
    if (g.Call(kOpGetFilePtr, 3) || g.Seq() != 33) return 2;
    if (g.Call(kOpHoldFile)) return 3;
    if (g.Call(kOpRelease) || g.Call(kOpLockFile) || g.Call(kOpUnlock)) return 4;
    return 0;
  });
  EXPECT_EQ(0, Wait(fresh));
  std::string fault;
  EXPECT_EQ(0, DatFile::Of(*f.fd).Check(&fault)) << fault;
  ASSERT_EQ(0, f.Call(kOpClose));
}

}  // namespace
}  // namespace korawin::storage::dat
