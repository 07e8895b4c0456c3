// The lexicon's data dictionary: the eleven files with their global record buffers, one file
// manager and one relation manager per file, the relations with their integrity rules, the
// DCT field validation, and the binding of every field under its data name ("SLO:I_VERB")
// so that filter texts can refer to it.
#pragma once

#include <string>

#include "app/files.h"
#include "framework/error_manager.h"
#include "framework/file_manager.h"
#include "framework/relation_manager.h"
#include "storage/driver.h"

namespace korawin::app {

// DCT's file manager: a word must be the VERV of some card (message 14 otherwise).
class DctFileManager : public framework::FileManager {
 public:
  framework::Level ValidateField(int field) override;
};

// Points the dictionary at a database folder; empty is the current folder, where the
// program works. Takes effect at the next InitDictionary.
void SetDatabaseFolder(const std::string& folder);
const std::string& DatabaseFolder();

// Declares the files in the database folder, sets up their managers in file order with
// errors as the program's error manager, declares the relations and binds every field.
// driver serves all files (nullptr: the DAT driver). Call once before any file is used.
void InitDictionary(framework::ErrorClass& errors, storage::DriverEntryFn driver = nullptr);
// Tears the relation managers and file managers down in the same file order; files still
// open are closed.
void KillDictionary();

// The global declarations, valid between InitDictionary and the next InitDictionary.
DeclaredFile& Declared(LexiconFile which);
framework::FileManager& Access(LexiconFile which);
framework::RelationManager& Relate(LexiconFile which);

// Field number (from 1) and key number (from 1) of a file by name without prefix ("TEMA",
// "BY_TEMA"); 0 when there is none.
int FieldNumber(LexiconFile which, std::string_view name);
int KeyNumber(LexiconFile which, std::string_view name);

}  // namespace korawin::app
