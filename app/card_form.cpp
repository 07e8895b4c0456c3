// The lexeme card forms and their expand windows.
#include "app/procedures.h"

namespace korawin::app {

void RegisterCardProcedures() {}

}  // namespace korawin::app
