#include "ui/headless_message_box.h"

namespace korawin::ui {

void HeadlessMessageUi::QueueAnswer(unsigned button) {
  std::lock_guard<std::mutex> lock(mu_);
  answers_.push_back(button);
}

size_t HeadlessMessageUi::PendingAnswers() const {
  std::lock_guard<std::mutex> lock(mu_);
  return answers_.size();
}

std::vector<HeadlessMessageUi::Shown> HeadlessMessageUi::Boxes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return shown_;
}

HeadlessMessageUi::Shown HeadlessMessageUi::Last() const {
  std::lock_guard<std::mutex> lock(mu_);
  if (shown_.empty()) return Shown{MessageBoxRequest{{}, {}, Icon::None, 0, 0}, ButtonNone};
  return shown_.back();
}

std::vector<Sound> HeadlessMessageUi::Beeps() const {
  std::lock_guard<std::mutex> lock(mu_);
  return beeps_;
}

void HeadlessMessageUi::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  answers_.clear();
  shown_.clear();
  beeps_.clear();
}

unsigned HeadlessMessageUi::ShowMessage(const MessageBoxRequest& box) {
  std::lock_guard<std::mutex> lock(mu_);
  unsigned answer = EffectiveDefault(box);
  if (!answers_.empty()) {
    unsigned scripted = answers_.front();
    answers_.pop_front();
    bool offered = false;
    for (Button b : kButtonOrder) offered = offered || (scripted == b && (box.buttons & b));
    answer = offered ? scripted : ButtonNone;
  }
  shown_.push_back(Shown{box, answer});
  return answer;
}

void HeadlessMessageUi::Beep(Sound kind) {
  std::lock_guard<std::mutex> lock(mu_);
  beeps_.push_back(kind);
}

}  // namespace korawin::ui
