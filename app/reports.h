// The program's reports: the card report and its twin, the marked cards, the lexeme names,
// the classification lists and the full list of words and lexemes, each a report procedure
// over a view of one file; the preparation of ABC for the full list; the card text export.
// The procedures run on the calling procedure thread; the frame and the lists start them on
// threads of their own (RegisterPrintProcedures), the batch tool runs them without a display.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "framework/report_manager.h"

namespace korawin::app {

// A report the batch tool makes by name.
struct ReportEntry {
  const char* name;  // "tax", "words", "card" ...
  int module;        // app/modules.h
  const char* what;  // one line for the help text
};
// Every report, in the order of the menus.
const std::vector<ReportEntry>& ReportTable();
// The module of a report named by its name, its number ("067", "67") or its module name
// ("koraw067", "korawin1$koraw067"); 0 when there is none.
int FindReport(std::string_view name);

// Where a report's pages go.
struct ReportOptions {
  std::string pdfFile;      // not empty: into this PDF file (UTF-8 path), without a preview
  bool skipPreview = false;  // to the printer without the preview
  bool askPrinter = true;    // the print dialog before printing
};

// What became of a report's pages.
struct ReportOutcome {
  framework::ReportResult result = framework::ReportResult::NotRun;
  std::string error;  // why, when result is Failed (English)
  int pages = 0;      // pages laid out
};

// Runs the report of module on the calling procedure thread: its progress window, then the
// preview (or the printer, or the PDF file of options). The full list of words and lexemes
// prints what ABC holds; PrepareWordsLexemes fills it first.
ReportOutcome RunReport(int module, const ReportOptions& options = {});

// Fills ABC anew with one (lexeme, word) pair per card along K_SLO, through the program's
// open files, so that it works while lists are open; the record buffers of SLOVO and ABC are
// left as they were. False, after telling the user, when the files cannot be used.
bool PrepareWordsLexemes();

// What the card text export did.
enum class ExportResult { kWritten, kNoCard, kCardNotFound, kWriteFailed };

// Writes the card named by glo:CurrentLex into a text file of the working folder named after
// it, as the export's layout says; the user is told the outcome. *path (when given) receives
// the file written (UTF-8).
ExportResult ExportCard(std::string* path = nullptr);
// The file name (the file system's own encoding, without folder) the export gives the card
// whose SLO:I_VERB is iVerb (Windows-1251): its first words up to a blank and "(" (else up to
// its first blank), cut to 32 characters, with ".txt"; a "/", "\" or control character in it
// becomes "_", so the file stays in the working folder.
std::string CardExportFileName(std::string_view iVerb);

// The text viewer's procedure (module korawin1$koraw045).
void RunTextViewer();

}  // namespace korawin::app
