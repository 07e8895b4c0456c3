// korawin-wdc: the window description compiler. Checks window description files and makes the
// C++ that carries them into the program, with a header of control numbers:
//   korawin-wdc --cpp OUT.cpp --header OUT.h --function NAME FILE.json...
// A faulty description stops the build with a message naming the file, window and control.
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ui/desc/desc_json.h"

namespace {

using korawin::ui::ControlDesc;
using korawin::ui::WindowDesc;

int Fail(const std::string& message) {
  std::fprintf(stderr, "korawin-wdc: %s\n", message.c_str());
  return 1;
}

// "?Browse:1" -> "Browse_1".
bool CName(const std::string& id, std::string* out) {
  out->clear();
  for (size_t i = id[0] == '?' ? 1 : 0; i < id.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(id[i]);
    if (c >= 0x80) return false;
    bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    out->push_back(word ? static_cast<char>(c) : '_');
  }
  if (out->empty()) return false;
  if ((*out)[0] >= '0' && (*out)[0] <= '9') out->insert(out->begin(), '_');
  return true;
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
    return Fail("usage: korawin-wdc --cpp OUT.cpp --header OUT.h --function NAME FILE.json...");
  }

  std::ostringstream header, cpp;
  header << "// Made by korawin-wdc from the window descriptions; edit the .json files instead.\n"
            "#pragma once\n\nnamespace korawin {\n// Registers the windows below.\nvoid "
         << function << "();\n}  // namespace korawin\n\nnamespace korawin::ids {\n";
  cpp << "// Made by korawin-wdc from the window descriptions; edit the .json files instead.\n"
         "#include <string_view>\n\n#include \"ui/desc/desc_json.h\"\n\nnamespace {\n";

  std::set<std::string> windows, cnames;
  for (size_t f = 0; f < files.size(); ++f) {
    std::ifstream in(files[f], std::ios::binary);
    if (!in) return Fail(files[f] + ": cannot be read");
    std::stringstream text;
    text << in.rdbuf();
    std::string json = text.str();
    std::vector<WindowDesc> descs;
    std::string why;
    if (!korawin::ui::ParseWindowDescs(json, &descs, &why)) return Fail(files[f] + ": " + why);
    for (const WindowDesc& w : descs) {
      std::string key = w.module + "/" + w.name;
      for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (!windows.insert(key).second) return Fail(files[f] + ": " + key + " is described twice");
      if (w.cname.empty()) return Fail(files[f] + ": " + key + " needs a \"cname\"");
      if (!cnames.insert(w.cname).second) return Fail(files[f] + ": cname " + w.cname + " twice");
      header << "\n// " << w.module << " " << w.name << "\nnamespace " << w.cname << " {\n"
             << "inline constexpr char kModule[] = \"" << w.module << "\";\n"
             << "inline constexpr char kWindow[] = \"" << w.name << "\";\n";
      std::set<std::string> names;
      for (const ControlDesc* c : w.Numbered()) {
        if (!c || c->id.empty()) continue;
        std::string name;
        if (!CName(c->id, &name)) return Fail(files[f] + ": " + key + ": id " + c->id + " is not ASCII");
        if (name == "kModule" || name == "kWindow" || !names.insert(name).second) {
          return Fail(files[f] + ": " + key + ": id " + c->id + " collides with another name");
        }
        header << "inline constexpr int " << name << " = " << c->feq << ";\n";
      }
      header << "}  // namespace " << w.cname << "\n";
    }
    cpp << "const unsigned char kFile" << f << "[] = {";
    for (size_t i = 0; i < json.size(); ++i) {
      if (i % 24 == 0) cpp << "\n ";
      cpp << static_cast<int>(static_cast<unsigned char>(json[i])) << ",";
    }
    cpp << "0};\n";
  }
  header << "\n}  // namespace korawin::ids\n";
  cpp << "}  // namespace\n\nnamespace korawin {\nvoid " << function << "() {\n"
      << "  static const bool registered = [] {\n";
  for (size_t f = 0; f < files.size(); ++f) {
    cpp << "    ui::RegisterWindowDescs(std::string_view(reinterpret_cast<const char*>(kFile" << f
        << "), sizeof kFile" << f << " - 1));\n";
  }
  cpp << "    return true;\n  }();\n  (void)registered;\n}\n}  // namespace korawin\n";
  if (!WriteIfChanged(headerPath, header.str()) || !WriteIfChanged(cppPath, cpp.str())) {
    return Fail("cannot write the output");
  }
  return 0;
}
