// korawin-wdc: the window description compiler (see desc_compiler.h). The header it makes
// names the control numbers of each window, so that a procedure naming a control its window
// lacks does not compile.
#include "ui/desc/desc_json.h"
#include "ui/tools/desc_compiler.h"

int main(int argc, char** argv) {
  using namespace korawin::ui;
  tools::CompilerKind kind{"korawin-wdc", "window descriptions", "korawin::ids", "kWindow",
                           "ui/desc/desc_json.h", "ui::RegisterWindowDescs", nullptr};
  kind.parse = [](std::string_view json, std::vector<tools::Compiled>* out, std::string* why) {
    std::vector<WindowDesc> windows;
    if (!ParseWindowDescs(json, &windows, why)) return false;
    for (const WindowDesc& w : windows) {
      tools::Compiled c{w.module, w.name, w.cname, {}};
      for (const ControlDesc* control : w.Numbered())
        if (control && !control->id.empty()) c.numbers.emplace_back(control->id, control->feq);
      out->push_back(std::move(c));
    }
    return true;
  };
  return tools::RunCompiler(argc, argv, kind);
}
