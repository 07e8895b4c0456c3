// The runtime's thread table, shared by the runtime and its windows.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ui/runtime/event.h"
#include "ui/runtime/runtime.h"

namespace korawin::ui {

struct Slot {
  bool used = false;
  uint64_t generation = 0;    // counts the procedures that ended in the slot
  std::string name;
  std::vector<int> windows;   // the thread's open windows, oldest first
  std::deque<Event> queue;    // events for them
  std::vector<Event> early;   // posted before the thread had a window
  std::condition_variable cv;
  bool waiting = false;       // in Accept, nothing to take
  int waitWindow = 0;
  bool blocked = false;       // waiting for the user or for another thread
  // While blocked on a request to the user: true once the answer is there, so that the thread
  // is about to run again (empty while blocked for another reason).
  std::function<bool()> answered;

  // Makes the slot ready for a new procedure.
  void Reset(std::string_view newName) {
    used = true;
    name.assign(newName);
    windows.clear();
    queue.clear();
    early.clear();
    waiting = false;
    waitWindow = 0;
    blocked = false;
    answered = nullptr;
  }
};

struct ThreadTable {
  std::mutex mu;  // guards everything here; never held while taking the runtime lock
  Slot slots[kMaxThreads + 1];
  std::map<int, int> windowThread;   // window number -> thread
  std::map<int, std::string> windowCaption;  // window number -> caption, as last set
  std::condition_variable changed;   // a thread ended, waits, or a command was shown
  int closeRefusals = 0;

  bool AnyEventFor(const Slot& s, int window) const;
  void NoteWindowOpened(int window, int thread, const std::string& caption);
  void NoteCaption(int window, const std::string& caption);
  void NoteWindowClosed(int window, int thread);
  void Push(Event ev);
  void NoteCloseRefused();
};

ThreadTable& TheThreads();
// Commands sent and not yet shown by the GUI thread.
int PendingCommands();
// Waits until every procedure waits for an event with none to take and the GUI thread has
// shown every command; false on timeout. For tests.
bool WaitIdle(std::chrono::milliseconds timeout);

}  // namespace korawin::ui
