#include "ui/tools/desc_compiler.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace korawin::ui::tools {

namespace {

// "?Browse:1" -> "Browse_1"; false for a name that is not ASCII.
bool CName(const std::string& id, std::string* out) {
  out->clear();
  for (size_t i = !id.empty() && id[0] == '?' ? 1 : 0; i < id.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(id[i]);
    if (c >= 0x80) return false;
    out->push_back(std::isalnum(c) ? static_cast<char>(c) : '_');
  }
  if (out->empty()) return false;
  if (std::isdigit(static_cast<unsigned char>((*out)[0]))) out->insert(out->begin(), '_');
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

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

int RunCompiler(int argc, char** argv, const CompilerKind& kind) {
  auto fail = [&](const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kind.tool, message.c_str());
    return 1;
  };
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
    return fail(std::string("usage: ") + kind.tool +
                " --cpp OUT.cpp --header OUT.h --function NAME FILE.json...");
  }

  std::ostringstream header, cpp;
  std::string made = std::string("// Made by ") + kind.tool + " from the " + kind.what +
                     "; edit the .json files instead.\n";
  header << made << "#pragma once\n\nnamespace korawin {\n// Registers the descriptions below.\n"
         << "void " << function << "();\n}  // namespace korawin\n\nnamespace "
         << kind.idsNamespace << " {\n";
  cpp << made << "#include <string_view>\n\n#include \"" << kind.include
      << "\"\n\nnamespace {\n";

  std::set<std::string> seen, cnames;
  for (size_t f = 0; f < files.size(); ++f) {
    std::ifstream in(files[f], std::ios::binary);
    if (!in) return fail(files[f] + ": cannot be read");
    std::stringstream text;
    text << in.rdbuf();
    std::string json = text.str();
    std::vector<Compiled> descs;
    std::string why;
    if (!kind.parse(json, &descs, &why)) return fail(files[f] + ": " + why);
    for (const Compiled& d : descs) {
      std::string key = Upper(d.module + "/" + d.name);
      if (!seen.insert(key).second) return fail(files[f] + ": " + key + " is described twice");
      if (d.cname.empty()) return fail(files[f] + ": " + key + " needs a \"cname\"");
      if (!cnames.insert(d.cname).second) return fail(files[f] + ": cname " + d.cname + " twice");
      header << "\n// " << d.module << " " << d.name << "\nnamespace " << d.cname << " {\n"
             << "inline constexpr char kModule[] = \"" << d.module << "\";\n"
             << "inline constexpr char " << kind.nameConstant << "[] = \"" << d.name << "\";\n";
      std::set<std::string> names = {"kModule", kind.nameConstant};
      for (const auto& [id, number] : d.numbers) {
        std::string name;
        if (!CName(id, &name)) return fail(files[f] + ": " + key + ": " + id + " is not ASCII");
        if (!names.insert(name).second) {
          return fail(files[f] + ": " + key + ": " + id + " collides with another name");
        }
        header << "inline constexpr int " << name << " = " << number << ";\n";
      }
      header << "}  // namespace " << d.cname << "\n";
    }
    cpp << "const unsigned char kFile" << f << "[] = {";
    for (size_t i = 0; i < json.size(); ++i) {
      if (i % 24 == 0) cpp << "\n ";
      cpp << static_cast<int>(static_cast<unsigned char>(json[i])) << ",";
    }
    cpp << "0};\n";
  }
  header << "\n}  // namespace " << kind.idsNamespace << "\n";
  cpp << "}  // namespace\n\nnamespace korawin {\nvoid " << function << "() {\n"
      << "  static const bool registered = [] {\n";
  for (size_t f = 0; f < files.size(); ++f) {
    cpp << "    " << kind.registerCall << "(std::string_view(reinterpret_cast<const char*>(kFile"
        << f << "), sizeof kFile" << f << " - 1));\n";
  }
  cpp << "    return true;\n  }();\n  (void)registered;\n}\n}  // namespace korawin\n";
  if (!WriteIfChanged(headerPath, header.str()) || !WriteIfChanged(cppPath, cpp.str())) {
    return fail("cannot write the output");
  }
  return 0;
}

}  // namespace korawin::ui::tools
