#include "app/repair.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "platform/codepage.h"
#include "platform/field_codec.h"
#include "storage/dat/dat_driver.h"

namespace korawin::app {

namespace {

using storage::CallDriver;
using storage::DriverArgs;
using storage::FileDescriptor;

// Read and write, others may only read.
constexpr unsigned kPassMode = storage::kOpenReadWrite | storage::kShareDenyWrite;
constexpr size_t kWordWidth = 32;
constexpr int kSlovoKeySlo = 1;  // K_SLO, the first key of SLOVO

bool IsBlank(std::string_view s) { return platform::TrimTrailing(s).empty(); }

// The derived files in the order the repair creates, opens and empties them.
constexpr LexiconFile kDerived[] = {LexiconFile::kDct, LexiconFile::kTax, LexiconFile::kP4,
                                    LexiconFile::kP7,  LexiconFile::kP8b, LexiconFile::kP8e,
                                    LexiconFile::kAk2, LexiconFile::kAk3, LexiconFile::kTema};
// ... and the order they are closed in, SLOVO second.
constexpr LexiconFile kCloseOrder[] = {LexiconFile::kDct, LexiconFile::kSlovo, LexiconFile::kTax,
                                       LexiconFile::kP4,  LexiconFile::kP7,    LexiconFile::kP8e,
                                       LexiconFile::kP8b, LexiconFile::kTema,  LexiconFile::kAk2,
                                       LexiconFile::kAk3};

// One vocabulary addition: target file and field, source field of SLOVO.
struct Assignment {
  LexiconFile target;
  const char* field;
  const char* source;
};
constexpr Assignment kAssignments[] = {
    {LexiconFile::kTax, "T", "IV"},      {LexiconFile::kP4, "F", "V_4"},
    {LexiconFile::kP7, "F", "V_7"},      {LexiconFile::kP8e, "F", "V8E"},
    {LexiconFile::kP8b, "F", "V8B"},     {LexiconFile::kAk2, "A", "ACT41"},
    {LexiconFile::kAk2, "A", "ACT42"},   {LexiconFile::kAk2, "A", "ACT43"},
    {LexiconFile::kAk2, "A", "ACT44"},   {LexiconFile::kAk2, "A", "ACT45"},
    {LexiconFile::kAk3, "A", "ACT51"},   {LexiconFile::kAk3, "A", "ACT52"},
    {LexiconFile::kAk3, "A", "ACT53"},   {LexiconFile::kAk3, "A", "ACT54"},
    {LexiconFile::kAk3, "A", "ACT55"},   {LexiconFile::kTema, "T", "TEMA"}};

// Texts looked up by string_view without a copy.
using TextSet = std::set<std::string, std::less<>>;

// A field's place in a record buffer, looked up once per pass.
struct Slot {
  char* data = nullptr;
  size_t size = 0;
};

Slot SlotOf(DeclaredFile& d, const char* name) {
  int i = d.FieldIndex(name);
  const storage::FieldDescriptor& f = d.fd().fields[static_cast<size_t>(i)];
  return {d.record.data() + f.offset, f.size};
}

void Assign(const Slot& to, std::string_view value) {
  size_t n = std::min(to.size, value.size());
  std::memcpy(to.data, value.data(), n);
  std::memset(to.data + n, ' ', to.size - n);
}

}  // namespace

bool UnusableFile(int openError) {
  return openError == storage::kErrFileNotFound || openError == storage::kErrInvalidDataFile ||
         openError == storage::kErrInvalidRecordDeclaration ||
         openError == storage::kErrKeyRebuild || openError == storage::kErrInvalidMemoFile;
}

void PassTransaction::Begin() {
  if (!enabled_) return;
  for (DeclaredFile* d : files_) {
    int err = CallDriver(storage::kOpLogout, d->fd());
    if (err == 0) {
      active_ = true;
      continue;
    }
    if (err != storage::kErrUnsupportedFunction) NotePassError(report_, err, "LOGOUT", d->fd());
    enabled_ = false;
    if (active_) Commit();  // what joined so far ends here; the pass goes on without
    return;
  }
}

void PassTransaction::Commit() {
  if (!active_) return;
  active_ = false;
  DeclaredFile& any = *files_.front();
  int err = CallDriver(storage::kOpCommit, any.fd());
  if (err == 0) return;
  NotePassError(report_, err, "COMMIT", any.fd());
  // A rollback that fails keeps its journal for the next OPEN; the pass notes it.
  NotePassError(report_, CallDriver(storage::kOpRollback, any.fd()), "ROLLBACK", any.fd());
}

LexiconFiles LexiconFiles::InFolder(const std::string& folder, storage::DriverEntryFn driver) {
  LexiconFiles set;
  if (!driver) driver = &storage::dat::DatDriverEntry;
  for (int i = 0; i < kLexiconFileCount; ++i) {
    auto d = std::make_shared<DeclaredFile>(DeclareFile(static_cast<LexiconFile>(i), driver, folder));
    set.files_[static_cast<size_t>(i)] = d.get();
    set.owned_.push_back(std::move(d));
  }
  return set;
}

LexiconFiles::LexiconFiles(const std::array<DeclaredFile*, kLexiconFileCount>& files)
    : files_(files) {}

void NotePassError(PassReport* report, int code, const char* op, const FileDescriptor& file) {
  if (code == 0 || report->firstError != 0) return;
  report->firstError = code;
  report->failedWhere = std::string(op) + " " + file.name;
}

std::string WordOfLexeme(std::string_view iVerb) {
  size_t blank = iVerb.find(' ');
  if (blank == std::string_view::npos) return std::string();
  return std::string(iVerb.substr(0, std::min(blank + 1, kWordWidth)));
}

int RepairDatabase(const LexiconFiles& files, ui::MessageUi& messages,
                   const PassProgress& progress, PassReport* out, int64_t lexemesPerTransaction) {
  PassReport local;
  PassReport& report = out ? *out : local;
  report = PassReport();
  DeclaredFile& slovo = files[LexiconFile::kSlovo];
  DeclaredFile& dct = files[LexiconFile::kDct];

  // 1-3: the derived files opened, with SLOVO, and emptied. A file that opens is emptied
  // inside the first transaction instead of being created anew, which comes to the same files
  // but, unlike CREATE, cannot be cut half-way by a crash; a file that is missing or unusable
  // is created anew first, as nothing of it can be lost.
  std::vector<DeclaredFile*> opened;
  auto open = [&](DeclaredFile& d, bool createWhenUnusable) {
    DriverArgs args;
    args.mode = kPassMode;
    int err = CallDriver(storage::kOpOpen, d.fd(), args);
    if (err && createWhenUnusable && UnusableFile(err)) {
      err = CallDriver(storage::kOpCreate, d.fd());
      NotePassError(&report, err, "CREATE", d.fd());
      if (err) return;
      err = CallDriver(storage::kOpOpen, d.fd(), args);
    }
    NotePassError(&report, err, "OPEN", d.fd());
    if (err == 0) opened.push_back(&d);
  };
  for (LexiconFile f : kDerived) open(files[f], true);
  open(slovo, false);
  // One flush per file at the end instead of one per header write; the files come out the same.
  for (DeclaredFile* d : opened)
    NotePassError(&report, CallDriver(storage::kOpStream, d->fd()), "STREAM", d->fd());
  PassTransaction transaction(opened, &report);
  transaction.Begin();
  for (LexiconFile f : kDerived)
    NotePassError(&report, CallDriver(storage::kOpEmpty, files[f].fd()), "EMPTY", files[f].fd());

  // 4: the record count, for the progress shown beside the beeps.
  DriverArgs count;
  if (CallDriver(storage::kOpRecordsFile, slovo.fd(), count) == 0) report.total = count.value;

  // 5.
  ui::MessageBoxRequest ask;
  ask.text = platform::Utf8ToCp1251Lossy("Восстановить данные?");
  ask.buttons = ui::ButtonOk;
  messages.ShowMessage(ask);

  // 6: the pass along K_SLO.
  const Slot iVerb = SlotOf(slovo, "I_VERB");
  const Slot verv = SlotOf(slovo, "VERV");
  const Slot dctVerv = SlotOf(dct, "VERV");
  const Slot dctNum = SlotOf(dct, "NUM");
  // The values each list already answered ADD for, added or already there: the same bytes
  // again can only be a duplicate (no other station writes the lists while the pass holds
  // them), so they cost no key search. The lists hold a few hundred values each.
  TextSet answered[kLexiconFileCount];
  struct Target {
    DeclaredFile* file;
    Slot to;
    Slot from;
    TextSet* seen;
  };
  std::vector<Target> targets;
  for (const Assignment& a : kAssignments)
    targets.push_back({&files[a.target], SlotOf(files[a.target], a.field), SlotOf(slovo, a.source),
                       &answered[static_cast<size_t>(a.target)]});

  // The word in hand lives in DCT:VERV; blank until the first lexeme.
  int64_t inHand = 0;  // lexemes of the word in hand
  auto addWord = [&] {
    if (IsBlank(std::string_view(dctVerv.data, dctVerv.size))) return;
    dctNum.data[0] = static_cast<char>(std::min<int64_t>(inHand, kMaxWordCount));
    int err = CallDriver(storage::kOpAdd, dct.fd());
    if (err == 0) ++report.words;
    else if (err != storage::kErrDuplicateKey) NotePassError(&report, err, "ADD", dct.fd());
  };

  Assign(iVerb, "");
  DriverArgs set;
  set.key = kSlovoKeySlo;
  NotePassError(&report, CallDriver(storage::kOpSetKey, slovo.fd(), set), "SET", slovo.fd());
  for (;;) {
    int err = CallDriver(storage::kOpNext, slovo.fd());
    if (err == storage::kErrRecordNotAvailable) break;  // past the last lexeme
    if (err) {
      NotePassError(&report, err, "NEXT", slovo.fd());
      break;
    }
    messages.Beep(ui::Sound::Exclamation);
    ++report.lexemes;
    if (progress) progress(report.lexemes, report.total);

    std::string word = WordOfLexeme(std::string_view(iVerb.data, iVerb.size));
    Assign(verv, word);
    NotePassError(&report, CallDriver(storage::kOpPut, slovo.fd()), "PUT", slovo.fd());

    // Word counting: consecutive lexemes with the same word (case counts) form one group.
    std::string_view hand = platform::TrimTrailing(std::string_view(dctVerv.data, dctVerv.size));
    if (report.lexemes > 1 && platform::TrimTrailing(word) == hand) {
      ++inHand;
    } else {
      // A blank word in hand is never written; the next word simply replaces it.
      if (report.lexemes > 1) addWord();
      Assign(dctVerv, word);
      inHand = 1;
    }

    for (const Target& t : targets) {
      std::string_view value(t.from.data, t.from.size);
      Assign(t.to, value);
      std::string_view stored(t.to.data, t.to.size);
      if (IsBlank(stored)) continue;
      if (t.seen->find(stored) != t.seen->end()) continue;
      int add = CallDriver(storage::kOpAdd, t.file->fd());
      if (add == 0) ++report.added;
      else if (add != storage::kErrDuplicateKey) NotePassError(&report, add, "ADD", t.file->fd());
      if (add == 0 || add == storage::kErrDuplicateKey) t.seen->emplace(stored);
    }
    if (lexemesPerTransaction > 0 && report.lexemes % lexemesPerTransaction == 0) {
      transaction.Commit();
      transaction.Begin();
    }
  }
  if (report.lexemes > 0) addWord();
  transaction.Commit();

  // 7.
  for (LexiconFile f : kCloseOrder) {
    DeclaredFile& d = files[f];
    if (std::find(opened.begin(), opened.end(), &d) == opened.end()) continue;
    NotePassError(&report, CallDriver(storage::kOpFlush, d.fd()), "FLUSH", d.fd());
    NotePassError(&report, CallDriver(storage::kOpClose, d.fd()), "CLOSE", d.fd());
  }

  // 8.
  ui::MessageBoxRequest done;
  done.text = platform::Utf8ToCp1251Lossy("        ГОТОВО!    | Продолжить работу?");
  done.buttons = ui::ButtonOk;
  messages.ShowMessage(done);
  return report.firstError;
}

}  // namespace korawin::app
