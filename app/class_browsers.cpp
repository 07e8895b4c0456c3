// The classification browsers: each vocabulary's entries with the lexemes that use the
// highlighted one, their fragment twins, the participant lists with their lexeme windows, the
// one-field entry forms and the pick lists the card form calls.
#include <string>
#include <vector>

#include "app/app_windows.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/list_window.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "app/program.h"
#include "app/texts.h"
#include "framework/locator.h"
#include "lang/bind.h"
#include "ui/runtime/window.h"

namespace korawin::app {

namespace {

using framework::Level;
using framework::LevelBenign;
using F = LexiconFile;

void SetCardAction(std::string_view action) { Assign(Glo().cardAction, action); }

// The buffer of a field as a text, trailing blanks kept.
std::string FieldText(LexiconFile file, std::string_view name) {
  return std::string(Declared(file).Field(name));
}

// ---------------------------------------------------------------------------------------------
// The two-pane browsers and their fragment twins. Every window of the family numbers its
// controls as the theme browser does, so one class serves them all.

namespace T = ids::ThemeBrowser;
#define SAME_CONTROLS(NS)                                                                       \
  static_assert(ids::NS::EntryList == T::EntryList && ids::NS::Insert == T::Insert &&          \
                ids::NS::Change == T::Change && ids::NS::Delete == T::Delete &&                \
                ids::NS::EntryCount == T::EntryCount && ids::NS::LexemeList == T::LexemeList && \
                ids::NS::InsertLexeme == T::InsertLexeme &&                                    \
                ids::NS::ChangeLexeme == T::ChangeLexeme &&                                    \
                ids::NS::DeleteLexeme == T::DeleteLexeme &&                                    \
                ids::NS::LexemeCount == T::LexemeCount && ids::NS::Fragment == T::Fragment &&  \
                ids::NS::Filter == T::Filter && ids::NS::Close == T::Close)
SAME_CONTROLS(ThemeFragmentBrowser);
SAME_CONTROLS(TaxBrowser);
SAME_CONTROLS(TaxFragmentBrowser);
SAME_CONTROLS(K4Browser);
SAME_CONTROLS(K4FragmentBrowser);
SAME_CONTROLS(K6Browser);
SAME_CONTROLS(K6FragmentBrowser);
SAME_CONTROLS(K81Browser);
SAME_CONTROLS(K81FragmentBrowser);
SAME_CONTROLS(K82Browser);
SAME_CONTROLS(K82FragmentBrowser);
#undef SAME_CONTROLS

struct TwoPaneSpec {
  const char* module;
  LexiconFile entryFile;
  const char* entryKey;
  const char* entryField;
  const char* lexemeKey;   // the child key of the relation
  const char* linkField;   // the card's field that holds the entry's text
  int entryForm;           // update form of the entries; 0: none
  bool cards;              // the lexeme pane opens cards
  const char* filter;      // the twin's entry filter; nullptr: the browser itself
  int twin;                // started by "Отфильтровать"
  bool k4;                 // "Открыть" sets LexemeHead and "chn" rather than "Chn"
  bool resetOnLexeme;      // the lexeme pane also reloads when SLO:I_VERB changes
};

namespace M = modules;
const TwoPaneSpec kThemeBrowser{ids::ThemeBrowser::kModule, F::kTema, "K_T", "T", "BY_TEMA",
                                "TEMA", M::kThemeForm, true, nullptr, M::kThemeFragmentBrowser,
                                false, false};
const TwoPaneSpec kThemeTwin{ids::ThemeFragmentBrowser::kModule, F::kTema, "K_T", "T", "BY_TEMA",
                             "TEMA", M::kThemeForm, true,
                             "(clip(glo:fr1)='' or instring(clip(glo:fr1),tem:t ,1)<>0)",
                             M::kThemeFragmentBrowser, false, false};
const TwoPaneSpec kTaxBrowser{ids::TaxBrowser::kModule, F::kTax, "TAX_K", "T", "BY_TAX", "IV",
                              M::kTaxForm, true, nullptr, M::kTaxFragmentBrowser, false, false};
const TwoPaneSpec kTaxTwin{ids::TaxFragmentBrowser::kModule, F::kTax, "TAX_K", "T", "BY_TAX", "IV",
                           M::kTaxForm, true,
                           "(clip(glo:fr1)='' or instring(clip(glo:fr1),tax:T,1)<>0)",
                           M::kTaxFragmentBrowser, false, false};
const TwoPaneSpec kK4Browser{ids::K4Browser::kModule, F::kP4, "K_P_4", "F", "BY_V4", "V_4",
                             M::kK4Form, true, nullptr, M::kK4FragmentBrowser, true, false};
const TwoPaneSpec kK4Twin{ids::K4FragmentBrowser::kModule, F::kP4, "K_P_4", "F", "BY_V4", "V_4", 0,
                          true, "(clip(glo:fr1)='' or instring(clip(glo:fr1),p_4:f,1)<>0)",
                          M::kK4FragmentBrowser, true, false};
const TwoPaneSpec kK6Browser{ids::K6Browser::kModule, F::kP7, "K_P_7", "F", "BY_V7", "V_7",
                             M::kK6Form, true, nullptr, M::kK6FragmentBrowser, false, false};
const TwoPaneSpec kK6Twin{ids::K6FragmentBrowser::kModule, F::kP7, "K_P_7", "F", "BY_V7", "V_7", 0,
                          true, "(clip(glo:fr1)='' or instring(clip(glo:fr1),p_7:f,1)<>0)",
                          M::kK6FragmentBrowser, false, false};
const TwoPaneSpec kK81Browser{ids::K81Browser::kModule, F::kP8b, "K_P8B", "F", "BY_V8B", "V8B", 0,
                              true, nullptr, M::kK81FragmentBrowser, false, true};
const TwoPaneSpec kK81Twin{ids::K81FragmentBrowser::kModule, F::kP8b, "K_P8B", "F", "BY_V8B", "V8B",
                           0, true, "(clip(glo:fr1)='' or instring(clip(glo:fr1),P8b:f,1)<>0)",
                           M::kK81FragmentBrowser, false, true};
const TwoPaneSpec kK82Browser{ids::K82Browser::kModule, F::kP8e, "K_P8E", "F", "BY_V8E", "V8E",
                              M::kK82Form, true, nullptr, M::kK82FragmentBrowser, false, true};
const TwoPaneSpec kK82Twin{ids::K82FragmentBrowser::kModule, F::kP8e, "K_P8E", "F", "BY_V8E", "V8E",
                           0, false, "(clip(glo:fr1)='' or instring(clip(glo:fr1),P8e:f,1)<>0)",
                           M::kK82FragmentBrowser, false, true};

class TwoPaneBrowser : public AppWindow {
 public:
  explicit TwoPaneBrowser(const TwoPaneSpec& s) : s_(s) {}

  Level Init() override {
    if (Level l = WindowManager::Init()) return l;
    Errors = &ProgramErrors();
    if (Level l = UseFiles({F::kSlovo})) return l;
    OpenAppWindow(s_.module, T::kWindow);
    ProgramGlobals& g = Glo();
    UiWindow()->Use(T::Fragment, lang::Variable::String(g.fr1, sizeof g.fr1));

    entryView_ = MakeView(s_.entryFile, {s_.entryField});
    entries_.Init(s_.entryFile, T::EntryList, *entryView_, *this, T::EntryCount);
    entries_.AddSortOrder(KeyNumber(s_.entryFile, s_.entryKey));
    if (s_.filter) entries_.SetFilter(s_.filter);
    entries_.AddField(FieldAt(s_.entryFile, s_.entryField));
    entries_.AddField(lang::Variable::String(g.fr1, sizeof g.fr1), -1);
    entries_.AddField(lang::Variable::String(g.fr2, sizeof g.fr2), -1);
    entryLocator_.Init(entries_, FieldVar(s_.entryFile, s_.entryField), 0, true);
    entries_.AddLocator(entryLocator_);
    if (s_.entryForm) {
      entries_.InsertControl = T::Insert;
      entries_.ChangeControl = T::Change;
      entries_.DeleteControl = T::Delete;
      entries_.AskProcedure = 1;
    }

    const lang::Variable link = FieldVar(F::kSlovo, s_.linkField);
    link_.assign(link.size, ' ');
    lexemeView_ = MakeView(F::kSlovo, {"I_VERB", s_.linkField});
    lexemes_.Init(F::kSlovo, T::LexemeList, *lexemeView_, *this, T::LexemeCount);
    lexemes_.AddSortOrder(KeyNumber(F::kSlovo, s_.lexemeKey));
    lexemes_.AddRange(FieldAt(F::kSlovo, s_.linkField),
                      lang::Variable::String(link_.data(), static_cast<uint32_t>(link_.size())),
                      framework::RangeFile);
    lexemes_.AppendOrder("slo:I_verb");
    lexemes_.AddField(FieldAt(F::kSlovo, "I_VERB"));
    lexemeLocator_.Init(lexemes_, link, 0, true);
    lexemes_.AddLocator(lexemeLocator_);
    if (s_.resetOnLexeme) lexemes_.AddResetField(FieldVar(F::kSlovo, "I_VERB"));
    if (s_.cards) {
      lexemes_.InsertControl = T::InsertLexeme;
      lexemes_.ChangeControl = T::ChangeLexeme;
      lexemes_.DeleteControl = T::DeleteLexeme;
      lexemes_.AskProcedure = 2;
    }
    Keep(entries_);
    Keep(lexemes_);
    return LevelBenign;
  }

  Level TakeAccepted() override {
    ui::Window* w = UiWindow();
    const int control = w->Field();
    if (control == T::ChangeLexeme && s_.cards) {
      if (s_.k4) {
        Assign(Glo().lexemeHead, LexemeHeadOf(Declared(F::kSlovo).Field("I_VERB")));
        SetCardAction("chn");
      } else {
        SetCardAction("Chn");
      }
    } else if (control == T::Filter) {
      w->Update(T::Fragment);
      StartModule(s_.twin);
    }
    return AppWindow::TakeAccepted();
  }

  uint8_t RunProcedure(int number, uint8_t request) override {
    if (number == 1) return CallModule(s_.entryForm, request);
    uint8_t response = CallModule(modules::kCardForm053, request);
    // The card reads other entries into the shared buffers; the pane follows its own entry.
    if (entries_.HasRows()) (void)entries_.UpdateBuffer();  // a gone entry: the next reload shows it
    SyncLinks();
    return response;
  }

 protected:
  // The relation assigns the entry's text to the card's field, cut or blank-padded.
  void SyncLinks() override {
    std::string_view text = Declared(s_.entryFile).Field(s_.entryField);
    text = text.substr(0, link_.size());
    link_.replace(0, text.size(), text);
    std::fill(link_.begin() + static_cast<std::ptrdiff_t>(text.size()), link_.end(), ' ');
  }

 private:
  const TwoPaneSpec& s_;
  std::string link_;  // the highlighted entry's text as the card holds it: the pane's range
  std::unique_ptr<storage::View> entryView_, lexemeView_;
  ListBrowse entries_, lexemes_;
  framework::IncrementalLocatorClass entryLocator_, lexemeLocator_;
};

// ---------------------------------------------------------------------------------------------
// The participant lists (roles, T-classes) and their twins.

namespace P = ids::RoleList;
#define SAME_PARTICIPANT(NS)                                                                   \
  static_assert(ids::NS::List == P::List && ids::NS::Insert == P::Insert &&                   \
                ids::NS::Change == P::Change && ids::NS::Delete == P::Delete &&               \
                ids::NS::Lexemes == P::Lexemes && ids::NS::Fragment == P::Fragment &&         \
                ids::NS::Filter == P::Filter)
SAME_PARTICIPANT(RoleFragmentList);
SAME_PARTICIPANT(TClassList);
SAME_PARTICIPANT(TClassFragmentList);
#undef SAME_PARTICIPANT

struct ParticipantSpec {
  const char* module;
  LexiconFile file;
  const char* filter;
  bool step;      // step locator, else incremental
  int form;       // entry update form; 0: the buttons call nothing
  int twin;
  int lexemes;    // the lexeme window of the highlighted entry
};

const char* const kRoleFilter = "(clip(glo:fr1)='' or instring(clip(glo:fr1),AK2:a,1)<>0)";
const char* const kTClassFilter = "(clip(glo:fr1)='' or instring(clip(glo:fr1),AK3:A,1)<>0)";
const ParticipantSpec kRoleList{ids::RoleList::kModule, F::kAk2, kRoleFilter, true, 0,
                                M::kRoleFragmentList, M::kRoleLexemes};
const ParticipantSpec kRoleTwin{ids::RoleFragmentList::kModule, F::kAk2, kRoleFilter, false, 0,
                                M::kRoleFragmentList, M::kRoleLexemes};
const ParticipantSpec kTClassList{ids::TClassList::kModule, F::kAk3, kTClassFilter, false,
                                  M::kTClassForm, M::kTClassFragmentList, M::kTClassLexemes};
const ParticipantSpec kTClassTwin{ids::TClassFragmentList::kModule, F::kAk3, kTClassFilter, true,
                                  M::kTClassForm, M::kTClassFragmentList, M::kTClassLexemes};

class ParticipantList : public AppWindow {
 public:
  explicit ParticipantList(const ParticipantSpec& s) : s_(s) {}

  Level Init() override {
    if (Level l = WindowManager::Init()) return l;
    Errors = &ProgramErrors();
    if (Level l = UseFiles({s_.file, F::kSlovo})) return l;
    OpenAppWindow(s_.module, P::kWindow);
    ProgramGlobals& g = Glo();
    UiWindow()->Use(P::Fragment, lang::Variable::String(g.fr1, sizeof g.fr1));
    if (s_.file == F::kAk2) lang::BIND("loc:cur_a", lang::Variable::String(curA_, sizeof curA_));

    view_ = MakeView(s_.file, {"A"});
    list_.Init(s_.file, P::List, *view_, *this);
    list_.AddSortOrder(1);
    list_.SetFilter(s_.filter);
    list_.AddField(FieldAt(s_.file, "A"));
    if (s_.file == F::kAk2) list_.AddField(lang::Variable::String(curA_, sizeof curA_), -1);
    const lang::Variable a = FieldVar(s_.file, "A");
    if (s_.step) {
      step_.Init(list_, a, 0, true);
      list_.AddLocator(step_);
    } else {
      incremental_.Init(list_, a, 0, true);
      list_.AddLocator(incremental_);
    }
    if (s_.form) {
      list_.InsertControl = P::Insert;
      list_.ChangeControl = P::Change;
      list_.DeleteControl = P::Delete;
      list_.AskProcedure = 1;
    }
    Keep(list_);
    return LevelBenign;
  }

  Level TakeAccepted() override {
    ui::Window* w = UiWindow();
    const int control = w->Field();
    if (control == P::Filter) {
      w->Update(P::Fragment);
      StartModule(s_.twin);
    } else if (control == P::Lexemes && list_.HasRows()) {
      // The lexeme window takes the entry from the buffer as it starts.
      (void)list_.UpdateBuffer();  // a gone entry leaves the buffer as the row showed it
      StartModule(s_.lexemes);
    }
    return AppWindow::TakeAccepted();
  }

  uint8_t RunProcedure(int number, uint8_t request) override {
    return CallModule(s_.form, request);
  }

 private:
  const ParticipantSpec& s_;
  char curA_[30] = {};
  std::unique_ptr<storage::View> view_;
  ListBrowse list_;
  framework::StepLocatorClass step_;
  framework::IncrementalLocatorClass incremental_;
};

// ---------------------------------------------------------------------------------------------
// The lexemes of a participant entry: the cards that hold it in any of their five slots.

namespace PL = ids::RoleLexemes;
static_assert(ids::TClassLexemes::Entry == PL::Entry && ids::TClassLexemes::List == PL::List &&
              ids::TClassLexemes::Insert == PL::Insert &&
              ids::TClassLexemes::Change == PL::Change && ids::TClassLexemes::Delete == PL::Delete);

class ParticipantLexemes : public AppWindow {
 public:
  ParticipantLexemes(const char* module, LexiconFile file, const char* name, const char* filter)
      : module_(module), file_(file), name_(name), filter_(filter) {}

  Level Init() override {
    if (Level l = WindowManager::Init()) return l;
    Errors = &ProgramErrors();
    // The entry as the participant list left it in the buffer when it started this window; a
    // copy of its own, so that the list moving on does not change what this window shows.
    entry_ = FieldText(file_, "A");
    lang::BIND(name_, lang::Variable::String(entry_.data(), static_cast<uint32_t>(entry_.size())));
    if (Level l = UseFiles({F::kSlovo})) return l;
    OpenAppWindow(module_, PL::kWindow);
    ui::Window* w = UiWindow();
    w->Use(PL::Entry, lang::Variable::String(entry_.data(), static_cast<uint32_t>(entry_.size())));
    w->Display(PL::Entry);

    view_ = MakeView(F::kSlovo, {"I_VERB", "ACT41", "ACT42", "ACT43", "ACT44", "ACT45", "ACT51",
                                 "ACT52", "ACT53", "ACT54", "ACT55"});
    list_.Init(F::kSlovo, PL::List, *view_, *this);
    list_.AddSortOrder(KeyNumber(F::kSlovo, "K_SLO"));
    list_.AppendOrder("slo:I_verb");
    list_.SetFilter(filter_);
    list_.AddField(FieldAt(F::kSlovo, "I_VERB"));
    step_.Init(list_, FieldVar(F::kSlovo, "I_VERB"), 0, true);
    list_.AddLocator(step_);
    list_.InsertControl = PL::Insert;
    list_.ChangeControl = PL::Change;
    list_.DeleteControl = PL::Delete;
    list_.AskProcedure = 2;
    Keep(list_);
    return LevelBenign;
  }

  uint8_t RunProcedure(int number, uint8_t request) override {
    return CallModule(modules::kCardForm053, request);
  }

 private:
  const char* module_;
  LexiconFile file_;
  const char* name_;
  const char* filter_;
  std::string entry_;
  std::unique_ptr<storage::View> view_;
  ListBrowse list_;
  framework::StepLocatorClass step_;
};

// ---------------------------------------------------------------------------------------------
// The entry update forms: one field of one vocabulary; saving goes through the relation
// manager, so a rename rewrites the cards and a delete is refused while cards use the entry.

namespace E = ids::ThemeForm;
#define SAME_FORM(NS, FIELD)                                                                  \
  static_assert(ids::NS::FIELD == E::TEM_T && ids::NS::OK == E::OK &&                        \
                ids::NS::Cancel == E::Cancel)
SAME_FORM(TaxForm, TAX_T);
SAME_FORM(K4Form, P_4_F);
SAME_FORM(K6Form, P_7_F);
SAME_FORM(K82Form, P8E_F);
SAME_FORM(TClassForm, AK3_A);
#undef SAME_FORM

struct EntryFormSpec {
  const char* module;
  LexiconFile file;
  const char* field;
  const char* insertCaption;
  const char* changeCaption;
};

const EntryFormSpec kThemeForm{ids::ThemeForm::kModule, F::kTema, "T", "Новая Тема", "Тема"};
const EntryFormSpec kTaxForm{ids::TaxForm::kModule, F::kTax, "T", "Новая Т-категория",
                             "Т-категорию"};
const EntryFormSpec kK4Form{ids::K4Form::kModule, F::kP4, "F", "",
                            "Можно изменить (изменятся и карточки!)"};
const EntryFormSpec kK6Form{ids::K6Form::kModule, F::kP7, "F", "Record Will Be Added",
                            "Record Will Be Changed"};
const EntryFormSpec kK82Form{ids::K82Form::kModule, F::kP8e, "F", "", ""};
const EntryFormSpec kTClassForm{ids::TClassForm::kModule, F::kAk3, "A", "", "Можно изменить"};

class EntryForm : public AppWindow {
 public:
  explicit EntryForm(const EntryFormSpec& s) : s_(s) {}

  Level Init() override {
    if (Level l = WindowManager::Init()) return l;
    Errors = &ProgramErrors();
    if (Level l = UseFiles({s_.file})) return l;
    Primary = &Relate(s_.file);
    // The record the form works on, whatever other windows read into the file meanwhile.
    filePosition_ = Access(s_.file).FilePosition();
    // A delete is carried out (or refused) before any window shows.
    if (Level l = PrimeUpdate()) return l;
    OpenAppWindow(s_.module, E::kWindow);
    ui::Window* w = UiWindow();
    w->SetCaption(Ansi(Request == framework::InsertRecord   ? s_.insertCaption
                       : Request == framework::ChangeRecord ? s_.changeCaption
                                                            : ""));
    w->Use(E::TEM_T, FieldVar(s_.file, s_.field));
    w->Display();
    OkControl = E::OK;
    FirstField = E::TEM_T;
    AddButton(E::Cancel, framework::RequestCancelled);
    return LevelBenign;
  }

  Level TakeCompleted() override {
    if (Request == framework::ChangeRecord) {
      framework::FileManager& fm = Access(s_.file);
      // The write goes to the file's current record: make it this form's record again,
      // keeping what the user typed.
      uint16_t typed = fm.SaveBuffer();
      const Level found = fm.TryRegetFile(filePosition_);
      fm.RestoreBuffer(typed, true);
      if (found != LevelBenign) {
        // Another station deleted the entry meanwhile: nothing may be written in its place.
        (void)fm.ThrowError(framework::RecordNotUpdated);
        SelectFirstField();
        return framework::LevelNotify;
      }
      // A text another entry already has is refused by the unique key before anything is
      // written, in the vocabulary or in the cards.
      storage::DriverArgs a;
      a.key = 1;
      if (storage::CallDriver(storage::kOpDuplicateKey, *fm.File, a) == 0 && a.value != 0) {
        (void)fm.ThrowMessage(framework::DuplicateKeyError,
                              fm.Keys.empty() ? "" : fm.Keys[0].Description);
        SelectFirstField();
        return framework::LevelNotify;
      }
    }
    return AppWindow::TakeCompleted();
  }

 private:
  const EntryFormSpec& s_;
  std::string filePosition_;
};

// ---------------------------------------------------------------------------------------------
// The pick lists: one vocabulary, a step locator, and "&Select" that hands the highlighted
// entry back to the card form in the file's record buffer.

namespace K = ids::ThemePick;
#define SAME_PICK(NS)                                                                           \
  static_assert(ids::NS::List == K::List && ids::NS::Select == K::Select && ids::NS::Close == K::Close)
SAME_PICK(TaxPick);
SAME_PICK(K4Pick);
SAME_PICK(K6Pick);
SAME_PICK(K81Pick);
SAME_PICK(K82Pick);
SAME_PICK(RolePick);
SAME_PICK(TClassPick);
#undef SAME_PICK

struct PickSpec {
  const char* module;
  LexiconFile file;
  const char* field;
};

const PickSpec kThemePick{ids::ThemePick::kModule, F::kTema, "T"};
const PickSpec kTaxPick{ids::TaxPick::kModule, F::kTax, "T"};
const PickSpec kK4Pick{ids::K4Pick::kModule, F::kP4, "F"};
const PickSpec kK6Pick{ids::K6Pick::kModule, F::kP7, "F"};
const PickSpec kK81Pick{ids::K81Pick::kModule, F::kP8b, "F"};
const PickSpec kK82Pick{ids::K82Pick::kModule, F::kP8e, "F"};
const PickSpec kRolePick{ids::RolePick::kModule, F::kAk2, "A"};
const PickSpec kTClassPick{ids::TClassPick::kModule, F::kAk3, "A"};

class PickList : public AppWindow {
 public:
  explicit PickList(const PickSpec& s) : s_(s) {}

  Level Init() override {
    if (Level l = WindowManager::Init()) return l;
    Errors = &ProgramErrors();
    Response = framework::RequestCancelled;
    if (Level l = UseFiles({s_.file})) return l;
    OpenAppWindow(s_.module, K::kWindow);
    view_ = MakeView(s_.file, {s_.field});
    list_.Init(s_.file, K::List, *view_, *this);
    list_.AddSortOrder(1);
    list_.AddField(FieldAt(s_.file, s_.field));
    step_.Init(list_, FieldVar(s_.file, s_.field), 0, true);
    list_.AddLocator(step_);
    // The list opens at the entry the caller left in the buffer.
    list_.StartAtCurrent = true;
    list_.Selecting = true;
    list_.SelectControl = K::Select;
    Keep(list_);
    return LevelBenign;
  }

 private:
  const PickSpec& s_;
  std::unique_ptr<storage::View> view_;
  ListBrowse list_;
  framework::StepLocatorClass step_;
};

void Started(int module, const TwoPaneSpec& def) {
  RegisterStarted(module, [&def] {
    TwoPaneBrowser browser(def);
    browser.Run();
  });
}

void Started(int module, const ParticipantSpec& def) {
  RegisterStarted(module, [&def] {
    ParticipantList list(def);
    list.Run();
  });
}

void Called(int module, const EntryFormSpec& def) {
  RegisterCalled(module, [&def](uint8_t request) {
    framework::GlobalRequest = request;
    EntryForm form(def);
    return form.Run();
  });
}

void Called(int module, const PickSpec& def) {
  RegisterCalled(module, [&def](uint8_t request) {
    framework::GlobalRequest = request;
    PickList pick(def);
    return pick.Run();
  });
}

}  // namespace

void RegisterClassProcedures() {
  Started(M::kThemeBrowser, kThemeBrowser);
  Started(M::kThemeFragmentBrowser, kThemeTwin);
  Started(M::kTaxBrowser, kTaxBrowser);
  Started(M::kTaxFragmentBrowser, kTaxTwin);
  Started(M::kK4Browser, kK4Browser);
  Started(M::kK4FragmentBrowser, kK4Twin);
  Started(M::kK6Browser, kK6Browser);
  Started(M::kK6FragmentBrowser, kK6Twin);
  Started(M::kK81Browser, kK81Browser);
  Started(M::kK81FragmentBrowser, kK81Twin);
  Started(M::kK82Browser, kK82Browser);
  Started(M::kK82FragmentBrowser, kK82Twin);

  Started(M::kRoleList, kRoleList);
  Started(M::kRoleFragmentList, kRoleTwin);
  Started(M::kTClassList, kTClassList);
  Started(M::kTClassFragmentList, kTClassTwin);
  RegisterStarted(M::kRoleLexemes, [] {
    ParticipantLexemes w(ids::RoleLexemes::kModule, F::kAk2, "ak2:a",
                         "(clip(slo:act41)=clip(ak2:a) or clip(slo:act42)=clip(ak2:a) or "
                         "clip(slo:act43)=clip(ak2:a) or clip(slo:act44)=clip(ak2:a) or "
                         "clip(slo:act45)=clip(ak2:a))");
    w.Run();
  });
  RegisterStarted(M::kTClassLexemes, [] {
    ParticipantLexemes w(ids::TClassLexemes::kModule, F::kAk3, "ak3:a",
                         "(clip(slo:act51)=clip(ak3:a) or clip(slo:act52)=clip(ak3:a) or "
                         "clip(slo:act53)=clip(ak3:a) or clip(slo:act54)=clip(ak3:a) or "
                         "clip(slo:act55)=clip(ak3:a))");
    w.Run();
  });

  Called(M::kThemeForm, kThemeForm);
  Called(M::kTaxForm, kTaxForm);
  Called(M::kK4Form, kK4Form);
  Called(M::kK6Form, kK6Form);
  Called(M::kK82Form, kK82Form);
  Called(M::kTClassForm, kTClassForm);

  Called(M::kThemePick, kThemePick);
  Called(M::kTaxPick, kTaxPick);
  Called(M::kK4Pick, kK4Pick);
  Called(M::kK6Pick, kK6Pick);
  Called(M::kK81Pick, kK81Pick);
  Called(M::kK82Pick, kK82Pick);
  Called(M::kRolePick, kRolePick);
  Called(M::kTClassPick, kTClassPick);
}

}  // namespace korawin::app
