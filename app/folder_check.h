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
// Verifies every data file of dir; *files receives how many there are. A file that a
// transaction left half written (interrupted, to be rolled back at the next open, or still
// running in another program) is not verified: a line in *waiting (when given) says so and
// what the rollback will do. Codes: 0, or 3 when dir can't be read.
int CheckFolder(const std::string& dir, std::vector<std::string>* problems, int* files,
                std::vector<std::string>* waiting = nullptr);

// A transaction that a data file's marker names, in words.
struct PendingWords {
  std::string text;    // empty when the file has no marker
  bool final = true;   // false: the file's contents are half written until the rollback
  bool fault = false;  // the next open will fail on the marker
};
// What the next open of dataPath will find of a transaction left behind, and do about it.
PendingWords DescribePendingTransaction(const std::string& dataPath);

}  // namespace korawin::app
