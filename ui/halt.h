// The runtime's halt: the one way the program ends after a fatal message.
#pragma once

#include <string_view>

namespace korawin::ui {

// Receives the exit code and the halt text (Windows-1251, may be empty).
using HaltHandler = void (*)(int exitCode, std::string_view text);

// Ends the program with exitCode. Returns only when a replaced handler returns (tests).
void Halt(int exitCode, std::string_view text);

// Replaces the halt routine (nullptr: back to the default, which flushes the standard
// streams and exits); returns the handler installed before.
HaltHandler SetHaltHandler(HaltHandler handler);

}  // namespace korawin::ui
