#include "ui/desc/desc_json.h"

#include <set>

#include "lang/picture.h"
#include "platform/codepage.h"
#include "ui/desc/desc_reader.h"
#include "ui/halt.h"

namespace korawin::ui {

namespace {

using Json = nlohmann::json;

struct Names {
  ControlType type;
  const char* name;
};
constexpr Names kTypeNames[] = {
    {ControlType::Prompt, "prompt"},   {ControlType::Entry, "entry"},
    {ControlType::TextBox, "textbox"}, {ControlType::Button, "button"},
    {ControlType::Check, "check"},     {ControlType::Option, "option"},
    {ControlType::Radio, "radio"},     {ControlType::Spin, "spin"},
    {ControlType::List, "list"},       {ControlType::Sheet, "sheet"},
    {ControlType::Tab, "tab"},         {ControlType::Group, "group"},
    {ControlType::Progress, "progress"}, {ControlType::Image, "image"},
    {ControlType::Display, "display"}, {ControlType::Menu, "menu"},
    {ControlType::Item, "item"},       {ControlType::Separator, "separator"},
    {ControlType::Row, "row"},         {ControlType::Column, "column"},
    {ControlType::Form, "form"},       {ControlType::Stretch, "stretch"},
};

struct StdNames {
  StdAction action;
  const char* name;
};
constexpr StdNames kStdNames[] = {
    {StdAction::None, ""},           {StdAction::Close, "close"},
    {StdAction::Cut, "cut"},         {StdAction::Copy, "copy"},
    {StdAction::Paste, "paste"},     {StdAction::TileWindow, "tile"},
    {StdAction::CascadeWindow, "cascade"}, {StdAction::ArrangeIcons, "arrange"},
    {StdAction::WindowList, "windowlist"}, {StdAction::HelpIndex, "helpindex"},
    {StdAction::HelpSearch, "helpsearch"}, {StdAction::HelpOnHelp, "helponhelp"},
    {StdAction::Help, "help"},
};

struct FlagNames {
  uint32_t flag;
  const char* name;
};
constexpr FlagNames kFlagNames[] = {
    {kFlagDisabled, "disabled"}, {kFlagHidden, "hidden"},       {kFlagReadOnly, "readonly"},
    {kFlagDefault, "default"},   {kFlagSkip, "skip"},           {kFlagImmediate, "immediate"},
    {kFlagChecked, "checked"},   {kFlagUpper, "upper"},         {kFlagPassword, "password"},
    {kFlagVScroll, "vscroll"},   {kFlagHScroll, "hscroll"},     {kFlagDrop, "drop"},
};

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

using desc::IsIdentifier;
using desc::SameNoCase;
using desc::WithoutMark;

// Reads one description; a fault throws desc::Fault, caught at the top.
class WindowReader : public desc::Reader {
 public:
  WindowDesc Window(const Json& j) {
    WindowDesc w;
    SetWhere("window");
    Expect(j.is_object(), "a window must be an object");
    Keys(j, {"module", "window", "cname", "kind", "modal", "resizable", "caption", "icon", "font",
             "help", "helptext", "size", "status", "menu", "toolbar", "controls"});
    w.module = Text(j, "module");
    w.name = Text(j, "window");
    SetWhere(w.module + " / " + w.name);
    Expect(!w.module.empty() && !w.name.empty(), "a window needs \"module\" and \"window\"");
    w.cname = Text(j, "cname");
    if (!w.cname.empty()) Expect(IsIdentifier(w.cname), "\"cname\" must be a C++ name");
    std::string kind = Text(j, "kind");
    if (kind.empty() || kind == "child") w.kind = WindowDesc::Kind::Child;
    else if (kind == "frame") w.kind = WindowDesc::Kind::Frame;
    else if (kind == "dialog") w.kind = WindowDesc::Kind::Dialog;
    else Expect(false, "unknown kind \"" + kind + "\"");
    w.modal = Bool(j, "modal", false);
    w.resizable = Bool(j, "resizable", true);
    w.caption = Text(j, "caption");
    w.icon = Text(j, "icon");
    w.font = Text(j, "font");
    w.help = Text(j, "help");
    w.helpText = Text(j, "helptext");
    if (j.contains("size")) {
      const Json& s = j["size"];
      Expect(s.is_array() && s.size() == 2 && s[0].is_number_integer() &&
                 s[1].is_number_integer(), "\"size\" must be [width, height]");
      w.width = s[0].get<int>();
      w.height = s[1].get<int>();
    }
    if (j.contains("status")) {
      Expect(j["status"].is_array(), "\"status\" must list the zone widths");
      for (const Json& z : j["status"]) {
        Expect(z.is_number_integer(), "\"status\" must list the zone widths");
        w.statusZones.push_back(z.get<int>());
      }
    }
    feq_ = 0;
    ids_.clear();
    if (j.contains("menu")) w.menu = Controls(j["menu"], Context::MenuBar);
    if (j.contains("toolbar")) w.toolbar = Controls(j["toolbar"], Context::Toolbar);
    if (j.contains("controls")) w.controls = Controls(j["controls"], Context::Body);
    w.controlCount = feq_;
    return w;
  }

 private:
  enum class Context { Body, MenuBar, Menu, Toolbar, Sheet, Option };

  std::vector<ControlDesc> Controls(const Json& list, Context ctx) {
    Expect(list.is_array(), "controls must be a list");
    std::vector<ControlDesc> out;
    for (const Json& c : list) out.push_back(Control(c, ctx));
    return out;
  }

  ControlDesc Control(const Json& j, Context ctx) {
    Expect(j.is_object(), "a control must be an object");
    Keys(j, {"type", "id", "text", "use", "picture", "tip", "status", "icon", "key", "font",
             "flags", "std", "width", "height", "lines", "stretch", "range", "step", "format",
             "controls"});
    ControlDesc c;
    std::string type = Text(j, "type");
    Expect(ControlTypeFromName(type, &c.type), "unknown control type \"" + type + "\"");
    c.id = Text(j, "id");
    std::string saved = Where();
    std::string label = c.id.empty() ? type + " \"" + Text(j, "text") + "\"" : c.id;
    SetWhere(saved + " / " + label);
    CheckPlace(c.type, ctx);
    if (!c.id.empty()) {
      Expect(c.id[0] == '?' && c.id.size() > 1, "an id starts with \"?\"");
      std::string key;
      for (char ch : WithoutMark(c.id)) key.push_back(Upper(ch));
      Expect(ids_.insert(key).second, "id used twice in the window");
      Expect(!IsLayoutType(c.type), "a layout has no id");
    }
    c.text = Text(j, "text");
    c.use = Text(j, "use");
    c.picture = Text(j, "picture");
    c.tip = Text(j, "tip");
    c.status = Text(j, "status");
    c.icon = Text(j, "icon");
    c.key = Text(j, "key");
    c.font = Text(j, "font");
    if (j.contains("flags")) {
      Expect(j["flags"].is_array(), "\"flags\" must be a list");
      for (const Json& f : j["flags"]) {
        Expect(f.is_string(), "a flag is a name");
        bool known = false;
        for (const FlagNames& n : kFlagNames) {
          if (f.get<std::string>() == n.name) {
            c.flags |= n.flag;
            known = true;
          }
        }
        Expect(known, "unknown flag \"" + f.get<std::string>() + "\"");
      }
    }
    std::string std = Text(j, "std");
    Expect(StdActionFromName(std, &c.std), "unknown standard action \"" + std + "\"");
    c.width = Whole(j, "width", 0, 0, 100000);
    c.height = Whole(j, "height", 0, 0, 100000);
    c.lines = Whole(j, "lines", 0, 0, 100000);
    c.stretch = Whole(j, "stretch", 0, 0, 100000);
    if (j.contains("range")) {
      const Json& r = j["range"];
      Expect(r.is_array() && r.size() == 2 && r[0].is_number() && r[1].is_number() &&
                 r[0].get<double>() <= r[1].get<double>(),
             "\"range\" must be [low, high]");
      c.low = r[0].get<double>();
      c.high = r[1].get<double>();
    }
    if (j.contains("step")) {
      Expect(j["step"].is_number() && j["step"].get<double>() > 0, "\"step\" must be positive");
      c.step = j["step"].get<double>();
    }
    if (!c.picture.empty()) {
      std::string why;
      Expect(lang::CheckPicture(c.picture, &why), "picture \"" + c.picture + "\": " + why);
    }
    c.format = Text(j, "format");
    if (c.type == ControlType::List) {
      std::string why;
      Expect(!c.format.empty(), "a list needs its column format");
      Expect(ParseListFormat(c.format, &c.columns, &why), "list format: " + why);
    } else {
      Expect(c.format.empty(), "only a list has a column format");
    }
    if (c.type == ControlType::Entry || c.type == ControlType::Display ||
        c.type == ControlType::Spin) {
      Expect(!c.picture.empty(), "an entry, spin or display field needs a picture");
    }
    if (!IsLayoutType(c.type) && c.type != ControlType::Separator) c.feq = ++feq_;
    bool holds = j.contains("controls");
    switch (c.type) {
      case ControlType::Sheet: c.children = Controls(Need(j), Context::Sheet); break;
      case ControlType::Option: c.children = Controls(Need(j), Context::Option); break;
      case ControlType::Menu: c.children = Controls(Need(j), Context::Menu); break;
      case ControlType::Tab:
      case ControlType::Group:
      case ControlType::Row:
      case ControlType::Column:
      case ControlType::Form:
        if (holds) c.children = Controls(j["controls"], Context::Body);
        break;
      default:
        Expect(!holds, "this control holds no others");
    }
    if (c.type == ControlType::Form) {
      Expect(c.children.size() % 2 == 0, "a form holds pairs of a label and a field");
    }
    SetWhere(saved);
    return c;
  }

  const Json& Need(const Json& j) {
    Expect(j.contains("controls") && j["controls"].is_array() && !j["controls"].empty(),
           "it needs its \"controls\"");
    return j["controls"];
  }

  void CheckPlace(ControlType t, Context ctx) {
    switch (ctx) {
      case Context::MenuBar:
        Expect(t == ControlType::Menu || t == ControlType::Item, "the menu bar holds menus");
        return;
      case Context::Menu:
        Expect(t == ControlType::Menu || t == ControlType::Item || t == ControlType::Separator,
               "a menu holds items, separators and menus");
        return;
      case Context::Sheet:
        Expect(t == ControlType::Tab, "a sheet holds tabs");
        return;
      case Context::Option:
        Expect(t == ControlType::Radio, "an option holds radios");
        return;
      case Context::Toolbar:
      case Context::Body:
        Expect(t != ControlType::Menu && t != ControlType::Item && t != ControlType::Separator &&
                   t != ControlType::Tab && t != ControlType::Radio,
               "this control belongs in a menu, sheet or option");
        return;
    }
  }

  int feq_ = 0;
  std::set<std::string> ids_;
};

void IndexControls(const ControlDesc& c, std::vector<const ControlDesc*>* out) {
  if (c.feq > 0) {
    if (static_cast<size_t>(c.feq) > out->size()) out->resize(static_cast<size_t>(c.feq));
    (*out)[static_cast<size_t>(c.feq - 1)] = &c;
  }
  for (const ControlDesc& k : c.children) IndexControls(k, out);
}

desc::Table<WindowDesc>& Registered() {
  static desc::Table<WindowDesc> t;
  return t;
}

}  // namespace

std::string_view ControlTypeName(ControlType type) {
  for (const Names& n : kTypeNames)
    if (n.type == type) return n.name;
  return "?";
}

bool ControlTypeFromName(std::string_view name, ControlType* type) {
  for (const Names& n : kTypeNames) {
    if (name == n.name) {
      *type = n.type;
      return true;
    }
  }
  return false;
}

bool IsLayoutType(ControlType type) {
  return type == ControlType::Row || type == ControlType::Column || type == ControlType::Form ||
         type == ControlType::Stretch;
}

std::string_view StdActionName(StdAction a) {
  for (const StdNames& n : kStdNames)
    if (n.action == a) return n.name;
  return "";
}

bool StdActionFromName(std::string_view name, StdAction* a) {
  for (const StdNames& n : kStdNames) {
    if (name == n.name) {
      *a = n.action;
      return true;
    }
  }
  return false;
}

const ControlDesc* WindowDesc::Control(int feq) const {
  if (feq < 1 || feq > controlCount) return nullptr;
  if (index_.v.size() == static_cast<size_t>(controlCount)) {
    return index_.v[static_cast<size_t>(feq - 1)];
  }
  return Numbered()[static_cast<size_t>(feq - 1)];
}

void WindowDesc::BuildIndex() { index_.v = Numbered(); }

int WindowDesc::Feq(std::string_view id) const {
  id = WithoutMark(id);
  for (const ControlDesc* c : Numbered())
    if (c && SameNoCase(WithoutMark(c->id), id) && !c->id.empty()) return c->feq;
  return 0;
}

std::vector<const ControlDesc*> WindowDesc::Numbered() const {
  std::vector<const ControlDesc*> out(static_cast<size_t>(controlCount), nullptr);
  for (const ControlDesc& c : menu) IndexControls(c, &out);
  for (const ControlDesc& c : toolbar) IndexControls(c, &out);
  for (const ControlDesc& c : controls) IndexControls(c, &out);
  return out;
}

bool ParseWindowDescs(std::string_view json, std::vector<WindowDesc>* out, std::string* why) {
  WindowReader reader;
  return desc::ParseList(json, [&](const nlohmann::json& j) { return reader.Window(j); }, out, why);
}

void RegisterWindowDescs(std::string_view json) {
  std::vector<WindowDesc> windows;
  std::string why;
  if (!ParseWindowDescs(json, &windows, &why)) {
    Halt(3, "A window description is faulty: " + platform::Utf8ToCp1251Lossy(why));
    return;
  }
  Registered().Add(std::move(windows), [](WindowDesc& w) { w.BuildIndex(); });
}

const WindowDesc* FindWindowDesc(std::string_view module, std::string_view name) {
  return Registered().Find(module, name);
}

std::vector<const WindowDesc*> AllWindowDescs() { return Registered().All(); }

}  // namespace korawin::ui
