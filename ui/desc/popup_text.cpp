#include "ui/desc/popup_text.h"

namespace korawin::ui {

namespace {

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  bool Run(std::vector<PopupItem>* out, std::string* why) {
    bool ok = Items(out, 0) && p_ == s_.size();
    if (ok) return true;
    if (why) *why = p_ < s_.size() ? "unmatched \"}\"" : "unclosed \"{\"";
    return false;
  }

 private:
  // Items up to the end of the text or of the submenu (the "}" is left for the caller).
  bool Items(std::vector<PopupItem>* out, int depth) {
    while (true) {
      PopupItem item;
      std::string raw;
      while (p_ < s_.size() && s_[p_] != '|' && s_[p_] != '{' && s_[p_] != '}') raw += s_[p_++];
      bool sub = p_ < s_.size() && s_[p_] == '{';
      Decorate(raw, &item);
      if (sub) {
        ++p_;
        item.submenu = true;
        if (!Items(&item.items, depth + 1)) return false;
        if (p_ >= s_.size() || s_[p_] != '}') return false;
        ++p_;
      } else if (!item.separator && !item.text.empty()) {
        item.number = ++number_;
      }
      if (item.separator || item.submenu || !item.text.empty()) out->push_back(std::move(item));
      if (p_ >= s_.size()) return depth == 0;
      if (s_[p_] == '}') return depth > 0;
      ++p_;  // "|"
    }
  }

  static void Decorate(std::string raw, PopupItem* item) {
    if (raw == "-") {
      item->separator = true;
      return;
    }
    while (!raw.empty() && (raw[0] == '~' || raw[0] == '+')) {
      (raw[0] == '~' ? item->disabled : item->checked) = true;
      raw.erase(0, 1);
    }
    item->text = std::move(raw);
  }

  std::string_view s_;
  size_t p_ = 0;
  int number_ = 0;
};

}  // namespace

bool ParsePopupText(std::string_view text, std::vector<PopupItem>* out, std::string* why) {
  out->clear();
  return Parser(text).Run(out, why);
}

std::string PopupItemName(std::string_view text) {
  std::string name;
  for (char c : text)
    if (c != '&' && c != ' ') name += c;
  return name;
}

}  // namespace korawin::ui
