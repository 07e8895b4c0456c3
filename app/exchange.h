// Moving lexeme cards in and out of a database: an empty database, import of cards given as
// JSON (or CSV) in UTF-8, export along K_SLO, and the demo database built from the cards
// compiled into the program.
//
// Card texts: the keys of a card are SLOVO's field names without prefix ("I_VERB", "TEMA",
// "ACT41", ...) and "EXA_MEMO" for the examples memo. Text values are UTF-8, stored as
// Windows-1251 and cut to the field's width in bytes; DATE is a LONG day number and Q1 to Q3
// are bytes. A missing key leaves the field blank (or 0).
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "app/repair.h"
#include "ui/message_box.h"

namespace korawin::app {

enum class CardFormat { kJson, kCsv };

// The result of a procedure whose input was wrong (a malformed or invalid card text), as
// opposed to a driver error code.
inline constexpr int kBadCards = -1;

// Creates the eleven files empty (files that exist are replaced, with their key and memo
// files). 0, or the first driver code with *error naming the file.
int CreateDatabase(const LexiconFiles& files, std::string* error);

// One card converted to SLOVO's record layout.
struct CardImage {
  std::string record;  // kSlovoRecordSize bytes, Windows-1251
  std::string memo;    // kSlovoMemoSize bytes, blank-padded
  std::string name;    // "card 3 (бить 1)", UTF-8, for messages
};

// Takes one card; 0 to go on, or a code (with *error) that ends the reading.
using CardSink = std::function<int(const CardImage& card, std::string* error)>;

// Reads the cards of in one at a time, in one pass, and hands each to sink as soon as it is
// complete, so that no more than one card is held whatever the size of the text. On the first
// fault returns kBadCards with *error naming the line and column (malformed text) or the card
// and field; the cards before it have reached sink. 0 or kBadCards, or sink's code.
int ReadCards(std::istream& in, CardFormat format, const CardSink& sink, std::string* error);

// The progress of an import: cards added so far.
using ImportProgress = std::function<void(int64_t added)>;

// Adds the cards of in to SLOVO in one transaction, reading them as they are added: all or
// nothing, a fault anywhere in the text, an identifier that is already taken (case ignored, as
// K_SLO compares) or a driver failure rolls back what the cards before it added, leaving
// SLOVO as it was. progress, when given, hears of every 500th card and of the last.
// *added receives the number of cards added. 0, kBadCards or a driver code, with *error.
int ImportCards(const LexiconFiles& files, std::istream& in, CardFormat format,
                const ImportProgress& progress, int64_t* added, std::string* error);
// The same for cards held in memory.
int ImportCards(const LexiconFiles& files, std::string_view text, CardFormat format,
                int64_t* added, std::string* error);

// Every card in K_SLO order as JSON (a list of objects, blank fields left out) or CSV
// (RFC 4180, a header row of every field name). 0 or a driver code with *error.
int ExportCards(const LexiconFiles& files, CardFormat format, std::string* out,
                std::string* error);

// The demo cards (a JSON list), compiled into the program.
std::string_view DemoCardsJson();

// Creates a database, imports the demo cards and repairs it (boxes and beeps go to messages).
// 0, kBadCards or a driver code with *error.
int BuildDemoDatabase(const LexiconFiles& files, ui::MessageUi& messages,
                      const PassProgress& progress, PassReport* repair, std::string* error);

}  // namespace korawin::app
