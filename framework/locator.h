// Locators: keys typed into a browse list move it to the first record whose free key
// component starts with what was typed. The step locator jumps by the first character; the
// incremental locator collects the characters typed so far.
#pragma once

#include <string>

#include "lang/types.h"

namespace korawin::framework {

class BrowseClass;

class LocatorClass {
 public:
  LocatorClass() = default;
  LocatorClass(const LocatorClass&) = delete;
  LocatorClass& operator=(const LocatorClass&) = delete;
  virtual ~LocatorClass() = default;

  // Serves browse: freeElement is the key component the locator sets (a field of the primary
  // record buffer); control shows what was typed (0: nothing shows it); noCase compares
  // without regard to case.
  void Init(BrowseClass& browse, const lang::Variable& freeElement, int control = 0,
            bool noCase = true);
  // Takes a key pressed in the list (a ui::KeyCode); true when the free component changed and
  // the browse must locate on it.
  virtual bool TakeKey(int key) = 0;
  // Shows the locator's state in its control.
  virtual void UpdateWindow() {}
  // Forgets what was typed: the list moved by other means.
  virtual void Reset() {}

  // Fields, in the order of the design.
  BrowseClass* ViewManager = nullptr;
  int Control = 0;
  lang::Variable FreeElement;
  bool NoCase = true;

 protected:
  // The character of a key that types one (Windows-1251), or -1.
  static int Character(int key);
  void SetFree(const std::string& text);
};

class StepLocatorClass : public LocatorClass {
 public:
  // A character differing from the free component's first character becomes its value.
  bool TakeKey(int key) override;
};

class IncrementalLocatorClass : public LocatorClass {
 public:
  // Backspace drops the last character typed, a printable character or space is added (at
  // most 40); either way the free component takes the characters typed so far.
  bool TakeKey(int key) override;
  void UpdateWindow() override;
  void Reset() override;

  std::string Shadow;  // the characters typed so far, at most 40
};

}  // namespace korawin::framework
