#include "framework/popup.h"

#include "ui/desc/popup_text.h"
#include "ui/runtime/window.h"

namespace korawin::framework {

namespace {

void Flatten(const std::vector<ui::PopupItem>& items, int depth, std::vector<PopupEntry>* out) {
  for (const ui::PopupItem& i : items) {
    PopupEntry e;
    e.Text = i.text;
    e.Name = ui::PopupItemName(i.text);
    e.Depth = depth;
    e.Submenu = i.submenu;
    e.Separator = i.separator;
    e.Disabled = i.disabled;
    e.Checked = i.checked;
    out->push_back(std::move(e));
    if (i.submenu) Flatten(i.items, depth + 1, out);
  }
}

}  // namespace

void PopupClass::Init(ui::Window* window) {
  window_ = window;
  Items.clear();
}

void PopupClass::Kill() {
  Items.clear();
  window_ = nullptr;
}

bool PopupClass::AddMenu(std::string_view text) {
  std::vector<ui::PopupItem> parsed;
  if (!ui::ParsePopupText(text, &parsed)) return false;
  Flatten(parsed, 0, &Items);
  Number();
  return true;
}

std::string PopupClass::AddItem(std::string_view text, std::string_view name) {
  PopupEntry e;
  e.Text.assign(text);
  if (text == "-") {
    e.Separator = true;
  } else {
    e.Name = name.empty() ? ui::PopupItemName(text) : std::string(name);
  }
  Items.push_back(e);
  Number();
  return e.Name;
}

void PopupClass::AddItemMimic(std::string_view name, int control) {
  if (PopupEntry* e = Find(name)) e->Mimic = control;
}

void PopupClass::Number() {
  int n = 0;
  for (PopupEntry& e : Items)
    e.ID = (e.Separator || e.Submenu || e.Text.empty()) ? 0 : ++n;
}

PopupEntry* PopupClass::Find(std::string_view name) {
  for (PopupEntry& e : Items)
    if (!e.Separator && e.Name == name) return &e;
  return nullptr;
}

const PopupEntry* PopupClass::Find(std::string_view name) const {
  for (const PopupEntry& e : Items)
    if (!e.Separator && e.Name == name) return &e;
  return nullptr;
}

bool PopupClass::Has(std::string_view name) const { return Find(name) != nullptr; }

void PopupClass::SetItemEnable(std::string_view name, bool on) {
  if (PopupEntry* e = Find(name)) e->Disabled = !on;
}

bool PopupClass::GetItemEnabled(std::string_view name) const {
  const PopupEntry* e = Find(name);
  return e && !e->Disabled;
}

void PopupClass::SetItemCheck(std::string_view name, bool on) {
  if (PopupEntry* e = Find(name)) e->Checked = on;
}

bool PopupClass::GetItemChecked(std::string_view name) const {
  const PopupEntry* e = Find(name);
  return e && e->Checked;
}

std::string PopupClass::MenuText() const {
  std::string out;
  int depth = 0;
  bool first = true;
  for (const PopupEntry& e : Items) {
    while (e.Depth < depth) {
      out += '}';
      --depth;
    }
    if (!first) out += '|';
    first = false;
    if (e.Separator) {
      out += '-';
      continue;
    }
    bool disabled = e.Disabled;
    // A mimicking item follows its button.
    if (e.Mimic && window_ && (window_->Flag(e.Mimic, ui::kFlagDisabled) ||
                               window_->Flag(e.Mimic, ui::kFlagHidden))) {
      disabled = true;
    }
    if (disabled) out += '~';
    if (e.Checked) out += '+';
    out += e.Text;
    if (e.Submenu) {
      out += '{';
      ++depth;
      first = true;
    }
  }
  while (depth-- > 0) out += '}';
  return out;
}

std::string PopupClass::NameOf(int id) const {
  if (id <= 0) return {};
  for (const PopupEntry& e : Items)
    if (e.ID == id) return e.Name;
  return {};
}

std::string PopupClass::Ask() {
  if (!window_ || Items.empty()) return {};
  int id = window_->Popup(MenuText());
  for (const PopupEntry& e : Items) {
    if (e.ID != id || id == 0) continue;
    if (e.Mimic) window_->Post(ui::EventKind::Accepted, e.Mimic);
    return e.Name;
  }
  return {};
}

}  // namespace korawin::framework
