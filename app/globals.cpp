#include "app/globals.h"

#include <cstring>

#include "lang/bind.h"

namespace korawin::app {

ProgramGlobals& Glo() {
  static ProgramGlobals g = [] {
    ProgramGlobals blank;
    std::memset(&blank, ' ', sizeof blank);
    return blank;
  }();
  return g;
}

void ClearGlobals() { std::memset(&Glo(), ' ', sizeof(ProgramGlobals)); }

void BindGlobals() {
  ProgramGlobals& g = Glo();
  auto text = [](const char* name, char* buffer, size_t size) {
    lang::BIND(name, lang::Variable::String(buffer, static_cast<uint32_t>(size)));
  };
  text("glo:fr1", g.fr1, sizeof g.fr1);
  text("glo:fr2", g.fr2, sizeof g.fr2);
  text("glo:CurrentLex", g.currentLex, sizeof g.currentLex);
  text("AuthorName", g.authorName, sizeof g.authorName);
  text("CardAction", g.cardAction, sizeof g.cardAction);
  text("LexemeHead", g.lexemeHead, sizeof g.lexemeHead);
  text("SavedLexemePosition", g.savedLexemePosition, sizeof g.savedLexemePosition);
  text("OldWord", g.oldWord, sizeof g.oldWord);
  text("glo:FrTkat", g.frTkat, sizeof g.frTkat);
  text("glo:FrTema", g.frTema, sizeof g.frTema);
  text("glo:FrRol", g.frRol, sizeof g.frRol);
  text("glo:FrTcl", g.frTcl, sizeof g.frTcl);
  text("glo:FrK4", g.frK4, sizeof g.frK4);
  text("glo:FrK6", g.frK6, sizeof g.frK6);
  text("glo:FrK81", g.frK81, sizeof g.frK81);
  text("glo:FrK82", g.frK82, sizeof g.frK82);
}

}  // namespace korawin::app
