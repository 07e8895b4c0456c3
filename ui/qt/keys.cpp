#include "ui/qt/keys.h"

#include <QKeyEvent>

#include "platform/codepage.h"
#include "ui/runtime/event.h"

namespace korawin::ui::qt {

namespace {

struct KeyPair {
  int qt;
  int code;
};

// Keys without a character: the runtime numbers them as the desktop's virtual keys.
constexpr KeyPair kKeys[] = {
    {Qt::Key_Return, kKeyEnter},
    {Qt::Key_Enter, kKeyEnter},
    {Qt::Key_Escape, kKeyEscape},
    {Qt::Key_Tab, kKeyTab},
    {Qt::Key_Backtab, kKeyTab},
    {Qt::Key_Backspace, kKeyBackspace},
    {Qt::Key_Space, kKeySpace},
    {Qt::Key_Insert, kKeyInsert},
    {Qt::Key_Delete, kKeyDelete},
    {Qt::Key_Home, kKeyHome},
    {Qt::Key_End, kKeyEnd},
    {Qt::Key_Up, kKeyUp},
    {Qt::Key_Down, kKeyDown},
    {Qt::Key_PageUp, kKeyPgUp},
    {Qt::Key_PageDown, kKeyPgDn},
    {Qt::Key_Left, kKeyVirtual + 0x25},
    {Qt::Key_Right, kKeyVirtual + 0x27},
};

int Modifiers(Qt::KeyboardModifiers m) {
  int out = 0;
  if (m & Qt::ShiftModifier) out |= kKeyShift;
  if (m & Qt::ControlModifier) out |= kKeyCtrl;
  if (m & Qt::AltModifier) out |= kKeyAlt;
  return out;
}

}  // namespace

int AlertKeyOf(const QKeyEvent* event) {
  int key = event->key();
  int mods = Modifiers(event->modifiers());
  for (const KeyPair& k : kKeys)
    if (k.qt == key) return k.code | mods;
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return (kKeyF1 + (key - Qt::Key_F1)) | mods;
  // Letters and digits as their upper-case Latin codes, which is how descriptions name them.
  if (key > 0x20 && key < 0x7F) return key | mods;
  return 0;
}

int CharKeyOf(const QKeyEvent* event, QString* ch) {
  if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return 0;
  QString text = event->text();
  if (text.isEmpty() || !text[0].isPrint()) return 0;
  if (ch) *ch = text;
  std::u32string cps = text.toStdU32String();
  std::optional<unsigned char> b = platform::UnicodeToCp1251(cps[0]);
  return b ? *b : -1;
}

QKeySequence SequenceOf(int key) {
  if (key == 0) return QKeySequence();
  int base = key & ~(kKeyShift | kKeyCtrl | kKeyAlt);
  int qt = 0;
  for (const KeyPair& k : kKeys) {
    if (k.code == base) {
      qt = k.qt;
      break;
    }
  }
  if (!qt && base >= kKeyF1 && base < kKeyF1 + 12) qt = Qt::Key_F1 + (base - kKeyF1);
  if (!qt && base > 0x20 && base < 0x7F) qt = base;
  if (!qt) return QKeySequence();
  int mods = 0;
  if (key & kKeyShift) mods |= Qt::SHIFT;
  if (key & kKeyCtrl) mods |= Qt::CTRL;
  if (key & kKeyAlt) mods |= Qt::ALT;
  return QKeySequence(qt | mods);
}

}  // namespace korawin::ui::qt
