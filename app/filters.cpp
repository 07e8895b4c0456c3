// The lexeme filters and their results.
//
// Each filter is a small window ("constructor") where the user gives fragments of the texts of
// one or more classifications, typed or chosen from their pick lists; "Отфильтровать" starts a
// list of the lexemes whose fields contain every fragment given, on a thread of its own. The
// list takes the fragments once, into locals bound for its filter expression, so several lists
// of one filter can stand side by side with the fragments of their own opening.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/app_windows.h"
#include "app/bound_controls.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "app/program.h"
#include "app/texts.h"
#include "framework/browse.h"
#include "framework/locator.h"
#include "framework/window_manager.h"
#include "lang/bind.h"
#include "storage/view/view.h"
#include "ui/runtime/window.h"

namespace korawin::app {

namespace {

using framework::Level;
using framework::LevelBenign;
using F = LexiconFile;
namespace M = modules;

constexpr uint8_t kSelectRequest = 4;

std::string_view TrimRight(std::string_view s) {
  size_t n = s.find_last_not_of(' ');
  return n == std::string_view::npos ? std::string_view() : s.substr(0, n + 1);
}

// A fragment global of the program.
struct Global {
  char* text;
  size_t size;
  std::string_view Clipped() const { return TrimRight(std::string_view(text, size)); }
  void Set(std::string_view value) const {
    const size_t n = std::min(value.size(), size);
    std::memcpy(text, value.data(), n);
    std::memset(text + n, ' ', size - n);
  }
};

// ---------------------------------------------------------------------------------------------
// The constructors.

// A fragment of a constructor: its entry and "..." button, its global, and where a typed text
// is looked up and chosen from.
struct Fragment {
  int entry;
  int pick;
  Global global;
  F file;
  const char* field;
  const char* key;
  int pickList;
};

struct ConstructorParts {
  const char* module;
  const char* window;
  int filter;  // "Отфильтровать"
  int result;  // the module it starts
  std::vector<Fragment> fragments;
};

class FilterConstructor : public framework::WindowManager {
 public:
  explicit FilterConstructor(ConstructorParts parts) : parts_(std::move(parts)) {}

  Level Init() override {
    if (Level level = WindowManager::Init()) return level;
    Errors = &ProgramErrors();
    if (!OpenWindow(parts_.module, parts_.window)) return framework::LevelFatal;
    for (const Fragment& f : parts_.fragments) {
      if (Level l = Access(f.file).Open()) return l;
      opened_.push_back(f.file);
    }
    UseBoundNames(*UiWindow());
    FirstField = parts_.fragments.front().entry;
    return LevelBenign;
  }

  Level Kill() override {
    Level l = WindowManager::Kill();
    for (F f : opened_) (void)Access(f).Close();  // 0
    opened_.clear();
    return l;
  }

  Level TakeAccepted() override {
    ui::Window* w = UiWindow();
    const int control = w->Field();
    for (const Fragment& f : parts_.fragments) {
      if (control == f.entry) {
        TellCut(*w, control);
        if (!f.global.Clipped().empty() && !Known(f) && !Choose(f)) w->Select(f.entry);
      } else if (control == f.pick) {
        Choose(f);
        w->Select(f.entry);
      }
    }
    if (control == parts_.filter) StartModule(parts_.result);
    return WindowManager::TakeAccepted();
  }

 private:
  // The fragment is the whole text of an entry of its classification.
  bool Known(const Fragment& f) {
    framework::FileManager& fm = Access(f.file);
    const uint16_t saved = fm.SaveBuffer();
    Declared(f.file).Clear();
    Declared(f.file).SetField(f.field, f.global.Clipped());
    const bool found = fm.TryFetch(KeyNumber(f.file, f.key)) == LevelBenign;
    fm.RestoreBuffer(saved, true);
    return found;
  }

  // The classification's pick list opens on the fragment; an entry chosen becomes the fragment
  // (as much of it as the fragment holds). False when none was chosen.
  bool Choose(const Fragment& f) {
    framework::FileManager& fm = Access(f.file);
    const uint16_t saved = fm.SaveBuffer();
    Declared(f.file).Clear();
    Declared(f.file).SetField(f.field, f.global.Clipped());
    framework::GlobalRequest = kSelectRequest;
    const bool chosen = CallModule(f.pickList, kSelectRequest) == framework::RequestCompleted;
    framework::GlobalRequest = 0;
    if (chosen) f.global.Set(TrimRight(Declared(f.file).Field(f.field)));
    fm.RestoreBuffer(saved, true);
    UiWindow()->Display(f.entry);
    return chosen;
  }

  ConstructorParts parts_;
  std::vector<F> opened_;
};

// ---------------------------------------------------------------------------------------------
// The results.

// A fragment as a result list keeps it: its text and length, bound under their names.
struct Local {
  const char* name;
  const char* lengthName;
  Global source;
};

struct ResultControls {
  int list, insert, change, erase, sample, toggleMark, clearMarks, message;
};

struct ResultParts {
  const char* module;
  const char* window;
  ResultControls c;
  std::vector<Local> locals;
  const char* filter;
};

// Re-reads the card by its key, flips its mark and writes it back, as one transaction.
void ToggleMark() {
  framework::FileManager& fm = Access(F::kSlovo);
  DeclaredFile& card = Declared(F::kSlovo);
  if (fm.TryFetch(KeyNumber(F::kSlovo, "K_SLO")) != LevelBenign) return;
  card.SetField("METKA", card.Field("METKA")[0] == '*' ? " " : "*");
  framework::TransactionFrame frame;
  if (frame.Begin({&fm}, false) != LevelBenign) return;
  if (fm.TryUpdate() != LevelBenign) {
    frame.Rollback();
    return;
  }
  (void)frame.Commit(framework::RecordNotUpdated, false);  // a mark's write is not reported
}

// Takes the mark off every marked card, SLOVO read in file order, as one transaction.
void ClearAllMarks() {
  framework::FileManager& fm = Access(F::kSlovo);
  DeclaredFile& card = Declared(F::kSlovo);
  fm.SaveFile();
  framework::TransactionFrame frame;
  if (frame.Begin({&fm}, false) == LevelBenign && fm.TrySetOrder(0, false) == LevelBenign) {
    bool failed = false;
    while (!failed && fm.TryNext() == LevelBenign) {
      if (card.Field("METKA")[0] != '*') continue;
      card.SetField("METKA", " ");
      failed = fm.TryUpdate() != LevelBenign;
    }
    if (failed) {
      frame.Rollback();
    } else {
      (void)frame.Commit(framework::RecordNotUpdated, false);  // marks' writes are not reported
    }
  }
  fm.RestoreFile();
}

class FilterResult : public framework::WindowManager {
 public:
  explicit FilterResult(ResultParts parts) : parts_(std::move(parts)) {}

  Level Init() override {
    if (Level level = WindowManager::Init()) return level;
    Errors = &ProgramErrors();
    // The fragments as they stand now, in locals of this window's own scope of names.
    values_.assign(parts_.locals.size(), {});
    for (size_t i = 0; i < parts_.locals.size(); ++i) {
      Value& v = values_[i];
      std::memset(v.text, ' ', sizeof v.text);
      const std::string_view fragment = parts_.locals[i].source.Clipped();
      std::memcpy(v.text, fragment.data(), std::min(fragment.size(), sizeof v.text));
      v.length = static_cast<int16_t>(fragment.size());
      lang::BIND(parts_.locals[i].name, lang::Variable::String(v.text, sizeof v.text));
      lang::BIND(parts_.locals[i].lengthName, lang::Variable::Of(&v.length));
    }
    if (!OpenWindow(parts_.module, parts_.window)) return framework::LevelFatal;
    ui::Window* w = UiWindow();
    UseBoundNames(*w);
    if (Level l = Relate(F::kSlovo).Open()) return l;
    opened_ = true;

    storage::ViewDeclaration decl;
    decl.primary = &Declared(F::kSlovo).fd();
    view_ = std::make_unique<storage::View>(decl);
    browse_.Init(parts_.c.list, *view_, Relate(F::kSlovo), this);
    browse_.AddSortOrder(KeyNumber(F::kSlovo, "K_SLO"));
    browse_.SetFilter(parts_.filter);
    for (const char* field : {"METKA", "I_VERB", "NAME", "DATE"})
      browse_.AddField(FieldNumber(F::kSlovo, field) - 1);
    locator_.Init(browse_, FieldOf("I_VERB"));
    browse_.AddLocator(locator_);
    browse_.InsertControl = parts_.c.insert;
    browse_.ChangeControl = parts_.c.change;
    browse_.DeleteControl = parts_.c.erase;
    browse_.AskProcedure = 1;
    FirstField = parts_.c.list;
    return LevelBenign;
  }

  Level Kill() override {
    Level l = WindowManager::Kill();
    if (opened_) (void)Relate(F::kSlovo).Close();  // 0
    opened_ = false;
    return l;
  }

  // The card of the lexeme list.
  uint8_t RunProcedure(int number, uint8_t request) override {
    return number == 1 ? CallModule(M::kCardForm041, request) : 0;
  }

  Level TakeEvent() override {
    Level l = WindowManager::TakeEvent();
    ui::Window* w = UiWindow();
    if (w && !w->Closed())
      w->SetText(parts_.c.message, browse_.HasRows() ? std::string() : Ansi("Таких лексем нет"));
    return l;
  }

  Level TakeAccepted() override {
    const int control = UiWindow()->Field();
    ProgramGlobals& g = Glo();
    if (control == parts_.c.insert) Assign(g.cardAction, "add");
    if (control == parts_.c.change) Assign(g.cardAction, "chn");
    if (control == parts_.c.erase) Assign(g.cardAction, "del");
    if (control == parts_.c.sample && browse_.UpdateBuffer() == LevelBenign) {
      CallModule(M::kCardForm038, 0);
      (void)browse_.ResetQueue(framework::ResetReload);  // its failures are reported where they happen
    }
    if (control == parts_.c.toggleMark && browse_.UpdateBuffer() == LevelBenign) {
      ToggleMark();
      (void)browse_.ResetQueue(framework::ResetReload);  // its failures are reported where they happen
    }
    if (control == parts_.c.clearMarks) {
      ClearAllMarks();
      (void)browse_.ResetQueue(framework::ResetReload);  // its failures are reported where they happen
    }
    return WindowManager::TakeAccepted();
  }

 private:
  lang::Variable FieldOf(const char* name) const {
    const storage::FieldDescriptor& f =
        Declared(F::kSlovo).fd().fields[static_cast<size_t>(FieldNumber(F::kSlovo, name) - 1)];
    return lang::Variable::Field(f.type, Declared(F::kSlovo).fd().record + f.offset, f.size);
  }

  struct Value {
    char text[40];
    int16_t length = 0;
  };

  ResultParts parts_;
  std::vector<Value> values_;
  std::unique_ptr<storage::View> view_;
  framework::BrowseClass browse_;
  framework::IncrementalLocatorClass locator_;
  bool opened_ = false;
};

// ---------------------------------------------------------------------------------------------
// The five filters.

Global G(char* text, size_t size) { return {text, size}; }

// The controls of a result list, which all five number after their own fragments.
#define KORAWIN_RESULT_CONTROLS(R)                                                                \
  ResultControls {                                                                                \
    R::List, R::Insert, R::Change, R::Delete, R::Sample, R::ToggleMark, R::ClearMarks, R::Message \
  }

void Both(int constructor, const ConstructorParts& c, int result, const ResultParts& r) {
  RegisterStarted(constructor, [c] {
    FilterConstructor w(c);
    w.Run();
  });
  RegisterStarted(result, [r] {
    FilterResult w(r);
    w.Run();
  });
}

}  // namespace

void RegisterFilterProcedures() {
  ProgramGlobals& g = Glo();
  const Global tkat = G(g.frTkat, sizeof g.frTkat), tema = G(g.frTema, sizeof g.frTema),
               rol = G(g.frRol, sizeof g.frRol), tcl = G(g.frTcl, sizeof g.frTcl),
               k4 = G(g.frK4, sizeof g.frK4), k6 = G(g.frK6, sizeof g.frK6),
               k81 = G(g.frK81, sizeof g.frK81), k82 = G(g.frK82, sizeof g.frK82);
  {
    namespace C = ids::RoleFilter;
    namespace R = ids::RoleFilterList;
    Both(M::kRoleFilter,
         {C::kModule,
          C::kWindow,
          C::Filter,
          M::kRoleFilterList,
          {{C::FrRol, C::PickRol, rol, F::kAk2, "A", "BY_A", M::kRolePick}}},
         M::kRoleFilterList,
         {R::kModule,
          R::kWindow,
          KORAWIN_RESULT_CONTROLS(R),
          {{"L:Rol", "L:LenRol", rol}},
          "((L:LenRol=0 or(instring(clip(L:rol),slo:act41,1)<>0)or(instring(clip(L:rol),slo:act42,"
          "1)<>0)or(instring(clip(L:rol),slo:act43,1)<>0)or(instring(clip(L:rol),slo:act44,1)<>0)"
          "or(instring(clip(L:rol),slo:act45,1)<>0)))"});
  }
  {
    namespace C = ids::TClassFilter;
    namespace R = ids::TClassFilterList;
    Both(M::kTClassFilter,
         {C::kModule,
          C::kWindow,
          C::Filter,
          M::kTClassFilterList,
          {{C::FrTcl, C::PickTcl, tcl, F::kAk3, "A", "BY_A", M::kTClassPick}}},
         M::kTClassFilterList,
         {R::kModule,
          R::kWindow,
          KORAWIN_RESULT_CONTROLS(R),
          {{"L:Rol", "L:LenRol", rol}, {"L:Tcl", "L:LenTcl", tcl}},
          "((L:LenTcl=0 or(instring(clip(L:Tcl),slo:act51,1)<>0)or(instring(clip(L:Tcl),slo:act52,"
          "1)<>0)or(instring(clip(L:Tcl),slo:act53,1)<>0)or(instring(clip(L:Tcl),slo:act54,1)<>0)"
          "or(instring(clip(L:Tcl),slo:act55,1)<>0)))"});
  }
  {
    namespace C = ids::ExplicationFilter;
    namespace R = ids::ExplicationFilterList;
    Both(M::kExplicationFilter,
         {C::kModule,
          C::kWindow,
          C::Filter,
          M::kExplicationFilterList,
          {{C::FrK4, C::PickK4, k4, F::kP4, "F", "K_P_4", M::kK4Pick},
           {C::FrK6, C::PickK6, k6, F::kP7, "F", "K_P_7", M::kK6Pick},
           {C::FrK81, C::PickK81, k81, F::kP8b, "F", "K_P8B", M::kK81Pick},
           {C::FrK82, C::PickK82, k82, F::kP8e, "F", "K_P8E", M::kK82Pick}}},
         M::kExplicationFilterList,
         {R::kModule,
          R::kWindow,
          KORAWIN_RESULT_CONTROLS(R),
          {{"L:T4", "L:LenT4", k4},
           {"L:T6", "L:LenT6", k6},
           {"L:T81", "L:lenT81", k81},
           {"L:T82", "L:lenT82", k82}},
          "((L:LenT4=0 or instring(clip(L:T4),slo:V_4,1)<>0)and(L:LenT6=0 or "
          "instring(clip(L:T6),slo:V_7,1)<>0)and(L:LenT81=0 or instring(clip(L:T81),slo:V8B,1)<>0)"
          "and(L:LenT82=0 or instring(clip(L:T82),slo:V8E,1)<>0))"});
  }
  {
    namespace C = ids::TaxThemeFilter;
    namespace R = ids::TaxThemeFilterList;
    Both(M::kTaxThemeFilter,
         {C::kModule,
          C::kWindow,
          C::Filter,
          M::kTaxThemeFilterList,
          {{C::FrTkat, C::PickTkat, tkat, F::kTax, "T", "TAX_K", M::kTaxPick},
           {C::FrTema, C::PickTema, tema, F::kTema, "T", "K_T", M::kThemePick}}},
         M::kTaxThemeFilterList,
         {R::kModule,
          R::kWindow,
          KORAWIN_RESULT_CONTROLS(R),
          {{"L:Tkat", "L:LenTkat", tkat}, {"L:Tema", "L:LenTema", tema}},
          "((L:LenTkat=0 or instring(clip(L:Tkat),slo:IV,1)<>0)and(L:LenTema=0 or "
          "instring(clip(L:Tema),slo:Tema,1)<>0))"});
  }
  {
    namespace C = ids::ThemeK82Filter;
    namespace R = ids::ThemeK82FilterList;
    Both(M::kThemeK82Filter,
         {C::kModule,
          C::kWindow,
          C::Filter,
          M::kThemeK82FilterList,
          {{C::FrTema, C::PickTema, tema, F::kTema, "T", "K_T", M::kThemePick},
           {C::FrK82, C::PickK82, k82, F::kP8e, "F", "K_P8E", M::kK82Pick}}},
         M::kThemeK82FilterList,
         {R::kModule,
          R::kWindow,
          KORAWIN_RESULT_CONTROLS(R),
          {{"L:Tema", "L:LenTema", tema}, {"L:T82", "L:lenT82", k82}},
          "((L:LenTema=0 or instring(clip(L:Tema),slo:Tema,1)<>0)and(L:LenT82=0 or "
          "instring(clip(L:T82),slo:V8E,1)<>0))"});
  }
}

}  // namespace korawin::app
