// Saving a lexeme card: the SLOVO record in the record buffer with its examples memo, and the
// word file DCT kept in step with the cards, written as one transaction. The word of a card and
// its count are taken as the database repair takes them, so that after any card edits the
// repair would find nothing to change in DCT.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/error_manager.h"

namespace korawin::app {

// What DCT holds for a word when it agrees with the cards: the spelling of the first group of
// lexemes of the word in K_SLO order and the number of lexemes in it (at most 255); count 0
// when no card has the word.
struct WordTally {
  std::string spelling;
  int count = 0;
};

// Counts the lexemes of word (a word of an identifier as WordOfLexeme gives it) in SLOVO as
// the repair groups them. SLOVO must be open; its record buffer and position are kept.
framework::Level TallyWord(std::string_view word, WordTally* out);

// Makes DCT's record of word agree with the cards: adds, rewrites or deletes it with plain
// record operations. A failure is recorded (RecordNotUpdated) on DCT's manager, not shown.
framework::Level RetallyWord(std::string_view word);

// The identifier of the card in the buffer is blank: such a card would be in no key and show in
// no list.
bool CardIdentifierBlank();

// Saves the card in SLOVO's record buffer for request (InsertRecord, ChangeRecord or
// DeleteRecord; for a change the record must have been read under WATCH) together with DCT's
// records of the words concerned, as one transaction. oldIdentifier is SLO:I_VERB as stored
// when the card was read. SLO:VERV is set from the identifier first. Every failure is rolled
// back whole and then reported through the error manager: a duplicate identifier (message
// 13), another station's change (message 7, the other version then in the buffer, watched
// afresh), a refused write. Returns 0 or the failure's level.
framework::Level SaveCard(uint8_t request, std::string_view oldIdentifier);

}  // namespace korawin::app
