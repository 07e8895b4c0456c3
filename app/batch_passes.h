// The two other batch passes over SLOVO that run without a window: the preparation of ABC for
// the full list of words and lexemes, and the one-time move of the usage examples from the
// string field EXAMPLE into the memo EXA_MEMO.
#pragma once

#include "app/repair.h"
#include "ui/message_box.h"

namespace korawin::app {

// Makes ABC anew (emptied, or created when it can't be opened) and fills it with one (lexeme,
// word) pair per card along K_SLO: ABC:LEXEMA = SLO:I_VERB cut to 60, ABC:SLOVO = SLO:VERV.
// Emptying and filling are one transaction. report->added counts the pairs. Returns
// report->firstError.
int PrepareAbc(const LexiconFiles& files, PassReport* report);

// Walks SLOVO in record order, beeps once per card, copies SLO:EXAMPLE into an empty
// SLO:EXA_MEMO and rewrites every card, all in one transaction; then shows "ГОТОВО! Продолжить
// работу?".
// report->added counts the memos filled. Returns report->firstError.
int MoveExamples(const LexiconFiles& files, ui::MessageUi& messages,
                 const PassProgress& progress, PassReport* report);

}  // namespace korawin::app
