// Card printing and export, the list reports and the text viewer.
#include "app/procedures.h"

namespace korawin::app {

void RegisterPrintProcedures() {}

}  // namespace korawin::app
