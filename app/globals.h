// The program-wide variables that the procedures share and the filter texts refer to. They
// start blank in every run and are never saved. Procedures touch them only while they hold the
// runtime lock, so two lists never read a half-written CardAction.
#pragma once

#include <string>
#include <string_view>

namespace korawin::app {

struct ProgramGlobals {
  char fr1[20];                  // glo:fr1: the fragment of the list windows' entries
  char fr2[20];                  // glo:fr2: carried by the lists, used in no expression
  char currentLex[64];           // glo:CurrentLex: SLO:I_VERB of the card open last
  char authorName[10];           // AuthorName: signs the cards of this run
  char cardAction[3];            // CardAction: "add", "chn", "del" or "Chn"
  char lexemeHead[35];           // LexemeHead: the identifier up to its first "("
  char savedLexemePosition[20];  // SavedLexemePosition
  char oldWord[40];              // OldWord: the word part of the card's identifier at opening
  // The lexeme filters' fragments, kept between uses; two filters share glo:FrTema and two
  // glo:FrK82.
  char frTkat[40];  // glo:FrTkat: T-category
  char frTema[40];  // glo:FrTema: theme
  char frRol[30];   // glo:FrRol: participant role
  char frTcl[40];   // glo:FrTcl: participant T-class
  char frK4[40];    // glo:FrK4
  char frK6[40];    // glo:FrK6
  char frK81[40];   // glo:FrK81
  char frK82[40];   // glo:FrK82
};

// The one set of globals.
ProgramGlobals& Glo();
// Blanks every variable.
void ClearGlobals();
// Binds glo:fr1, glo:fr2, glo:CurrentLex, AuthorName, CardAction, LexemeHead,
// SavedLexemePosition, OldWord and the filters' glo:Fr... fragments among the global names of
// the evaluator.
void BindGlobals();

// A fixed-size blank-padded text as a string without its trailing blanks, and back.
template <size_t N>
std::string Clip(const char (&field)[N]) {
  std::string_view s(field, N);
  size_t end = s.find_last_not_of(' ');
  return std::string(end == std::string_view::npos ? std::string_view() : s.substr(0, end + 1));
}
template <size_t N>
void Assign(char (&field)[N], std::string_view value) {
  size_t n = value.size() < N ? value.size() : N;
  for (size_t k = 0; k < N; ++k) field[k] = k < n ? value[k] : ' ';
}

}  // namespace korawin::app
