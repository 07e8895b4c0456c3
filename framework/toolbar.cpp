#include "framework/toolbar.h"

#include <initializer_list>
#include <string_view>

#include "framework/browse.h"
#include "framework/window_manager.h"
#include "ui/runtime/window.h"

namespace korawin::framework {

namespace {

// Routing identifiers for the target's own buttons; only the navigation identifiers carry
// tips.
constexpr int kChange = 2001;
constexpr int kDelete = 2002;
constexpr int kSelect = 2003;

struct Tip {
  int id;
  std::string_view text;
};

std::vector<uint8_t> Block(std::initializer_list<Tip> tips) {
  std::vector<uint8_t> out;
  out.push_back(static_cast<uint8_t>(tips.size()));
  for (const Tip& t : tips) {
    out.push_back(static_cast<uint8_t>(t.id & 0xFF));
    out.push_back(static_cast<uint8_t>(t.id >> 8));
    out.push_back(static_cast<uint8_t>(t.text.size()));
    out.insert(out.end(), t.text.begin(), t.text.end());
  }
  return out;
}

}  // namespace

std::span<const uint8_t> ListTipTable() {
  static const std::vector<uint8_t> table = Block({
      {ToolbarDown, "Go to the Next Record"},
      {ToolbarInsert, "Insert a new Record"},
      {ToolbarBottom, "Go to the Last Page"},
      {ToolbarTop, "Go to the First Page"},
      {ToolbarPageDown, "Go to the Next Page"},
      {ToolbarPageUp, "Go to the Prior Page"},
      {ToolbarDown, "Go to the Next Record"},
      {ToolbarUp, "Go to the Prior Record"},
  });
  return table;
}

std::span<const uint8_t> ChangeTipTable() {
  static const std::vector<uint8_t> table = Block({
      {ToolbarInsert, "Save this record and add a new one"},
      {ToolbarBottom, "Save changes and go to last record"},
      {ToolbarTop, "Save changes and go to first record"},
      {ToolbarPageDown, "Save changes and page down to record"},
      {ToolbarPageUp, "Save changes and page up to record"},
      {ToolbarDown, "Save changes and go to next record"},
      {ToolbarUp, "Save changes and go to previous record"},
  });
  return table;
}

std::span<const uint8_t> InsertTipTable() {
  static const std::vector<uint8_t> table = Block({
      {ToolbarInsert, "Save record and add another"},
      {ToolbarDown, "Save record and add another"},
  });
  return table;
}

std::vector<std::pair<int, std::string>> ReadTipTable(std::span<const uint8_t> table) {
  std::vector<std::pair<int, std::string>> out;
  if (table.empty()) return out;
  size_t at = 1;
  for (int k = 0; k < table[0]; ++k) {
    if (at + 3 > table.size()) break;
    int id = table[at] | (table[at + 1] << 8);
    size_t len = table[at + 2];
    at += 3;
    if (at + len > table.size()) break;
    out.emplace_back(id, std::string(reinterpret_cast<const char*>(table.data() + at), len));
    at += len;
  }
  return out;
}

void ToolbarTarget::DisplayButtons(ToolbarClass& toolbar, ui::Window& window) {
  for (const auto& [id, text] : ReadTipTable(TipTable())) {
    if (int feq = toolbar.ButtonControl(id)) window.SetTip(feq, text);
  }
}

bool ToolbarListboxClass::TakeToolbar(int identifier, int* vcrRequest, WindowManager& window) {
  ui::Window* w = window.UiWindow();
  if (!Browse || !w) return false;
  auto press = [&](int32_t control) {
    if (!control) return false;
    w->Post(ui::EventKind::Accepted, control);
    return true;
  };
  auto scroll = [&](ui::EventKind kind) {
    w->Post(kind, Browse->ListControl);
    return true;
  };
  switch (identifier) {
    case ToolbarInsert: return press(Browse->InsertControl);
    case kChange: return press(Browse->ChangeControl);
    case kDelete: return press(Browse->DeleteControl);
    case kSelect: return press(Browse->SelectControl);
    case ToolbarBottom: return scroll(ui::EventKind::ScrollBottom);
    case ToolbarTop: return scroll(ui::EventKind::ScrollTop);
    case ToolbarPageDown: return scroll(ui::EventKind::PageDown);
    case ToolbarPageUp: return scroll(ui::EventKind::PageUp);
    case ToolbarDown: return scroll(ui::EventKind::ScrollDown);
    case ToolbarUp: return scroll(ui::EventKind::ScrollUp);
    default: return false;
  }
}

std::span<const uint8_t> ToolbarUpdateClass::TipTable() const {
  return Request == InsertRecord ? InsertTipTable() : ChangeTipTable();
}

bool ToolbarUpdateClass::TakeToolbar(int identifier, int* vcrRequest, WindowManager& window) {
  int vcr = VcrNone;
  switch (identifier) {
    case ToolbarInsert: vcr = VcrInsert; break;
    case ToolbarBottom: vcr = VcrLast; break;
    case ToolbarTop: vcr = VcrFirst; break;
    case ToolbarPageDown: vcr = VcrPageForward; break;
    case ToolbarPageUp: vcr = VcrPageBackward; break;
    case ToolbarDown: vcr = Request == InsertRecord ? VcrInsert : VcrForward; break;
    case ToolbarUp: vcr = VcrBackward; break;
    default: return false;
  }
  // Save, then move: the browse that called the form carries the move out.
  if (vcrRequest) *vcrRequest = vcr;
  if (ui::Window* w = window.UiWindow(); w && window.OkControl)
    w->Post(ui::EventKind::Accepted, window.OkControl);
  return true;
}

void ToolbarClass::Init() { Kill(); }

void ToolbarClass::Kill() {
  List.clear();
  buttons_.clear();
  current_ = shown_ = nullptr;
  shownRequest_ = 0;
}

void ToolbarClass::AddTarget(ToolbarTarget& target) {
  for (ToolbarTarget* t : List)
    if (t == &target) return;
  List.push_back(&target);
  if (!current_) current_ = &target;
}

void ToolbarClass::SetButton(int identifier, int feq) {
  for (auto& b : buttons_) {
    if (b.first == identifier) {
      b.second = feq;
      return;
    }
  }
  buttons_.emplace_back(identifier, feq);
}

int ToolbarClass::Identifier(int feq) const {
  for (const auto& b : buttons_)
    if (b.second == feq && feq) return b.first;
  return 0;
}

int ToolbarClass::ButtonControl(int identifier) const {
  for (const auto& b : buttons_)
    if (b.first == identifier) return b.second;
  return 0;
}

void ToolbarClass::SetTarget(ui::Window& window, int control) {
  for (ToolbarTarget* t : List) {
    if (t->Control && t->Control == control) {
      current_ = t;
      break;
    }
  }
  if (!current_) return;
  uint8_t request = 0;
  if (auto* u = dynamic_cast<ToolbarUpdateClass*>(current_)) request = u->Request;
  if (current_ == shown_ && request == shownRequest_) return;
  current_->DisplayButtons(*this, window);
  shown_ = current_;
  shownRequest_ = request;
}

bool ToolbarClass::TakeEvent(int* vcrRequest, WindowManager& window) {
  ui::Window* w = window.UiWindow();
  if (!w || !current_) return false;
  const int control = w->Field();
  int id = Identifier(control);
  if (!id && control) {
    if (control == current_->InsertButton) id = ToolbarInsert;
    else if (control == current_->ChangeButton) id = kChange;
    else if (control == current_->DeleteButton) id = kDelete;
    else if (control == current_->SelectButton) id = kSelect;
  }
  if (!id) return false;
  current_->TakeToolbar(id, vcrRequest, window);
  return true;
}

}  // namespace korawin::framework
