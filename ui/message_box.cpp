#include "ui/message_box.h"

#include <atomic>

#include "ui/console_message_box.h"

namespace korawin::ui {

unsigned EffectiveDefault(const MessageBoxRequest& box) {
  for (Button b : kButtonOrder)
    if (box.defaultButton == b && (box.buttons & b)) return b;
  for (Button b : kButtonOrder)
    if (box.buttons & b) return b;
  return ButtonOk;
}

namespace {

std::atomic<MessageUi*> installed{nullptr};

MessageUi& StandardConsole() {
  static ConsoleMessageUi console;
  return console;
}

}  // namespace

MessageUi& Messages() {
  MessageUi* ui = installed.load(std::memory_order_acquire);
  return ui ? *ui : StandardConsole();
}

MessageUi* SetMessages(MessageUi* ui) {
  return installed.exchange(ui, std::memory_order_acq_rel);
}

}  // namespace korawin::ui
