// Profile strings: INI files of "[section]" and "key=value" lines, names compared without
// regard to case. The Windows profile WIN.INI is "win.ini" in the configuration folder.
#pragma once

#include <string>

namespace korawin::platform {

// Reads key of section from the INI file at path; def when the file, section or key is missing.
std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& def);
int ReadProfileInt(const std::string& path, const std::string& section, const std::string& key,
                   int def);
// Writes (adds or replaces) key of section, creating the file and the section when missing.
// The file is replaced whole through a temporary file. Returns 0 or a system error number.
int WriteProfileString(const std::string& path, const std::string& section,
                       const std::string& key, const std::string& value);

// The program's WIN.INI: win.ini in ConfigDirectory() (found case-insensitively).
std::string WinIniPath();
std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& def);
int GetProfileInt(const std::string& section, const std::string& key, int def);

}  // namespace korawin::platform
