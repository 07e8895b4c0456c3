#include "framework/ini_window.h"

#include <algorithm>

#include "ui/desc/window_desc.h"
#include "ui/runtime/window.h"

namespace korawin::framework {

ui::Geometry SensibleGeometry(const WindowPosition& stored, const ui::WindowDesc& desc) {
  ui::Geometry g{stored.XPos, stored.YPos, stored.Width, stored.Height};
  if (g.width <= 0 || g.height <= 0 || g.width > kLargestWidth || g.height > kLargestHeight) {
    g.width = std::max(desc.width, 0);
    g.height = std::max(desc.height, 0);
  }
  g.x = std::clamp(g.x, 0, kScreenWidth - kVisibleWidth);
  g.y = std::clamp(g.y, 0, kScreenHeight - kVisibleHeight);
  return g;
}

bool WindowIni::Iconized() const { return window_.WindowStateNow().iconized; }

bool WindowIni::Maximized() const { return window_.WindowStateNow().maximized; }

WindowPosition WindowIni::Position() const {
  const ui::Geometry& g = window_.WindowStateNow().geometry;
  if (g.width > 0 && g.height > 0) return {g.x, g.y, g.width, g.height};
  return {g.x, g.y, window_.Desc().width, window_.Desc().height};
}

void WindowIni::SetPosition(const WindowPosition& pos) {
  window_.SetGeometry(SensibleGeometry(pos, window_.Desc()));
}

void WindowIni::Restore() { window_.Maximize(false); }

void WindowIni::Maximize() { window_.Maximize(true); }

void FetchWindow(INIClass& ini, std::string_view section, ui::Window& window) {
  WindowIni w(window);
  ini.Fetch(section, w);
}

int UpdateWindow(INIClass& ini, std::string_view section, ui::Window& window) {
  WindowIni w(window);
  return ini.Update(section, w);
}

}  // namespace korawin::framework
