// A window as its procedure sees it. The procedure that opens a window owns it: only its own
// thread calls it, with the runtime lock held. The window keeps the procedure's copy of every
// control; changes go to the GUI thread at the next Flush, which every wait does first.
//
// Controls are named by their numbers (feq) from the window's description; the header made
// from the description gives them names (ids::LexemeList::Insert). A control may be bound to
// a variable (Use): Display shows the variable through the control's picture, and an accepted
// entry stores what the user typed back into the variable.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lang/types.h"
#include "ui/desc/window_desc.h"
#include "ui/runtime/event.h"
#include "ui/runtime/state.h"

namespace korawin::ui {

class Window {
 public:
  // Opens the described window for the calling thread: a child of the frame, the frame, or a
  // dialog, as the description says. While it is open, windows the same thread opened before
  // take no input. nullptr when no such window is described.
  static std::unique_ptr<Window> Open(std::string_view module, std::string_view name);
  // The same, the window starting hidden (shown later with SetHidden(false)), so that a window
  // that may never be needed does not flash on the screen.
  static std::unique_ptr<Window> Open(std::string_view module, std::string_view name, bool hidden);
  // The calling thread's current window (the last it opened and has not closed); nullptr
  // when it has none.
  static Window* Current();

  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  const WindowDesc& Desc() const { return *desc_; }
  int Number() const { return number_; }
  int Thread() const { return thread_; }
  bool Closed() const { return closed_; }
  // Closes the window now; later calls do nothing.
  void Close();

  // --- Controls.
  // True when feq names a control of this window.
  bool Has(int feq) const;
  const ControlDesc* Describe(int feq) const { return desc_->Control(feq); }
  ControlState& State(int feq);
  const ControlState& State(int feq) const;

  void SetText(int feq, std::string_view text);
  const std::string& Text(int feq) const;
  void SetValue(int feq, int value);
  int Value(int feq) const;
  void SetFlag(int feq, uint32_t flag, bool on);
  bool Flag(int feq, uint32_t flag) const;
  void Hide(int feq) { SetFlag(feq, kFlagHidden, true); }
  void Unhide(int feq) { SetFlag(feq, kFlagHidden, false); }
  void Disable(int feq) { SetFlag(feq, kFlagDisabled, true); }
  void Enable(int feq) { SetFlag(feq, kFlagDisabled, false); }
  // Shown: neither it nor a control around it is hidden, and a tab around it is the one its
  // sheet shows.
  bool Visible(int feq) const;
  void SetTip(int feq, std::string_view tip);
  void SetStatusText(int feq, std::string_view text);
  void SetLook(int feq, const Look& look);
  void SetRange(int feq, double low, double high);

  // A list's rows; the highlighted row (from 1) is Value(feq).
  void SetRows(int feq, std::vector<ListRow> rows);
  const std::vector<ListRow>& Rows(int feq) const;
  // The list's scroll thumb 0 to 100, or -1 to show no scroll bar.
  void SetThumb(int feq, int position);
  // Rows the list shows at its present size (the designed number until the GUI reports it).
  int VisibleRows(int feq) const;
  void SetAlertKeys(int feq, std::vector<int> keys);

  // --- Variables.
  // Binds the control to var (which must outlive the window). An entry or text box bound to a
  // text stops taking characters at the variable's size.
  void Use(int feq, const lang::Variable& var);
  // Shows the bound variables through their pictures (feq 0: every control).
  void Display(int feq = 0);
  // Stores the controls' texts into their variables (feq 0: every control).
  void Update(int feq = 0);

  // --- The window.
  void SetCaption(std::string_view caption);
  const std::string& Caption() const { return state_.caption; }
  void SetStatus(std::string_view text, int zone = 0);
  const WindowState& WindowStateNow() const { return state_; }
  void SetGeometry(const Geometry& g);
  // The smallest size (dialog units) the user may give the window; 0 lifts the limit.
  void SetMinimumSize(int width, int height);
  void Maximize(bool on);
  void Iconize(bool on);
  void SetHidden(bool on);
  void SetBusy(bool on);
  // The window's timer in hundredths of a second; 0 stops it.
  void SetTimer(int hundredths);
  int Timer() const { return timer_; }

  // --- Focus and events.
  // Gives the control the focus (and its tab, when on a sheet).
  void Select(int feq);
  // The control with the focus, as the GUI last reported it.
  int Focus() const { return focus_; }
  // Starts the validation round of an update form: every entry, text box, check, option and
  // spin in turn gets "EVENT:Accepted", then the window gets "EVENT:Completed" unless the
  // procedure selected a control meanwhile (a field refused).
  void SelectAll();
  // Waits for the next event of this window and returns it; the event's payload (an entry's
  // text, a list's row ...) is already in the control's state and its variable. Flushes first.
  // Returns EventKind::None once the window is closed.
  const Event& Accept();
  // Like Accept, but gives up after timeout with EventKind::None.
  const Event& AcceptFor(std::chrono::milliseconds timeout);
  // True when an event for this window waits to be accepted: a long piece of work between two
  // events can stop early and let the user be heard (a Cancel button, a close).
  bool EventWaiting() const;
  const Event& CurrentEvent() const { return event_; }
  EventKind EventNow() const { return event_.kind; }
  int Field() const { return event_.control; }
  int Keycode() const { return event_.key; }
  // Posts an event to this window, after those already waiting.
  void Post(EventKind kind, int control = 0);
  void PostUser(int number, int control = 0);

  // Sends what changed to the GUI thread.
  void Flush();
  // Asks the GUI to carry out a standard action (tile, cascade, cut ...).
  void Standard(StdAction action);
  // Shows a popup menu (see popup_text.h) at the pointer; the chosen item's number, 0: none.
  int Popup(std::string_view menu);

 private:
  Window(const WindowDesc* desc, int number, int thread);
  void Touch(int feq);
  void TouchWindow() { windowDirty_ = true; }
  void Take(const Event& ev);
  const Event& Wait(std::chrono::steady_clock::time_point deadline, bool bounded);

  const WindowDesc* desc_;
  int number_;
  int thread_;
  bool closed_ = false;
  WindowState state_;
  std::vector<ControlState> controls_;
  std::vector<lang::Variable> uses_;     // index feq - 1; type 0: none
  std::vector<int> visibleRows_;         // lists: rows shown, as the GUI reported
  std::vector<bool> dirty_;
  bool anyDirty_ = false;
  bool windowDirty_ = false;
  int focus_ = 0;
  int timer_ = 0;
  std::chrono::steady_clock::time_point nextTimer_;
  Event event_;
  bool closing_ = false;  // the last event returned asked the window to close
  std::vector<int> validation_;  // controls still to accept in the round, last first
  bool validating_ = false;
  Window* below_ = nullptr;  // the window this thread opened before
};

}  // namespace korawin::ui
