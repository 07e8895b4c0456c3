// The DAT driver's program halts: the few faults after which the driver cannot go on
// ("DOS FILE LOCKING ERROR", "UNABLE TO START LOG", "ERROR - TRUNCATING FILE AT ...").
// All of them end the program through Halt, which tests and the application may replace.
#pragma once

#include <string>

namespace korawin::storage::dat {

// Receives the halt message. A handler that returns lets the driver fail the operation with
// the code it was about to raise (tests use this); the default handler prints and exits.
using HaltHandler = void (*)(const std::string& message);

// Ends the program with message (unless a handler is installed and returns).
void Halt(const std::string& message);
// Installs a handler (nullptr: the default) and returns the previous one.
HaltHandler SetHaltHandler(HaltHandler handler);

}  // namespace korawin::storage::dat
