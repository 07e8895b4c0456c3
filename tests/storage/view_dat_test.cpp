// The view engine over the DAT driver: a SLOVO-shaped file with a NOCASE key in Russian order,
// the word-list filters, SET from the middle, positions, writes through the view and a random
// walk with deletions checked against a brute-force model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>

#include "lang/bind.h"
#include "platform/codepage.h"
#include "storage/dat/collation.h"
#include "storage/dat/dat_driver.h"
#include "storage/dat/dat_file.h"
#include "storage/view/view.h"
#include "tests/storage/dat_test_util.h"

namespace korawin::storage {
namespace {

using dat::testing::TempDir;

constexpr uint32_t kNameSize = 20;
constexpr uint32_t kThemeSize = 10;
constexpr uint32_t kRecordSize = kNameSize + 1 + kThemeSize + 4;

std::string Cp(const char* utf8) { return *platform::Utf8ToCp1251(utf8); }

// LEX:NAME STRING(20), LEX:MARK STRING(1), LEX:THEME STRING(10), LEX:NUM LONG, LEX:NOTE
// MEMO(200). Keys: 1 K_NAME unique NOCASE OPT (name); 2 BY_THEME DUP NOCASE OPT (theme, name).
struct Slovo {
  std::unique_ptr<FileDescriptor> fd = std::make_unique<FileDescriptor>();
  std::vector<char> record = std::vector<char>(kRecordSize, ' ');
  std::vector<char> memo = std::vector<char>(200, ' ');

  explicit Slovo(const std::string& path) {
    fd->driver = &dat::DatDriverEntry;
    fd->name = path;
    fd->label = "SLOVO";
    fd->attributes = kFileCreate | kFileReclaim;
    fd->recordSize = kRecordSize;
    fd->record = record.data();
    auto field = [](uint8_t type, uint32_t offset, uint32_t size, const char* label) {
      FieldDescriptor f;
      f.type = type;
      f.offset = offset;
      f.size = size;
      f.label = label;
      return f;
    };
    fd->fields = {field(kTypeString, 0, kNameSize, "LEX:NAME"),
                  field(kTypeString, kNameSize, 1, "LEX:MARK"),
                  field(kTypeString, kNameSize + 1, kThemeSize, "LEX:THEME"),
                  field(kTypeLong, kNameSize + 1 + kThemeSize, 4, "LEX:NUM")};
    fd->keys = {KeyDescriptor{"", "LEX:K_NAME", kKeyNoCase | kKeyOpt, {1}},
                KeyDescriptor{"", "LEX:BY_THEME", kKeyDup | kKeyNoCase | kKeyOpt, {3, 1}}};
    MemoDescriptor m;
    m.label = "LEX:NOTE";
    m.size = 200;
    m.buffer = memo.data();
    fd->memos = {m};
  }

  void Bind() {
    for (const FieldDescriptor& f : fd->fields)
      lang::BIND(f.label, lang::Variable::Field(f.type, record.data() + f.offset, f.size));
  }
  void SetText(uint32_t offset, uint32_t size, const std::string& s) {
    std::memset(record.data() + offset, ' ', size);
    std::memcpy(record.data() + offset, s.data(), std::min<size_t>(s.size(), size));
  }
  void Set(const std::string& name, const std::string& mark, const std::string& theme,
           int32_t num) {
    SetText(0, kNameSize, name);
    SetText(kNameSize, 1, mark);
    SetText(kNameSize + 1, kThemeSize, theme);
    std::memcpy(record.data() + kNameSize + 1 + kThemeSize, &num, 4);
    std::fill(memo.begin(), memo.end(), ' ');
    std::string note = "note " + std::to_string(num);
    std::copy(note.begin(), note.end(), memo.begin());
  }
  static std::string Trim(std::string s) { return s.erase(s.find_last_not_of(' ') + 1); }
  std::string Name() const { return Trim(std::string(record.data(), kNameSize)); }
  std::string Mark() const { return std::string(record.data() + kNameSize, 1); }
  std::string Theme() const { return Trim(std::string(record.data() + kNameSize + 1, kThemeSize)); }
  int32_t Num() const {
    int32_t n;
    std::memcpy(&n, record.data() + kNameSize + 1 + kThemeSize, 4);
    return n;
  }
  std::string Note() const { return Trim(std::string(memo.data(), memo.size())); }
  int Call(uint8_t op, int64_t number = 0, unsigned mode = 0x42) {
    DriverArgs a;
    a.number = number;
    a.mode = mode;
    return CallDriver(op, *fd, a);
  }
  uint32_t Pointer() {
    DriverArgs a;
    EXPECT_EQ(0, CallDriver(kOpPointerFile, *fd, a));
    return static_cast<uint32_t>(a.value);
  }
};

int SetProperty(View& v, int64_t property, const std::string& text) {
  DriverArgs a;
  a.number = property;
  a.text = text;
  return CallView(kOpSetProperty, v, a);
}

int SetView(View& v, int64_t n) {
  DriverArgs a;
  a.number = n;
  return CallView(kOpSetView, v, a);
}

int64_t Records(View& v) {
  DriverArgs a;
  EXPECT_EQ(0, CallView(kOpRecordsFile, v, a));
  return a.value;
}

class ViewDatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Russian folding and order, as the shipped environment file asks for.
    dat::Collation russian;
    windowsOrder_ = dat::Collation::Parse("VELCASE=WINDOWS\nVELCOLSEQ=WINDOWS\n", &russian) == 0;
    dat::SetActiveCollation(russian);
    slovo_ = std::make_unique<Slovo>(dir_.File("slovo"));
    ASSERT_EQ(0, slovo_->Call(kOpCreate));
    ASSERT_EQ(0, slovo_->Call(kOpOpen, 0, 0x42));
    ASSERT_EQ(0, slovo_->Call(kOpStream));  // one flush at the end, not one per header write
    lang::PUSHSCOPE(1);
    slovo_->Bind();
    std::memset(fragment_, ' ', sizeof fragment_);
    lang::BIND("glo:fr1", lang::Variable::String(fragment_, sizeof fragment_));
  }
  void TearDown() override {
    view_.reset();
    lang::POPSCOPE();
    slovo_->Call(kOpClose);
    dat::SetActiveCollation(dat::Collation());
  }
  uint32_t Add(const std::string& name, const std::string& mark, const std::string& theme,
               int32_t num) {
    slovo_->Set(name, mark, theme, num);
    EXPECT_EQ(0, slovo_->Call(kOpAdd)) << name;
    return slovo_->Pointer();
  }
  void OpenView() {
    view_ = std::make_unique<View>(ViewDeclaration{slovo_->fd.get(), {1, 2, 3, 4, 5}, {}});
    ASSERT_EQ(0, CallView(kOpOpen, *view_));
  }
  void SetFragment(const std::string& fr) {
    std::memset(fragment_, ' ', sizeof fragment_);
    std::memcpy(fragment_, fr.data(), std::min(fr.size(), sizeof fragment_));
  }
  std::vector<std::string> WalkNames(bool forward) {
    std::vector<std::string> out;
    while (CallView(forward ? kOpNext : kOpPrevious, *view_) == 0) out.push_back(slovo_->Name());
    return out;
  }
  void ExpectCheckPasses() {
    std::string fault;
    EXPECT_EQ(0, dat::DatFile::Of(*slovo_->fd).Check(&fault)) << fault;
  }

  TempDir dir_;
  bool windowsOrder_ = false;
  std::unique_ptr<Slovo> slovo_;
  std::unique_ptr<View> view_;
  char fragment_[20];
};

constexpr const char* kFragmentFilter =
    "(clip(glo:fr1)='' or instring(clip(glo:fr1),LEX:NAME,1)<>0)";

TEST_F(ViewDatTest, WordListOrderFiltersSetAndPositions) {
  if (!windowsOrder_) GTEST_SKIP() << "the system collator is not available";
  // Entered in no particular order, mixed case, and one card without a word (not in the key).
  Add(Cp("ждать"), " ", "wait", 1);
  Add(Cp("Бежать"), "*", "move", 2);
  Add(Cp("есть"), " ", "food", 3);
  Add("", " ", "none", 4);
  Add(Cp("абзац"), "*", "text", 5);
  Add(Cp("Ёрзать"), " ", "move", 6);
  Add(Cp("ворчать"), "*", "speech", 7);
  Add(Cp("Ворковать"), " ", "speech", 8);
  OpenView();
  ASSERT_EQ(0, SetProperty(*view_, kViewPropertyOrder, "UPPER(LEX:NAME)"));

  // Case folded, Ё after Е: the order a lexicographer expects.
  std::vector<std::string> all = WalkNames(true);
  ASSERT_EQ((std::vector<std::string>{Cp("абзац"), Cp("Бежать"), Cp("Ворковать"), Cp("ворчать"),
                                      Cp("есть"), Cp("Ёрзать"), Cp("ждать")}),
            all);
  EXPECT_EQ(7, Records(*view_));  // the card without a word is not in the key

  // PREVIOUS from the end walks the same list backwards.
  ASSERT_EQ(0, SetView(*view_, 0));
  std::vector<std::string> back = WalkNames(false);
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(all, back);

  // A locator typed in upper case lands in the middle, on the lower-case word.
  slovo_->Set(Cp("ВОРЧ"), " ", "", 0);
  ASSERT_EQ(0, SetView(*view_, 1));
  ASSERT_EQ(0, CallView(kOpNext, *view_));
  EXPECT_EQ(Cp("ворчать"), slovo_->Name());
  EXPECT_EQ(7, slovo_->Num());
  EXPECT_EQ("note 7", slovo_->Note());
  slovo_->Set(Cp("ВОРЧ"), " ", "", 0);
  ASSERT_EQ(0, SetView(*view_, 1));
  ASSERT_EQ(0, CallView(kOpPrevious, *view_));
  EXPECT_EQ(Cp("Ворковать"), slovo_->Name());

  // A position taken here; REGET reads it without moving, RESET starts from it.
  DriverArgs pos;
  ASSERT_EQ(0, CallView(kOpPositionFile, *view_, pos));
  ASSERT_EQ(0, CallView(kOpPrevious, *view_));
  EXPECT_EQ(Cp("Бежать"), slovo_->Name());
  DriverArgs reget;
  reget.text = pos.result;
  ASSERT_EQ(0, CallView(kOpRegetFile, *view_, reget));
  EXPECT_EQ(Cp("Ворковать"), slovo_->Name());
  ASSERT_EQ(0, CallView(kOpPrevious, *view_));
  EXPECT_EQ(Cp("абзац"), slovo_->Name());
  DriverArgs reset;
  reset.text = pos.result;
  ASSERT_EQ(0, CallView(kOpResetFile, *view_, reset));
  ASSERT_EQ(0, CallView(kOpNext, *view_));
  EXPECT_EQ(Cp("Ворковать"), slovo_->Name());
  ASSERT_EQ(0, CallView(kOpNext, *view_));
  EXPECT_EQ(Cp("ворчать"), slovo_->Name());

  // The word-list fragment filter: a blank fragment passes everything.
  ASSERT_EQ(0, SetProperty(*view_, kViewPropertyFilter, kFragmentFilter));
  EXPECT_EQ(7, Records(*view_));
  SetFragment(Cp("ать"));
  ASSERT_EQ(0, SetProperty(*view_, kViewPropertyFilter, kFragmentFilter));
  EXPECT_EQ(5, Records(*view_));
  EXPECT_EQ((std::vector<std::string>{Cp("Бежать"), Cp("Ворковать"), Cp("ворчать"), Cp("Ёрзать"),
                                      Cp("ждать")}),
            WalkNames(true));

  // Marked cards containing the fragment; then a fragment nobody has.
  ASSERT_EQ(0, SetProperty(*view_, kViewPropertyFilter,
                           std::string("(LEX:MARK='*' and ") + kFragmentFilter + ")"));
  EXPECT_EQ((std::vector<std::string>{Cp("Бежать"), Cp("ворчать")}), WalkNames(true));
  SetFragment("xyz");
  ASSERT_EQ(0, SetProperty(*view_, kViewPropertyFilter, kFragmentFilter));
  EXPECT_EQ(0, Records(*view_));
  EXPECT_EQ(kErrRecordNotAvailable, CallView(kOpNext, *view_));

  // A name nobody bound is refused when set.
  EXPECT_NE(0, SetProperty(*view_, kViewPropertyFilter, "(glo:nobody='x')"));
  EXPECT_EQ(7, Records(*view_));
}

TEST_F(ViewDatTest, WritesThroughTheViewKeepTheKeyAndSeeOtherStations) {
  if (!windowsOrder_) GTEST_SKIP() << "the system collator is not available";
  Add(Cp("бежать"), " ", "move", 1);
  Add(Cp("ворчать"), " ", "speech", 2);
  Add(Cp("ждать"), " ", "wait", 3);
  OpenView();
  ASSERT_EQ(0, SetProperty(*view_, kViewPropertyOrder, "UPPER(LEX:NAME)"));

  // A renamed card moves to its new place in the key.
  ASSERT_EQ(0, CallView(kOpNext, *view_));
  ASSERT_EQ(Cp("бежать"), slovo_->Name());
  slovo_->SetText(0, kNameSize, Cp("Яриться"));
  DriverArgs put;
  ASSERT_EQ(0, CallView(kOpPut, *view_, put));
  ASSERT_EQ(0, SetView(*view_, 0));
  std::vector<std::string> names = WalkNames(true);
  EXPECT_EQ((std::vector<std::string>{Cp("ворчать"), Cp("ждать"), Cp("Яриться")}), names);
  ExpectCheckPasses();

  // WATCH through the view watches the record the next read yields: another station's change
  // of that record makes the PUT fail with 89 and leaves their version on disk.
  Slovo other(dir_.File("slovo"));
  ASSERT_EQ(0, other.Call(kOpOpen, 0, 0x42));
  slovo_->Set(Cp("ж"), " ", "", 0);
  ASSERT_EQ(0, SetView(*view_, 1));
  ASSERT_EQ(0, CallView(kOpWatch, *view_));
  ASSERT_EQ(0, CallView(kOpNext, *view_));
  ASSERT_EQ(Cp("ждать"), slovo_->Name());
  const uint32_t rec = slovo_->Pointer();
  ASSERT_EQ(0, other.Call(kOpGetFilePtr, rec));
  other.SetText(kNameSize + 1, kThemeSize, "theirs");
  ASSERT_EQ(0, other.Call(kOpPut));
  slovo_->SetText(kNameSize + 1, kThemeSize, "mine");
  EXPECT_EQ(kErrRecordChanged, CallView(kOpPut, *view_, put));
  ASSERT_EQ(0, other.Call(kOpGetFilePtr, rec));
  EXPECT_EQ("theirs", other.Theme());
  // Their version read again under a fresh watch, the PUT goes through.
  ASSERT_EQ(0, SetView(*view_, 1));
  ASSERT_EQ(0, CallView(kOpWatch, *view_));
  ASSERT_EQ(0, CallView(kOpNext, *view_));
  EXPECT_EQ("theirs", slovo_->Theme());
  slovo_->SetText(kNameSize + 1, kThemeSize, "mine");
  EXPECT_EQ(0, CallView(kOpPut, *view_, put));
  ASSERT_EQ(0, other.Call(kOpGetFilePtr, rec));
  EXPECT_EQ("mine", other.Theme());
  ASSERT_EQ(0, other.Call(kOpClose));

  // A card deleted through the view leaves the walk going on from its neighbour.
  ASSERT_EQ(0, SetView(*view_, 0));
  ASSERT_EQ(0, CallView(kOpNext, *view_));
  ASSERT_EQ(Cp("ворчать"), slovo_->Name());
  ASSERT_EQ(0, CallView(kOpDelete, *view_, put));
  ASSERT_EQ(0, CallView(kOpNext, *view_));
  EXPECT_EQ(Cp("ждать"), slovo_->Name());
  EXPECT_EQ(2, Records(*view_));
  ExpectCheckPasses();
}

// ---- random walk against a model ----

struct Card {
  std::string name, mark, theme;
  int32_t num;
  uint32_t rec;
};

struct OrderCase {
  const char* order;
  int key;  // 0: sorted by the view itself
};

class ViewDatModelTest : public ViewDatTest, public ::testing::WithParamInterface<OrderCase> {
 protected:
  // The bytes a card sorts by in the current order.
  std::string SortBytes(const Card& c) const {
    auto folded = [](const std::string& s, uint32_t size) {
      std::string padded = s;
      padded.resize(size, ' ');
      std::string out(size, '\0');
      dat::ActiveCollation().Translate(reinterpret_cast<const unsigned char*>(padded.data()),
                                       size, true, false,
                                       reinterpret_cast<unsigned char*>(out.data()));
      return out;
    };
    switch (GetParam().key) {
      case 1: return folded(c.name, kNameSize);
      case 2: return folded(c.theme, kThemeSize) + folded(c.name, kNameSize);
      default: {
        std::string s = c.name;
        s.resize(kNameSize, ' ');
        return s;
      }
    }
  }
  bool InOrder(const Card& c) const {
    if (GetParam().key == 1) return !c.name.empty();
    if (GetParam().key == 2) return !c.name.empty() || !c.theme.empty();
    return true;
  }
};

TEST_P(ViewDatModelTest, RandomWalkWithWritesAgreesWithTheModel) {
  std::mt19937 rng(11);
  const std::string letters = Cp("абвгдАБВГДеЁё");
  const char* themes[] = {"move", "MOVE", "speech", "", "sight"};
  std::map<uint32_t, Card> cards;  // by record number
  int serial = 0;
  auto addRandom = [&] {
    Card c;
    if (rng() % 15 != 0) {
      for (int n = 1 + static_cast<int>(rng() % 4); n > 0; --n) c.name += letters[rng() % letters.size()];
      c.name += std::to_string(serial++);  // unique under folding
    }
    c.mark = rng() % 3 == 0 ? '*' : ' ';
    c.theme = themes[rng() % std::size(themes)];
    c.num = static_cast<int32_t>(rng() % 1000);
    c.rec = Add(c.name, c.mark, c.theme, c.num);
    cards[c.rec] = c;
  };
  for (int i = 0; i < 120; ++i) addRandom();
  OpenView();
  ASSERT_EQ(0, SetProperty(*view_, kViewPropertyOrder, GetParam().order));

  const char* kFilters[] = {"", kFragmentFilter,
                            "(LEX:MARK='*' and (clip(glo:fr1)='' or "
                            "instring(clip(glo:fr1),LEX:NAME,1)<>0))"};
  const std::string kFragments[] = {"", Cp("а"), Cp("Б"), "1"};
  int filter = 0;
  std::string fr;
  std::vector<Card> model;
  auto rebuild = [&] {
    model.clear();
    for (const auto& [rec, c] : cards) {
      if (!InOrder(c)) continue;
      if (filter >= 1 && !fr.empty() && c.name.find(fr) == std::string::npos) continue;
      if (filter == 2 && c.mark != "*") continue;
      model.push_back(c);
    }
    std::stable_sort(model.begin(), model.end(), [&](const Card& a, const Card& b) {
      return SortBytes(a) < SortBytes(b);  // ties stay in record order
    });
  };
  rebuild();
  int64_t next = 0, prev = static_cast<int64_t>(model.size()) - 1;
  int64_t current = -1;  // model index of the view's current record
  std::vector<std::pair<std::string, uint32_t>> saved;  // view position, record number
  auto indexOf = [&](uint32_t rec) {
    for (size_t i = 0; i < model.size(); ++i)
      if (model[i].rec == rec) return static_cast<int64_t>(i);
    return int64_t{-1};
  };
  auto expectCurrent = [&](int64_t i) {
    const Card& c = model[static_cast<size_t>(i)];
    ASSERT_EQ(slovo_->Name(), c.name);
    ASSERT_EQ(slovo_->Num(), c.num);
    ASSERT_EQ(slovo_->Note(), "note " + std::to_string(c.num));
  };

  for (int step = 0; step < 2000; ++step) {
    SCOPED_TRACE(step);
    const int action = static_cast<int>(rng() % 100);
    const int64_t size = static_cast<int64_t>(model.size());
    if (action < 40) {
      const bool forward = action < 25;
      const int64_t want = forward ? next : prev;
      const int rc = CallView(forward ? kOpNext : kOpPrevious, *view_);
      if (want < 0 || want >= size) {
        ASSERT_EQ(rc, kErrRecordNotAvailable);
        next = forward ? size : 0;
        prev = forward ? size - 1 : -1;
        current = -1;
        continue;
      }
      ASSERT_EQ(rc, 0);
      expectCurrent(want);
      if (HasFatalFailure()) return;
      current = want;
      next = want + 1;
      prev = want - 1;
      if (rng() % 6 == 0) {
        DriverArgs pos;
        ASSERT_EQ(CallView(kOpPositionFile, *view_, pos), 0);
        saved.emplace_back(pos.result, model[static_cast<size_t>(want)].rec);
      }
    } else if (action < 55) {
      // A locator on the first order item.
      std::string probe = rng() % 4 == 0 ? std::string() : std::string(1, letters[rng() % letters.size()]);
      Card p{probe, " ", probe, 0, 0};
      if (GetParam().key == 2) {
        p.theme = themes[rng() % std::size(themes)];
        slovo_->Set("", " ", p.theme, 0);
      } else {
        slovo_->Set(probe, " ", "", 0);
      }
      const bool none = GetParam().key == 2 ? false : probe.empty();
      ASSERT_EQ(SetView(*view_, none ? 0 : 1), 0);
      current = -1;
      if (none) {
        next = 0;
        prev = size - 1;
      } else {
        // Compare on the first item only: the theme, or the name.
        auto first = [&](const Card& c) {
          std::string b = SortBytes(c);
          return GetParam().key == 2 ? b.substr(0, kThemeSize) : b;
        };
        const std::string pb = first(p);
        next = std::find_if(model.begin(), model.end(), [&](const Card& c) { return first(c) >= pb; }) -
               model.begin();
        prev = (std::find_if(model.begin(), model.end(), [&](const Card& c) { return first(c) > pb; }) -
                model.begin()) - 1;
      }
    } else if (action < 65 && !saved.empty()) {
      const auto& [pos, rec] = saved[rng() % saved.size()];
      const int64_t index = indexOf(rec);
      ASSERT_GE(index, 0);
      DriverArgs reset;
      reset.text = pos;
      ASSERT_EQ(CallView(kOpResetFile, *view_, reset), 0);
      next = prev = index;
      current = -1;
    } else if (action < 78 && current >= 0) {
      // PUT through the view: a new number and memo on the current card.
      Card& c = cards[model[static_cast<size_t>(current)].rec];
      c.num = static_cast<int32_t>(1000 + rng() % 1000);
      slovo_->Set(c.name, c.mark, c.theme, c.num);
      DriverArgs put;
      ASSERT_EQ(CallView(kOpPut, *view_, put), 0);
      model[static_cast<size_t>(current)].num = c.num;
    } else if (action < 86 && current >= 0) {
      // DELETE through the view: the walk goes on from the neighbours.
      const uint32_t rec = model[static_cast<size_t>(current)].rec;
      DriverArgs del;
      ASSERT_EQ(CallView(kOpDelete, *view_, del), 0);
      cards.erase(rec);
      model.erase(model.begin() + current);
      std::erase_if(saved, [&](const auto& s) { return s.second == rec; });
      next = current;
      prev = current - 1;
      current = -1;
    } else if (action < 91) {
      filter = static_cast<int>(rng() % 3);
      fr = kFragments[rng() % std::size(kFragments)];
      SetFragment(fr);
      ASSERT_EQ(SetProperty(*view_, kViewPropertyFilter, kFilters[filter]), 0);
      rebuild();
      saved.clear();
      next = 0;
      prev = static_cast<int64_t>(model.size()) - 1;
      current = -1;
      ASSERT_EQ(Records(*view_), static_cast<int64_t>(model.size()));
    } else if (action < 94) {
      // New cards come in from outside the view; the view starts over to see them.
      for (int i = 0; i < 3; ++i) addRandom();
      ASSERT_EQ(CallView(kOpFlush, *view_), 0);
      ASSERT_EQ(SetView(*view_, 0), 0);
      rebuild();
      saved.clear();
      next = 0;
      prev = static_cast<int64_t>(model.size()) - 1;
      current = -1;
    } else {
      ASSERT_EQ(Records(*view_), static_cast<int64_t>(model.size()));
    }
  }
  ExpectCheckPasses();
}

INSTANTIATE_TEST_SUITE_P(Orders, ViewDatModelTest,
                         ::testing::Values(OrderCase{"UPPER(LEX:NAME)", 1},
                                           OrderCase{"UPPER(LEX:THEME), UPPER(LEX:NAME)", 2},
                                           OrderCase{"LEX:NAME", 0}),
                         [](const auto& info) {
                           return std::string(info.param.key == 1   ? "NameKey"
                                              : info.param.key == 2 ? "ThemeKey"
                                                                    : "Sorted");
                         });

}  // namespace
}  // namespace korawin::storage

namespace korawin::storage {
namespace {

// A wide record whose filter reads only its first bytes: CODE STRING(8), BODY STRING(100), a
// memo no view here projects; key K_CODE on CODE.
TEST(ViewReadInPartTest, WideRecordsReadOrWrittenInPartStayWhole) {
  TempDir dir;
  constexpr uint32_t kCode = 8, kBody = 100;
  std::vector<char> record(kCode + kBody, ' '), memo(50, ' ');
  FileDescriptor fd;
  fd.driver = &dat::DatDriverEntry;
  fd.name = dir.File("wide");
  fd.label = "WIDE";
  fd.attributes = kFileCreate;
  fd.recordSize = kCode + kBody;
  fd.record = record.data();
  FieldDescriptor code, body;
  code.type = body.type = kTypeString;
  code.size = kCode;
  code.label = "W:CODE";
  body.offset = kCode;
  body.size = kBody;
  body.label = "W:BODY";
  fd.fields = {code, body};
  fd.keys = {KeyDescriptor{"", "W:K_CODE", 0, {1}}};
  MemoDescriptor m;
  m.label = "W:NOTE";
  m.size = 50;
  m.buffer = memo.data();
  fd.memos = {m};
  auto call = [&](uint8_t op, int64_t number = 0, const std::string& text = "") {
    DriverArgs a;
    a.number = number;
    a.mode = 0x42;  // read and write, shared with every other open
    a.text = text;
    return CallDriver(op, fd, a);
  };
  auto put = [&](int i) {
    std::string c = std::to_string(10000 + i), b = "body of " + c;
    std::fill(record.begin(), record.end(), ' ');
    std::memcpy(record.data(), c.data(), c.size());
    std::memcpy(record.data() + kCode, b.data(), b.size());
  };
  auto codeIn = [&] { return std::string(record.data(), 5); };
  auto bodyIn = [&] { return Slovo::Trim(std::string(record.data() + kCode, kBody)); };
  ASSERT_EQ(0, call(kOpCreate));
  ASSERT_EQ(0, call(kOpOpen));
  const int n = 400;
  for (int i = 0; i < n; ++i) {
    put(i);
    ASSERT_EQ(0, call(kOpAdd));
  }
  lang::PUSHSCOPE(1);
  lang::BIND("W:CODE", lang::Variable::String(record.data(), kCode));
  lang::BIND("W:BODY", lang::Variable::String(record.data() + kCode, kBody));

  // Few records pass, then most, along the key and in record order: each row is one record,
  // all of it.
  const std::pair<const char*, const char*> walks[] = {
      {"W:CODE", "instring('7',W:CODE,1)<>0"}, {"W:CODE", "instring('7',W:CODE,1)=0"},
      {"", "instring('7',W:CODE,1)<>0"},       {"", "instring('7',W:CODE,1)=0"}};
  for (auto [order, filter] : walks) {
    int expected = 0;
    for (int i = 0; i < n; ++i)
      expected += (std::to_string(10000 + i).find('7') != std::string::npos) ==
                  (std::string(filter).find("<>") != std::string::npos);
    View view(ViewDeclaration{&fd, {1, 2}, {}});
    ASSERT_EQ(0, CallView(kOpOpen, view));
    if (*order) {
      ASSERT_EQ(0, SetProperty(view, kViewPropertyOrder, order));
    }
    ASSERT_EQ(0, SetProperty(view, kViewPropertyFilter, filter));
    int rows = 0;
    std::string last;
    while (CallView(kOpNext, view) == 0) {
      ++rows;
      EXPECT_EQ("body of " + codeIn(), bodyIn()) << order << " " << filter;
      EXPECT_LT(last, codeIn());
      last = codeIn();
    }
    EXPECT_EQ(expected, rows) << order << " " << filter;
    ASSERT_EQ(0, CallView(kOpClose, view));
  }

  // The driver's read in part: the bytes asked for are the record's, the rest of the buffer
  // keeps what it held, and nothing writes that mix until the record is read whole.
  ASSERT_EQ(0, call(kOpGetFilePtr, 9));
  ASSERT_EQ(0, call(kOpSetProperty, kCode, kPropertyReadPrefix));
  ASSERT_EQ(0, call(kOpGetFilePtr, 5));
  EXPECT_EQ("10004", codeIn());
  EXPECT_EQ("body of 10008", bodyIn());
  EXPECT_EQ(kErrRecordNotAvailable, call(kOpPut));
  EXPECT_EQ(kErrRecordNotAvailable, call(kOpDelete));
  ASSERT_EQ(0, call(kOpGetFilePtr, 5));  // one read only: this one is whole
  EXPECT_EQ("body of 10004", bodyIn());
  EXPECT_EQ(0, call(kOpPut));

  // PUT writes only the stretch from the first byte that changed to the last: both read back.
  const std::pair<uint32_t, uint32_t> changes[] = {{0, 107}, {8, 40}, {8, 50}, {59, 60}, {3, 99}};
  for (auto [first, last] : changes) {
    ASSERT_EQ(0, call(kOpGetFilePtr, 7));
    record[first] = static_cast<char>('a' + first % 26);
    record[last] = static_cast<char>('A' + last % 26);
    const std::vector<char> written = record;
    ASSERT_EQ(0, call(kOpPut)) << first;
    std::fill(record.begin(), record.end(), '#');
    ASSERT_EQ(0, call(kOpGetFilePtr, 7));
    EXPECT_TRUE(record == written) << first << ".." << last;
  }
  lang::POPSCOPE();
  ASSERT_EQ(0, call(kOpClose));
}

}  // namespace
}  // namespace korawin::storage
