// A window of the runtime as the INI store sees it, and the program's INI file. Geometry is in
// dialog units, as the window runtime keeps it. A stored place that no screen can show (a
// negative or far-away position, a size larger than any screen, junk) gives a window on
// screen with its designed size instead.
#pragma once

#include <string_view>

#include "framework/ini_store.h"
#include "ui/runtime/state.h"

namespace korawin::ui {
class Window;
struct WindowDesc;
}  // namespace korawin::ui

namespace korawin::framework {

// The program's INI file, in the configuration folder.
inline constexpr std::string_view kProgramIni = "korawin1.INI";

// The screen a stored place must fit, in dialog units (about 1920 x 1080 pixels): a window
// starts with at least its caption on it.
inline constexpr int kScreenWidth = 1280;
inline constexpr int kScreenHeight = 660;
// No screen is larger than this (about 7680 x 4320 pixels).
inline constexpr int kLargestWidth = 5120;
inline constexpr int kLargestHeight = 2660;
// What of a window must show on the screen: a piece of its caption.
inline constexpr int kVisibleWidth = 60;
inline constexpr int kVisibleHeight = 20;

// The geometry a window takes for a stored place: the designed size of desc (0: the runtime's
// own) when the stored size is absurd, and a position that keeps the window on screen.
ui::Geometry SensibleGeometry(const WindowPosition& stored, const ui::WindowDesc& desc);

class WindowIni : public IniWindow {
 public:
  explicit WindowIni(ui::Window& window) : window_(window) {}
  bool Iconized() const override;
  bool Maximized() const override;
  // The normal geometry; the designed size at the origin while the window has no other.
  WindowPosition Position() const override;
  // Places the window where the store says, made sensible first.
  void SetPosition(const WindowPosition& pos) override;
  void Restore() override;
  void Maximize() override;

 private:
  ui::Window& window_;
};

// Places window as section of ini remembers it.
void FetchWindow(INIClass& ini, std::string_view section, ui::Window& window);
// Remembers window in section of ini; 0 or a system error number.
int UpdateWindow(INIClass& ini, std::string_view section, ui::Window& window);

}  // namespace korawin::framework
