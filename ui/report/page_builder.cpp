#include "ui/report/page_builder.h"

#include <algorithm>
#include <cmath>

#include "lang/bind.h"
#include "lang/picture.h"

namespace korawin::ui::report {

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string UpperName(std::string_view name) {
  std::string out;
  for (char c : name) out.push_back(Upper(c));
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\0'; }

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimRight(s);
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

bool IsTextPicture(std::string_view picture) {
  if (!picture.empty() && picture[0] == '@') picture.remove_prefix(1);
  return !picture.empty() && (picture[0] == 's' || picture[0] == 'S');
}

// One line of a control that does not wrap: breaks and tabs become blanks.
std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return out;
}

// The longest start of text that fits width.
size_t FittingPrefix(std::string_view text, const FontSpec& font, double width,
                     TextMetrics* metrics) {
  size_t low = 0, high = text.size();
  while (low < high) {
    size_t mid = (low + high + 1) / 2;
    if (metrics->Width(font, text.substr(0, mid)) <= width) low = mid;
    else high = mid - 1;
  }
  return low;
}

// Breaks one paragraph (no line breaks in it) into lines of width, appended to *out.
void WrapParagraph(std::string_view para, const FontSpec& font, double width,
                   TextMetrics* metrics, std::vector<std::string>* out) {
  para = TrimRight(para);
  if (para.empty()) {
    out->emplace_back();
    return;
  }
  size_t pos = 0;
  while (pos < para.size()) {
    std::string_view rest = para.substr(pos);
    if (metrics->Width(font, rest) <= width) {
      out->emplace_back(rest);
      return;
    }
    // The last blank at which the line still fits; without one, break inside the word.
    size_t fit = FittingPrefix(rest, font, width, metrics);
    size_t cut = std::string_view::npos;
    for (size_t k = fit; k > 0; --k) {
      if (rest[k] == ' ') {
        cut = k;
        break;
      }
    }
    size_t next;
    if (cut == std::string_view::npos || TrimRight(rest.substr(0, cut)).empty()) {
      cut = std::max<size_t>(fit, 1);
      next = cut;
    } else {
      next = cut;
    }
    out->emplace_back(TrimRight(rest.substr(0, cut)));
    while (next < rest.size() && rest[next] == ' ') ++next;
    pos += next;
  }
}

struct Placed {
  const ReportControlDesc* c;
  std::vector<std::string> lines;
  int growth = 0;  // wrapped text beyond the designed height
  int shift = 0;   // how far wrapped controls above push it down
};

}  // namespace

// ---------------------------------------------------------------------------------------------

std::vector<std::string> PageBuilder::WrapText(std::string_view text, const FontSpec& font,
                                               double width, TextMetrics* metrics) {
  std::vector<std::string> out;
  std::string para;
  for (size_t k = 0; k <= text.size(); ++k) {
    char c = k < text.size() ? text[k] : '\n';
    if (c == '\r' || c == '\n') {
      WrapParagraph(para, font, width, metrics, &out);
      para.clear();
      if (c == '\r' && k + 1 < text.size() && text[k + 1] == '\n') ++k;
    } else {
      para.push_back(static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
    }
  }
  // Blank lines at the end take no room.
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

bool PageBuilder::Open(const ReportDesc& desc, TextMetrics* metrics, PageSink* sink,
                       std::string_view title) {
  if (desc_) Close();
  desc_ = &desc;
  metrics_ = metrics;
  sink_ = sink;
  uses_.clear();
  lines_.assign(desc.fonts.size(), LineMetrics{});
  lineKnown_.assign(desc.fonts.size(), false);
  page_ = Page();
  pageOpen_ = pageHasDetail_ = breakPending_ = sinkFailed_ = false;
  pages_ = 0;
  error_.clear();
  bodyTop_ = desc.marginTop + (desc.hasHeader ? desc.header.height : 0);
  bodyBottom_ = desc.paperHeight - desc.marginBottom - (desc.hasFooter ? desc.footer.height : 0);
  PageFormat format;
  format.title = title.empty() ? desc.name : std::string(title);
  format.width = desc.paperWidth;
  format.height = desc.paperHeight;
  format.landscape = desc.landscape;
  format.fonts = desc.fonts;
  if (!sink_->Begin(format)) {
    error_ = "the output could not begin";
    desc_ = nullptr;
    return false;
  }
  return true;
}

void PageBuilder::Use(std::string_view name, const lang::Variable& var) {
  std::string key = UpperName(name);
  for (auto& u : uses_) {
    if (u.first == key) {
      u.second = var;
      return;
    }
  }
  uses_.emplace_back(std::move(key), var);
}

const LineMetrics& PageBuilder::FontLine(int font) {
  size_t k = static_cast<size_t>(font);
  if (!lineKnown_[k]) {
    lines_[k] = metrics_->Line(desc_->fonts[k]);
    lineKnown_[k] = true;
  }
  return lines_[k];
}

bool PageBuilder::FieldText(const ReportControlDesc& c, std::string* out) {
  std::string formatted;
  switch (c.type) {
    case ReportControlType::Label:
      out->assign(c.text);
      return true;
    case ReportControlType::PageNo:
      lang::FormatPicture(lang::Value::Int(pages_), c.picture, &formatted);
      out->assign(Trim(formatted));
      return true;
    case ReportControlType::Field: {
      const lang::Variable* var = nullptr;
      std::string key = UpperName(c.use);
      for (const auto& u : uses_)
        if (u.first == key) var = &u.second;
      lang::SymbolInfo info;
      if (!var && lang::LookupName(c.use, &info) && info.kind == lang::kSymbolVariable)
        var = &info.var;
      if (!var) {
        error_ = "no variable is bound to " + c.use;
        return false;
      }
      lang::Value v = lang::ReadVariable(*var, var->address);
      lang::FormatPicture(v, c.picture, &formatted);
      out->assign(IsTextPicture(c.picture) ? TrimRight(formatted) : Trim(formatted));
      return true;
    }
    default:
      out->clear();
      return true;
  }
}

bool PageBuilder::LayOut(const BandDesc& band, bool strict, Laid* out) {
  out->items.clear();
  std::vector<Placed> placed;
  placed.reserve(band.controls.size());
  std::string text;
  for (const ReportControlDesc& c : band.controls) {
    Placed p{&c, {}, 0, 0};
    if (c.type != ReportControlType::Line && c.type != ReportControlType::Box) {
      if (!FieldText(c, &text)) {
        if (strict) return false;
        text.clear();
      }
      const FontSpec& font = desc_->fonts[static_cast<size_t>(c.font)];
      if (c.wrap) {
        p.lines = WrapText(text, font, c.width, metrics_);
        int need = static_cast<int>(std::ceil(FontLine(c.font).lineHeight *
                                              static_cast<double>(p.lines.size())));
        p.growth = std::max(0, need - c.height);
      } else {
        std::string line = OneLine(text);
        line.resize(FittingPrefix(line, font, c.width, metrics_));
        line.resize(TrimRight(line).size());
        if (!line.empty()) p.lines.push_back(std::move(line));
      }
    }
    placed.push_back(std::move(p));
  }
  // A control moves down by what the wrapped controls wholly above it grew, in order from the
  // top, so a chain of wrapped fields pushes what follows by all of them.
  std::vector<size_t> order(placed.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return placed[a].c->y < placed[b].c->y; });
  int extra = 0;
  for (size_t i = 0; i < order.size(); ++i) {
    Placed& p = placed[order[i]];
    for (size_t j = 0; j < i; ++j) {
      const Placed& w = placed[order[j]];
      if (w.c->wrap && w.c->y + w.c->height <= p.c->y)
        p.shift = std::max(p.shift, w.shift + w.growth);
    }
    extra = std::max(extra, p.shift + p.growth);
  }
  out->height = band.height + extra;

  for (const Placed& p : placed) {
    const ReportControlDesc& c = *p.c;
    int top = c.y + p.shift;
    if (c.type == ReportControlType::Line || c.type == ReportControlType::Box) {
      // Boxes and vertical lines stretch with the wrapped controls they hold.
      int stretch = 0;
      if (c.type == ReportControlType::Box || c.height > 0) {
        for (const Placed& w : placed) {
          if (w.c->wrap && w.c->y >= c.y && w.c->y + w.c->height <= c.y + c.height)
            stretch = std::max(stretch, w.shift + w.growth - p.shift);
        }
      }
      PageItem item;
      item.kind = c.type == ReportControlType::Box ? PageItem::Kind::Box : PageItem::Kind::Line;
      item.x = c.x;
      item.y = top;
      item.w = c.width;
      item.h = c.height + stretch;
      item.pen = static_cast<uint16_t>(c.pen);
      out->items.push_back(std::move(item));
      continue;
    }
    const FontSpec& font = desc_->fonts[static_cast<size_t>(c.font)];
    const LineMetrics& lm = FontLine(c.font);
    for (size_t k = 0; k < p.lines.size(); ++k) {
      if (p.lines[k].empty()) continue;
      double width = metrics_->Width(font, p.lines[k]);
      double x = c.x;
      if (c.align == Align::Center) x += (c.width - width) / 2;
      else if (c.align == Align::Right) x += c.width - width;
      double y = top + lm.lineHeight * static_cast<double>(k);
      PageItem item;
      item.kind = PageItem::Kind::Text;
      item.x = static_cast<int32_t>(std::lround(x));
      item.y = static_cast<int32_t>(std::lround(y));
      item.w = static_cast<int32_t>(std::lround(width));
      item.h = static_cast<int32_t>(std::lround(lm.lineHeight));
      item.baseline = static_cast<int32_t>(std::lround(y + lm.ascent));
      item.font = static_cast<uint16_t>(c.font);
      item.text = p.lines[k];
      out->items.push_back(std::move(item));
    }
  }
  return true;
}

void PageBuilder::Split(Laid* laid, int room, bool fresh, Laid* first) {
  // Lines of text are never cut: the cut moves up to the top of a line it would go through.
  int cut = room;
  for (bool moved = true; moved;) {
    moved = false;
    for (const PageItem& it : laid->items) {
      if (it.kind == PageItem::Kind::Text && it.y < cut && it.y + it.h > cut) {
        cut = it.y;
        moved = true;
      }
    }
  }
  // On an empty page something must go, or the report would never end.
  if (cut <= 0 && fresh) cut = room;
  first->items.clear();
  std::vector<PageItem> rest;
  for (PageItem& it : laid->items) {
    bool text = it.kind == PageItem::Kind::Text;
    int bottom = it.y + it.h;
    if (text ? it.y < cut : bottom <= cut) {
      first->items.push_back(std::move(it));
    } else if (it.y >= cut) {
      it.y -= cut;
      if (text) it.baseline -= cut;
      rest.push_back(std::move(it));
    } else {
      // A box or line across the cut goes on in the next piece.
      PageItem top = it;
      top.h = cut - it.y;
      it.h = bottom - cut;
      it.y = 0;
      first->items.push_back(std::move(top));
      rest.push_back(std::move(it));
    }
  }
  first->height = cut;
  laid->items = std::move(rest);
  laid->height = std::max(0, laid->height - cut);
}

void PageBuilder::Place(const Laid& laid, int top) {
  for (const PageItem& it : laid.items) {
    PageItem item = it;
    item.x += desc_->marginLeft;
    item.y += top;
    if (item.kind == PageItem::Kind::Text) item.baseline += top;
    page_.items.push_back(std::move(item));
  }
}

void PageBuilder::StartPage() {
  page_ = Page();
  page_.number = ++pages_;
  pageOpen_ = true;
  pageHasDetail_ = false;
  breakPending_ = false;
  cursor_ = bodyTop_;
  if (desc_->hasHeader) {
    // A field of the header whose variable is unknown shows empty rather than stopping the
    // page in its middle.
    Laid header;
    LayOut(desc_->header, false, &header);
    Place(header, desc_->marginTop);
  }
}

bool PageBuilder::FinishPage() {
  if (!pageOpen_) return true;
  if (desc_->hasFooter) {
    Laid footer;
    LayOut(desc_->footer, false, &footer);
    Place(footer, bodyBottom_);
  }
  pageOpen_ = false;
  if (!sinkFailed_ && !sink_->TakePage(std::move(page_))) {
    sinkFailed_ = true;
    error_ = "the output refused page " + std::to_string(pages_);
  }
  page_ = Page();
  return !sinkFailed_;
}

bool PageBuilder::Print(std::string_view id) {
  if (!desc_) {
    error_ = "the report is not open";
    return false;
  }
  int n = desc_->DetailNumber(id);
  if (n == 0) {
    error_ = "the report has no detail " + std::string(id);
    return false;
  }
  return Print(n);
}

bool PageBuilder::Print(int detail) {
  if (!desc_) {
    error_ = "the report is not open";
    return false;
  }
  if (sinkFailed_) return false;
  const BandDesc* band = desc_->Detail(detail);
  if (!band) {
    error_ = "the report has no detail " + std::to_string(detail);
    return false;
  }
  Laid laid;
  if (!LayOut(*band, true, &laid)) return false;

  if (pageOpen_ && (breakPending_ || (band->pageBefore && pageHasDetail_))) {
    if (!FinishPage()) return false;
  }
  if (!pageOpen_) StartPage();
  int full = bodyBottom_ - bodyTop_;
  if (laid.height > bodyBottom_ - cursor_ && pageHasDetail_ && laid.height <= full) {
    if (!FinishPage()) return false;
    StartPage();
  }
  while (laid.height > bodyBottom_ - cursor_) {
    Laid first;
    Split(&laid, bodyBottom_ - cursor_, !pageHasDetail_, &first);
    Place(first, cursor_);
    pageHasDetail_ = true;
    if (!FinishPage()) return false;
    StartPage();
  }
  Place(laid, cursor_);
  cursor_ += laid.height;
  pageHasDetail_ = true;
  if (band->pageAfter) breakPending_ = true;
  return true;
}

void PageBuilder::EndPage() {
  if (pageOpen_ && pageHasDetail_) breakPending_ = true;
}

bool PageBuilder::Close() {
  if (!desc_) return true;
  bool ok = FinishPage();
  if (!sink_->End()) {
    if (ok) error_ = "the output could not be completed";
    ok = false;
  }
  desc_ = nullptr;
  return ok;
}

}  // namespace korawin::ui::report
