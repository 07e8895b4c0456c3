#include "framework/locator.h"

#include "framework/browse.h"
#include "lang/charset.h"
#include "ui/runtime/event.h"
#include "ui/runtime/window.h"

namespace korawin::framework {

namespace {

constexpr size_t kMaxShadow = 40;

}  // namespace

void LocatorClass::Init(BrowseClass& browse, const lang::Variable& freeElement, int control,
                        bool noCase) {
  ViewManager = &browse;
  FreeElement = freeElement;
  Control = control;
  NoCase = noCase;
  Reset();
}

int LocatorClass::Character(int key) {
  if (key & (ui::kKeyCtrl | ui::kKeyAlt | ui::kKeyVirtual)) return -1;
  key &= ~ui::kKeyShift;
  if (key < ' ' || key > 255 || key == 127) return -1;
  return key;
}

void LocatorClass::SetFree(const std::string& text) {
  lang::StoreVariable(FreeElement, lang::Value::Text(text));
}

bool StepLocatorClass::TakeKey(int key) {
  int c = Character(key);
  if (c <= ' ' || !ViewManager) return false;
  if (ViewManager->HasRows()) (void)ViewManager->UpdateBuffer();  // the locator works on either
  std::string scratch;
  lang::Value v = lang::ReadVariable(FreeElement, FreeElement.address);
  std::string_view now = lang::ValueToText(v, &scratch);
  unsigned char first = now.empty() ? ' ' : static_cast<unsigned char>(now[0]);
  unsigned char typed = static_cast<unsigned char>(c);
  if (NoCase) {
    first = lang::UpperChar(first);
    typed = lang::UpperChar(typed);
  }
  if (first == typed) return false;
  SetFree(std::string(1, static_cast<char>(c)));
  return true;
}

bool IncrementalLocatorClass::TakeKey(int key) {
  if (key == ui::kKeyBackspace) {
    if (Shadow.empty()) return false;
    Shadow.pop_back();
  } else {
    int c = Character(key);
    if (c < 0 || Shadow.size() >= kMaxShadow) return false;
    Shadow.push_back(static_cast<char>(c));
  }
  UpdateWindow();
  SetFree(Shadow);
  return true;
}

void IncrementalLocatorClass::UpdateWindow() {
  if (!Control || !ViewManager || Control == ViewManager->ListControl) return;
  if (ui::Window* w = ViewManager->UiWindow()) w->SetText(Control, Shadow);
}

void IncrementalLocatorClass::Reset() {
  Shadow.clear();
}

}  // namespace korawin::framework
