#include "app/bound_controls.h"

#include <string>

#include "app/texts.h"
#include "lang/bind.h"

namespace korawin::app {

void UseBoundNames(ui::Window& window) {
  for (const ui::ControlDesc* c : window.Desc().Numbered()) {
    if (!c || c->use.empty()) continue;
    lang::SymbolInfo info;
    if (lang::LookupName(c->use, &info) && info.kind == lang::kSymbolVariable)
      window.Use(c->feq, info.var);
  }
  window.Display();
}

bool TellCut(ui::Window& window, int feq) {
  if (!window.Has(feq)) return false;
  const int limit = window.State(feq).maxBytes;
  if (limit <= 0 || window.Text(feq).size() <= static_cast<size_t>(limit)) return false;
  Tell("Текст не поместился в поле: в нём не больше " + std::to_string(limit) +
           " знаков. Лишнее в конце отрезано.",
       ui::Icon::Exclamation);
  window.Display(feq);
  return true;
}

}  // namespace korawin::app
