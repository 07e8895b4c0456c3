#include "framework/process.h"

#include "framework/step.h"
#include "storage/driver.h"
#include "ui/runtime/window.h"

namespace korawin::framework {

void ProcessClass::Init(storage::View& view, RelationManager& primary, int32_t pText,
                        uint8_t* percentile, StepClass* stepMgr,
                        const lang::Variable& valueField) {
  ViewManager::Init(view, primary);
  PText = pText;
  Percentile = percentile;
  if (Percentile) *Percentile = 0;
  StepMgr = stepMgr;
  ValueField = valueField;
  RecordsProcessed = 0;
  RecordsToProcess = 0;
}

void ProcessClass::Kill() { ViewManager::Kill(); }

std::string ProcessClass::ValueText() const {
  if (ValueField.type == 0) return {};
  std::string scratch;
  lang::Value v = lang::ReadVariable(ValueField, ValueField.address);
  return std::string(lang::ValueToText(v, &scratch));
}

Level ProcessClass::Reset() {
  RecordsProcessed = 0;
  if (StepMgr) {
    SetProgressLimits();
  } else if (RecordsToProcess == 0) {
    if (Level l = Primary->Me->UseFile()) return l;
    storage::DriverArgs a;
    if (storage::CallDriver(storage::kOpRecordsFile, PrimaryFile(), a) == 0)
      RecordsToProcess = static_cast<int32_t>(a.value);
  }
  return ViewManager::Reset();
}

void ProcessClass::SetProgressLimits() {
  if (!StepMgr) return;
  std::string low, high;
  if (ViewManager::Reset() == LevelBenign && ViewManager::Next() == LevelBenign) low = ValueText();
  if (ViewManager::Reset() == LevelBenign && ViewManager::Previous() == LevelBenign)
    high = ValueText();
  StepMgr->SetLimit(low, high);
}

Level ProcessClass::Next(bool count) {
  Level level = ViewManager::Next();
  if (level != LevelBenign || !count) return level;
  ++RecordsProcessed;
  if (!Percentile) return level;
  int value = 0;
  if (StepMgr) {
    value = StepMgr->GetPercentile(ValueText());
  } else if (RecordsToProcess > 0) {
    value = static_cast<int>(static_cast<int64_t>(RecordsProcessed) * 100 / RecordsToProcess);
  } else {
    value = 100;
  }
  if (value > 100) value = 100;
  if (value < 0) value = 0;
  if (value != *Percentile) {
    *Percentile = static_cast<uint8_t>(value);
    UpdateDisplay();
  }
  return level;
}

void ProcessClass::UpdateDisplay() {
  if (!window_) return;
  if (PText && Percentile) window_->SetText(PText, std::to_string(*Percentile) + "% Complete");
  window_->Display();
}

}  // namespace korawin::framework
