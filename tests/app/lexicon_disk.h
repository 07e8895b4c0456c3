// What a database folder holds, read as another station would: through file descriptors of
// the test's own, opened shared.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/files.h"

namespace korawin::app::testing {

// The records of a file along its first key, each its fields (UTF-8, trailing blanks dropped,
// numbers in decimal) joined with "|".
std::vector<std::string> DiskRows(const std::string& folder, LexiconFile which);
// DCT as word -> count.
std::map<std::string, int> DiskWords(const std::string& folder);
// DCT as the repair derives it from the cards (run on a copy of folder).
std::map<std::string, int> WordsAfterRepair(const std::string& folder);
// Every card along K_SLO, its fields (UTF-8, trailing blanks dropped) by name.
std::vector<std::map<std::string, std::string>> DiskCards(const std::string& folder);
// The fields of the card with identifier lexeme (UTF-8) by name, EXA_MEMO included; empty
// when there is no such card.
std::map<std::string, std::string> DiskCard(const std::string& folder, const std::string& lexeme);

}  // namespace korawin::app::testing
