// The word and lexeme lists.
#include "app/procedures.h"

namespace korawin::app {

void RegisterListProcedures() {}

}  // namespace korawin::app
