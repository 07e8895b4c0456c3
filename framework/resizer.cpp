#include "framework/resizer.h"

#include <algorithm>
#include <functional>

#include "lang/picture.h"
#include "ui/runtime/window.h"

namespace korawin::framework {

namespace {

// Dialog units: a character is about 4 across and 8 down.
constexpr int kCharWidth = 4;
constexpr int kLine = 10;
constexpr int kMargin = 6;
constexpr int kGap = 4;
constexpr int kTabHeader = 14;
constexpr int kGroupTop = 10;

int TextWidth(const std::string& text) {
  int n = 0;
  for (char c : text)
    if (c != '&') ++n;
  return n * kCharWidth;
}

struct Box {
  int w = 0, h = 0;
};

class Layout {
 public:
  explicit Layout(std::vector<ResizeControl>* out) : out_(out) {}

  // Places the children of a container one under another (across for a row) from (x, y).
  Box Stack(const std::vector<ui::ControlDesc>& items, int x, int y, int parent, bool across) {
    Box all;
    int at = across ? x : y;
    for (const ui::ControlDesc& c : items) {
      Box b = across ? Place(c, at, y, parent) : Place(c, x, at, parent);
      if (b.w == 0 && b.h == 0) continue;
      if (across) {
        at += b.w + kGap;
        all.w = at - kGap - x;
        all.h = std::max(all.h, b.h);
      } else {
        at += b.h + kGap;
        all.h = at - kGap - y;
        all.w = std::max(all.w, b.w);
      }
    }
    return all;
  }

  Box Place(const ui::ControlDesc& c, int x, int y, int parent) {
    const int self = c.feq ? c.feq : parent;
    size_t index = 0;
    if (c.feq) {
      ResizeControl rc;
      rc.ID = c.feq;
      rc.Type = c.type;
      rc.HasChildren = !c.children.empty();
      rc.ParentID = parent;
      rc.Pos = {x, y, 0, 0};
      index = out_->size();
      out_->push_back(rc);
    }
    Box b;
    switch (c.type) {
      case ui::ControlType::Column:
        b = Stack(c.children, x, y, self, false);
        break;
      case ui::ControlType::Row:
        b = Stack(c.children, x, y, self, true);
        break;
      case ui::ControlType::Form: {
        int labels = 0;
        for (size_t k = 0; k < c.children.size(); k += 2)
          labels = std::max(labels, Natural(c.children[k]).w);
        int at = y;
        for (size_t k = 0; k < c.children.size(); k += 2) {
          Box l = Place(c.children[k], x, at, self);
          Box f;
          if (k + 1 < c.children.size()) f = Place(c.children[k + 1], x + labels + kGap, at, self);
          b.w = std::max(b.w, labels + kGap + f.w);
          at += std::max(l.h, f.h) + kGap;
        }
        b.h = std::max(0, at - kGap - y);
        break;
      }
      case ui::ControlType::Group: case ui::ControlType::Option: {
        Box in = Stack(c.children, x + kGap, y + kGroupTop, self, false);
        b = {std::max(in.w + 2 * kGap, TextWidth(c.text) + 2 * kGap), in.h + kGroupTop + kGap};
        break;
      }
      case ui::ControlType::Sheet: {
        // Every tab takes the body of the sheet; the sheet is as large as its largest tab.
        Box in;
        for (const ui::ControlDesc& tab : c.children) {
          Box t = Place(tab, x + kGap, y + kTabHeader, self);
          in.w = std::max(in.w, t.w);
          in.h = std::max(in.h, t.h);
        }
        for (ResizeControl& rc : *out_) {
          if (rc.ParentID == c.feq && rc.Type == ui::ControlType::Tab) {
            rc.Pos.Width = in.w;
            rc.Pos.Height = in.h;
          }
        }
        b = {in.w + 2 * kGap, in.h + kTabHeader + kGap};
        break;
      }
      case ui::ControlType::Tab:
        b = Stack(c.children, x, y, self, false);
        break;
      default:
        b = Natural(c);
        break;
    }
    if (c.width > 0) b.w = c.width;
    if (c.height > 0) b.h = c.height;
    if (c.feq) {
      (*out_)[index].Pos.Width = b.w;
      (*out_)[index].Pos.Height = b.h;
    }
    return b;
  }

  // The size a control takes by itself.
  static Box Natural(const ui::ControlDesc& c) {
    Box b;
    auto entryWidth = [&] {
      int chars = lang::PictureWidth(c.picture);
      return chars > 0 ? std::min(chars * kCharWidth + 8, 300) : 80;
    };
    switch (c.type) {
      case ui::ControlType::Prompt: b = {TextWidth(c.text), kLine}; break;
      case ui::ControlType::Entry: case ui::ControlType::Display: b = {entryWidth(), 12}; break;
      case ui::ControlType::Spin: b = {entryWidth() + 10, 12}; break;
      case ui::ControlType::TextBox: b = {160, c.lines > 0 ? c.lines * 8 + 4 : 40}; break;
      case ui::ControlType::Button: b = {std::max(50, TextWidth(c.text) + 16), 14}; break;
      case ui::ControlType::Check: case ui::ControlType::Radio:
        b = {TextWidth(c.text) + 14, kLine};
        break;
      case ui::ControlType::List: {
        int w = 0;
        for (const ui::ListColumn& col : c.columns.columns) w += col.width;
        b = {w > 0 ? w + 12 : 160, (c.lines > 0 ? c.lines : 10) * kLine + 4};
        break;
      }
      case ui::ControlType::Progress: b = {100, kLine}; break;
      case ui::ControlType::Image: b = {40, 40}; break;
      default: break;
    }
    if (c.width > 0) b.w = c.width;
    if (c.height > 0) b.h = c.height;
    return b;
  }

 private:
  std::vector<ResizeControl>* out_;
};

bool Surface(ui::ControlType t) {
  switch (t) {
    case ui::ControlType::List: case ui::ControlType::TextBox: case ui::ControlType::Sheet:
    case ui::ControlType::Tab: case ui::ControlType::Group: case ui::ControlType::Image:
      return true;
    default:
      return false;
  }
}

int Scale(int v, int to, int from) { return from > 0 ? static_cast<int>(static_cast<long long>(v) * to / from) : v; }

}  // namespace

std::vector<ResizeControl> LayoutControls(const ui::WindowDesc& desc, int* width, int* height) {
  std::vector<ResizeControl> out;
  Layout layout(&out);
  Box b = layout.Stack(desc.controls, kMargin, kMargin, 0, false);
  if (width) *width = b.w + 2 * kMargin;
  if (height) *height = b.h + 2 * kMargin;
  return out;
}

void WindowResizeClass::Init(ui::Window& window, uint8_t appStrategy, bool setMinSize,
                             bool setMaxSize) {
  window_ = &window;
  AppStrategy = appStrategy;
  int w = 0, h = 0;
  ControlQueue = LayoutControls(window.Desc(), &w, &h);
  if (window.Desc().width > 0) w = window.Desc().width;
  if (window.Desc().height > 0) h = window.Desc().height;
  const ui::WindowState& s = window.WindowStateNow();
  OrigWin = {s.geometry.x, s.geometry.y, s.geometry.width > 0 ? s.geometry.width : w,
             s.geometry.height > 0 ? s.geometry.height : h, s.maximized, s.iconized};
  PreviousWin = {OrigWin.XPos, OrigWin.YPos, OrigWin.Width, OrigWin.Height};
  ResizeCalled = 0;
  MaxSizeSet = setMaxSize;
  now_.clear();
  for (const ResizeControl& c : ControlQueue) now_.push_back(c.Pos);
  ResizeList.clear();
  if (appStrategy == AppStrategySpread) {
    for (ResizeControl& c : ControlQueue) {
      bool surface = Surface(c.Type);
      SetStrategy(c.ID, surface ? 0x303 : 0x505,
                  surface ? (ResizeConstantRight | ResizeConstantBottom)
                          : (ResizeLockWidth | ResizeLockHeight));
    }
  }
  if (setMinSize) window.SetMinimumSize(OrigWin.Width, OrigWin.Height);
}

void WindowResizeClass::Kill() {
  ControlQueue.clear();
  ResizeList.clear();
  now_.clear();
  window_ = nullptr;
}

ResizeRect WindowResizeClass::ParentInitial(int parent) const {
  if (parent == 0) return {0, 0, OrigWin.Width, OrigWin.Height};
  if (const ResizeControl* p = Control(parent)) return p->Pos;
  return {0, 0, OrigWin.Width, OrigWin.Height};
}

void WindowResizeClass::SetStrategy(int control, uint16_t positional, uint16_t resize) {
  for (ResizeControl& c : ControlQueue) {
    if (control != 0 && c.ID != control) continue;
    // "Nearest" is settled once, by where the control lies in what holds it.
    ResizeRect p = ParentInitial(c.ParentID);
    uint16_t across = positional & 0xFF, down = positional >> 8;
    if (across == PositionNearest)
      across = (c.Pos.XPos - p.XPos) * 2 + c.Pos.Width > p.Width ? PositionFixFar : PositionFixNear;
    if (down == PositionNearest)
      down = (c.Pos.YPos - p.YPos) * 2 + c.Pos.Height > p.Height ? PositionFixFar : PositionFixNear;
    c.PositionalStrategy = static_cast<uint16_t>(across | (down << 8));
    c.ResizeStrategy = resize;
  }
}

const ResizeControl* WindowResizeClass::Control(int control) const {
  for (const ResizeControl& c : ControlQueue)
    if (c.ID == control) return &c;
  return nullptr;
}

ResizeRect WindowResizeClass::Geometry(int control) const {
  for (size_t k = 0; k < ControlQueue.size(); ++k)
    if (ControlQueue[k].ID == control) return now_[k];
  return {};
}

ResizeRect WindowResizeClass::Compute(const ResizeControl& c, const ResizeRect& pb,
                                      const ResizeRect& pa) const {
  auto axis = [](int code, bool lockSize, bool constantFar, int pos0, int size0, int from,
                 int to, int* pos, int* size) {
    const int d = to - from;
    switch (code) {
      case PositionLock: case PositionFixNear: *pos = pos0; break;
      case PositionFixFar: *pos = pos0 + d; break;
      case PositionCentre: *pos = pos0 + d / 2; break;
      default: *pos = Scale(pos0, to, from); break;
    }
    if (lockSize) *size = size0;
    else if (constantFar) *size = pos0 + size0 + d - *pos;
    else *size = Scale(size0, to, from);
    if (*size < 1) *size = 1;
  };
  ResizeRect r;
  int x = 0, w = 0, y = 0, h = 0;
  axis(c.PositionalStrategy & 0xFF, c.ResizeStrategy & ResizeLockWidth,
       c.ResizeStrategy & ResizeConstantRight, c.Pos.XPos - pb.XPos, c.Pos.Width, pb.Width,
       pa.Width, &x, &w);
  axis(c.PositionalStrategy >> 8, c.ResizeStrategy & ResizeLockHeight,
       c.ResizeStrategy & ResizeConstantBottom, c.Pos.YPos - pb.YPos, c.Pos.Height, pb.Height,
       pa.Height, &y, &h);
  r.XPos = pa.XPos + x;
  r.YPos = pa.YPos + y;
  r.Width = w;
  r.Height = h;
  return r;
}

bool WindowResizeClass::Resize() {
  if (!window_) return false;
  const ui::WindowState& s = window_->WindowStateNow();
  int w = s.geometry.width > 0 ? s.geometry.width : OrigWin.Width;
  int h = s.geometry.height > 0 ? s.geometry.height : OrigWin.Height;
  return ResizeTo(w, h);
}

bool WindowResizeClass::ResizeTo(int width, int height) {
  if (width == PreviousWin.Width && height == PreviousWin.Height) return false;
  const bool initial = width == OrigWin.Width && height == OrigWin.Height;
  // Outer controls first, so that a control inside a group follows the group.
  std::vector<size_t> order(ControlQueue.size());
  std::vector<int> depth(ControlQueue.size(), 0);
  for (size_t k = 0; k < ControlQueue.size(); ++k) {
    order[k] = k;
    for (int p = ControlQueue[k].ParentID; p; p = Control(p) ? Control(p)->ParentID : 0) ++depth[k];
  }
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return depth[a] < depth[b]; });
  ResizeList.clear();
  std::vector<ResizeRect> next = now_;
  const ResizeRect windowBefore{0, 0, OrigWin.Width, OrigWin.Height};
  const ResizeRect windowAfter{0, 0, width, height};
  for (size_t k : order) {
    const ResizeControl& c = ControlQueue[k];
    ResizeRect after = c.Pos;
    if (!initial) {
      ResizeRect pb = windowBefore, pa = windowAfter;
      if (c.ParentID) {
        for (size_t j = 0; j < ControlQueue.size(); ++j) {
          if (ControlQueue[j].ID == c.ParentID) {
            pb = ControlQueue[j].Pos;
            pa = next[j];
            break;
          }
        }
      }
      after = Compute(c, pb, pa);
    }
    ResizeList.push_back({depth[k], c.ID, c.Type, now_[k], after});
    next[k] = after;
  }
  now_ = std::move(next);
  PreviousWin = {PreviousWin.XPos, PreviousWin.YPos, width, height};
  ResizeCalled = 1;
  return true;
}

}  // namespace korawin::framework
