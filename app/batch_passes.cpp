#include "app/batch_passes.h"

#include <algorithm>
#include <cstring>

#include "platform/codepage.h"

namespace korawin::app {

namespace {

using storage::CallDriver;
using storage::DriverArgs;

constexpr unsigned kPassMode = storage::kOpenReadWrite | storage::kShareDenyWrite;

int OpenForPass(DeclaredFile& d, PassReport* report) {
  DriverArgs args;
  args.mode = kPassMode;
  int err = CallDriver(storage::kOpOpen, d.fd(), args);
  NotePassError(report, err, "OPEN", d.fd());
  return err;
}

bool MemoIsBlank(const std::vector<char>& memo) {
  return std::all_of(memo.begin(), memo.end(), [](char c) { return c == ' '; });
}

}  // namespace

int PrepareAbc(const LexiconFiles& files, PassReport* out) {
  PassReport local;
  PassReport& report = out ? *out : local;
  report = PassReport();
  DeclaredFile& abc = files[LexiconFile::kAbc];
  DeclaredFile& slovo = files[LexiconFile::kSlovo];

  NotePassError(&report, CallDriver(storage::kOpCreate, abc.fd()), "CREATE", abc.fd());
  OpenForPass(abc, &report);
  OpenForPass(slovo, &report);
  NotePassError(&report, CallDriver(storage::kOpEmpty, abc.fd()), "EMPTY", abc.fd());
  NotePassError(&report, CallDriver(storage::kOpStream, abc.fd()), "STREAM", abc.fd());

  DriverArgs count;
  if (CallDriver(storage::kOpRecordsFile, slovo.fd(), count) == 0) report.total = count.value;
  slovo.SetField("I_VERB", "");
  DriverArgs set;
  set.key = 1;  // K_SLO
  NotePassError(&report, CallDriver(storage::kOpSetKey, slovo.fd(), set), "SET", slovo.fd());
  for (;;) {
    int err = CallDriver(storage::kOpNext, slovo.fd());
    if (err == storage::kErrRecordNotAvailable) break;
    if (err) {
      NotePassError(&report, err, "NEXT", slovo.fd());
      break;
    }
    ++report.lexemes;
    abc.SetField("LEXEMA", slovo.Field("I_VERB"));
    abc.SetField("SLOVO", slovo.Field("VERV"));
    // KEYLEXEMA is unique on 60 of the 64 characters: a second lexeme that differs only
    // beyond them is refused, and the list shows the first.
    int add = CallDriver(storage::kOpAdd, abc.fd());
    if (add == 0) ++report.added;
    else if (add != storage::kErrDuplicateKey) NotePassError(&report, add, "ADD", abc.fd());
  }
  NotePassError(&report, CallDriver(storage::kOpFlush, abc.fd()), "FLUSH", abc.fd());
  NotePassError(&report, CallDriver(storage::kOpClose, abc.fd()), "CLOSE", abc.fd());
  NotePassError(&report, CallDriver(storage::kOpClose, slovo.fd()), "CLOSE", slovo.fd());
  return report.firstError;
}

int MoveExamples(const LexiconFiles& files, ui::MessageUi& messages,
                 const PassProgress& progress, PassReport* out) {
  PassReport local;
  PassReport& report = out ? *out : local;
  report = PassReport();
  DeclaredFile& slovo = files[LexiconFile::kSlovo];

  OpenForPass(slovo, &report);
  DriverArgs count;
  if (CallDriver(storage::kOpRecordsFile, slovo.fd(), count) == 0) report.total = count.value;
  NotePassError(&report, CallDriver(storage::kOpSetFile, slovo.fd()), "SET", slovo.fd());
  for (;;) {
    int err = CallDriver(storage::kOpNext, slovo.fd());
    if (err == storage::kErrRecordNotAvailable) break;
    if (err) {
      NotePassError(&report, err, "NEXT", slovo.fd());
      break;
    }
    messages.Beep(ui::Sound::Exclamation);
    ++report.lexemes;
    if (progress) progress(report.lexemes, report.total);
    if (MemoIsBlank(slovo.memo)) {
      std::string_view example = slovo.Field("EXAMPLE");
      std::fill(slovo.memo.begin(), slovo.memo.end(), ' ');
      std::copy(example.begin(), example.end(), slovo.memo.begin());
      if (example.find_first_not_of(' ') != std::string_view::npos) ++report.added;
    }
    NotePassError(&report, CallDriver(storage::kOpPut, slovo.fd()), "PUT", slovo.fd());
  }

  ui::MessageBoxRequest done;
  done.text = platform::Utf8ToCp1251Lossy("ГОТОВО! Продолжить работу?");
  done.buttons = ui::ButtonOk;
  messages.ShowMessage(done);
  NotePassError(&report, CallDriver(storage::kOpClose, slovo.fd()), "CLOSE", slovo.fd());
  return report.firstError;
}

}  // namespace korawin::app
