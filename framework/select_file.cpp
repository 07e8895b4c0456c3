#include "framework/select_file.h"

#include <filesystem>
#include <system_error>

#include "ui/runtime/command.h"
#include "ui/runtime/runtime.h"

namespace korawin::framework {

void SelectFileClass::Init() {
  DefaultDirectory.clear();
  DefaultFile.clear();
  Flags = 0;
  SavePath = 1;
  WindowTitle = "Select A File";
}

std::string SelectFileClass::Ask(std::string_view mask) {
  ui::FileDialogRequest request;
  request.title = WindowTitle.substr(0, 80);
  request.mask = mask.find_first_not_of(' ') == std::string_view::npos ? "All Files|*.*"
                                                                        : std::string(mask);
  request.directory = DefaultDirectory.substr(0, 260);
  request.file = DefaultFile.substr(0, 260);
  request.save = (Flags & SelectFileSave) != 0;
  std::error_code ec;
  const std::filesystem::path before = std::filesystem::current_path(ec);
  std::string chosen = ui::Runtime::FileDialog(request);
  // A dialog may leave the process in the folder it ended in.
  if (SavePath && !before.empty()) std::filesystem::current_path(before, ec);
  return chosen;
}

}  // namespace korawin::framework
