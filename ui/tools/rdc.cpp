// korawin-rdc: the report description compiler (see desc_compiler.h). The header it makes names
// the numbers of each report's detail bands.
#include "ui/report/report_json.h"
#include "ui/tools/desc_compiler.h"

int main(int argc, char** argv) {
  using namespace korawin::ui;
  tools::CompilerKind kind{"korawin-rdc", "report descriptions", "korawin::report_ids",
                           "kReport", "ui/report/report_json.h",
                           "ui::report::RegisterReportDescs", nullptr};
  kind.parse = [](std::string_view json, std::vector<tools::Compiled>* out, std::string* why) {
    std::vector<report::ReportDesc> reports;
    if (!report::ParseReportDescs(json, &reports, why)) return false;
    for (const report::ReportDesc& r : reports) {
      tools::Compiled c{r.module, r.name, r.cname, {}};
      for (size_t d = 0; d < r.details.size(); ++d)
        c.numbers.emplace_back(r.details[d].id, static_cast<int>(d + 1));
      out->push_back(std::move(c));
    }
    return true;
  };
  return tools::RunCompiler(argc, argv, kind);
}
