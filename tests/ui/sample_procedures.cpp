#include "tests/ui/sample_procedures.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"
#include "tests/ui/sample_windows.h"
#include "ui/runtime/runtime.h"
#include "ui/runtime/window.h"

namespace korawin::ui::sample {

namespace {

namespace Fr = ids::SampleFrame;
namespace C = ids::SampleCard;
namespace L = ids::SampleList;
namespace X = ids::SampleExpand;
namespace F = ids::SampleForm;

constexpr const char* kVerbs[] = {
    "бить",     "брать",  "быть",    "видеть",   "говорить", "давать", "делать",
    "думать",   "ехать",  "жить",    "знать",    "идти",     "писать", "понимать",
    "работать", "сидеть", "слышать", "смотреть", "стоять",   "хотеть", "читать",
};

char Lower(char c) {
  auto u = static_cast<unsigned char>(c);
  if (u >= 0xC0 && u <= 0xDF) return static_cast<char>(u + 0x20);
  if (u >= 'A' && u <= 'Z') return static_cast<char>(u + 0x20);
  return c;
}

// One page of a list: the items from top on, as many as the list shows.
class Pager {
 public:
  explicit Pager(Window& w) : w_(w) {}

  void Show() {
    const auto& items = Items();
    int n = std::max(1, w_.VisibleRows(L::Browse));
    int size = static_cast<int>(items.size());
    top_ = std::clamp(top_, 0, std::max(0, size - n));
    std::vector<ListRow> rows;
    for (int k = top_; k < std::min(size, top_ + n); ++k) {
      char number[8];
      std::snprintf(number, sizeof number, "%3d", items[static_cast<size_t>(k)].number);
      rows.push_back({{items[static_cast<size_t>(k)].word, number}});
    }
    w_.SetRows(L::Browse, std::move(rows));
    w_.SetThumb(L::Browse, size > n ? top_ * 100 / (size - n) : -1);
    w_.SetValue(L::Browse, std::clamp(w_.Value(L::Browse), 1, std::max(1, std::min(n, size))));
    w_.SetText(L::Count, std::to_string(size));
    shown_ = n;
  }

  // Follows a scroll event of the list; true when it was one.
  bool Scroll(const Event& ev) {
    int n = shown_, size = static_cast<int>(Items().size());
    switch (ev.kind) {
      case EventKind::ScrollUp:
        --top_;
        break;
      case EventKind::ScrollDown:
        ++top_;
        break;
      case EventKind::PageUp:
        top_ -= n;
        break;
      case EventKind::PageDown:
        top_ += n;
        break;
      case EventKind::ScrollTop:
        top_ = 0;
        break;
      case EventKind::ScrollBottom:
        top_ = size;
        break;
      case EventKind::ScrollDrag:
        top_ = ev.value * std::max(0, size - n) / 100;
        break;
      default:
        return false;
    }
    Show();
    return true;
  }

  // The locator: the first item from the typed letter on.
  void Locate(int key) {
    if (key <= 0 || key > 0xFF) return;
    const auto& items = Items();
    for (size_t k = 0; k < items.size(); ++k) {
      if (!items[k].word.empty() && Lower(items[k].word[0]) == Lower(static_cast<char>(key))) {
        top_ = static_cast<int>(k);
        w_.SetValue(L::Browse, 1);
        Show();
        return;
      }
    }
  }

  Item* Current() {
    size_t k = static_cast<size_t>(top_ + w_.Value(L::Browse) - 1);
    return k < Items().size() ? &Items()[k] : nullptr;
  }
  bool Stale() const { return shown_ != w_.VisibleRows(L::Browse); }

 private:
  Window& w_;
  int top_ = 0;
  int shown_ = 0;
};

}  // namespace

std::vector<Item>& Items() {
  static std::vector<Item> items;
  return items;
}

void ResetItems(int count) {
  Items().clear();
  for (int k = 0; k < count; ++k) {
    const char* verb = kVerbs[static_cast<size_t>(k) % std::size(kVerbs)];
    Items().push_back({platform::Utf8ToCp1251Lossy(verb), (k * 7) % 100 + 1});
  }
}

bool EditItem(Item* item) {
  auto w = Window::Open(F::kModule, F::kWindow);
  char buffer[20];
  std::memset(buffer, ' ', sizeof buffer);
  std::memcpy(buffer, item->word.data(), std::min(item->word.size(), sizeof buffer));
  int32_t n = item->number;
  w->Use(F::Word, lang::Variable::String(buffer, sizeof buffer));
  w->Use(F::Number, lang::Variable::Of(&n));
  w->Display();
  while (w->Accept().kind != EventKind::None) {
    if (w->EventNow() == EventKind::Accepted && w->Field() == F::OK) {
      std::string_view text(buffer, sizeof buffer);
      item->word = std::string(text.substr(0, text.find_last_not_of(' ') + 1));
      item->number = n;
      return true;
    }
    if ((w->EventNow() == EventKind::Accepted && w->Field() == F::Cancel) ||
        w->EventNow() == EventKind::CloseWindow || w->EventNow() == EventKind::CloseDown) {
      return false;
    }
  }
  return false;
}

void ListProcedure() {
  auto w = Window::Open(L::kModule, L::kWindow);
  Pager pager(*w);
  pager.Show();
  w->SetValue(L::Browse, 1);
  while (w->Accept().kind != EventKind::None) {
    const Event& ev = w->CurrentEvent();
    if (ev.control == L::Browse && pager.Scroll(ev)) continue;
    switch (ev.kind) {
      case EventKind::Accepted:
        if (ev.control == L::Change || ev.control == L::Browse) {
          Item* item = pager.Current();
          if (item && EditItem(item)) pager.Show();
        }
        break;
      case EventKind::AlertKey:
        if (ev.control == L::Browse) pager.Locate(ev.key);
        break;
      case EventKind::CloseWindow: {
        MessageBoxRequest box;
        box.text = platform::Utf8ToCp1251Lossy("Закрыть список образцов?");
        box.caption = platform::Utf8ToCp1251Lossy("Список образцов");
        box.icon = Icon::Question;
        box.buttons = ButtonYes + ButtonNo;
        box.defaultButton = ButtonYes;
        if (Runtime::ShowMessage(box) == ButtonYes) w->Close();
        break;
      }
      case EventKind::CloseDown:
        w->Close();
        break;
      default:
        break;
    }
    if (!w->Closed() && pager.Stale()) pager.Show();
  }
}

int cardTab = 1;

void CardProcedure() {
  auto w = Window::Open(C::kModule, C::kWindow);
  w->SetValue(C::Sheet, cardTab);
  auto text = [&](int feq, const char* utf8) {
    w->SetText(feq, platform::Utf8ToCp1251Lossy(utf8));
  };
  text(C::I_VERB, "делать 1 (производить действие)");
  text(C::NAME, "Орлова");
  text(C::DATE, "12.03.2009");
  text(C::EXA_MEMO, "Что ты делаешь?\nОн делает уроки.");
  text(C::F_M, "X делает Y");
  text(C::CurrentLex, "делать 1 (производить действие)");
  text(C::ACT11, "X");
  text(C::ACT21, "Им.п.");
  text(C::ACT41, "Агенс");
  text(C::ACT51, "лицо");
  while (w->Accept().kind != EventKind::None) {
    const Event& ev = w->CurrentEvent();
    if (ev.kind == EventKind::Accepted && ev.control == C::ExpandExamples) {
      // The examples in a larger dialog of their own, on the card's thread.
      auto d = Window::Open(X::kModule, X::kWindow);
      d->SetText(X::Text, w->Text(C::EXA_MEMO));
      while (d->Accept().kind != EventKind::None) {
        const Event& de = d->CurrentEvent();
        if (de.kind == EventKind::Accepted && de.control == X::OK) {
          w->SetText(C::EXA_MEMO, d->Text(X::Text));
          break;
        }
        if ((de.kind == EventKind::Accepted && de.control == X::Cancel) ||
            de.kind == EventKind::CloseWindow || de.kind == EventKind::CloseDown) {
          break;
        }
      }
      continue;
    }
    if ((ev.kind == EventKind::Accepted && (ev.control == C::OK || ev.control == C::Cancel)) ||
        ev.kind == EventKind::CloseWindow || ev.kind == EventKind::CloseDown) {
      w->Close();
    }
  }
}

void FrameProcedure() {
  auto w = Window::Open(Fr::kModule, Fr::kWindow);
  w->SetStatus(platform::Utf8ToCp1251Lossy("Готово"), 0);
  w->SetStatus(platform::Utf8ToCp1251Lossy("Образцов: ") + std::to_string(Items().size()), 1);
  while (w->Accept().kind != EventKind::None) {
    const Event& ev = w->CurrentEvent();
    if (ev.kind == EventKind::Accepted &&
        (ev.control == Fr::OpenList || ev.control == Fr::ListButton)) {
      Runtime::StartProcedure(ListProcedure, "list");
    } else if (ev.kind == EventKind::Accepted && ev.control == Fr::OpenCard) {
      Runtime::StartProcedure(CardProcedure, "card");
    } else if (ev.kind == EventKind::Accepted && ev.control == Fr::QuitButton) {
      w->Post(EventKind::CloseWindow);
    } else if (ev.kind == EventKind::CloseWindow || ev.kind == EventKind::CloseDown) {
      if (Runtime::CloseOtherProcedures(std::chrono::seconds(20))) w->Close();
    }
  }
}

}  // namespace korawin::ui::sample
