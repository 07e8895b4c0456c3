// korawin-rdc: the report description compiler. Checks report description files and makes the
// C++ that carries them into the program, with a header of the reports' detail band numbers:
//   korawin-rdc --cpp OUT.cpp --header OUT.h --function NAME FILE.json...
// A faulty description stops the build with a message naming the file, report, band and
// control.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ui/report/report_json.h"

namespace {

using korawin::ui::report::ReportDesc;

int Fail(const std::string& message) {
  std::fprintf(stderr, "korawin-rdc: %s\n", message.c_str());
  return 1;
}

bool WriteIfChanged(const std::string& path, const std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::stringstream old;
    old << in.rdbuf();
    if (old.str() == text) return true;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  std::string cppPath, headerPath, function;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--cpp" || a == "--header" || a == "--function") && i + 1 < argc) {
      (a == "--cpp" ? cppPath : a == "--header" ? headerPath : function) = argv[++i];
    } else {
      files.push_back(a);
    }
  }
  if (cppPath.empty() || headerPath.empty() || function.empty()) {
    return Fail("usage: korawin-rdc --cpp OUT.cpp --header OUT.h --function NAME FILE.json...");
  }

  std::ostringstream header, cpp;
  header << "// Made by korawin-rdc from the report descriptions; edit the .json files instead.\n"
            "#pragma once\n\nnamespace korawin {\n// Registers the reports below.\nvoid "
         << function << "();\n}  // namespace korawin\n\nnamespace korawin::report_ids {\n";
  cpp << "// Made by korawin-rdc from the report descriptions; edit the .json files instead.\n"
         "#include <string_view>\n\n#include \"ui/report/report_json.h\"\n\nnamespace {\n";

  std::set<std::string> reports, cnames;
  for (size_t f = 0; f < files.size(); ++f) {
    std::ifstream in(files[f], std::ios::binary);
    if (!in) return Fail(files[f] + ": cannot be read");
    std::stringstream text;
    text << in.rdbuf();
    std::string json = text.str();
    std::vector<ReportDesc> descs;
    std::string why;
    if (!korawin::ui::report::ParseReportDescs(json, &descs, &why)) {
      return Fail(files[f] + ": " + why);
    }
    for (const ReportDesc& r : descs) {
      std::string key = r.module + "/" + r.name;
      for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (!reports.insert(key).second) return Fail(files[f] + ": " + key + " is described twice");
      if (r.cname.empty()) return Fail(files[f] + ": " + key + " needs a \"cname\"");
      if (!cnames.insert(r.cname).second) return Fail(files[f] + ": cname " + r.cname + " twice");
      header << "\n// " << r.module << " " << r.name << "\nnamespace " << r.cname << " {\n"
             << "inline constexpr char kModule[] = \"" << r.module << "\";\n"
             << "inline constexpr char kReport[] = \"" << r.name << "\";\n";
      for (size_t d = 0; d < r.details.size(); ++d) {
        std::string name = r.details[d].id.substr(1);
        if (name == "kModule" || name == "kReport") {
          return Fail(files[f] + ": " + key + ": detail " + r.details[d].id + " collides");
        }
        header << "inline constexpr int " << name << " = " << d + 1 << ";\n";
      }
      header << "}  // namespace " << r.cname << "\n";
    }
    cpp << "const unsigned char kFile" << f << "[] = {";
    for (size_t i = 0; i < json.size(); ++i) {
      if (i % 24 == 0) cpp << "\n ";
      cpp << static_cast<int>(static_cast<unsigned char>(json[i])) << ",";
    }
    cpp << "0};\n";
  }
  header << "\n}  // namespace korawin::report_ids\n";
  cpp << "}  // namespace\n\nnamespace korawin {\nvoid " << function << "() {\n"
      << "  static const bool registered = [] {\n";
  for (size_t f = 0; f < files.size(); ++f) {
    cpp << "    ui::report::RegisterReportDescs(std::string_view(reinterpret_cast<const char*>("
        << "kFile" << f << "), sizeof kFile" << f << " - 1));\n";
  }
  cpp << "    return true;\n  }();\n  (void)registered;\n}\n}  // namespace korawin\n";
  if (!WriteIfChanged(headerPath, header.str()) || !WriteIfChanged(cppPath, cpp.str())) {
    return Fail("cannot write the output");
  }
  return 0;
}
