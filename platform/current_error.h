// The calling thread's current error, ERRORCODE and ERROR(): every file statement and every
// evaluation that fails leaves its code here (and the text a driver or the evaluator gives
// with it); the framework reads it to report the failure.
#pragma once

#include <string>

namespace korawin::platform {

struct CurrentError {
  int code = 0;
  int ownCode = 0;   // a driver's own code for the failure (0 when none)
  std::string text;  // the text given with the code; empty: the code's table text
};

// The calling thread's current error.
CurrentError& ThreadError();

}  // namespace korawin::platform
