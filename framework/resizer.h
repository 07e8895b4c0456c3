// The resizer: keeps a window's controls in place as the window changes size, following a
// strategy per control, and fixes the window's smallest size to its initial one.
//
// What it decides: the geometry of every control (dialog units) for the window's present size,
// from the control's geometry at the window's initial size and its positional and resize
// codes; and the window's minimum size, which goes to the window runtime. The runtime has no
// command that places a single control: the Qt backend lays the controls out itself from the
// description, and the geometry computed here is the model a backend that places controls
// absolutely reads (Geometry, ResizeList). A window back at its initial size gives every
// control its initial geometry again.
#pragma once

#include <cstdint>
#include <vector>

#include "ui/desc/window_desc.h"

namespace korawin::ui {
class Window;
}

namespace korawin::framework {

struct ResizeRect {
  int XPos = 0, YPos = 0, Width = 0, Height = 0;
  bool operator==(const ResizeRect&) const = default;
};

struct ResizeWindow {
  int XPos = 0, YPos = 0, Width = 0, Height = 0;
  bool Maximized = false;
  bool Iconized = false;
};

// One control as the resizer knows it.
struct ResizeControl {
  int ID = 0;
  ui::ControlType Type = ui::ControlType::Prompt;
  bool HasChildren = false;
  uint16_t PositionalStrategy = 0;
  uint16_t ResizeStrategy = 0;
  ResizeRect Pos;    // at the window's initial size
  int ParentID = 0;  // the numbered control around it; 0: the window
};

// One control's move in the last resize.
struct ResizeItem {
  int Priority = 0;  // outer controls first
  int ControlID = 0;
  ui::ControlType Type = ui::ControlType::Prompt;
  ResizeRect Before;
  ResizeRect After;
};

// Positional codes: the low byte places the control across, the high byte down.
enum ResizePosition : uint16_t {
  PositionScaled = 0,   // moves in proportion to the window (no code set)
  PositionLock = 1,     // keeps its initial coordinate
  PositionFixFar = 2,   // keeps its distance from the right (bottom) edge
  PositionFixNear = 3,  // keeps its distance from the left (top) edge
  PositionCentre = 4,   // keeps its distance from the centre
  PositionNearest = 5,  // 2 or 3, by the half of the window the control lies in
};

// Resize codes: bits.
enum ResizeBits : uint16_t {
  ResizeLockWidth = 1,
  ResizeLockHeight = 2,
  ResizeConstantRight = 4,   // the right edge keeps its distance from the window's right edge
  ResizeConstantBottom = 8,  // the bottom edge keeps its distance from the window's bottom
};

// Application strategies: 2 spreads the controls (surfaces grow, the rest keeps its size and
// follows the nearest edge).
enum ResizeAppStrategy : uint8_t { AppStrategyNone = 0, AppStrategySpread = 2 };

// The control geometry model: every numbered control of the body laid out at the designed size
// (dialog units). *width and *height receive the size the controls need.
std::vector<ResizeControl> LayoutControls(const ui::WindowDesc& desc, int* width, int* height);

class WindowResizeClass {
 public:
  // Records the window's initial geometry and every control, applies appStrategy, and sets
  // the minimum size to the initial one when setMinSize. The runtime has no maximum size:
  // setMaxSize is kept in the model only.
  void Init(ui::Window& window, uint8_t appStrategy = AppStrategySpread, bool setMinSize = true,
            bool setMaxSize = false);
  void Kill();
  // Sets the codes of control (0: every control). Code 5 becomes 2 or 3 per control.
  void SetStrategy(int control, uint16_t positional, uint16_t resize);
  // Places every control for the window's present size; false when the size did not change.
  bool Resize();
  // The same for a given size (dialog units).
  bool ResizeTo(int width, int height);
  // A control's geometry now; zero when unknown.
  ResizeRect Geometry(int control) const;
  const ResizeControl* Control(int control) const;

  // Fields, in the order of the design.
  uint8_t AppStrategy = AppStrategySpread;
  uint8_t AutoTransparent = 0;
  ResizeWindow OrigWin;
  std::vector<ResizeControl> ControlQueue;
  uint8_t DeferMoves = 0;
  ResizeRect PreviousWin;
  uint8_t ResizeCalled = 0;
  std::vector<ResizeItem> ResizeList;
  bool MaxSizeSet = false;

 private:
  ResizeRect Compute(const ResizeControl& c, const ResizeRect& parentBefore,
                     const ResizeRect& parentAfter) const;
  ResizeRect ParentInitial(int parent) const;
  ui::Window* window_ = nullptr;
  std::vector<ResizeRect> now_;  // per ControlQueue entry
};

}  // namespace korawin::framework
