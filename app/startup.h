// What the program does before its first window: its command line, the database folder it
// works in (the built-in demo database when none is given) and whether that folder holds a
// database it can open.
#pragma once

#include <string>
#include <vector>

namespace korawin::app {

struct CommandLine {
  bool help = false;
  bool version = false;
  std::string folder;  // empty: the demo database
  std::string error;   // a malformed command line, in UTF-8
};

// Reads the arguments after the program's name: [--help] [--version] [DATABASE-FOLDER].
CommandLine ParseCommandLine(const std::vector<std::string>& args);
// The texts of --help and --version, in UTF-8.
std::string UsageText();
std::string VersionText();

// The demo database's folder: "demo" in the program's data folder.
std::string DemoFolder();
// Makes the demo database in folder from the cards compiled into the program, unless the
// folder already holds SLOVO. False with *error (UTF-8) when it cannot.
bool EnsureDemoDatabase(const std::string& folder, std::string* error);

enum class FolderProblem { kNone, kMissing, kNotFolder, kUnreadable, kNotWritable, kNoDatabase };
// What stands between the program and the database in folder.
FolderProblem CheckDatabaseFolder(const std::string& folder);
// The problem told to the user (Windows-1251): which folder and what is wrong.
std::string DescribeFolderProblem(FolderProblem problem, const std::string& folder);

}  // namespace korawin::app
