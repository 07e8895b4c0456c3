// The data files of a database folder as the tools and the folder verification see them: the
// eleven files of the lexicon with their declarations, any other DAT file with a declaration
// rebuilt from the descriptions stored in its own header, and records turned into JSON objects.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/files.h"
#include "storage/dat/dat_header.h"
#include "storage/driver.h"

namespace korawin::app {

// One data file of a folder.
struct FolderFile {
  std::string path;         // the data file on disk
  std::string label;        // "SLOVO"; for another file its name without extension
  bool lexicon = false;     // one of the eleven
  DeclaredFile decl;        // with its record and memo buffers; decl.fd().name is path
};

// A declaration built from stored descriptions: fields, keys and the memo as the header gives
// them, named after the file. Codes: 0, 47 when a description cannot be declared.
int DeclareFromLayout(const storage::dat::DatLayout& layout, const std::string& path,
                      DeclaredFile* out);

// Every data file present in dir (extension ".dat" in any letter case), the eleven first in
// the order of their managers, then the others by name. Codes: 0, 3 when dir can't be read;
// *problems receives the files that could not be declared.
int FolderFiles(const std::string& dir, std::vector<FolderFile>* out,
                std::vector<std::string>* problems);

// The file named by a command-line argument: a label or prefix of the eleven ("SLOVO", "slo"),
// a disk name with or without extension ("slovo.dat", "abc"), in any letter case. Codes: 0, 2
// when no such file is in dir, 36 or 47 when another file's header can't be read or declared.
int FindFolderFile(const std::string& dir, const std::string& name, FolderFile* out);

// The key of a file named by an argument: its label with or without prefix ("K_SLO",
// "slo:K_SLO"), without regard to case, or its number from 1. 0 when there is none.
int FindKey(const storage::FileDescriptor& file, const std::string& name);

// A field's or key's name without its prefix ("I_VERB" for "SLO:I_VERB").
std::string WithoutPrefix(const std::string& label);

// The record in the file's buffers as one JSON object: "_rec" first, then every field by its
// name without prefix (texts from Windows-1251 without trailing blanks, numbers as numbers,
// dimensioned fields as arrays), then the memos.
nlohmann::ordered_json RecordJson(const storage::FileDescriptor& file, int64_t record);

// The driver's error for messages: "error 46 (Key File Must Be Rebuilt)".
std::string ErrorWords(int code);

}  // namespace korawin::app
