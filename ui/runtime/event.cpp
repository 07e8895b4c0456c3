#include "ui/runtime/event.h"

#include <cctype>

namespace korawin::ui {

namespace {

struct Name {
  EventKind kind;
  const char* name;
};

constexpr Name kNames[] = {
    {EventKind::Accepted, "Accepted"},       {EventKind::NewSelection, "NewSelection"},
    {EventKind::ScrollUp, "ScrollUp"},       {EventKind::ScrollDown, "ScrollDown"},
    {EventKind::PageUp, "PageUp"},           {EventKind::PageDown, "PageDown"},
    {EventKind::ScrollTop, "ScrollTop"},     {EventKind::ScrollBottom, "ScrollBottom"},
    {EventKind::ScrollDrag, "ScrollDrag"},   {EventKind::Locate, "Locate"},
    {EventKind::MouseDown, "MouseDown"},     {EventKind::MouseUp, "MouseUp"},
    {EventKind::AlertKey, "AlertKey"},       {EventKind::PreAlertKey, "PreAlertKey"},
    {EventKind::Rejected, "Rejected"},       {EventKind::Selected, "Selected"},
    {EventKind::TabChanging, "TabChanging"}, {EventKind::CloseWindow, "CloseWindow"},
    {EventKind::CloseDown, "CloseDown"},     {EventKind::OpenWindow, "OpenWindow"},
    {EventKind::LoseFocus, "LoseFocus"},     {EventKind::GainFocus, "GainFocus"},
    {EventKind::Timer, "Timer"},             {EventKind::Sized, "Sized"},
    {EventKind::Moved, "Moved"},             {EventKind::Maximized, "Maximized"},
    {EventKind::Iconized, "Iconized"},       {EventKind::Restored, "Restored"},
    {EventKind::Completed, "Completed"},     {EventKind::Suspend, "Suspend"},
    {EventKind::Resume, "Resume"},           {EventKind::FocusChanged, "FocusChanged"},
    {EventKind::ListRows, "ListRows"},
};

struct KeyName {
  const char* name;
  int key;
};

constexpr KeyName kKeys[] = {
    {"enter", kKeyEnter},   {"esc", kKeyEscape},     {"escape", kKeyEscape},
    {"tab", kKeyTab},       {"space", kKeySpace},    {"backspace", kKeyBackspace},
    {"insert", kKeyInsert}, {"ins", kKeyInsert},     {"delete", kKeyDelete},
    {"del", kKeyDelete},    {"home", kKeyHome},      {"end", kKeyEnd},
    {"up", kKeyUp},         {"down", kKeyDown},      {"pgup", kKeyPgUp},
    {"pageup", kKeyPgUp},   {"pgdn", kKeyPgDn},      {"pagedown", kKeyPgDn},
};

std::string Lower(std::string_view s) {
  std::string out;
  for (char c : s) out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return out;
}

}  // namespace

std::string EventName(EventKind kind) {
  for (const Name& n : kNames)
    if (n.kind == kind) return std::string("EVENT:") + n.name;
  return "EVENT:" + std::to_string(static_cast<int>(kind));
}

int KeyFromName(std::string_view name) {
  int mods = 0;
  while (true) {
    size_t plus = name.find('+');
    if (plus == std::string_view::npos || plus + 1 == name.size()) break;
    std::string mod = Lower(name.substr(0, plus));
    if (mod == "ctrl") mods |= kKeyCtrl;
    else if (mod == "shift") mods |= kKeyShift;
    else if (mod == "alt") mods |= kKeyAlt;
    else return 0;
    name.remove_prefix(plus + 1);
  }
  if (name.empty()) return 0;
  std::string key = Lower(name);
  for (const KeyName& k : kKeys)
    if (key == k.name) return k.key | mods;
  if (key.size() >= 2 && key[0] == 'f') {
    int n = 0;
    for (size_t i = 1; i < key.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(key[i]))) return 0;
      n = n * 10 + (key[i] - '0');
    }
    if (n >= 1 && n <= 12) return (kKeyF1 + n - 1) | mods;
    return 0;
  }
  if (name.size() == 1) {
    unsigned char c = static_cast<unsigned char>(name[0]);
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 32);
    return c | mods;
  }
  return 0;
}

}  // namespace korawin::ui
