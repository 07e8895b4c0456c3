#include "ui/headless/test_driver.h"

#include "platform/codepage.h"
#include "ui/runtime/gui_input.h"
#include "ui/runtime/gui_model.h"
#include "ui/runtime/runtime_internal.h"

namespace korawin::ui {

namespace {

std::string Utf8(std::string_view cp1251) { return platform::Cp1251ToUtf8(cp1251); }
std::string Ansi(std::string_view utf8) { return platform::Utf8ToCp1251Lossy(utf8); }

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

const ControlDesc* FindMenu(const std::vector<ControlDesc>& items, const std::string& caption) {
  for (const ControlDesc& c : items)
    if ((c.type == ControlType::Menu || c.type == ControlType::Item) &&
        PlainCaption(c.text) == caption) {
      return &c;
    }
  return nullptr;
}

}  // namespace

std::string PlainCaption(std::string_view cp1251) {
  std::string out;
  for (char c : cp1251)
    if (c != '&') out.push_back(c);
  return Utf8(out);
}

bool TestDriver::Settle() { return WaitIdle(timeout_); }

bool TestDriver::WaitThreadEnd(int thread) {
  return Runtime::WaitThread(thread, timeout_) && Settle();
}

template <typename F>
bool TestDriver::Act(F f) {
  bool ok = false;
  backend_.OnGui([&] { ok = f(); });
  return Settle() && ok;
}

int TestDriver::Find(std::string_view text) {
  int found = 0;
  std::string ansi = Ansi(text);
  size_t slash = text.find('/');
  backend_.OnGui([&] {
    for (const GuiModel::Window* w : Runtime::Model().Windows()) {
      bool match = w->state.caption == ansi || SameNoCase(w->desc->module, text);
      if (slash != std::string_view::npos) {
        match = SameNoCase(w->desc->module, text.substr(0, slash)) &&
                SameNoCase(w->desc->name, text.substr(slash + 1));
      }
      if (match) found = w->number;
    }
  });
  return found;
}

int TestDriver::WaitFor(std::string_view text) {
  auto deadline = std::chrono::steady_clock::now() + timeout_;
  while (true) {
    Settle();
    if (int w = Find(text)) return w;
    if (std::chrono::steady_clock::now() >= deadline) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool TestDriver::IsOpen(int window) {
  bool open = false;
  backend_.OnGui([&] { open = Runtime::Model().Find(window) != nullptr; });
  return open;
}

std::vector<int> TestDriver::Windows() {
  std::vector<int> out;
  backend_.OnGui([&] {
    for (const GuiModel::Window* w : Runtime::Model().Windows()) out.push_back(w->number);
  });
  return out;
}

std::string TestDriver::Caption(int window) { return Utf8(StateOf(window).caption); }

WindowState TestDriver::StateOf(int window) {
  WindowState s;
  backend_.OnGui([&] {
    if (const GuiModel::Window* w = Runtime::Model().Find(window)) s = w->state;
  });
  return s;
}

int TestDriver::ThreadOf(int window) {
  int t = 0;
  backend_.OnGui([&] {
    if (const GuiModel::Window* w = Runtime::Model().Find(window)) t = w->thread;
  });
  return t;
}

int TestDriver::Feq(int window, std::string_view id) {
  int feq = 0;
  backend_.OnGui([&] {
    if (const GuiModel::Window* w = Runtime::Model().Find(window)) feq = w->desc->Feq(id);
  });
  return feq;
}

ControlState TestDriver::Control(int window, int feq) {
  ControlState s;
  backend_.OnGui([&] {
    if (const ControlState* c = Runtime::Model().Control(window, feq)) s = *c;
  });
  return s;
}

std::string TestDriver::Text(int window, int feq) { return Utf8(Control(window, feq).text); }

int TestDriver::Value(int window, int feq) { return Control(window, feq).value; }

std::vector<std::vector<std::string>> TestDriver::Rows(int window, int feq) {
  std::vector<std::vector<std::string>> out;
  for (const ListRow& r : Control(window, feq).rows) {
    std::vector<std::string> cells;
    for (const std::string& c : r.cells) cells.push_back(TrimRight(Utf8(c)));
    out.push_back(std::move(cells));
  }
  return out;
}

std::string TestDriver::Status(int window, int zone) {
  WindowState s = StateOf(window);
  if (zone < 0 || static_cast<size_t>(zone) >= s.status.size()) return {};
  return Utf8(s.status[static_cast<size_t>(zone)]);
}

int TestDriver::Focus(int window) {
  int f = 0;
  backend_.OnGui([&] {
    if (const GuiModel::Window* w = Runtime::Model().Find(window)) f = w->focus;
  });
  return f;
}

bool TestDriver::Type(int window, int feq, std::string_view utf8) {
  std::string ansi = Ansi(utf8);
  return Act([&] { return gui::Type(window, feq, ansi); });
}

bool TestDriver::Press(int window, int feq) {
  return Act([&] { return gui::Press(window, feq); });
}

bool TestDriver::Check(int window, int feq, bool on) {
  return Act([&] { return gui::Check(window, feq, on); });
}

bool TestDriver::ChooseRadio(int window, int option, int radio) {
  return Act([&] { return gui::ChooseRadio(window, option, radio); });
}

bool TestDriver::ChooseRow(int window, int feq, int row, bool doubleClick) {
  return Act([&] { return gui::ChooseRow(window, feq, row, doubleClick); });
}

bool TestDriver::ChooseTab(int window, int sheet, int tab) {
  return Act([&] { return gui::ChooseTab(window, sheet, tab); });
}

bool TestDriver::Scroll(int window, int feq, EventKind kind) {
  return Act([&] { return gui::Scroll(window, feq, kind); });
}

bool TestDriver::DragThumb(int window, int feq, int position) {
  return Act([&] { return gui::DragThumb(window, feq, position); });
}

bool TestDriver::Key(int window, int feq, int key) {
  return Act([&] { return gui::Key(window, feq, key); });
}

bool TestDriver::Mouse(int window, int feq, int button) {
  return Act([&] { return gui::Mouse(window, feq, button); });
}

bool TestDriver::Menu(int window, const std::vector<std::string>& path) {
  return Act([&] {
    const GuiModel::Window* w = Runtime::Model().Find(window);
    if (!w || path.empty()) return false;
    const std::vector<ControlDesc>* items = &w->desc->menu;
    const ControlDesc* c = nullptr;
    for (const std::string& caption : path) {
      c = FindMenu(*items, caption);
      if (!c) return false;
      items = &c->children;
    }
    return c->type == ControlType::Item && gui::Press(window, c->feq);
  });
}

bool TestDriver::CloseBox(int window) {
  return Act([&] { return gui::CloseBox(window); });
}

void TestDriver::FocusOn(int window, int feq) {
  Act([&] {
    gui::Focus(window, feq);
    return true;
  });
}

bool TestDriver::ShowRows(int window, int feq, int rows) {
  return Act([&] {
    gui::ListRowsShown(window, feq, rows);
    return true;
  });
}

bool TestDriver::Resize(int window, EventKind kind, const Geometry& normal) {
  return Act([&] {
    gui::Resized(window, kind, normal);
    return true;
  });
}

}  // namespace korawin::ui
