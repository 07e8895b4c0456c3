// The database repair: throws the nine derived files away and derives them again from the
// lexeme cards of SLOVO in one pass along K_SLO, rewriting each card's word (SLO:VERV) on the
// way. It calls the DAT driver directly, not the file managers, and speaks to the user only
// through two message boxes and one exclamation beep per lexeme.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/files.h"
#include "storage/driver.h"
#include "ui/message_box.h"

namespace korawin::app {

// The eleven lexicon files a batch procedure works on, by LexiconFile.
class LexiconFiles {
 public:
  // The files declared in folder with record buffers of their own (driver nullptr: the DAT
  // driver). Tests and the command-line tool use this.
  static LexiconFiles InFolder(const std::string& folder,
                               storage::DriverEntryFn driver = nullptr);
  // Declarations kept by the caller, such as the dictionary's global ones.
  explicit LexiconFiles(const std::array<DeclaredFile*, kLexiconFileCount>& files);

  DeclaredFile& operator[](LexiconFile which) const {
    return *files_[static_cast<size_t>(which)];
  }

 private:
  LexiconFiles() = default;
  std::vector<std::shared_ptr<DeclaredFile>> owned_;
  std::array<DeclaredFile*, kLexiconFileCount> files_{};
};

// Called once per lexeme read: lexemes done so far and SLOVO's record count before the pass.
using PassProgress = std::function<void(int64_t done, int64_t total)>;

// What a batch pass did. The passes go on past failed file operations, as the user expects of
// them; the first failure (other than a refused duplicate, which the passes rely on) is kept
// here so that a caller can tell the user the result is incomplete.
struct PassReport {
  int64_t total = 0;        // SLOVO's records before the pass
  int64_t lexemes = 0;      // lexemes read
  int64_t added = 0;        // records added to the derived files (repair: DCT words apart)
  int64_t words = 0;        // repair: DCT records added
  int firstError = 0;       // 0 when every operation that mattered succeeded
  std::string failedWhere;  // "OPEN p_4.dat", for the message
};

// Records code for op on file in report unless it is 0 or the first failure is known.
void NotePassError(PassReport* report, int code, const char* op,
                   const storage::FileDescriptor& file);

// The largest count DCT:NUM holds; larger groups are clipped to it.
inline constexpr int kMaxWordCount = 255;

// The word of a lexeme identifier (64 bytes of SLO:I_VERB): its beginning up to and including
// the first blank, cut to 32 bytes; empty when the identifier holds no blank.
std::string WordOfLexeme(std::string_view iVerb);

// Whether OPEN refused a file for what it holds rather than for who holds it: missing, not a
// data file, of another layout, or with a key file to rebuild. The passes create such a file
// anew (nothing of it can be lost); one that opens is emptied inside their transaction instead,
// which comes to the same file but, unlike CREATE, cannot be cut half-way by a crash.
bool UnusableFile(int openError);

// A batch pass's writes run in transactions: a crash then leaves every file as it stood at the
// end of a transaction (sound), and running the pass again completes the job. Each transaction
// flushes a handful of times whatever its size, so a pass needs few. A driver without
// transactions (80) runs the pass without them; another failure to start one is noted in the
// report and the pass goes on without.
class PassTransaction {
 public:
  // The transaction over the files the pass has open (the first one is given COMMIT).
  PassTransaction(const std::vector<DeclaredFile*>& files, PassReport* report)
      : files_(files), report_(report) {}
  // LOGOUT on every file.
  void Begin();
  // A commit that fails (a file that cannot be flushed) rolls the transaction back, so that
  // its files stay as the previous one left them; the failure is noted.
  void Commit();

 private:
  const std::vector<DeclaredFile*>& files_;
  PassReport* report_;
  bool enabled_ = true;
  bool active_ = false;
};

// The repair writes in one transaction (0); tests may make it commit every so many lexemes.
inline constexpr int64_t kRepairLexemesPerTransaction = 0;

// Runs the repair over files (SLOVO, DCT and the eight vocabularies; ABC is left alone).
// progress may be empty. Returns report->firstError. The writes run in one transaction, or in
// transactions of lexemesPerTransaction lexemes each (the emptying of the lists goes with the
// first): a crash leaves every file sound, the lists as the lexemes before the crash gave them,
// and running the repair again completes the job.
int RepairDatabase(const LexiconFiles& files, ui::MessageUi& messages,
                   const PassProgress& progress, PassReport* report,
                   int64_t lexemesPerTransaction = kRepairLexemesPerTransaction);

}  // namespace korawin::app
