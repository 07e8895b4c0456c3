// The program: start-up in its order, the main frame, teardown in the same order.
#pragma once

#include <string>

#include "framework/error_manager.h"
#include "framework/ini_store.h"

namespace korawin::app {

// The program's one error manager and INI store, set up by RunProgram.
framework::ErrorClass& ProgramErrors();
framework::INIClass& ProgramIni();

// Loads the collation of text keys from the environment file beside the program (the shipped
// file folds and orders Russian text), before any file is opened or made. False, with what is
// wrong in *problem (UTF-8), when the file cannot be taken.
bool LoadCollation(std::string* problem);

// The main procedure of the program, on its first procedure thread: sets the help file, the
// error manager, the INI store ("korawin1.INI") and the dictionary over the database in folder
// (the working folder), runs the main frame until it closes, then tears the dictionary and the
// error manager down in the same order. Returns the program's exit code.
int RunProgram(const std::string& folder);

// The steps of RunProgram before and after the frame, for tests that run procedures on a
// database without the frame: windows, procedures, halts, error manager, INI store, program
// variables and the dictionary over folder; and their teardown in the same order. The
// collation is loaded before (LoadCollation).
void StartUp(const std::string& folder);
void TearDown();

// The main frame until it closes (defined with the frame).
void RunMainFrame();

// The help file's name.
inline constexpr const char kHelpFile[] = "KORA.HLP";

}  // namespace korawin::app
