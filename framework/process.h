// The process class: a view manager that walks its view record by record for a report or a
// batch pass, counting what it took and keeping a progress percentage for the user to see.
#pragma once

#include <cstdint>
#include <string>

#include "framework/view_manager.h"
#include "lang/types.h"

namespace korawin::ui {
class Window;
}

namespace korawin::framework {

class StepClass;

class ProcessClass : public ViewManager {
 public:
  // Binds the walker to view over primary, without an order (the procedure adds its own).
  // pText: the control that shows "N% Complete" (0: none); percentile: the value shown, set to
  // 0 here (nullptr: none); stepMgr estimates progress from valueField's key values.
  void Init(storage::View& view, RelationManager& primary, int32_t pText = 0,
            uint8_t* percentile = nullptr, StepClass* stepMgr = nullptr,
            const lang::Variable& valueField = lang::Variable());
  void Kill() override;

  // Starts the walk again: nothing processed, the limits of the progress taken anew, the view
  // at the start of its order.
  Level Reset() override;
  using ViewManager::Next;
  // The next record through the view; with count, counted and the percentage updated. The
  // view manager's level: 0, 5 at the end, 3 on an error.
  Level Next(bool count);
  // Gives the step manager the values of ValueField at the view's first and last records.
  void SetProgressLimits();
  // Shows the percentage in PText and redraws the window.
  void UpdateDisplay();
  // The window that shows the progress (nullptr: none).
  void SetWindow(ui::Window* window) { window_ = window; }
  ui::Window* Window() const { return window_; }

  // What is done with the current record; the report procedure's override prints its detail.
  // 0 goes on; 3 stops the walk and closes the window; 5 ends this piece of work.
  virtual Level TakeRecord() { return LevelBenign; }

  // Fields, in the order of the design.
  uint8_t* Percentile = nullptr;
  int32_t PText = 0;
  int32_t RecordsProcessed = 0;
  int32_t RecordsToProcess = 0;  // 0: the primary file's number of records
  StepClass* StepMgr = nullptr;
  lang::Variable ValueField;

 private:
  std::string ValueText() const;
  ui::Window* window_ = nullptr;
};

}  // namespace korawin::framework
