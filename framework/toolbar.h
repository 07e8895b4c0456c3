// The toolbar classes: route a window's toolbar buttons to the browse list or update form that
// has focus, and give the buttons tips that fit what they will do there. A list target turns
// the navigation buttons into scrolling and the insert button into an insert; an update-form
// target turns them into a pending navigation request (save, then move).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace korawin::ui {
class Window;
}

namespace korawin::framework {

class BrowseClass;
class WindowManager;

// Identifiers of the toolbar buttons.
enum ToolbarButton : int {
  ToolbarInsert = 2000,
  ToolbarBottom = 2004,    // last
  ToolbarTop = 2005,       // first
  ToolbarPageDown = 2006,
  ToolbarPageUp = 2007,
  ToolbarDown = 2008,      // next
  ToolbarUp = 2009,        // previous
};

// The tip tables, each a count byte and then entries of a 16-bit identifier (little-endian),
// a length byte and the text.
std::span<const uint8_t> ListTipTable();
std::span<const uint8_t> ChangeTipTable();
std::span<const uint8_t> InsertTipTable();
// The entries of a tip table; a table cut short keeps the entries that are whole.
std::vector<std::pair<int, std::string>> ReadTipTable(std::span<const uint8_t> table);

class ToolbarClass;

// What a toolbar button does where the focus is.
class ToolbarTarget {
 public:
  virtual ~ToolbarTarget() = default;
  // Applies the target's tip table to the toolbar's buttons.
  virtual void DisplayButtons(ToolbarClass& toolbar, ui::Window& window);
  // Takes the button identifier; true when it did something with it.
  virtual bool TakeToolbar(int identifier, int* vcrRequest, WindowManager& window) = 0;
  // The tip table the target shows.
  virtual std::span<const uint8_t> TipTable() const = 0;

  // Fields, in the order of the design.
  int32_t Control = 0;
  int32_t HelpButton = 0;
  int32_t InsertButton = 0;
  int32_t ChangeButton = 0;
  int32_t DeleteButton = 0;
  int32_t SelectButton = 0;
};

// A browse list: navigation scrolls it, insert, change, delete and select press its buttons.
class ToolbarListboxClass : public ToolbarTarget {
 public:
  bool TakeToolbar(int identifier, int* vcrRequest, WindowManager& window) override;
  std::span<const uint8_t> TipTable() const override { return ListTipTable(); }

  BrowseClass* Browse = nullptr;
};

// An update form: navigation saves and then moves; the tips follow the form's request.
class ToolbarUpdateClass : public ToolbarTarget {
 public:
  bool TakeToolbar(int identifier, int* vcrRequest, WindowManager& window) override;
  std::span<const uint8_t> TipTable() const override;

  uint8_t Request = 0;
  uint8_t History = 0;
};

class ToolbarClass {
 public:
  void Init();
  void Kill();
  // Adds a target; the first added is the one used while no target's control has focus.
  void AddTarget(ToolbarTarget& target);
  // Control feq of the window is the toolbar button identifier.
  void SetButton(int identifier, int feq);
  // The identifier of a control (0: not a toolbar button) and the control of an identifier.
  int Identifier(int feq) const;
  int ButtonControl(int identifier) const;
  // Makes the target serving control current (kept when none serves it) and shows its
  // buttons' tips when it changed.
  void SetTarget(ui::Window& window, int control);
  ToolbarTarget* Target() const { return current_; }
  // Hands the window's accepted control to the current target when it is a toolbar button;
  // true when it was one.
  bool TakeEvent(int* vcrRequest, WindowManager& window);

  std::vector<ToolbarTarget*> List;

 private:
  std::vector<std::pair<int, int>> buttons_;  // (identifier, feq)
  ToolbarTarget* current_ = nullptr;
  ToolbarTarget* shown_ = nullptr;
  uint8_t shownRequest_ = 0;
};

}  // namespace korawin::framework
