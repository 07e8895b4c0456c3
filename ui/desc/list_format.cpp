#include "ui/desc/list_format.h"

#include "lang/picture.h"

namespace korawin::ui {

namespace {

class Parser {
 public:
  Parser(std::string_view text, ListFormat* out) : s_(text), out_(out) {}

  bool Run(std::string* why) {
    while (p_ < s_.size() && ok_) Item(-1);
    if (ok_ && out_->columns.empty()) Fail("no columns");
    if (!ok_ && why) *why = why_ + " at offset " + std::to_string(at_);
    return ok_;
  }

 private:
  bool IsDigit(char c) const { return c >= '0' && c <= '9'; }
  bool More() const { return p_ < s_.size(); }
  char Peek() const { return More() ? s_[p_] : '\0'; }

  void Fail(std::string why) {
    if (!ok_) return;
    ok_ = false;
    why_ = std::move(why);
    at_ = p_;
  }

  int Number() {
    int v = 0, digits = 0;
    while (More() && IsDigit(Peek()) && digits < 6) {
      v = v * 10 + (s_[p_++] - '0');
      ++digits;
    }
    return digits ? v : -1;
  }

  // "(n)" after an alignment letter; absent gives 0.
  int Indent() {
    if (Peek() != '(') return 0;
    ++p_;
    int v = Number();
    if (v < 0 || Peek() != ')') {
      Fail("bad indent");
      return 0;
    }
    ++p_;
    return v;
  }

  static bool IsAlign(char c) { return c == 'L' || c == 'R' || c == 'C' || c == 'D'; }

  // One column or group at the current offset.
  void Item(int group) {
    if (Peek() == '[') {
      Group();
      return;
    }
    ListColumn col;
    col.group = group;
    col.width = Number();
    if (col.width < 0) return Fail("column without a width");
    if (!IsAlign(Peek())) return Fail("column without an alignment");
    col.align = s_[p_++];
    col.indent = Indent();
    Marks(&col.rightBorder, &col.resizable, &col.fixed, &col.underline, &col.lastOnLine,
          &col.heading, &col.headingAlign, &col.headingIndent, &col.picture);
    if (ok_) out_->columns.push_back(std::move(col));
  }

  void Group() {
    size_t open = p_++;
    ListGroup g;
    int index = static_cast<int>(out_->groups.size());
    out_->groups.emplace_back();
    g.first = static_cast<int>(out_->columns.size());
    while (ok_ && More() && Peek() != ']') {
      if (Peek() == '[') return Fail("nested group");
      Item(index);
    }
    if (!ok_) return;
    if (Peek() != ']') {
      p_ = open;
      return Fail("group without its closing bracket");
    }
    ++p_;
    g.count = static_cast<int>(out_->columns.size()) - g.first;
    if (g.count == 0) return Fail("empty group");
    if (Peek() == '(') {
      ++p_;
      g.width = Number();
      if (g.width < 0 || Peek() != ')') return Fail("bad group width");
      ++p_;
    }
    bool fixed = false, underline = false, last = false;
    int headingIndent = 0;
    std::string picture;
    Marks(&g.rightBorder, &g.resizable, &fixed, &underline, &last, &g.heading, &g.headingAlign,
          &headingIndent, &picture);
    if (!picture.empty()) return Fail("a group has no picture");
    out_->groups[static_cast<size_t>(index)] = std::move(g);
  }

  // The marks, heading and picture of a column or group, up to the next item.
  void Marks(bool* border, bool* resizable, bool* fixed, bool* underline, bool* last,
             std::string* heading, char* headingAlign, int* headingIndent, std::string* picture) {
    while (ok_ && More()) {
      char c = Peek();
      if (IsDigit(c) || c == '[' || c == ']') return;
      ++p_;
      switch (c) {
        case '|': *border = true; break;
        case 'M': *resizable = true; break;
        case 'F': *fixed = true; break;
        case '_': *underline = true; break;
        case '/': *last = true; break;
        case 'Y': case '?': break;
        case '~': {
          size_t end = s_.find('~', p_);
          if (end == std::string_view::npos) return Fail("heading without its closing ~");
          heading->assign(s_.substr(p_, end - p_));
          p_ = end + 1;
          if (IsAlign(Peek())) {
            *headingAlign = s_[p_++];
            *headingIndent = Indent();
          }
          break;
        }
        case '@': {
          size_t end = s_.find('@', p_);
          if (end == std::string_view::npos) return Fail("picture without its closing @");
          std::string pic = "@";
          pic.append(s_.substr(p_, end - p_));
          std::string why;
          if (!lang::CheckPicture(pic, &why)) return Fail(std::string("picture ").append(pic).append(": ").append(why));
          *picture = std::move(pic);
          p_ = end + 1;
          break;
        }
        default:
          --p_;
          return Fail(std::string("unknown mark '").append(1, c).append("'"));
      }
    }
  }

  std::string_view s_;
  ListFormat* out_;
  size_t p_ = 0;
  bool ok_ = true;
  std::string why_;
  size_t at_ = 0;
};

}  // namespace

bool ParseListFormat(std::string_view text, ListFormat* out, std::string* why) {
  *out = ListFormat{};
  return Parser(text, out).Run(why);
}

}  // namespace korawin::ui
