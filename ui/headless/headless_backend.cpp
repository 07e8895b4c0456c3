#include "ui/headless/headless_backend.h"

#include <future>

#include "ui/runtime/gui_model.h"

namespace korawin::ui {

HeadlessBackend::HeadlessBackend() {
  std::promise<void> started;
  std::future<void> ready = started.get_future();
  gui_ = std::thread([this, &started] {
    Runtime::Start(this);
    started.set_value();
    Loop();
    Runtime::Stop();
  });
  ready.wait();
}

HeadlessBackend::~HeadlessBackend() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  gui_.join();
}

void HeadlessBackend::Loop() {
  std::unique_lock<std::mutex> lock(mu_);
  while (true) {
    cv_.wait(lock, [this] { return woken_ || stop_ || !tasks_.empty(); });
    if (stop_) break;
    woken_ = false;
    std::deque<std::function<void()>> tasks;
    tasks.swap(tasks_);
    lock.unlock();
    Runtime::Drain();
    for (auto& t : tasks) t();
    Runtime::Drain();
    lock.lock();
  }
}

void HeadlessBackend::OnGui(const std::function<void()>& fn) {
  if (Runtime::IsGuiThread()) {
    fn();
    return;
  }
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  {
    std::lock_guard<std::mutex> lock(mu_);
    tasks_.push_back([&] {
      fn();
      done.set_value();
    });
  }
  cv_.notify_all();
  finished.wait();
}

void HeadlessBackend::Wake() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    woken_ = true;
  }
  cv_.notify_all();
}

void HeadlessBackend::Show(const Command& command, const GuiModel&) {
  std::lock_guard<std::mutex> lock(mu_);
  if (const auto* m = std::get_if<MessageCommand>(&command)) {
    unsigned answer = EffectiveDefault(m->box);
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
      if (!(answer & m->box.buttons)) answer = ButtonNone;
    }
    boxes_.push_back({m->box, answer});
    m->answer->set_value(answer);
  } else if (const auto* f = std::get_if<FileDialogCommand>(&command)) {
    std::string path;
    if (!files_.empty()) {
      path = files_.front();
      files_.pop_front();
    }
    dialogs_.push_back(f->request);
    f->answer->set_value(path);
  } else if (const auto* p = std::get_if<PopupCommand>(&command)) {
    int item = 0;
    if (!choices_.empty()) {
      item = choices_.front();
      choices_.pop_front();
    }
    popups_.push_back(p->menu);
    p->answer->set_value(item);
  } else if (const auto* s = std::get_if<StdActionCommand>(&command)) {
    actions_.push_back(s->action);
  } else if (std::holds_alternative<BeepCommand>(command)) {
    ++beeps_;
  }
}

void HeadlessBackend::QueueAnswer(unsigned button) {
  std::lock_guard<std::mutex> lock(mu_);
  answers_.push_back(button);
}

void HeadlessBackend::QueueFile(std::string path) {
  std::lock_guard<std::mutex> lock(mu_);
  files_.push_back(std::move(path));
}

void HeadlessBackend::QueueChoice(int item) {
  std::lock_guard<std::mutex> lock(mu_);
  choices_.push_back(item);
}

std::vector<HeadlessBackend::ShownBox> HeadlessBackend::Boxes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return boxes_;
}

std::vector<FileDialogRequest> HeadlessBackend::FileDialogs() const {
  std::lock_guard<std::mutex> lock(mu_);
  return dialogs_;
}

std::vector<std::string> HeadlessBackend::Popups() const {
  std::lock_guard<std::mutex> lock(mu_);
  return popups_;
}

std::vector<StdAction> HeadlessBackend::StdActions() const {
  std::lock_guard<std::mutex> lock(mu_);
  return actions_;
}

int HeadlessBackend::Beeps() const {
  std::lock_guard<std::mutex> lock(mu_);
  return beeps_;
}

size_t HeadlessBackend::PendingAnswers() const {
  std::lock_guard<std::mutex> lock(mu_);
  return answers_.size();
}

}  // namespace korawin::ui
