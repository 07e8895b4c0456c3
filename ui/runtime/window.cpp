#include "ui/runtime/window.h"

#include <algorithm>
#include <cassert>

#include "lang/picture.h"
#include "ui/desc/desc_json.h"
#include "ui/runtime/gui_model.h"
#include "ui/runtime/runtime.h"
#include "ui/runtime/runtime_internal.h"

namespace korawin::ui {

namespace {

thread_local Window* tlsTop = nullptr;

const ControlState kNoState;
const std::vector<ListRow> kNoRows;
constexpr int kDefaultListRows = 10;

// Controls that show a text of their own when they are bound to nothing.
bool CaptionedType(ControlType t) {
  switch (t) {
    case ControlType::Prompt: case ControlType::Button: case ControlType::Check:
    case ControlType::Radio: case ControlType::Tab: case ControlType::Group:
    case ControlType::Menu: case ControlType::Item: case ControlType::Display:
    case ControlType::Entry: case ControlType::TextBox:
      return true;
    default:
      return false;
  }
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}

bool IsTextPicture(std::string_view picture) {
  if (!picture.empty() && picture[0] == '@') picture.remove_prefix(1);
  return picture.empty() || picture[0] == 's' || picture[0] == 'S';
}

// The text a control shows for a value: texts without their trailing blanks (an entry's width
// is the picture's, not the padding's), numbers and dates without leading blanks.
std::string Shown(const lang::Value& v, std::string_view picture) {
  std::string out;
  if (picture.empty() || (IsTextPicture(picture) && v.type == lang::kText)) {
    std::string scratch;
    out.assign(TrimRight(lang::ValueToText(v, &scratch)));
    return out;
  }
  lang::FormatPicture(v, picture, &out);
  std::string_view t = IsTextPicture(picture) ? TrimRight(out) : TrimLeft(TrimRight(out));
  return std::string(t);
}

}  // namespace

std::unique_ptr<Window> Window::Open(std::string_view module, std::string_view name) {
  return Open(module, name, false);
}

std::unique_ptr<Window> Window::Open(std::string_view module, std::string_view name,
                                     bool hidden) {
  const WindowDesc* desc = FindWindowDesc(module, name);
  if (!desc) return nullptr;
  int thread = Runtime::ThreadNumber();
  std::unique_ptr<Window> w(new Window(desc, Runtime::NewWindowNumber(), thread));
  w->state_.hidden = hidden;
  w->below_ = tlsTop;
  if (Window* below = w->below_) {
    below->state_.inert = true;
    below->TouchWindow();
    below->Flush();
  }
  tlsTop = w.get();
  TheThreads().NoteWindowOpened(w->number_, thread, w->state_.caption);
  OpenWindowCommand cmd;
  cmd.window = w->number_;
  cmd.thread = thread;
  cmd.desc = desc;
  cmd.state = w->state_;
  cmd.controls = w->controls_;
  Runtime::Send(std::move(cmd));
  std::fill(w->dirty_.begin(), w->dirty_.end(), false);
  w->anyDirty_ = false;
  w->windowDirty_ = false;
  w->Post(EventKind::OpenWindow);
  return w;
}

Window* Window::Current() { return tlsTop; }

bool Window::EventWaiting() const {
  if (closed_ || closing_ || validating_) return true;
  ThreadTable& t = TheThreads();
  std::lock_guard<std::mutex> lock(t.mu);
  return t.AnyEventFor(t.slots[thread_], number_);
}

Window::Window(const WindowDesc* desc, int number, int thread)
    : desc_(desc), number_(number), thread_(thread) {
  size_t n = static_cast<size_t>(desc->controlCount);
  controls_.resize(n);
  uses_.resize(n);
  visibleRows_.assign(n, 0);
  dirty_.assign(n, false);
  state_.caption = desc->caption;
  state_.status.assign(std::max<size_t>(1, desc->statusZones.size()), std::string());
  for (int feq = 1; feq <= desc->controlCount; ++feq) {
    const ControlDesc* c = desc->Control(feq);
    if (!c) continue;
    ControlState& s = controls_[static_cast<size_t>(feq - 1)];
    if (CaptionedType(c->type) && c->use.empty()) s.text = c->text;
    if (c->type == ControlType::Entry || c->type == ControlType::TextBox ||
        c->type == ControlType::Display) {
      s.text = c->use.empty() ? c->text : std::string();
    }
    s.flags = c->flags;
    s.tip = c->tip;
    s.status = c->status;
    s.icon = c->icon;
    if (c->type == ControlType::Spin || c->type == ControlType::Progress) {
      s.low = c->low;
      s.high = c->high > c->low ? c->high : (c->type == ControlType::Progress ? 100 : c->low);
    }
    if (c->type == ControlType::Check) s.value = (c->flags & kFlagChecked) ? 1 : 0;
    if (c->type == ControlType::Sheet) s.value = 1;
    if (c->type == ControlType::List) {
      visibleRows_[static_cast<size_t>(feq - 1)] = c->lines > 0 ? c->lines : kDefaultListRows;
      if (!c->key.empty()) s.alertKeys.push_back(KeyFromName(c->key));
    }
  }
}

Window::~Window() { Close(); }

void Window::Close() {
  if (closed_) return;
  Flush();
  closed_ = true;
  CloseWindowCommand cmd;
  cmd.window = number_;
  Runtime::Send(cmd);
  TheThreads().NoteWindowClosed(number_, thread_);
  // Unlink from the thread's chain of windows.
  if (tlsTop == this) {
    tlsTop = below_;
  } else {
    for (Window* w = tlsTop; w; w = w->below_) {
      if (w->below_ == this) {
        w->below_ = below_;
        break;
      }
    }
  }
  Window* below = below_;
  below_ = nullptr;
  if (below && tlsTop == below) {
    below->state_.inert = false;
    below->TouchWindow();
    below->Flush();
    // The program is closing down: the window under this one closes down as well.
    if (closing_ && event_.kind == EventKind::CloseDown) below->Post(EventKind::CloseDown);
  }
}

// ---------------------------------------------------------------------------------------------
// Controls.

bool Window::Has(int feq) const { return feq >= 1 && feq <= desc_->controlCount; }

ControlState& Window::State(int feq) {
  assert(Has(feq));
  return controls_[static_cast<size_t>(feq - 1)];
}

const ControlState& Window::State(int feq) const {
  return Has(feq) ? controls_[static_cast<size_t>(feq - 1)] : kNoState;
}

void Window::Touch(int feq) {
  dirty_[static_cast<size_t>(feq - 1)] = true;
  anyDirty_ = true;
}

void Window::SetText(int feq, std::string_view text) {
  if (!Has(feq) || State(feq).text == text) return;
  State(feq).text.assign(text);
  Touch(feq);
}

const std::string& Window::Text(int feq) const { return State(feq).text; }

void Window::SetValue(int feq, int value) {
  if (!Has(feq) || State(feq).value == value) return;
  State(feq).value = value;
  Touch(feq);
}

int Window::Value(int feq) const { return State(feq).value; }

void Window::SetFlag(int feq, uint32_t flag, bool on) {
  if (!Has(feq)) return;
  uint32_t& f = State(feq).flags;
  uint32_t now = on ? (f | flag) : (f & ~flag);
  if (now == f) return;
  f = now;
  Touch(feq);
}

bool Window::Flag(int feq, uint32_t flag) const { return (State(feq).flags & flag) != 0; }

bool Window::Visible(int feq) const {
  return Has(feq) && !state_.hidden && ControlShown(*desc_, controls_, feq);
}

void Window::SetTip(int feq, std::string_view tip) {
  if (!Has(feq) || State(feq).tip == tip) return;
  State(feq).tip.assign(tip);
  Touch(feq);
}

void Window::SetStatusText(int feq, std::string_view text) {
  if (!Has(feq) || State(feq).status == text) return;
  State(feq).status.assign(text);
  Touch(feq);
}

void Window::SetLook(int feq, const Look& look) {
  if (!Has(feq) || State(feq).look == look) return;
  State(feq).look = look;
  Touch(feq);
}

void Window::SetRange(int feq, double low, double high) {
  if (!Has(feq)) return;
  ControlState& s = State(feq);
  if (s.low == low && s.high == high) return;
  s.low = low;
  s.high = high;
  Touch(feq);
}

void Window::SetRows(int feq, std::vector<ListRow> rows) {
  if (!Has(feq) || State(feq).rows == rows) return;
  State(feq).rows = std::move(rows);
  Touch(feq);
}

const std::vector<ListRow>& Window::Rows(int feq) const {
  return Has(feq) ? State(feq).rows : kNoRows;
}

void Window::SetThumb(int feq, int position) {
  if (!Has(feq)) return;
  position = std::clamp(position, -1, 100);
  if (State(feq).thumb == position) return;
  State(feq).thumb = position;
  Touch(feq);
}

int Window::VisibleRows(int feq) const {
  return Has(feq) ? visibleRows_[static_cast<size_t>(feq - 1)] : 0;
}

void Window::SetAlertKeys(int feq, std::vector<int> keys) {
  if (!Has(feq) || State(feq).alertKeys == keys) return;
  State(feq).alertKeys = std::move(keys);
  Touch(feq);
}

// ---------------------------------------------------------------------------------------------
// Variables.

void Window::Use(int feq, const lang::Variable& var) {
  if (!Has(feq)) return;
  uses_[static_cast<size_t>(feq - 1)] = var;
  const ControlType type = Describe(feq)->type;
  if (type != ControlType::Entry && type != ControlType::TextBox) return;
  int bytes = 0;
  switch (var.type) {
    case lang::kTypeString: case lang::kTypeMemo: bytes = static_cast<int>(var.size); break;
    case lang::kTypeCString: case lang::kTypePString: bytes = static_cast<int>(var.size) - 1; break;
    default: break;
  }
  if (State(feq).maxBytes != bytes) {
    State(feq).maxBytes = bytes;
    Touch(feq);
  }
}

void Window::Display(int feq) {
  int first = feq ? feq : 1, last = feq ? feq : desc_->controlCount;
  for (int k = first; k <= last; ++k) {
    if (!Has(k)) continue;
    const lang::Variable& var = uses_[static_cast<size_t>(k - 1)];
    if (var.type == 0) continue;
    const ControlDesc* c = Describe(k);
    lang::Value v = lang::ReadVariable(var, var.address);
    switch (c->type) {
      case ControlType::Check:
        SetValue(k, lang::ValueTruth(v) ? 1 : 0);
        break;
      case ControlType::Option: case ControlType::Sheet: case ControlType::Progress:
        SetValue(k, static_cast<int>(lang::ValueToInt(v)));
        break;
      case ControlType::Spin:
        SetValue(k, static_cast<int>(lang::ValueToInt(v)));
        SetText(k, Shown(v, c->picture));
        break;
      default:
        SetText(k, Shown(v, c->picture));
        break;
    }
  }
}

void Window::Update(int feq) {
  int first = feq ? feq : 1, last = feq ? feq : desc_->controlCount;
  for (int k = first; k <= last; ++k) {
    if (!Has(k)) continue;
    const lang::Variable& var = uses_[static_cast<size_t>(k - 1)];
    if (var.type == 0) continue;
    const ControlDesc* c = Describe(k);
    switch (c->type) {
      case ControlType::Check: case ControlType::Option: case ControlType::Sheet:
        lang::StoreVariable(var, lang::Value::Int(Value(k)));
        break;
      case ControlType::Entry: case ControlType::TextBox: case ControlType::Spin: {
        const std::string& text = Text(k);
        if (c->picture.empty() || IsTextPicture(c->picture)) {
          lang::StoreVariable(var, lang::Value::Text(text));
        } else {
          std::string raw;
          lang::DeformatPicture(text, c->picture, &raw);
          lang::StoreVariable(var, lang::Value::Real(lang::TextToReal(raw)));
        }
        break;
      }
      default:
        break;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The window.

void Window::SetCaption(std::string_view caption) {
  if (state_.caption == caption) return;
  state_.caption.assign(caption);
  TheThreads().NoteCaption(number_, state_.caption);
  TouchWindow();
}

void Window::SetStatus(std::string_view text, int zone) {
  if (zone < 0) return;
  if (static_cast<size_t>(zone) >= state_.status.size()) state_.status.resize(static_cast<size_t>(zone) + 1);
  if (state_.status[static_cast<size_t>(zone)] == text) return;
  state_.status[static_cast<size_t>(zone)].assign(text);
  TouchWindow();
}

void Window::SetGeometry(const Geometry& g) {
  if (state_.geometry == g) return;
  state_.geometry = g;
  TouchWindow();
}

void Window::SetMinimumSize(int width, int height) {
  if (state_.minWidth == width && state_.minHeight == height) return;
  state_.minWidth = width;
  state_.minHeight = height;
  TouchWindow();
}

void Window::Maximize(bool on) {
  if (state_.maximized == on) return;
  state_.maximized = on;
  if (on) state_.iconized = false;
  TouchWindow();
}

void Window::Iconize(bool on) {
  if (state_.iconized == on) return;
  state_.iconized = on;
  TouchWindow();
}

void Window::SetHidden(bool on) {
  if (state_.hidden == on) return;
  state_.hidden = on;
  TouchWindow();
}

void Window::SetBusy(bool on) {
  if (state_.busy == on) return;
  state_.busy = on;
  TouchWindow();
  Flush();  // the cursor matters now: the work that follows holds the thread
}

void Window::SetTimer(int hundredths) {
  timer_ = std::max(0, hundredths);
  nextTimer_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timer_ * 10);
}

// ---------------------------------------------------------------------------------------------
// Focus and events.

void Window::Select(int feq) {
  if (!Has(feq)) return;
  validation_.clear();  // a field refused: the round ends without "EVENT:Completed"
  validating_ = false;
  // A control on a tab that is not shown brings its tab forward.
  std::vector<const ControlDesc*> path;
  if (ControlPath(desc_->controls, feq, &path)) {
    for (size_t k = 0; k + 1 < path.size(); ++k) {
      const ControlDesc* c = path[k];
      if (c->type != ControlType::Sheet) continue;
      for (size_t t = 0; t < c->children.size(); ++t)
        if (&c->children[t] == path[k + 1]) SetValue(c->feq, static_cast<int>(t) + 1);
    }
  }
  focus_ = feq;
  Flush();
  FocusCommand cmd;
  cmd.window = number_;
  cmd.control = feq;
  Runtime::Send(cmd);
}

void Window::SelectAll() {
  validation_.clear();
  for (int feq = desc_->controlCount; feq >= 1; --feq) {
    const ControlDesc* c = Describe(feq);
    if (!c) continue;
    switch (c->type) {
      case ControlType::Entry: case ControlType::TextBox: case ControlType::Check:
      case ControlType::Option: case ControlType::Spin:
        if (!Flag(feq, kFlagDisabled) && !Flag(feq, kFlagReadOnly)) validation_.push_back(feq);
        break;
      default:
        break;
    }
  }
  validating_ = true;
}

void Window::Post(EventKind kind, int control) {
  Event ev;
  ev.kind = kind;
  ev.window = number_;
  ev.control = control;
  Runtime::Deliver(std::move(ev));
}

void Window::PostUser(int number, int control) {
  Event ev;
  ev.kind = EventKind::User;
  ev.user = number;
  ev.window = number_;
  ev.control = control;
  Runtime::Deliver(std::move(ev));
}

const Event& Window::Accept() {
  return Wait(std::chrono::steady_clock::time_point::max(), false);
}

const Event& Window::AcceptFor(std::chrono::milliseconds timeout) {
  return Wait(std::chrono::steady_clock::now() + timeout, true);
}

const Event& Window::Wait(std::chrono::steady_clock::time_point deadline, bool bounded) {
  event_ = Event();
  if (closed_) return event_;
  if (closing_) {
    // The last event asked the window to close and the procedure kept it open.
    closing_ = false;
    TheThreads().NoteCloseRefused();
  }
  if (validating_) {
    // The validation round: the next field, or the end of the round.
    if (!validation_.empty()) {
      event_.kind = EventKind::Accepted;
      event_.window = number_;
      event_.control = validation_.back();
      validation_.pop_back();
      return event_;
    }
    validating_ = false;
    event_.kind = EventKind::Completed;
    event_.window = number_;
    return event_;
  }
  ThreadTable& t = TheThreads();
  while (true) {
    Flush();
    Event ev;
    {
      RuntimeUnlocked unlocked;
      std::unique_lock<std::mutex> lock(t.mu);
      Slot& s = t.slots[thread_];
      while (true) {
        auto it = std::find_if(s.queue.begin(), s.queue.end(),
                               [&](const Event& e) { return e.window == number_; });
        if (it != s.queue.end()) {
          ev = std::move(*it);
          s.queue.erase(it);
          break;
        }
        auto now = std::chrono::steady_clock::now();
        if (timer_ > 0 && now >= nextTimer_) {
          ev.kind = EventKind::Timer;
          ev.window = number_;
          nextTimer_ = now + std::chrono::milliseconds(timer_ * 10);
          break;
        }
        if (bounded && now >= deadline) break;
        s.waiting = true;
        s.waitWindow = number_;
        t.changed.notify_all();
        auto wake = deadline;
        if (timer_ > 0) wake = std::min(wake, nextTimer_);
        if (wake == std::chrono::steady_clock::time_point::max()) {
          s.cv.wait(lock);
        } else {
          s.cv.wait_until(lock, wake);
        }
        s.waiting = false;
      }
      s.waiting = false;
    }
    if (ev.kind == EventKind::None) return event_;  // timed out
    bool internal = ev.kind == EventKind::FocusChanged || ev.kind == EventKind::ListRows;
    // A list that shows another number of rows while its window keeps its size (the layout
    // settled after the list was first filled) is filled again as after a resize.
    const bool rowsChanged =
        ev.kind == EventKind::ListRows && Has(ev.control) &&
        std::max(1, ev.value) != visibleRows_[static_cast<size_t>(ev.control - 1)];
    Take(ev);
    if (rowsChanged) {
      ev.kind = EventKind::Sized;
      ev.control = 0;
      ev.hasValue = false;
      ev.geometry = Geometry{};
      internal = false;
    }
    if (internal) continue;
    event_ = std::move(ev);
    if (event_.kind == EventKind::CloseWindow || event_.kind == EventKind::CloseDown) {
      closing_ = true;
    }
    return event_;
  }
}

void Window::Take(const Event& ev) {
  switch (ev.kind) {
    case EventKind::FocusChanged:
      focus_ = ev.control;
      return;
    case EventKind::ListRows:
      if (Has(ev.control)) visibleRows_[static_cast<size_t>(ev.control - 1)] = std::max(1, ev.value);
      return;
    case EventKind::Sized: case EventKind::Moved: case EventKind::Maximized:
    case EventKind::Restored: case EventKind::Iconized:
      if (ev.geometry.width > 0) state_.geometry = ev.geometry;
      state_.maximized = ev.kind == EventKind::Maximized ||
                         (ev.kind != EventKind::Restored && state_.maximized);
      state_.iconized = ev.kind == EventKind::Iconized;
      return;
    default:
      break;
  }
  if (!ev.hasValue || !Has(ev.control)) return;
  ControlState& s = State(ev.control);
  const ControlDesc* c = Describe(ev.control);
  switch (c->type) {
    case ControlType::Entry: case ControlType::TextBox:
      s.text = ev.text;
      Update(ev.control);
      break;
    case ControlType::Spin:
      s.text = ev.text;
      s.value = ev.value;
      Update(ev.control);
      break;
    case ControlType::Check: case ControlType::Option: case ControlType::Sheet:
      s.value = ev.value;
      Update(ev.control);
      break;
    case ControlType::List:
      if (ev.kind == EventKind::ScrollDrag) s.thumb = ev.value;
      else s.value = ev.value;
      break;
    default:
      break;
  }
}

void Window::Flush() {
  if (closed_) return;
  if (anyDirty_) {
    ControlsCommand cmd;
    cmd.window = number_;
    for (size_t k = 0; k < dirty_.size(); ++k) {
      if (!dirty_[k]) continue;
      cmd.changed.emplace_back(static_cast<int>(k) + 1, controls_[k]);
      dirty_[k] = false;
    }
    anyDirty_ = false;
    Runtime::Send(std::move(cmd));
  }
  if (windowDirty_) {
    WindowStateCommand cmd;
    cmd.window = number_;
    cmd.state = state_;
    windowDirty_ = false;
    Runtime::Send(std::move(cmd));
  }
}

void Window::Standard(StdAction action) {
  Flush();
  StdActionCommand cmd;
  cmd.window = number_;
  cmd.action = action;
  Runtime::Send(cmd);
}

int Window::Popup(std::string_view menu) { return Runtime::Popup(number_, menu); }

}  // namespace korawin::ui
