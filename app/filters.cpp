// The lexeme filters and their results.
#include "app/procedures.h"

namespace korawin::app {

void RegisterFilterProcedures() {}

}  // namespace korawin::app
