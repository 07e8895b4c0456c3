// The report procedures: one report manager with one process over a view of one file, printing
// one detail per record of the view, then the preview. Only the file, key, filter and report
// description differ from one report to another (the table below).
#include "app/reports.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <mutex>

#include "app/app_reports.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/modules.h"
#include "app/program.h"
#include "app/texts.h"
#include "framework/print_preview.h"
#include "framework/relation_manager.h"
#include "lang/bind.h"
#include "storage/driver.h"
#include "storage/view/view.h"
#include "ui/report/report_json.h"

namespace korawin::app {

namespace {

using framework::Level;
using framework::LevelBenign;
using framework::LevelFatal;

// What one report procedure walks and prints.
struct ReportSpec {
  int module;
  LexiconFile file;
  const char* key;      // the order: a key of the file
  const char* filter;   // UTF-8; nullptr: none
  bool joinAbc = false;  // the words' lexemes: ABC joined by KEYSLOVO on DCT:VERV
};

const ReportSpec kSpecs[] = {
    {modules::kCardReport, LexiconFile::kSlovo, "K_SLO", "slo:I_verb=glo:CurrentLex"},
    {modules::kCardReport2, LexiconFile::kSlovo, "K_SLO", "slo:I_verb=glo:CurrentLex"},
    {modules::kMarkedCardsReport, LexiconFile::kSlovo, "K_SLO", "slo:metka<>' '"},
    {modules::kMarkedFragmentCardsReport, LexiconFile::kSlovo, "K_SLO",
     "(slo:metka<>' ') and (clip(glo:fr1)='' or instring(clip(glo:fr1),slo:I_VERB,1)<>0)"},
    {modules::kLexemeNamesReport, LexiconFile::kSlovo, "K_SLO", nullptr},
    {modules::kTaxReport, LexiconFile::kTax, "TAX_K", nullptr},
    {modules::kThemeReport, LexiconFile::kTema, "K_T", nullptr},
    {modules::kRoleReport, LexiconFile::kAk2, "BY_A", nullptr},
    {modules::kTClassReport, LexiconFile::kAk3, "BY_A", nullptr},
    {modules::kK4Report, LexiconFile::kP4, "K_P_4", nullptr},
    {modules::kK6Report, LexiconFile::kP7, "K_P_7", nullptr},
    {modules::kK81Report, LexiconFile::kP8b, "K_P8B", nullptr},
    {modules::kK82Report, LexiconFile::kP8e, "K_P8E", nullptr},
    {modules::kWordsLexemesReport, LexiconFile::kDct, "BY_VERV", nullptr, true},
};

const ReportSpec* SpecOf(int module) {
  for (const ReportSpec& s : kSpecs)
    if (s.module == module) return &s;
  return nullptr;
}

std::string ModuleName(int module) {
  char name[32];
  std::snprintf(name, sizeof name, "korawin1$koraw%03d", module);
  return name;
}

int64_t RecordsOf(LexiconFile which) {
  storage::DriverArgs a;
  if (storage::CallDriver(storage::kOpRecordsFile, Declared(which).fd(), a) != 0) return 0;
  return a.value;
}

void RegisterReportsOnce() {
  static std::once_flag once;
  std::call_once(once, [] { RegisterAppReports(); });
}

// One report procedure.
class ReportProcedure : public framework::ReportManager {
 public:
  ReportProcedure(const ReportSpec& def, const ReportOptions& options)
      : spec_(def), options_(options) {}

  Level Init() override {
    if (Level level = WindowManager::Init()) return level;
    Errors = &ProgramErrors();
    const ui::report::ReportDesc* desc =
        ui::report::FindReportDesc(ModuleName(spec_.module), "P1$REPORT");
    if (!desc) return LevelFatal;
    if (Relate(spec_.file).Open() != LevelBenign) return LevelFatal;
    opened_ = true;
    // The files' records are shared with the other windows (the open card): the walk leaves
    // them as it found them.
    AddUpdateFile(Access(spec_.file));
    if (spec_.joinAbc) AddUpdateFile(Access(LexiconFile::kAbc));
    for (framework::ProtectedFile& f : Files) f.Saved = f.Manager->SaveBuffer();

    storage::ViewDeclaration decl;
    storage::FileDescriptor& fd = Declared(spec_.file).fd();
    decl.primary = &fd;
    for (size_t k = 1; k <= fd.fields.size(); ++k) decl.project.push_back(static_cast<int>(k));
    if (spec_.joinAbc) {
      storage::ViewJoin join;
      join.file = &Declared(LexiconFile::kAbc).fd();
      join.key = KeyNumber(LexiconFile::kAbc, "KEYSLOVO");
      join.linkFields = {FieldNumber(LexiconFile::kDct, "VERV")};
      // A word that no lexeme carries any longer still prints, with an empty lexeme.
      join.inner = false;
      join.project = {1, 2};
      decl.joins.push_back(std::move(join));
    }
    view_ = std::make_unique<storage::View>(std::move(decl));
    process_.Init(*view_, Relate(spec_.file));
    process_.AddSortOrder(KeyNumber(spec_.file, spec_.key));
    if (spec_.filter) process_.SetFilter(Ansi(spec_.filter));
    if (spec_.joinAbc) process_.RecordsToProcess = static_cast<int32_t>(RecordsOf(LexiconFile::kAbc));
    process_.SetReport(*this, 1);

    const bool toPdf = !options_.pdfFile.empty();
    ReportManager::Init(process_, *desc, toPdf ? nullptr : &preview_);
    PdfFile = options_.pdfFile;
    SkipPreview = options_.skipPreview;
    AskPrinter = options_.askPrinter;
    WaitCursor = true;
    Title = desc->module;
    preview_.SetINIManager(&ProgramIni());
    if (!OpenProgressWindow()) return LevelFatal;
    return LevelBenign;
  }

  Level Kill() override {
    Level level = ReportManager::Kill();
    if (opened_) (void)Relate(spec_.file).Close();  // 0
    opened_ = false;
    return level;
  }

 private:
  const ReportSpec& spec_;
  ReportOptions options_;
  std::unique_ptr<storage::View> view_;
  framework::DetailProcess process_;
  framework::PrintPreview preview_;
  bool opened_ = false;
};

}  // namespace

const std::vector<ReportEntry>& ReportTable() {
  static const std::vector<ReportEntry> table = {
      {"card", modules::kCardReport, "the card of LEXEME (korawin1$koraw040)"},
      {"card2", modules::kCardReport2, "the card of LEXEME, second layout (korawin1$koraw054)"},
      {"words", modules::kWordsLexemesReport, "the full list of words and lexemes (ABC prepared)"},
      {"tax", modules::kTaxReport, "the T-categories"},
      {"themes", modules::kThemeReport, "the themes"},
      {"roles", modules::kRoleReport, "the roles"},
      {"tclasses", modules::kTClassReport, "the T-classes"},
      {"k4", modules::kK4Report, "the explications K4"},
      {"k6", modules::kK6Report, "the explications K6"},
      {"k81", modules::kK81Report, "the explications K8.1"},
      {"k82", modules::kK82Report, "the explications K8.2"},
      {"marked", modules::kMarkedCardsReport, "the cards of the marked lexemes"},
      {"marked-fragment", modules::kMarkedFragmentCardsReport,
       "the cards of the marked lexemes holding --fr1"},
      {"lexemes", modules::kLexemeNamesReport, "the names of all lexemes"},
  };
  return table;
}

int FindReport(std::string_view name) {
  std::string n(name);
  for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const ReportEntry& e : ReportTable())
    if (n == e.name) return e.module;
  for (std::string_view prefix : {"korawin1$koraw", "koraw"}) {
    if (n.rfind(prefix, 0) == 0) {
      n = n.substr(prefix.size());
      break;
    }
  }
  if (n.empty() || n.size() > 3 || n.find_first_not_of("0123456789") != std::string::npos) return 0;
  int module = std::stoi(n);
  return SpecOf(module) ? module : 0;
}

ReportOutcome RunReport(int module, const ReportOptions& options) {
  RegisterReportsOnce();
  ReportOutcome outcome;
  const ReportSpec* def = SpecOf(module);
  if (!def) {
    outcome.result = framework::ReportResult::Failed;
    outcome.error = "no report " + ModuleName(module);
    return outcome;
  }
  ReportProcedure report(*def, options);
  report.Run();
  outcome.result = report.Result;
  outcome.error = report.OutputError;
  outcome.pages = report.PagesMade;
  return outcome;
}

bool PrepareWordsLexemes() {
  using framework::FileManager;
  FileManager& abcFile = Access(LexiconFile::kAbc);
  FileManager& slovoFile = Access(LexiconFile::kSlovo);
  if (abcFile.Open() != LevelBenign) return false;
  if (slovoFile.Open() != LevelBenign) {
    (void)abcFile.Close();  // 0
    return false;
  }
  // The open card keeps its record, this thread its place in the files.
  slovoFile.SaveFile();
  abcFile.SaveFile();
  DeclaredFile& abc = Declared(LexiconFile::kAbc);
  DeclaredFile& slovo = Declared(LexiconFile::kSlovo);
  // ABC is emptied and filled in one transaction: a crash leaves it as it was, or filled.
  framework::TransactionFrame frame;
  int err = frame.Begin({&abcFile}, false) == LevelBenign ? 0 : storage::kErrUnableToLog;
  if (err == 0) err = storage::CallDriver(storage::kOpEmpty, abc.fd());
  // One batch: the writes reach the disk at the FLUSH that ends it, not one by one.
  if (err == 0) err = storage::CallDriver(storage::kOpStream, abc.fd());
  if (err == 0) {
    slovo.SetField("I_VERB", "");
    storage::DriverArgs set;
    set.key = KeyNumber(LexiconFile::kSlovo, "K_SLO");
    err = storage::CallDriver(storage::kOpSetKey, slovo.fd(), set);
  }
  while (err == 0) {
    (void)storage::CallDriver(storage::kOpNoMemo, slovo.fd());  // a hint: the memo is only skipped
    int next = storage::CallDriver(storage::kOpNext, slovo.fd());
    if (next == storage::kErrRecordNotAvailable) break;
    if (next) {
      err = next;
      break;
    }
    abc.SetField("LEXEMA", slovo.Field("I_VERB"));
    abc.SetField("SLOVO", slovo.Field("VERV"));
    // KEYLEXEMA is unique on 60 of the 64 characters: a lexeme differing from another only
    // beyond them is left out, as the list has always done.
    int add = storage::CallDriver(storage::kOpAdd, abc.fd());
    if (add && add != storage::kErrDuplicateKey) err = add;
  }
  if (err == 0) err = storage::CallDriver(storage::kOpFlush, abc.fd());
  if (err == 0 && frame.Commit(framework::RecordNotUpdated, false) != LevelBenign) {
    err = storage::kErrUnableToLog;
  }
  if (err) frame.Rollback();
  abcFile.RestoreFile();
  slovoFile.RestoreFile();
  (void)slovoFile.Close();  // 0
  (void)abcFile.Close();  // 0
  if (err) {
    Tell("Список слов и лексем не подготовлен: ошибка " + std::to_string(err) + " (" +
             Utf8(std::string(storage::ErrorTextOf(err))) + ").",
         ui::Icon::Exclamation);
    return false;
  }
  return true;
}

}  // namespace korawin::app
