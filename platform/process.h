// Starting outside programs: the program hands a command over and does not wait for it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korawin::platform {

// The executable file of program: a name holding "/" is taken as it is; otherwise each folder
// of folders is tried, then PATH, with the name as given and, for a name ending in ".exe",
// without that ending. Empty when none is found.
std::string FindProgram(std::string_view program, const std::vector<std::string>& folders);

// Starts path with args in the background and returns at once; the program is never waited
// for and leaves no zombie. 0, or the system error number when it could not be started.
int StartDetached(const std::string& path, const std::vector<std::string>& args);

}  // namespace korawin::platform
