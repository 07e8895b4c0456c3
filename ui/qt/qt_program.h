// The program's entry over the Qt backend.
#pragma once

#include <functional>

namespace korawin::ui::qt {

// Runs a windowed program: makes the QApplication and the backend, starts the runtime, runs
// mainProcedure on a procedure thread of its own and the event loop until that procedure has
// ended (procedures still running then are asked to close down), then stops the runtime.
// Returns the event loop's exit code.
int RunQtProgram(int argc, char** argv, std::function<void()> mainProcedure);

}  // namespace korawin::ui::qt
