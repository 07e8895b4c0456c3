#include "framework/ini_store.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <strings.h>

#include "platform/paths.h"
#include "platform/profile.h"

namespace korawin::framework {

namespace {

std::optional<int> Number(const std::string& text) {
  int v = 0;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || p != end || text.empty()) return std::nullopt;
  return v;
}

bool Is(const std::string& value, const char* word) {
  return ::strcasecmp(value.c_str(), word) == 0;
}

}  // namespace

void INIClass::Init(std::string_view fileName) {
  std::lock_guard<std::mutex> lock(mu_);
  fileName_ = std::string(fileName);
  if (fileName_.find('/') != std::string::npos) return;
  // The program's own file: its folder and an empty file exist from the start.
  std::string path = PathLocked();
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) return;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::ofstream(path, std::ios::app);
}

std::string INIClass::FileName() const {
  std::lock_guard<std::mutex> lock(mu_);
  return PathLocked();
}

std::string INIClass::PathLocked() const {
  std::string path = fileName_.find('/') == std::string::npos
                         ? platform::JoinPath(platform::ConfigDirectory(), fileName_)
                         : fileName_;
  return platform::ResolveExisting(path);
}

std::string INIClass::Fetch(std::string_view section, std::string_view key) {
  std::lock_guard<std::mutex> lock(mu_);
  return platform::ReadProfileString(PathLocked(), std::string(section), std::string(key), "");
}

int INIClass::Update(std::string_view section, std::string_view key, std::string_view value) {
  std::lock_guard<std::mutex> lock(mu_);
  return WriteLocked(section, key, value);
}

int INIClass::WriteLocked(std::string_view section, std::string_view key,
                          std::string_view value) {
  if (value.find_first_of("\r\n") != std::string_view::npos) return EINVAL;
  std::string path = PathLocked();
  std::filesystem::path dir = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!dir.empty()) std::filesystem::create_directories(dir, ec);
  return platform::WriteProfileString(path, std::string(section), std::string(key),
                                      std::string(value));
}

void INIClass::Fetch(std::string_view section, IniWindow& window) {
  std::string maximize, x, y, w, h;
  {
    std::lock_guard<std::mutex> lock(mu_);
    std::string path = PathLocked();
    std::string s(section);
    maximize = platform::ReadProfileString(path, s, "Maximize", "");
    x = platform::ReadProfileString(path, s, "XPos", "");
    y = platform::ReadProfileString(path, s, "YPos", "");
    w = platform::ReadProfileString(path, s, "Width", "");
    h = platform::ReadProfileString(path, s, "Height", "");
  }
  bool maximized = Is(maximize, "Yes");
  if (!maximized && !Is(maximize, "No")) return;
  if (maximized && window.Maximized()) window.Restore();
  if (!x.empty()) {
    // A damaged section must not put the window off screen with no size at all.
    std::optional<int> xv = Number(x), yv = Number(y), wv = Number(w), hv = Number(h);
    if (xv && yv && wv && hv && *wv > 0 && *hv > 0)
      window.SetPosition(WindowPosition{*xv, *yv, *wv, *hv});
  }
  if (maximized) window.Maximize();
}

int INIClass::Update(std::string_view section, const IniWindow& window) {
  if (window.Iconized()) return 0;
  bool maximized = window.Maximized();
  WindowPosition pos = window.Position();
  std::lock_guard<std::mutex> lock(mu_);
  int rc = WriteLocked(section, "Maximize", maximized ? "Yes" : "No");
  if (rc != 0 || maximized) return rc;
  const std::pair<const char*, int> values[] = {
      {"XPos", pos.XPos}, {"YPos", pos.YPos}, {"Height", pos.Height}, {"Width", pos.Width}};
  for (const auto& [key, v] : values) {
    rc = WriteLocked(section, key, std::to_string(v));
    if (rc != 0) return rc;
  }
  return 0;
}

}  // namespace korawin::framework
