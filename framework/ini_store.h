// The INI store: window sizes and positions, and single values, kept in the program's INI
// file between runs.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace korawin::framework {

// A window's normal position and size.
struct WindowPosition {
  int XPos = 0;
  int YPos = 0;
  int Width = 0;
  int Height = 0;
};

// What the INI store needs of a window; the window runtime provides it.
class IniWindow {
 public:
  virtual ~IniWindow() = default;
  virtual bool Iconized() const = 0;
  virtual bool Maximized() const = 0;
  // The normal (not maximized) position and size.
  virtual WindowPosition Position() const = 0;
  virtual void SetPosition(const WindowPosition& pos) = 0;
  // Back from maximized to the normal position.
  virtual void Restore() = 0;
  virtual void Maximize() = 0;
};

class INIClass {
 public:
  INIClass() = default;
  INIClass(const INIClass&) = delete;
  INIClass& operator=(const INIClass&) = delete;

  // Uses the INI file fileName: a bare name lives in the configuration folder (folder and
  // empty file created when missing), a name with a folder is taken as it is. An existing file
  // is found without regard to letter case.
  void Init(std::string_view fileName);
  // The path of the INI file in use.
  std::string FileName() const;

  // The value of key in section; a missing value reads as empty.
  std::string Fetch(std::string_view section, std::string_view key);
  // Writes one value. Returns 0 or a system error number (EINVAL for a value with a line
  // break, which would turn into keys of its own).
  int Update(std::string_view section, std::string_view key, std::string_view value);

  // Places the window as the section remembers it; a section without "Maximize" leaves the
  // window as designed.
  void Fetch(std::string_view section, IniWindow& window);
  // Remembers the window: "Maximize", and the position and size of a window that is not
  // maximized. An iconized window is not remembered. Returns 0 or a system error number.
  int Update(std::string_view section, const IniWindow& window);

 private:
  std::string PathLocked() const;
  int WriteLocked(std::string_view section, std::string_view key, std::string_view value);

  // Procedures on several threads save their windows through the one store.
  mutable std::mutex mu_;
  std::string fileName_ = "korawin1.INI";
};

}  // namespace korawin::framework
