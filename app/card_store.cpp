#include "app/card_store.h"

#include <algorithm>
#include <vector>

#include "app/dictionary.h"
#include "app/repair.h"
#include "app/texts.h"
#include "framework/relation_manager.h"
#include "framework/window_manager.h"
#include "storage/dat/collation.h"
#include "storage/driver.h"

namespace korawin::app {

using framework::FileManager;
using framework::Level;
using framework::LevelBenign;
using framework::LevelNotify;

namespace {

std::string_view TrimRight(std::string_view s) {
  size_t n = s.find_last_not_of(' ');
  return n == std::string_view::npos ? std::string_view() : s.substr(0, n + 1);
}

// The same word, case ignored as the keys ignore it (the program's collation decides which
// letters have cases), trailing blanks ignored.
bool SameWord(std::string_view a, std::string_view b) {
  a = TrimRight(a);
  b = TrimRight(b);
  if (a.size() != b.size()) return false;
  const storage::dat::Collation& c = storage::dat::ActiveCollation();
  for (size_t i = 0; i < a.size(); ++i) {
    if (c.Upper(static_cast<uint8_t>(a[i])) != c.Upper(static_cast<uint8_t>(b[i]))) return false;
  }
  return true;
}

}  // namespace

Level TallyWord(std::string_view word, WordTally* out) {
  *out = WordTally();
  const std::string_view wanted = TrimRight(word);
  if (wanted.empty()) return LevelBenign;
  FileManager& fm = Access(LexiconFile::kSlovo);
  DeclaredFile& slovo = Declared(LexiconFile::kSlovo);
  // The lexemes of a word all begin with it (its blank included), so they stand together in
  // K_SLO from the first identifier that does; the repair counts the first run of them that is
  // spelled alike and leaves later runs to its refused additions.
  fm.SaveFile();
  slovo.SetField("I_VERB", word);
  Level result = fm.TrySetOrder(KeyNumber(LexiconFile::kSlovo, "K_SLO"), true);
  bool found = false;
  while (result == LevelBenign) {
    Level l = fm.TryNext();
    if (l != LevelBenign) {
      if (!fm.Info().AtEOF) result = l;
      break;
    }
    const std::string_view iVerb = slovo.Field("I_VERB");
    if (!SameWord(iVerb.substr(0, word.size()), word)) break;
    const std::string w = WordOfLexeme(iVerb);
    const std::string_view spelled = TrimRight(w);
    if (!found) {
      if (!SameWord(spelled, wanted)) continue;
      found = true;
      out->spelling.assign(spelled);
      out->count = 1;
    } else if (spelled == out->spelling) {
      ++out->count;
    } else {
      break;
    }
  }
  fm.RestoreFile();
  out->count = std::min(out->count, kMaxWordCount);
  return result;
}

Level RetallyWord(std::string_view word) {
  const std::string_view wanted = TrimRight(word);
  if (wanted.empty()) return LevelBenign;  // a card without a word part counts for no word
  WordTally tally;
  if (Level l = TallyWord(word, &tally)) return l;
  FileManager& fm = Access(LexiconFile::kDct);
  DeclaredFile& dct = Declared(LexiconFile::kDct);
  const storage::FieldDescriptor& num = dct.fd().fields[static_cast<size_t>(dct.FieldIndex("NUM"))];
  const uint16_t saved = fm.SaveBuffer();
  dct.Clear();
  dct.SetField("VERV", wanted);
  int err = 0;
  if (fm.TryFetch(KeyNumber(LexiconFile::kDct, "BY_VERV")) == LevelBenign) {
    const auto count = static_cast<unsigned char>(dct.record[num.offset]);
    if (tally.count == 0) {
      err = storage::CallDriver(storage::kOpDelete, dct.fd());
    } else if (TrimRight(dct.Field("VERV")) != tally.spelling || count != tally.count) {
      dct.SetField("VERV", tally.spelling);
      dct.record[num.offset] = static_cast<char>(tally.count);
      err = storage::CallDriver(storage::kOpPut, dct.fd());
    }
  } else if (storage::ErrorCode() != storage::kErrRecordNotFound) {
    err = storage::ErrorCode();
  } else if (tally.count > 0) {
    dct.Clear();
    dct.SetField("VERV", tally.spelling);
    dct.record[num.offset] = static_cast<char>(tally.count);
    err = storage::CallDriver(storage::kOpAdd, dct.fd());
  }
  if (err) fm.SetError(framework::RecordNotUpdated);  // the error is taken now, shown later
  fm.RestoreBuffer(saved, true);
  return err ? LevelNotify : LevelBenign;
}

bool CardIdentifierBlank() {
  return TrimRight(Declared(LexiconFile::kSlovo).Field("I_VERB")).empty();
}

Level SaveCard(uint8_t request, std::string_view oldIdentifier) {
  using framework::DeleteRecord;
  using framework::InsertRecord;
  FileManager& slo = Access(LexiconFile::kSlovo);
  FileManager& dct = Access(LexiconFile::kDct);
  framework::RelationManager& rel = Relate(LexiconFile::kSlovo);
  DeclaredFile& card = Declared(LexiconFile::kSlovo);
  if (request != DeleteRecord && CardIdentifierBlank()) {
    Tell("Не заполнено поле «Лексема». Карточка без лексемы не попала бы ни в один список.",
         ui::Icon::Exclamation);
    return LevelNotify;
  }
  const std::string newWord = WordOfLexeme(card.Field("I_VERB"));
  if (request != DeleteRecord) card.SetField("VERV", newWord);  // cut to the field's 20

  // A rollback makes the driver forget the card it had read: the next attempt finds it again.
  const std::string position = request == InsertRecord ? std::string() : slo.Position();
  auto readAgain = [&] {
    if (position.empty()) return;
    const uint8_t failure = slo.Info().LastError;
    if (failure == framework::RecordChangedByOtherOnForm ||
        failure == framework::RecordChangedByOther)
      return;  // the other station's card is in the buffer, watched already
    const uint16_t mine = slo.SaveBuffer();
    (void)slo.TryReget(position);  // gone meanwhile: the user's own values stay
    (void)slo.Watch();  // unwatched, the next save runs without the 89 guard
    slo.RestoreBuffer(mine, true);
    slo.Info().LastError = failure;
  };

  framework::TransactionFrame frame;
  if (Level l = frame.Begin({&slo, &dct})) return l;
  Level l = LevelBenign;
  switch (request) {
    case InsertRecord:
      l = slo.TryInsert();
      if (l != LevelBenign) {
        frame.Rollback();
        if (slo.Info().LastError == framework::DuplicateKeyError) {
          const framework::FileKey* key = slo.KeyEntry(KeyNumber(LexiconFile::kSlovo, "K_SLO"));
          (void)slo.ThrowMessage(framework::DuplicateKeyError, key ? key->Description : "");  // shown
        } else {
          (void)slo.Throw();  // shown; the form stays open
        }
        return l;
      }
      break;
    case framework::ChangeRecord:
      // Joins the frame; a refusal is rolled back and shown by the relation manager.
      l = rel.Update(framework::FromForm);
      break;
    case DeleteRecord:
      l = rel.DeleteNoRetry(false);
      break;
    default:
      return LevelNotify;
  }
  if (l != LevelBenign) {
    frame.Rollback();
    readAgain();
    return l;
  }
  // The record deleted is the one read again by the delete: its word is the one to count down.
  std::vector<std::string> words;
  if (request == DeleteRecord) {
    words.push_back(WordOfLexeme(card.Field("I_VERB")));
  } else {
    words.push_back(newWord);
    if (request != InsertRecord) {
      // A word respelled in another case is counted again under both spellings.
      std::string oldWord = WordOfLexeme(oldIdentifier);
      if (TrimRight(oldWord) != TrimRight(newWord)) words.push_back(oldWord);
    }
  }
  for (const std::string& w : words) {
    if (RetallyWord(w) != LevelBenign) {
      frame.Rollback();
      readAgain();
      (void)dct.Throw();  // shown; the form stays open
      return LevelNotify;
    }
  }
  Level committed = frame.Commit(request == DeleteRecord ? framework::RecordNotDeleted
                                                         : framework::RecordNotUpdated);
  if (committed != LevelBenign) readAgain();
  return committed;
}

}  // namespace korawin::app
