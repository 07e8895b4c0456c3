#include "ui/desc/desc_json.h"

#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>

#include "lang/picture.h"
#include "platform/codepage.h"
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

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

std::string_view WithoutMark(std::string_view id) {
  if (!id.empty() && id[0] == '?') id.remove_prefix(1);
  return id;
}

// Reads one description; a fault throws Fault, caught at the top.
struct Fault {
  std::string why;
};

class Reader {
 public:
  WindowDesc Window(const Json& j) {
    WindowDesc w;
    where_ = "window";
    Expect(j.is_object(), "a window must be an object");
    Keys(j, {"module", "window", "cname", "kind", "modal", "resizable", "caption", "icon", "font",
             "help", "helptext", "size", "status", "menu", "toolbar", "controls"});
    w.module = Text(j, "module");
    w.name = Text(j, "window");
    where_ = w.module + " / " + w.name;
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

  [[noreturn]] void Throw(const std::string& why) { throw Fault{where_ + ": " + why}; }
  void Expect(bool ok, const std::string& why) {
    if (!ok) Throw(why);
  }

  static bool IsIdentifier(std::string_view s) {
    if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
    for (char c : s)
      if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
        return false;
    return true;
  }

  void Keys(const Json& j, std::initializer_list<const char*> allowed) {
    for (auto it = j.begin(); it != j.end(); ++it) {
      bool known = false;
      for (const char* a : allowed) known = known || it.key() == a;
      Expect(known, "unknown key \"" + it.key() + "\"");
    }
  }

  std::string Text(const Json& j, const char* key) {
    if (!j.contains(key)) return {};
    Expect(j[key].is_string(), std::string("\"") + key + "\" must be a text");
    std::string utf8 = j[key].get<std::string>();
    size_t bad = 0;
    auto text = platform::Utf8ToCp1251(utf8, &bad);
    Expect(text.has_value(), std::string("\"") + key + "\" holds a character Windows-1251 lacks"
                                 " (at byte " + std::to_string(bad) + ")");
    return *text;
  }

  bool Bool(const Json& j, const char* key, bool dflt) {
    if (!j.contains(key)) return dflt;
    Expect(j[key].is_boolean(), std::string("\"") + key + "\" must be true or false");
    return j[key].get<bool>();
  }

  int Int(const Json& j, const char* key) {
    if (!j.contains(key)) return 0;
    Expect(j[key].is_number_integer() && j[key].get<int>() >= 0,
           std::string("\"") + key + "\" must be a whole number");
    return j[key].get<int>();
  }

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
    std::string saved = where_;
    std::string label = c.id.empty() ? type + " \"" + Text(j, "text") + "\"" : c.id;
    where_ = saved + " / " + platform::Cp1251ToUtf8(label);
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
    c.width = Int(j, "width");
    c.height = Int(j, "height");
    c.lines = Int(j, "lines");
    c.stretch = Int(j, "stretch");
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
    where_ = saved;
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

  std::string where_;
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

struct Table {
  std::mutex mu;
  std::deque<WindowDesc> windows;  // stable addresses
};

Table& Registered() {
  static Table t;
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
  out->clear();
  Json doc = Json::parse(json.begin(), json.end(), nullptr, false);
  if (doc.is_discarded()) {
    if (why) *why = "not valid JSON";
    return false;
  }
  try {
    Reader r;
    if (doc.is_array()) {
      for (const Json& w : doc) out->push_back(r.Window(w));
    } else {
      out->push_back(r.Window(doc));
    }
  } catch (const Fault& f) {
    if (why) *why = f.why;
    return false;
  }
  return true;
}

void RegisterWindowDescs(std::string_view json) {
  std::vector<WindowDesc> windows;
  std::string why;
  if (!ParseWindowDescs(json, &windows, &why)) {
    Halt(3, "A window description is faulty: " + platform::Utf8ToCp1251Lossy(why));
    return;
  }
  Table& t = Registered();
  std::lock_guard<std::mutex> lock(t.mu);
  for (WindowDesc& w : windows) {
    bool known = false;
    for (const WindowDesc& old : t.windows)
      known = known || (SameNoCase(old.module, w.module) && SameNoCase(old.name, w.name));
    if (known) continue;  // registered before: descriptions handed out stay as they are
    t.windows.push_back(std::move(w));
    t.windows.back().BuildIndex();
  }
}

const WindowDesc* FindWindowDesc(std::string_view module, std::string_view name) {
  Table& t = Registered();
  std::lock_guard<std::mutex> lock(t.mu);
  for (const WindowDesc& w : t.windows)
    if (SameNoCase(w.module, module) && SameNoCase(w.name, name)) return &w;
  return nullptr;
}

std::vector<const WindowDesc*> AllWindowDescs() {
  Table& t = Registered();
  std::lock_guard<std::mutex> lock(t.mu);
  std::vector<const WindowDesc*> out;
  for (const WindowDesc& w : t.windows) out.push_back(&w);
  return out;
}

}  // namespace korawin::ui
