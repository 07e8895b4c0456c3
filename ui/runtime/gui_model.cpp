#include "ui/runtime/gui_model.h"

#include <algorithm>

namespace korawin::ui {

bool ControlPath(const std::vector<ControlDesc>& body, int feq,
                 std::vector<const ControlDesc*>* path) {
  for (const ControlDesc& c : body) {
    path->push_back(&c);
    if (c.feq == feq) return true;
    if (ControlPath(c.children, feq, path)) return true;
    path->pop_back();
  }
  return false;
}

bool ControlShown(const WindowDesc& desc, const std::vector<ControlState>& states, int feq) {
  auto hidden = [&](int n) {
    return n >= 1 && static_cast<size_t>(n) <= states.size() &&
           (states[static_cast<size_t>(n - 1)].flags & kFlagHidden);
  };
  if (hidden(feq)) return false;
  std::vector<const ControlDesc*> path;
  if (!ControlPath(desc.controls, feq, &path)) return true;  // menus and toolbar
  for (size_t k = 0; k < path.size(); ++k) {
    const ControlDesc* c = path[k];
    if (c->feq && hidden(c->feq)) return false;
    if (c->type == ControlType::Sheet && k + 1 < path.size() && c->feq &&
        static_cast<size_t>(c->feq) <= states.size()) {
      int chosen = states[static_cast<size_t>(c->feq - 1)].value;
      size_t index = static_cast<size_t>(path[k + 1] - c->children.data());
      if (static_cast<int>(index) + 1 != chosen) return false;
    }
  }
  return true;
}

void GuiModel::Apply(const Command& command) {
  if (const auto* open = std::get_if<OpenWindowCommand>(&command)) {
    Window& w = windows_[open->window];
    w.number = open->window;
    w.thread = open->thread;
    w.desc = open->desc;
    w.state = open->state;
    w.controls = open->controls;
    w.order = ++opened_;
  } else if (const auto* close = std::get_if<CloseWindowCommand>(&command)) {
    windows_.erase(close->window);
  } else if (const auto* controls = std::get_if<ControlsCommand>(&command)) {
    Window* w = Find(controls->window);
    if (!w) return;
    for (const auto& [feq, state] : controls->changed) {
      if (feq >= 1 && static_cast<size_t>(feq) <= w->controls.size()) {
        w->controls[static_cast<size_t>(feq - 1)] = state;
      }
    }
  } else if (const auto* state = std::get_if<WindowStateCommand>(&command)) {
    if (Window* w = Find(state->window)) w->state = state->state;
  } else if (const auto* focus = std::get_if<FocusCommand>(&command)) {
    if (Window* w = Find(focus->window)) w->focus = focus->control;
  }
}

GuiModel::Window* GuiModel::Find(int window) {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : &it->second;
}

const GuiModel::Window* GuiModel::Find(int window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : &it->second;
}

ControlState* GuiModel::Control(int window, int feq) {
  Window* w = Find(window);
  if (!w || feq < 1 || static_cast<size_t>(feq) > w->controls.size()) return nullptr;
  return &w->controls[static_cast<size_t>(feq - 1)];
}

std::vector<const GuiModel::Window*> GuiModel::Windows() const {
  std::vector<const Window*> out;
  for (const auto& [number, w] : windows_) out.push_back(&w);
  std::sort(out.begin(), out.end(), [](const Window* a, const Window* b) { return a->order < b->order; });
  return out;
}

}  // namespace korawin::ui
