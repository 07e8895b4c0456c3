// The verification of a database folder behind `korawin1-db check`, shared with the tests that
// check a folder after a crash.
#pragma once

#include <string>
#include <vector>

#include "app/folder.h"

namespace korawin::app {

// Verifies one data file without changing it: header and descriptions (the eleven against
// their declarations), the deleted chain, every key file against the records under the
// current collation, and the memo chains. Each problem in words, prefixed with the file's path.
std::vector<std::string> CheckFolderFile(FolderFile& file);
// Verifies every data file of dir; *files receives how many there are. Codes: 0, or 3 when
// dir can't be read.
int CheckFolder(const std::string& dir, std::vector<std::string>* problems, int* files);

}  // namespace korawin::app
