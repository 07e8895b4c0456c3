// The controls of a window bound to the variables their descriptions name ("use").
#pragma once

#include "ui/runtime/window.h"

namespace korawin::app {

// Binds every control of window whose description names a variable to the variable bound under
// that name (record fields, program globals, the window's own locals), and shows them. Names
// that are not bound leave their control unbound.
void UseBoundNames(ui::Window& window);

// Tells the user when the text a control of window took is longer than its variable, which
// kept only its beginning, and shows what was kept. True when it was.
bool TellCut(ui::Window& window, int feq);

}  // namespace korawin::app
