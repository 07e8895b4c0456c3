// The file-selection class: the standard open (or save) dialog with the program's defaults.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korawin::framework {

// Flags of the dialog.
enum SelectFileFlags : uint32_t {
  SelectFileSave = 1,  // a save dialog, which asks before replacing a file
};

class SelectFileClass {
 public:
  // Sets the defaults: no folder or file, "Select A File", the current folder kept.
  void Init();
  // Shows the dialog with WindowTitle and mask ("Text files|*.txt|All Files|*.*"; blank: all
  // files), starting in DefaultDirectory with DefaultFile offered; returns the chosen file,
  // empty when the user cancelled. With SavePath the current folder is put back afterwards.
  std::string Ask(std::string_view mask = {});

  // Fields, in the order of the design.
  std::string DefaultDirectory;  // at most 260 characters
  std::string DefaultFile;       // at most 260 characters
  uint32_t Flags = 0;
  uint8_t SavePath = 1;
  std::string WindowTitle = "Select A File";  // at most 80 characters
};

}  // namespace korawin::framework
