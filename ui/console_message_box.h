// A message backend for the command-line tool: boxes are written as text (UTF-8) and
// questions are asked on the terminal. Without a terminal every box answers its default.
#pragma once

#include <cstdio>
#include <mutex>

#include "ui/message_box.h"

namespace korawin::ui {

class ConsoleMessageUi : public MessageUi {
 public:
  // Standard input and standard error; questions are asked only when both are terminals.
  ConsoleMessageUi();
  // Writes boxes to out; reads answers from in only when interactive (in may then not be
  // nullptr). The streams stay the caller's.
  ConsoleMessageUi(std::FILE* in, std::FILE* out, bool interactive);

  unsigned ShowMessage(const MessageBoxRequest& box) override;
  void Beep(Sound kind) override;

 private:
  unsigned Ask(const MessageBoxRequest& box);

  std::mutex mu_;
  std::FILE* in_;
  std::FILE* out_;
  bool interactive_;
};

}  // namespace korawin::ui
