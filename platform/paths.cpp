#include "platform/paths.h"

#include <strings.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/file.h"

namespace korawin::platform {

std::string ResolveExisting(const std::string& path) {
  FileSystem& fs = CurrentFileSystem();
  bool isFolder = false;
  if (fs.Status(path, &isFolder) == 0) return path;
  auto slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return path;
  std::vector<std::string> names;
  if (fs.ListDirectory(dir, &names) != 0) return path;
  for (const std::string& found : names) {
    if (::strcasecmp(found.c_str(), name.c_str()) == 0)
      return slash == std::string::npos ? found : path.substr(0, slash + 1) + found;
  }
  return path;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ConfigDirectory() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return JoinPath(xdg, "korawin1");
  const char* home = std::getenv("HOME");
  return JoinPath(JoinPath(home && *home ? home : ".", ".config"), "korawin1");
}

std::string DataDirectory() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg) return JoinPath(xdg, "korawin1");
  const char* home = std::getenv("HOME");
  return JoinPath(JoinPath(JoinPath(home && *home ? home : ".", ".local"), "share"), "korawin1");
}

namespace {
std::string ExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}
}  // namespace

std::string ExecutableDirectory() {
  std::string p = ExecutablePath();
  auto slash = p.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

std::string ExecutableName() {
  std::string p = ExecutablePath();
  auto slash = p.find_last_of('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string CurrentDirectory() {
  char buf[PATH_MAX];
  return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (!name.empty() && name.front() == '/') return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string Extension(const std::string& path) {
  auto slash = path.find_last_of('/');
  auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(dot);
}

std::string ReplaceExtension(const std::string& path, const std::string& ext) {
  std::string cur = Extension(path);
  return path.substr(0, path.size() - cur.size()) + ext;
}

}  // namespace korawin::platform
