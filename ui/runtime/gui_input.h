// What the user does, as the GUI thread reports it: each call updates the GUI's copy of the
// window the way the action would and hands the matching event to the window's procedure.
// Backends call these from their widgets' signals; the headless test driver calls them as a
// user would act. GUI thread only. Each returns false, doing nothing, when the window or
// control does not exist or does not take input (hidden, disabled, or its window inert).
#pragma once

#include <string_view>

#include "ui/runtime/event.h"
#include "ui/runtime/state.h"

namespace korawin::ui::gui {

// An entry, text box or spin took text (the user typed and left it, or pressed Enter).
bool Type(int window, int feq, std::string_view text);
// A button, menu item or toolbar button was pressed.
bool Press(int window, int feq);
// A check box was set or cleared.
bool Check(int window, int feq, bool on);
// The radio number radio (from 1) of an option was chosen.
bool ChooseRadio(int window, int option, int radio);
// The row (from 1) of a list was highlighted; twice in a row (a double click) adds
// "EVENT:Accepted" when selected is set.
bool ChooseRow(int window, int feq, int row, bool doubleClick = false);
// The tab (from 1) of a sheet was brought forward.
bool ChooseTab(int window, int sheet, int tab);
// A list was scrolled: kind is one of the scroll events.
bool Scroll(int window, int feq, EventKind kind);
// A list's thumb was dragged to position (0 to 100).
bool DragThumb(int window, int feq, int position);
// A key was pressed in a control: an alert key of the control gives "EVENT:AlertKey", any
// other key of a list with a locator gives "EVENT:AlertKey" too (the locator takes it).
bool Key(int window, int feq, int key);
// A mouse button went down over the window (feq 0) or a control.
bool Mouse(int window, int feq, int button);
// The close box of the window.
bool CloseBox(int window);
// Focus moved to a control.
void Focus(int window, int feq);
// The window took a new geometry or state (kind: Sized, Moved, Maximized, Restored, Iconized).
void Resized(int window, EventKind kind, const Geometry& normal);
// A list shows rows rows at its present size.
void ListRowsShown(int window, int feq, int rows);

}  // namespace korawin::ui::gui
