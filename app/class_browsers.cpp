// The classification browsers, their entry forms and pick lists.
#include "app/procedures.h"

namespace korawin::app {

void RegisterClassProcedures() {}

}  // namespace korawin::app
