#include "platform/profile.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/file.h"
#include "platform/paths.h"

namespace korawin::platform {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  return ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::string text;
  if (ReadWholeFile(ResolveExisting(path), &text) != 0) return lines;  // no file: no lines
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

// Section name of a "[name]" line, or nothing.
bool SectionOf(const std::string& line, std::string* name) {
  std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  *name = Trim(t.substr(1, t.size() - 2));
  return true;
}

bool KeyOf(const std::string& line, std::string* key, std::string* value) {
  std::string t = Trim(line);
  if (t.empty() || t[0] == ';') return false;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  *key = Trim(t.substr(0, eq));
  if (value) *value = Trim(t.substr(eq + 1));
  return true;
}

}  // namespace

std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& def) {
  bool inSection = false;
  for (const std::string& line : ReadLines(path)) {
    std::string name, k, v;
    if (SectionOf(line, &name)) {
      inSection = SameName(name, section);
    } else if (inSection && KeyOf(line, &k, &v) && SameName(k, key)) {
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      return v;
    }
  }
  return def;
}

int ReadProfileInt(const std::string& path, const std::string& section, const std::string& key,
                   int def) {
  std::string v = ReadProfileString(path, section, key, "");
  if (v.empty()) return def;
  char* end = nullptr;
  long n = std::strtol(v.c_str(), &end, 10);
  if (end == v.c_str()) return 0;  // a value that is not a number counts as 0
  return static_cast<int>(n);
}

int WriteProfileString(const std::string& path, const std::string& section,
                       const std::string& key, const std::string& value) {
  std::string target = ResolveExisting(path);
  std::vector<std::string> lines = ReadLines(target);
  bool inSection = false, done = false;
  size_t sectionEnd = std::string::npos;
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    std::string name, k;
    if (SectionOf(lines[i], &name)) {
      if (inSection) break;
      inSection = SameName(name, section);
      if (inSection) sectionEnd = i + 1;
    } else if (inSection) {
      if (KeyOf(lines[i], &k, nullptr) && SameName(k, key)) {
        lines[i] = key + "=" + value;
        done = true;
      } else if (!Trim(lines[i]).empty()) {
        sectionEnd = i + 1;
      }
    }
  }
  if (!done) {
    if (sectionEnd == std::string::npos) {
      if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
      lines.push_back("[" + section + "]");
      lines.push_back(key + "=" + value);
    } else {
      lines.insert(lines.begin() + static_cast<long>(sectionEnd), key + "=" + value);
    }
  }
  // Written whole under another name, then put in place: a reader sees the old file or the new.
  std::string tmp = target + ".tmp" + std::to_string(::getpid());
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  File out;
  int err = out.Create(tmp, Share::kDenyAll);
  if (!err) err = out.WriteAt(0, text.data(), text.size());
  out.Close();
  if (!err) err = RenameFile(tmp, target);
  if (err) {
    (void)RemoveFile(tmp);  // the write's failure is the one reported
    return err;
  }
  return 0;
}

std::string WinIniPath() { return ResolveExisting(JoinPath(ConfigDirectory(), "win.ini")); }

std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& def) {
  return ReadProfileString(WinIniPath(), section, key, def);
}

int GetProfileInt(const std::string& section, const std::string& key, int def) {
  return ReadProfileInt(WinIniPath(), section, key, def);
}

}  // namespace korawin::platform
