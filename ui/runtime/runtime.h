// The window runtime: procedure threads, the program-wide runtime lock, and the channel
// between procedures and the GUI thread.
//
// Every procedure runs on a thread of its own, numbered from 1 in a table of 63 slots. While
// a procedure runs program code it holds the runtime lock, so record buffers, globals, bound
// names and relation walks are never touched by two procedures at once; it lets go only while
// it waits: for its next event, for the user's answer to a message box or dialog, or for
// another thread. The GUI thread never takes the runtime lock and never reads procedure data:
// procedures send it copies of what to show (commands), and it sends back what the user did
// (events). So no deadlock is possible, and windows repaint while a long pass runs.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/runtime/command.h"
#include "ui/runtime/event.h"
#include "ui/runtime/state.h"

namespace korawin::ui {

class GuiModel;

// The GUI side: shows what the model holds. Every call but Wake comes on the GUI thread.
class Backend {
 public:
  Backend() = default;
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;
  virtual ~Backend() = default;

  // Commands are waiting: arrange for Runtime::Drain to run on the GUI thread soon. Called
  // from any thread, possibly with the runtime lock held: it must not block.
  virtual void Wake() = 0;
  // Shows one command after the model has taken it. Requests that wait for the user (message
  // box, file dialog, popup) must keep their promise, now or later.
  virtual void Show(const Command& command, const GuiModel& model) = 0;
};

// The number of slots in the thread table.
inline constexpr int kMaxThreads = 63;

class Runtime {
 public:
  // --- Set-up, on the thread that becomes the GUI thread.
  // Starts the runtime over backend. Message boxes of every thread then go through it.
  static void Start(Backend* backend);
  // Ends the runtime after the procedures ended; windows still open are forgotten.
  static void Stop();
  static bool Started();
  static bool IsGuiThread();

  // --- GUI thread.
  // Applies the queued commands to the model and shows them. Returns the number applied.
  static int Drain();
  // The GUI's copy of every window.
  static GuiModel& Model();
  // Hands an event to the thread that owns ev.window (dropped when the window is gone).
  static void Deliver(Event ev);

  // --- Procedures, from any thread.
  // Starts body on a new procedure thread and returns its number at once; when the table is
  // full, shows a message and returns 0. body runs with the runtime lock held; windows it
  // leaves open close when it returns.
  static int StartProcedure(std::function<void()> body, std::string_view name = {});
  // The calling thread's number; 0 for a thread that is not a procedure's.
  static int ThreadNumber();
  // Numbers of the procedure threads that are running.
  static std::vector<int> Threads();
  static bool ThreadRunning(int thread);
  // Every open window as (thread, caption), in the order they opened.
  static std::vector<std::pair<int, std::string>> OpenWindows();
  // Waits (releasing the runtime lock when held) until thread has ended; false on timeout.
  static bool WaitThread(int thread, std::chrono::milliseconds timeout);
  // Waits until the system threads of every procedure that has ended are gone: a procedure
  // thread that used a library keeping data per thread (Qt, for one that drew pages) gives it
  // back as it exits, which must happen before that library is torn down. False on timeout.
  static bool WaitProceduresGone(std::chrono::milliseconds timeout);
  // Posts an event to the current window of thread (the window its procedure waits in).
  static void PostToThread(int thread, EventKind kind, int control = 0);
  // Posts CloseDown to every procedure thread but the caller's and waits until they have
  // ended. False, with their windows left open, when one of them kept its window open (the
  // user chose to stay) or timeout passed.
  static bool CloseOtherProcedures(std::chrono::milliseconds timeout);

  // --- Requests that wait for the user (any thread; the runtime lock is released meanwhile).
  static unsigned ShowMessage(const MessageBoxRequest& box);
  static std::string FileDialog(const FileDialogRequest& request);
  static int Popup(int window, std::string_view menu);
  static void Beep(Sound sound);

  // --- Internal: used by Window.
  static void Send(Command command);
  static int NewWindowNumber();
};

// The runtime lock. Procedure threads hold it while they run program code; the runtime lets
// it go around every wait. Taking it on the GUI thread is a fault (checked in debug builds).
class RuntimeLock {
 public:
  static void Acquire();
  static void Release();
  // True when the calling thread holds it.
  static bool Held();
  // Lets every procedure that waits for the lock run its turn before the caller goes on; a
  // long pass calls it now and then, so the other windows stay usable meanwhile. Only where the
  // caller's data may be seen by others: between records, never inside one.
  static void Yield();
};

// Lets go of the runtime lock for the life of the object when the calling thread holds it,
// and takes it back at the end: for code about to block.
class RuntimeUnlocked {
 public:
  RuntimeUnlocked();
  ~RuntimeUnlocked();
  RuntimeUnlocked(const RuntimeUnlocked&) = delete;
  RuntimeUnlocked& operator=(const RuntimeUnlocked&) = delete;

 private:
  bool held_;
};

}  // namespace korawin::ui
