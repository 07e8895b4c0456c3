// A message backend that shows nothing: tests script the answers and read back every box
// that was asked for.
#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "ui/message_box.h"

namespace korawin::ui {

class HeadlessMessageUi : public MessageUi {
 public:
  struct Shown {
    MessageBoxRequest box;
    unsigned answer = ButtonNone;
  };

  // The next box without an answer yet answers button; a button the box does not offer
  // counts as closing the box (ButtonNone). Boxes with nothing scripted take their default.
  void QueueAnswer(unsigned button);
  // Answers not yet used by a box.
  size_t PendingAnswers() const;

  // Every box shown so far, oldest first, with the answer it gave.
  std::vector<Shown> Boxes() const;
  // The last box shown; an empty request with answer ButtonNone when none was.
  Shown Last() const;
  std::vector<Sound> Beeps() const;
  // Forgets boxes, beeps and pending answers.
  void Clear();

  unsigned ShowMessage(const MessageBoxRequest& box) override;
  void Beep(Sound kind) override;

 private:
  mutable std::mutex mu_;
  std::deque<unsigned> answers_;
  std::vector<Shown> shown_;
  std::vector<Sound> beeps_;
};

}  // namespace korawin::ui
