#include "ui/report/report_json.h"

#include <set>

#include "lang/picture.h"
#include "platform/codepage.h"
#include "ui/desc/desc_reader.h"
#include "ui/halt.h"

namespace korawin::ui::report {

namespace {

using Json = nlohmann::json;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

using desc::IsIdentifier;
using desc::SameNoCase;
using desc::WithoutMark;

class ReportReader : public desc::Reader {
 public:
  ReportDesc Report(const Json& j) {
    ReportDesc r;
    SetWhere("report");
    Expect(j.is_object(), "a report must be an object");
    Keys(j, {"module", "report", "cname", "paper", "orientation", "margins", "font", "header",
             "details", "footer"});
    r.module = Text(j, "module");
    r.name = Text(j, "report");
    SetWhere(r.module + " / " + r.name);
    Expect(!r.module.empty() && !r.name.empty(), "a report needs \"module\" and \"report\"");
    r.cname = Text(j, "cname");
    if (!r.cname.empty()) Expect(IsIdentifier(r.cname), "\"cname\" must be a C++ name");

    std::string paper = Text(j, "paper");
    if (paper.empty() || paper == "A4") {
      r.paperWidth = kA4Width;
      r.paperHeight = kA4Height;
    } else if (paper == "Letter") {
      r.paperWidth = 8500;
      r.paperHeight = 11000;
    } else {
      Expect(false, "unknown paper \"" + paper + "\" (A4 or Letter)");
    }
    std::string orientation = Text(j, "orientation");
    Expect(orientation.empty() || orientation == "portrait" || orientation == "landscape",
           "\"orientation\" is portrait or landscape");
    r.landscape = orientation == "landscape";
    if (r.landscape) std::swap(r.paperWidth, r.paperHeight);
    if (j.contains("margins")) {
      std::vector<int> m =
          Numbers(j["margins"], 4, 100000, "\"margins\" must be [left, top, right, bottom]");
      r.marginLeft = m[0];
      r.marginTop = m[1];
      r.marginRight = m[2];
      r.marginBottom = m[3];
    }
    Expect(r.BodyWidth() > 0 && r.BodyHeight() > 0, "the margins leave no room on the paper");

    FontSpec base{"Arial", 10, false, false, false};
    if (j.contains("font")) base = Font(j["font"], base);
    r.fonts.push_back(base);
    fonts_ = &r.fonts;
    body_ = r.BodyWidth();

    int fixed = 0;
    if (j.contains("header")) {
      r.hasHeader = true;
      r.header = Band(j["header"], "header", false);
      fixed += r.header.height;
    }
    if (j.contains("footer")) {
      r.hasFooter = true;
      r.footer = Band(j["footer"], "footer", false);
      fixed += r.footer.height;
    }
    Expect(fixed < r.BodyHeight(), "the header and footer leave no room for details");
    Expect(j.contains("details") && j["details"].is_array() && !j["details"].empty(),
           "a report needs its \"details\"");
    std::set<std::string> ids;
    for (const Json& d : j["details"]) {
      BandDesc b = Band(d, "detail", true);
      std::string key;
      for (char c : WithoutMark(b.id)) key.push_back(Upper(c));
      SetWhere(r.module + " / " + r.name);
      Expect(ids.insert(key).second, "detail " + b.id + " twice");
      Expect(b.height <= r.BodyHeight() - fixed,
             "detail " + b.id + " is taller than the room a page leaves for it");
      r.details.push_back(std::move(b));
    }
    fonts_ = nullptr;
    return r;
  }

 private:
  FontSpec Font(const Json& j, const FontSpec& base) {
    Expect(j.is_object(), "a font is {\"name\", \"size\", \"style\"}");
    Keys(j, {"name", "size", "style"});
    FontSpec f = base;
    if (j.contains("name")) {
      f.family = Text(j, "name");
      Expect(!f.family.empty(), "a font needs a name");
    }
    f.size = Whole(j, "size", f.size, 1, 200);
    if (j.contains("style")) {
      Expect(j["style"].is_array(), "\"style\" must be a list");
      f.bold = f.italic = f.underline = false;
      for (const Json& s : j["style"]) {
        std::string name = s.is_string() ? s.get<std::string>() : std::string();
        if (name == "bold") f.bold = true;
        else if (name == "italic") f.italic = true;
        else if (name == "underline") f.underline = true;
        else Expect(false, "unknown font style " + s.dump());
      }
    }
    return f;
  }

  int FontIndex(const FontSpec& f) {
    for (size_t k = 0; k < fonts_->size(); ++k)
      if ((*fonts_)[k] == f) return static_cast<int>(k);
    fonts_->push_back(f);
    return static_cast<int>(fonts_->size() - 1);
  }

  BandDesc Band(const Json& j, const std::string& kind, bool detail) {
    std::string saved = Where();
    Expect(j.is_object(), "a " + kind + " band must be an object");
    BandDesc b;
    if (detail) {
      Keys(j, {"id", "height", "page", "controls"});
      b.id = Text(j, "id");
      Expect(b.id.size() > 1 && b.id[0] == '?', "a detail band needs an id starting with \"?\"");
      Expect(IsIdentifier(WithoutMark(b.id)), "a detail band's id is a C++ name after its \"?\"");
      SetWhere(saved + " / " + b.id);
      std::string page = Text(j, "page");
      Expect(page.empty() || page == "before" || page == "after",
             "\"page\" is before or after");
      b.pageBefore = page == "before";
      b.pageAfter = page == "after";
    } else {
      Keys(j, {"height", "controls"});
      SetWhere(saved + " / " + kind);
    }
    Expect(j.contains("height"), "a band needs its \"height\"");
    b.height = Whole(j, "height", 0, 1, 100000);
    if (j.contains("controls")) {
      Expect(j["controls"].is_array(), "\"controls\" must be a list");
      int n = 0;
      for (const Json& c : j["controls"]) {
        std::string band = Where();
        SetWhere(band + " / control " + std::to_string(++n));
        b.controls.push_back(Control(c, b.height, detail));
        SetWhere(band);
      }
    }
    SetWhere(saved);
    return b;
  }

  ReportControlDesc Control(const Json& j, int bandHeight, bool detail) {
    Expect(j.is_object(), "a control must be an object");
    Keys(j, {"type", "at", "text", "use", "picture", "font", "align", "wrap", "pen"});
    ReportControlDesc c;
    std::string type = Text(j, "type");
    if (type == "label") c.type = ReportControlType::Label;
    else if (type == "field") c.type = ReportControlType::Field;
    else if (type == "pageno") c.type = ReportControlType::PageNo;
    else if (type == "line") c.type = ReportControlType::Line;
    else if (type == "box") c.type = ReportControlType::Box;
    else Expect(false, "unknown control type \"" + type + "\"");
    SetWhere(Where() + " (" + type + ")");

    Expect(j.contains("at"), "a control needs \"at\": [x, y, width, height]");
    std::vector<int> at = Numbers(j["at"], 4, 100000, "\"at\" must be [x, y, width, height]");
    c.x = at[0];
    c.y = at[1];
    c.width = at[2];
    c.height = at[3];
    Expect(c.x + c.width <= body_, "it reaches past the right margin");
    Expect(c.y + c.height <= bandHeight, "it reaches past the bottom of its band");

    bool text = c.type == ReportControlType::Label || c.type == ReportControlType::Field ||
                c.type == ReportControlType::PageNo;
    if (text) {
      Expect(c.width > 0 && c.height > 0, "a text needs a width and a height");
      Expect(!j.contains("pen"), "only lines and boxes have a pen");
      c.text = Text(j, "text");
      c.use = Text(j, "use");
      c.picture = Text(j, "picture");
      c.font = j.contains("font") ? FontIndex(Font(j["font"], (*fonts_)[0])) : 0;
      std::string align = Text(j, "align");
      if (align == "center") c.align = Align::Center;
      else if (align == "right") c.align = Align::Right;
      else Expect(align.empty() || align == "left", "\"align\" is left, center or right");
      if (j.contains("wrap")) {
        Expect(j["wrap"].is_boolean(), "\"wrap\" must be true or false");
        c.wrap = j["wrap"].get<bool>();
      }
      Expect(!c.wrap || detail, "only a detail band wraps text");
      Expect(!c.wrap || c.type != ReportControlType::PageNo, "a page number does not wrap");
    } else {
      for (const char* k : {"text", "use", "picture", "font", "align", "wrap"})
        Expect(!j.contains(k), std::string("a line or box has no \"") + k + "\"");
      c.pen = Whole(j, "pen", 10, 0, 1000);
      if (c.type == ReportControlType::Box)
        Expect(c.width > 0 && c.height > 0, "a box needs a width and a height");
    }
    switch (c.type) {
      case ReportControlType::Label:
        Expect(!c.text.empty(), "a label needs its \"text\"");
        Expect(c.use.empty() && c.picture.empty(), "a label has no \"use\" or \"picture\"");
        break;
      case ReportControlType::Field:
        Expect(!c.use.empty(), "a field needs the variable it shows in \"use\"");
        Expect(!c.picture.empty(), "a field needs a picture");
        Expect(c.text.empty(), "a field has no \"text\"");
        break;
      case ReportControlType::PageNo: {
        Expect(!c.picture.empty(), "a page number needs a picture");
        Expect(c.text.empty() && c.use.empty(), "a page number has no \"text\" or \"use\"");
        std::string_view p = c.picture;
        if (!p.empty() && p[0] == '@') p.remove_prefix(1);
        char k = p.empty() ? 0 : Upper(p[0]);
        Expect(k == 'P' || k == 'N', "a page number's picture is @p or @n");
        break;
      }
      default:
        break;
    }
    if (!c.picture.empty()) {
      std::string why;
      Expect(lang::CheckPicture(c.picture, &why),
             "picture \"" + platform::Cp1251ToUtf8(c.picture) + "\": " + why);
    }
    return c;
  }

  std::vector<FontSpec>* fonts_ = nullptr;
  int body_ = 0;
};

desc::Table<ReportDesc>& Registered() {
  static desc::Table<ReportDesc> t;
  return t;
}

}  // namespace

const BandDesc* ReportDesc::Detail(int n) const {
  if (n < 1 || static_cast<size_t>(n) > details.size()) return nullptr;
  return &details[static_cast<size_t>(n - 1)];
}

int ReportDesc::DetailNumber(std::string_view id) const {
  id = WithoutMark(id);
  for (size_t k = 0; k < details.size(); ++k)
    if (SameNoCase(WithoutMark(details[k].id), id)) return static_cast<int>(k + 1);
  return 0;
}

bool ParseReportDescs(std::string_view json, std::vector<ReportDesc>* out, std::string* why) {
  ReportReader reader;
  return desc::ParseList(json, [&](const nlohmann::json& j) { return reader.Report(j); }, out, why);
}

void RegisterReportDescs(std::string_view json) {
  std::vector<ReportDesc> reports;
  std::string why;
  if (!ParseReportDescs(json, &reports, &why)) {
    Halt(3, "A report description is faulty: " + platform::Utf8ToCp1251Lossy(why));
    return;
  }
  Registered().Add(std::move(reports), [](ReportDesc&) {});
}

const ReportDesc* FindReportDesc(std::string_view module, std::string_view name) {
  return Registered().Find(module, name);
}

}  // namespace korawin::ui::report
