#include "ui/runtime/runtime.h"

#include <unistd.h>

#include <atomic>
#include <cassert>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/codepage.h"
#include "ui/runtime/gui_model.h"
#include "ui/runtime/runtime_internal.h"
#include "ui/runtime/window.h"

namespace korawin::ui {

namespace {

// System ids of procedure threads whose procedure has ended and whose thread is exiting.
std::mutex& EndingMutex() {
  static std::mutex mu;
  return mu;
}
std::vector<long>& EndingThreads() {
  static std::vector<long> ids;
  return ids;
}
void NoteEnding() {
  std::lock_guard<std::mutex> lock(EndingMutex());
  EndingThreads().push_back(static_cast<long>(::gettid()));
}

}  // namespace

namespace {

// The runtime lock: a ticket lock, so that threads take it in the order they asked for it
// and a long pass that yields lets every waiting procedure run once before it goes on.
struct TicketLock {
  std::mutex mu;
  std::condition_variable turn;
  uint64_t next = 0;     // the ticket the next taker draws
  uint64_t serving = 0;  // the ticket that holds the lock
};
TicketLock gLock;
std::atomic<std::thread::id> gOwner{};

// Messages of every thread go through the runtime once it runs.
class RuntimeMessages : public MessageUi {
 public:
  unsigned ShowMessage(const MessageBoxRequest& box) override { return Runtime::ShowMessage(box); }
  void Beep(Sound kind) override { Runtime::Beep(kind); }
};

struct Core {
  Backend* backend = nullptr;
  std::atomic<bool> started{false};
  std::thread::id gui;
  MessageUi* messagesBefore = nullptr;
  RuntimeMessages messages;

  // Commands on their way to the GUI thread.
  std::mutex cmdMu;
  std::deque<Command> commands;
  int pending = 0;  // sent and not yet shown
  GuiModel model;   // GUI thread only

  std::atomic<int> windowNumbers{0};

  ThreadTable threads;
};

Core& C() {
  static Core c;
  return c;
}

thread_local int tlsThread = 0;

}  // namespace

// ---------------------------------------------------------------------------------------------
// The runtime lock.

void RuntimeLock::Acquire() {
  assert(!Runtime::IsGuiThread() && "the GUI thread never takes the runtime lock");
  std::unique_lock<std::mutex> lock(gLock.mu);
  uint64_t ticket = gLock.next++;
  gLock.turn.wait(lock, [&] { return gLock.serving == ticket; });
  gOwner.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void RuntimeLock::Release() {
  std::lock_guard<std::mutex> lock(gLock.mu);
  gOwner.store(std::thread::id(), std::memory_order_relaxed);
  ++gLock.serving;
  gLock.turn.notify_all();
}

bool RuntimeLock::Held() {
  return gOwner.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

void RuntimeLock::Yield() {
  if (!Held()) return;
  {
    std::lock_guard<std::mutex> lock(gLock.mu);
    if (gLock.next - gLock.serving <= 1) return;  // nobody waits
  }
  Release();
  Acquire();
}

RuntimeUnlocked::RuntimeUnlocked() : held_(RuntimeLock::Held()) {
  if (held_) RuntimeLock::Release();
}

RuntimeUnlocked::~RuntimeUnlocked() {
  if (held_) RuntimeLock::Acquire();
}

// ---------------------------------------------------------------------------------------------
// Thread table.

ThreadTable& TheThreads() { return C().threads; }

void SetThisThread(int number) { tlsThread = number; }

bool ThreadTable::AnyEventFor(const Slot& s, int window) const {
  for (const Event& e : s.queue)
    if (e.window == window) return true;
  return false;
}

void ThreadTable::NoteWindowOpened(int window, int thread, const std::string& caption) {
  std::lock_guard<std::mutex> lock(mu);
  windowThread[window] = thread;
  windowCaption[window] = caption;
  if (thread < 1 || thread > kMaxThreads) return;
  Slot& s = slots[thread];
  s.windows.push_back(window);
  // Events posted to the thread before it had a window are the first window's.
  for (Event& e : s.early) {
    e.window = window;
    s.queue.push_back(std::move(e));
  }
  s.early.clear();
}

void ThreadTable::NoteWindowClosed(int window, int thread) {
  std::lock_guard<std::mutex> lock(mu);
  windowThread.erase(window);
  windowCaption.erase(window);
  if (thread < 1 || thread > kMaxThreads) return;
  Slot& s = slots[thread];
  for (auto it = s.windows.begin(); it != s.windows.end(); ++it) {
    if (*it == window) {
      s.windows.erase(it);
      break;
    }
  }
  // Events left for the window go with it.
  for (auto it = s.queue.begin(); it != s.queue.end();) {
    it = it->window == window ? s.queue.erase(it) : it + 1;
  }
  changed.notify_all();
}

void ThreadTable::NoteCaption(int window, const std::string& caption) {
  std::lock_guard<std::mutex> lock(mu);
  auto it = windowCaption.find(window);
  if (it != windowCaption.end()) it->second = caption;
}

void ThreadTable::Push(Event ev) {
  std::lock_guard<std::mutex> lock(mu);
  auto it = windowThread.find(ev.window);
  if (it == windowThread.end()) return;
  Slot& s = slots[it->second];
  s.queue.push_back(std::move(ev));
  s.cv.notify_all();
  changed.notify_all();
}

void ThreadTable::NoteCloseRefused() {
  std::lock_guard<std::mutex> lock(mu);
  ++closeRefusals;
  changed.notify_all();
}

// ---------------------------------------------------------------------------------------------
// Set-up and the GUI side.

void Runtime::Start(Backend* backend) {
  Core& c = C();
  c.backend = backend;
  c.gui = std::this_thread::get_id();
  c.started.store(true);
  c.messagesBefore = SetMessages(&c.messages);
}

void Runtime::Stop() {
  Core& c = C();
  if (!c.started.exchange(false)) return;
  SetMessages(c.messagesBefore);
  std::lock_guard<std::mutex> lock(c.cmdMu);
  // Requests still waiting for an answer get none.
  for (Command& cmd : c.commands) {
    if (auto* m = std::get_if<MessageCommand>(&cmd)) m->answer->set_value(ButtonNone);
    if (auto* f = std::get_if<FileDialogCommand>(&cmd)) f->answer->set_value({});
    if (auto* p = std::get_if<PopupCommand>(&cmd)) p->answer->set_value(0);
  }
  c.commands.clear();
  c.pending = 0;
  c.model = GuiModel();
  c.backend = nullptr;
  c.gui = std::thread::id();
}

bool Runtime::Started() { return C().started.load(); }

bool Runtime::IsGuiThread() {
  Core& c = C();
  return c.started.load() && c.gui == std::this_thread::get_id();
}

int Runtime::Drain() {
  Core& c = C();
  int applied = 0;
  while (true) {
    Command cmd;
    {
      std::lock_guard<std::mutex> lock(c.cmdMu);
      if (c.commands.empty()) break;
      cmd = std::move(c.commands.front());
      c.commands.pop_front();
    }
    c.model.Apply(cmd);
    if (c.backend) c.backend->Show(cmd, c.model);
    ++applied;
    {
      std::lock_guard<std::mutex> lock(c.cmdMu);
      --c.pending;
    }
    std::lock_guard<std::mutex> lock(c.threads.mu);
    c.threads.changed.notify_all();
  }
  return applied;
}

GuiModel& Runtime::Model() {
  assert(IsGuiThread());
  return C().model;
}

void Runtime::Deliver(Event ev) { C().threads.Push(std::move(ev)); }

void Runtime::Send(Command command) {
  Core& c = C();
  if (!c.started.load()) {
    // Without a GUI, requests answer at once as a box closed without a button would.
    if (auto* m = std::get_if<MessageCommand>(&command)) m->answer->set_value(ButtonNone);
    if (auto* f = std::get_if<FileDialogCommand>(&command)) f->answer->set_value({});
    if (auto* p = std::get_if<PopupCommand>(&command)) p->answer->set_value(0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(c.cmdMu);
    c.commands.push_back(std::move(command));
    ++c.pending;
  }
  if (c.backend) c.backend->Wake();
}

int Runtime::NewWindowNumber() { return ++C().windowNumbers; }

int PendingCommands() {
  Core& c = C();
  std::lock_guard<std::mutex> lock(c.cmdMu);
  return c.pending;
}

// ---------------------------------------------------------------------------------------------
// Procedures.

int Runtime::StartProcedure(std::function<void()> body, std::string_view name) {
  ThreadTable& t = C().threads;
  int number = 0;
  {
    std::lock_guard<std::mutex> lock(t.mu);
    for (int k = 1; k <= kMaxThreads; ++k) {
      if (!t.slots[k].used) {
        number = k;
        break;
      }
    }
    if (number) {
      t.slots[number].Reset(name);
    }
  }
  if (!number) {
    MessageBoxRequest box;
    box.caption = platform::Utf8ToCp1251Lossy("Ошибка");
    box.text = platform::Utf8ToCp1251Lossy(
        "Открыто слишком много окон (63). Закройте ненужные окна и повторите.");
    box.icon = Icon::Exclamation;
    Messages().ShowMessage(box);
    return 0;
  }
  std::thread th([number, body = std::move(body)] {
    SetThisThread(number);
    RuntimeLock::Acquire();
    body();
    // Windows the procedure left open close with it.
    while (Window* w = Window::Current()) w->Close();
    RuntimeLock::Release();
    ThreadTable& t = TheThreads();
    std::lock_guard<std::mutex> lock(t.mu);
    Slot& s = t.slots[number];
    s.used = false;
    s.queue.clear();
    ++s.generation;
    t.changed.notify_all();
    NoteEnding();
  });
  th.detach();
  return number;
}

bool Runtime::WaitProceduresGone(std::chrono::milliseconds timeout) {
  std::vector<long> ids;
  {
    std::lock_guard<std::mutex> lock(EndingMutex());
    ids.swap(EndingThreads());
  }
  RuntimeUnlocked unlocked;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (long id : ids) {
    std::string task = "/proc/self/task/" + std::to_string(id);
    while (::access(task.c_str(), F_OK) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

int Runtime::ThreadNumber() { return tlsThread; }

std::vector<int> Runtime::Threads() {
  auto& t = C().threads;
  std::lock_guard<std::mutex> lock(t.mu);
  std::vector<int> out;
  for (int k = 1; k <= kMaxThreads; ++k)
    if (t.slots[k].used) out.push_back(k);
  return out;
}

std::vector<std::pair<int, std::string>> Runtime::OpenWindows() {
  auto& t = C().threads;
  std::lock_guard<std::mutex> lock(t.mu);
  std::vector<std::pair<int, std::string>> out;
  for (const auto& [window, thread] : t.windowThread) out.emplace_back(thread, t.windowCaption[window]);
  return out;
}

bool Runtime::ThreadRunning(int thread) {
  auto& t = C().threads;
  if (thread < 1 || thread > kMaxThreads) return false;
  std::lock_guard<std::mutex> lock(t.mu);
  return t.slots[thread].used;
}

bool Runtime::WaitThread(int thread, std::chrono::milliseconds timeout) {
  if (thread < 1 || thread > kMaxThreads) return true;
  RuntimeUnlocked unlocked;
  auto& t = C().threads;
  std::unique_lock<std::mutex> lock(t.mu);
  uint64_t generation = t.slots[thread].generation;
  Slot* me = tlsThread ? &t.slots[tlsThread] : nullptr;
  if (me) me->blocked = true;
  bool ended = t.changed.wait_for(lock, timeout, [&] {
    return !t.slots[thread].used || t.slots[thread].generation != generation;
  });
  if (me) me->blocked = false;
  return ended;
}

void Runtime::PostToThread(int thread, EventKind kind, int control) {
  auto& t = C().threads;
  Event ev;
  ev.kind = kind;
  ev.control = control;
  {
    std::lock_guard<std::mutex> lock(t.mu);
    if (thread < 1 || thread > kMaxThreads || !t.slots[thread].used) return;
    Slot& s = t.slots[thread];
    if (s.windows.empty()) {
      // Not waiting in a window yet: the event waits for the first window it opens.
      s.early.push_back(ev);
      return;
    }
    ev.window = s.windows.back();
  }
  Deliver(std::move(ev));
}

bool Runtime::CloseOtherProcedures(std::chrono::milliseconds timeout) {
  auto& t = C().threads;
  std::vector<int> others;
  for (int k : Threads())
    if (k != tlsThread) others.push_back(k);
  int refusals;
  {
    std::lock_guard<std::mutex> lock(t.mu);
    refusals = t.closeRefusals;
  }
  for (int k : others) PostToThread(k, EventKind::CloseDown);
  RuntimeUnlocked unlocked;
  std::unique_lock<std::mutex> lock(t.mu);
  Slot* me = tlsThread ? &t.slots[tlsThread] : nullptr;
  if (me) me->blocked = true;
  bool done = t.changed.wait_for(lock, timeout, [&] {
    if (t.closeRefusals != refusals) return true;
    for (int k : others)
      if (t.slots[k].used) return false;
    return true;
  });
  if (me) me->blocked = false;
  if (!done) return false;
  for (int k : others)
    if (t.slots[k].used) return false;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Requests that wait for the user.

namespace {

template <typename T, typename Cmd>
T Ask(Cmd cmd, T closed) {
  if (Runtime::IsGuiThread()) return closed;  // the GUI thread would wait for itself
  if (Window* w = Window::Current()) w->Flush();
  auto promise = std::make_shared<std::promise<T>>();
  std::shared_future<T> answer = promise->get_future().share();
  cmd.answer = promise;
  Runtime::Send(std::move(cmd));
  RuntimeUnlocked unlocked;
  auto& t = TheThreads();
  int me = Runtime::ThreadNumber();
  if (me) {
    std::lock_guard<std::mutex> lock(t.mu);
    t.slots[me].blocked = true;
    // An answer may come at once (a script answers as the box is shown): the thread is then
    // about to run on, not waiting for the user.
    t.slots[me].answered = [answer] {
      return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    };
    t.changed.notify_all();
  }
  T result = answer.get();
  if (me) {
    std::lock_guard<std::mutex> lock(t.mu);
    t.slots[me].blocked = false;
    t.slots[me].answered = nullptr;
  }
  return result;
}

}  // namespace

unsigned Runtime::ShowMessage(const MessageBoxRequest& box) {
  MessageCommand cmd;
  cmd.box = box;
  return Ask<unsigned>(std::move(cmd), ButtonNone);
}

std::string Runtime::FileDialog(const FileDialogRequest& request) {
  FileDialogCommand cmd;
  cmd.request = request;
  return Ask<std::string>(std::move(cmd), std::string());
}

int Runtime::Popup(int window, std::string_view menu) {
  PopupCommand cmd;
  cmd.window = window;
  cmd.menu = std::string(menu);
  return Ask<int>(std::move(cmd), 0);
}

void Runtime::Beep(Sound sound) {
  BeepCommand cmd;
  cmd.sound = sound;
  Send(std::move(cmd));
}

// ---------------------------------------------------------------------------------------------
// Idle: for tests, every procedure waits and the GUI has shown everything.

bool WaitIdle(std::chrono::milliseconds timeout) {
  auto& t = TheThreads();
  auto idle = [&] {
    if (PendingCommands() != 0) return false;
    for (int k = 1; k <= kMaxThreads; ++k) {
      const Slot& s = t.slots[k];
      if (!s.used) continue;
      if (s.blocked) {
        // An answered request: the thread runs on in a moment.
        if (s.answered && s.answered()) return false;
        continue;
      }
      if (!s.waiting) return false;
      if (t.AnyEventFor(s, s.waitWindow)) return false;
    }
    return true;
  };
  std::unique_lock<std::mutex> lock(t.mu);
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!idle()) {
    // A command sent meanwhile is drained on the GUI thread, which notifies; poll as well, since
    // the command count is kept under another lock.
    if (t.changed.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() +
                                                          std::chrono::milliseconds(5))) ==
            std::cv_status::timeout &&
        std::chrono::steady_clock::now() >= deadline) {
      return idle();
    }
  }
  return true;
}

}  // namespace korawin::ui
