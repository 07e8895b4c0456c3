// The built-in functions of expressions, called with their arguments already evaluated and
// converted to the kinds the function takes.
#pragma once

#include <string>

#include "lang/types.h"

namespace korawin::lang {

// Argument kinds of function number (from 1), one letter per argument: 'T' text, 'I' integer,
// 'R' real, 'A' as evaluated; a list function repeats its last letter.
char FunctionArgKind(int number, int argIndex);

// Calls function number with argc arguments (fewer than the highest count take defaults).
// A text result may point into the arguments' texts or into *scratch.
Value CallFunction(int number, const Value* args, int argc, std::string* scratch);

}  // namespace korawin::lang
