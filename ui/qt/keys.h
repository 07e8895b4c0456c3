// Keys between Qt and the runtime's key codes (ui/runtime/event.h).
#pragma once

#include <QKeySequence>
#include <QString>

class QKeyEvent;

namespace korawin::ui::qt {

// The runtime's code of a key press with its modifiers, as alert keys name it ("Ctrl+Enter",
// "Insert", "F2", "A"); 0 for a key the runtime has no code for.
int AlertKeyOf(const QKeyEvent* event);
// The Windows-1251 code of the character a key press types without Ctrl or Alt, for a list's
// locator; 0 when it types none, -1 when Windows-1251 lacks it (*ch gets the character).
int CharKeyOf(const QKeyEvent* event, QString* ch);
// The key sequence of a runtime key code, for shortcuts of buttons; empty when there is none.
QKeySequence SequenceOf(int key);

}  // namespace korawin::ui::qt
