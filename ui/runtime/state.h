// What a window shows: the state of each control and of the window itself. The procedure that
// owns a window keeps one copy and the GUI thread keeps its own; copies travel between them as
// commands and events, so neither side ever reads the other's memory. Texts are Windows-1251.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korawin::ui {

// A position and size in dialog units (a quarter of the average character width across, an
// eighth of the character height down), so that a stored geometry means the same at any
// screen resolution.
struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Geometry&) const = default;
};

// One row of a list: the text of each column as its picture formatted it.
struct ListRow {
  std::vector<std::string> cells;
  bool operator==(const ListRow&) const = default;
};

// Display attributes a procedure may set on a control.
struct Look {
  uint32_t color = 0xFFFFFFFFu;      // text colour 0xRRGGBB; all ones: the desktop's own
  uint32_t background = 0xFFFFFFFFu;
  int fontSize = 0;                  // points; 0: the window's own
  bool bold = false;
  bool italic = false;
  bool operator==(const Look&) const = default;
};

struct ControlState {
  std::string text;      // what an entry, text box, display field or prompt shows; a caption
                         // an image: the file of its picture, shown at the picture's own
                         // size and scrolled when larger than the control (the print
                         // preview names a new file for each page and zoom it shows)
  int value = 0;         // check 0/1; option, sheet: choice from 1; spin, progress: value;
                         // list: highlighted row from 1 (0: none)
  uint32_t flags = 0;    // ControlFlag bits as they stand now
  std::string tip;
  std::string status;
  std::string icon;
  Look look;
  double low = 0, high = 100;   // spin and progress range
  std::vector<ListRow> rows;    // a list's rows
  int thumb = -1;               // a list's scroll thumb 0 to 100; -1 shows no scroll bar
  std::vector<int> alertKeys;   // keys that a list or entry reports as EventKind::AlertKey
  int maxBytes = 0;             // an entry or text box bound to a text: the most bytes the
                                // variable holds, where typing stops (0: only the picture's)
  bool operator==(const ControlState&) const = default;
};

struct WindowState {
  std::string caption;
  std::vector<std::string> status;  // text of each status-bar zone
  Geometry geometry;                // the normal (not maximized) geometry; 0 size: designed
  int minWidth = 0, minHeight = 0;  // the smallest size the user may give it; 0: no limit
  bool maximized = false;
  bool iconized = false;
  bool hidden = false;
  bool inert = false;   // a window this procedure opened later is running: no input here
  bool busy = false;    // the busy cursor shows over it
  bool operator==(const WindowState&) const = default;
};

struct WindowDesc;
// True when the control feq shows in a window described by desc whose controls stand as states
// says: neither it nor a control around it is hidden, and every tab around it is the one its
// sheet shows.
bool ControlShown(const WindowDesc& desc, const std::vector<ControlState>& states, int feq);

}  // namespace korawin::ui
