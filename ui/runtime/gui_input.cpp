#include "ui/runtime/gui_input.h"

#include <algorithm>

#include "ui/runtime/gui_model.h"
#include "ui/runtime/runtime.h"

namespace korawin::ui::gui {

namespace {

GuiModel::Window* Live(int window) {
  GuiModel::Window* w = Runtime::Model().Find(window);
  if (!w || w->state.inert || w->state.hidden) return nullptr;
  return w;
}

// The control when it takes input.
ControlState* Input(int window, int feq, ControlType* type = nullptr) {
  GuiModel::Window* w = Live(window);
  if (!w) return nullptr;
  const ControlDesc* c = w->desc->Control(feq);
  ControlState* s = Runtime::Model().Control(window, feq);
  if (!c || !s || (s->flags & kFlagDisabled) || !ControlShown(*w->desc, w->controls, feq)) {
    return nullptr;
  }
  if (type) *type = c->type;
  return s;
}

void Send(int window, EventKind kind, int feq, const ControlState* s = nullptr,
          bool withValue = false) {
  Event ev;
  ev.kind = kind;
  ev.window = window;
  ev.control = feq;
  if (s && withValue) {
    ev.text = s->text;
    ev.value = s->value;
    ev.hasValue = true;
  }
  Runtime::Deliver(std::move(ev));
}

}  // namespace

bool Type(int window, int feq, std::string_view text) {
  ControlType type;
  ControlState* s = Input(window, feq, &type);
  if (!s || (s->flags & kFlagReadOnly)) return false;
  if (type != ControlType::Entry && type != ControlType::TextBox && type != ControlType::Spin) {
    return false;
  }
  s->text.assign(text);
  if (type == ControlType::Spin) {
    int v = 0;
    bool any = false, minus = false;
    for (char c : text) {
      if (c >= '0' && c <= '9') {
        v = v * 10 + (c - '0');
        any = true;
      } else if (c == '-' && !any) {
        minus = true;
      }
    }
    if (minus) v = -v;
    if (any) s->value = static_cast<int>(std::clamp<double>(v, s->low, s->high));
  }
  Send(window, EventKind::Accepted, feq, s, true);
  return true;
}

bool Press(int window, int feq) {
  ControlType type;
  ControlState* s = Input(window, feq, &type);
  if (!s) return false;
  if (type != ControlType::Button && type != ControlType::Item) return false;
  const ControlDesc* c = Runtime::Model().Find(window)->desc->Control(feq);
  switch (c->std) {
    case StdAction::Close:
      Send(window, EventKind::CloseWindow, 0);
      return true;
    case StdAction::Cut: case StdAction::Copy: case StdAction::Paste:
    case StdAction::TileWindow: case StdAction::CascadeWindow: case StdAction::ArrangeIcons:
    case StdAction::WindowList:
      return true;  // the backend carries these out itself
    default:
      Send(window, EventKind::Accepted, feq);
      return true;
  }
}

bool Check(int window, int feq, bool on) {
  ControlType type;
  ControlState* s = Input(window, feq, &type);
  if (!s || type != ControlType::Check || (s->flags & kFlagReadOnly)) return false;
  s->value = on ? 1 : 0;
  Send(window, EventKind::Accepted, feq, s, true);
  return true;
}

bool ChooseRadio(int window, int option, int radio) {
  ControlType type;
  ControlState* s = Input(window, option, &type);
  if (!s || type != ControlType::Option) return false;
  const ControlDesc* c = Runtime::Model().Find(window)->desc->Control(option);
  if (radio < 1 || static_cast<size_t>(radio) > c->children.size()) return false;
  s->value = radio;
  Send(window, EventKind::Accepted, option, s, true);
  return true;
}

bool ChooseRow(int window, int feq, int row, bool doubleClick) {
  ControlType type;
  ControlState* s = Input(window, feq, &type);
  if (!s || type != ControlType::List) return false;
  if (row < 1 || static_cast<size_t>(row) > s->rows.size()) return false;
  bool same = s->value == row;
  s->value = row;
  if (!same) Send(window, EventKind::NewSelection, feq, s, true);
  if (doubleClick) Send(window, EventKind::Accepted, feq, s, true);
  return true;
}

bool ChooseTab(int window, int sheet, int tab) {
  ControlType type;
  ControlState* s = Input(window, sheet, &type);
  if (!s || type != ControlType::Sheet) return false;
  const ControlDesc* c = Runtime::Model().Find(window)->desc->Control(sheet);
  if (tab < 1 || static_cast<size_t>(tab) > c->children.size()) return false;
  if (s->value == tab) return true;
  s->value = tab;
  Send(window, EventKind::NewSelection, sheet, s, true);
  return true;
}

bool Scroll(int window, int feq, EventKind kind) {
  ControlType type;
  ControlState* s = Input(window, feq, &type);
  if (!s || type != ControlType::List) return false;
  Send(window, kind, feq);
  return true;
}

bool DragThumb(int window, int feq, int position) {
  ControlType type;
  ControlState* s = Input(window, feq, &type);
  if (!s || type != ControlType::List) return false;
  s->thumb = std::clamp(position, 0, 100);
  Event ev;
  ev.kind = EventKind::ScrollDrag;
  ev.window = window;
  ev.control = feq;
  ev.value = s->thumb;
  ev.hasValue = true;
  Runtime::Deliver(std::move(ev));
  return true;
}

bool Key(int window, int feq, int key) {
  ControlState* s = Input(window, feq);
  if (!s) return false;
  Event ev;
  ev.kind = EventKind::AlertKey;
  ev.window = window;
  ev.control = feq;
  ev.key = key;
  Runtime::Deliver(std::move(ev));
  return true;
}

bool Mouse(int window, int feq, int button) {
  if (!Live(window)) return false;
  Event ev;
  ev.kind = EventKind::MouseDown;
  ev.window = window;
  ev.control = feq;
  ev.key = button;
  Runtime::Deliver(std::move(ev));
  return true;
}

bool CloseBox(int window) {
  if (!Live(window)) return false;
  Send(window, EventKind::CloseWindow, 0);
  return true;
}

void Focus(int window, int feq) {
  GuiModel::Window* w = Runtime::Model().Find(window);
  if (!w || w->focus == feq) return;
  w->focus = feq;
  Send(window, EventKind::FocusChanged, feq);
}

void Resized(int window, EventKind kind, const Geometry& normal) {
  GuiModel::Window* w = Runtime::Model().Find(window);
  if (!w) return;
  if (normal.width > 0) w->state.geometry = normal;
  w->state.maximized = kind == EventKind::Maximized || (kind != EventKind::Restored && w->state.maximized);
  w->state.iconized = kind == EventKind::Iconized;
  Event ev;
  ev.kind = kind;
  ev.window = window;
  ev.geometry = normal;
  Runtime::Deliver(std::move(ev));
}

void ListRowsShown(int window, int feq, int rows) {
  Event ev;
  ev.kind = EventKind::ListRows;
  ev.window = window;
  ev.control = feq;
  ev.value = rows;
  Runtime::Deliver(std::move(ev));
}

}  // namespace korawin::ui::gui
