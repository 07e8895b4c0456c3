// File names and folders: case-insensitive lookup of existing files, the program's folders.
#pragma once

#include <string>

namespace korawin::platform {

// Returns the path of an existing file whose name matches the last component of path
// without regard to letter case, within the same folder; the exact name wins when it exists.
// Returns path unchanged when nothing matches (so that a create uses the declared name).
std::string ResolveExisting(const std::string& path);

// The program's configuration folder: $XDG_CONFIG_HOME/korawin1, else ~/.config/korawin1.
std::string ConfigDirectory();
// The program's data folder: $XDG_DATA_HOME/korawin1, else ~/.local/share/korawin1.
std::string DataDirectory();

// The folder of the running executable (with no trailing slash), and its name without folder.
std::string ExecutableDirectory();
std::string ExecutableName();

// The current working folder.
std::string CurrentDirectory();

// Joins a folder and a name with one slash.
std::string JoinPath(const std::string& dir, const std::string& name);

// The last component of a path (the whole path when it has no slash).
std::string BaseName(const std::string& path);
// The extension of the last component, with its dot ("" when it has none).
std::string Extension(const std::string& path);
// Replaces (or adds) the extension of the last component; ext includes the dot.
std::string ReplaceExtension(const std::string& path, const std::string& ext);

}  // namespace korawin::platform
