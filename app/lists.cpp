// The word and lexeme lists: the word list with each word's lexemes, the lexeme list with its
// marks and tabs, the list filtered by a fragment of the identifier, and the wide auxiliary
// list.
#include <array>
#include <string>

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

// The fragment test of the filtered lexeme list, joined to each of its filters.
constexpr const char* kFragmentTest = "(clip(glo:fr1)='' or instring(clip(glo:fr1),slo:I_VERB,1)<>0)";

// Sort orders of the lexeme lists, chosen by the sheet's tab.
constexpr int kMarkedOrder = 1, kUnmarkedOrder = 2, kAllOrder = 3;
int OrderOfTab(int tab) { return tab == 2 ? kMarkedOrder : tab == 3 ? kUnmarkedOrder : kAllOrder; }

void SetCardAction(std::string_view action) { Assign(Glo().cardAction, action); }

// ---------------------------------------------------------------------------------------------
// WordList: the words of DCT and the lexemes of the highlighted word.

namespace W = ids::WordList;

class WordList : public AppWindow {
 public:
  Level Init() override {
    if (Level l = WindowManager::Init()) return l;
    Errors = &ProgramErrors();
    if (Level l = UseFiles({F::kDct})) return l;
    OpenAppWindow(W::kModule, W::kWindow);
    lang::BIND("loc:FirstChar", lang::Variable::String(firstChar_, sizeof firstChar_));

    wordView_ = MakeView(F::kDct, {"VERV", "NUM"});
    words_.Init(F::kDct, W::WordList, *wordView_, *this, W::WordCount);
    words_.AddSortOrder(KeyNumber(F::kDct, "BY_VERV"));
    words_.AddField(FieldAt(F::kDct, "VERV"));
    words_.AddField(FieldAt(F::kDct, "NUM"));
    wordLocator_.Init(words_, FieldVar(F::kDct, "VERV"), W::Locator, true);
    words_.AddLocator(wordLocator_);

    lexemeView_ = MakeView(F::kSlovo, {"I_VERB", "VERV"});
    lexemes_.Init(F::kSlovo, W::LexemeList, *lexemeView_, *this, W::LexemeCount);
    lexemes_.AddSortOrder(KeyNumber(F::kSlovo, "K_VERV"));
    // The DCT -> SLOVO relation assigns the word into SLO:VERV, cut to its 20 characters.
    lexemes_.AddRange(FieldAt(F::kSlovo, "VERV"), lang::Variable::String(verv_, sizeof verv_),
                      framework::RangeFile);
    lexemes_.AppendOrder("slo:I_verb");
    lexemes_.AddField(FieldAt(F::kSlovo, "I_VERB"));
    lexemeLocator_.Init(lexemes_, FieldVar(F::kSlovo, "VERV"), 0, true);
    lexemes_.AddLocator(lexemeLocator_);
    lexemes_.InsertControl = W::Insert;
    lexemes_.ChangeControl = W::Change;
    lexemes_.DeleteControl = W::Delete;
    lexemes_.AskProcedure = 1;
    Keep(words_);
    Keep(lexemes_);
    return LevelBenign;
  }

  Level TakeAccepted() override {
    if (UiWindow()->Field() == W::Change) SetCardAction("Chn");
    return AppWindow::TakeAccepted();
  }

  uint8_t RunProcedure(int number, uint8_t request) override {
    uint8_t response = CallModule(modules::kCardForm053, request);
    // The card reads other records into the shared buffers; the pane follows its own word.
    if (words_.HasRows()) (void)words_.UpdateBuffer();  // a gone word: the next reload shows it
    SyncLinks();
    return response;
  }

 protected:
  void SyncLinks() override { Assign(verv_, Declared(F::kDct).Field("VERV")); }

  void AfterEvent() override {
    // The words come from the database repair; an empty list says so.
    UiWindow()->SetText(W::Message,
                        words_.Loaded && !words_.HasRows()
                            ? Ansi("Закройте  окно  \"СПИСОК СЛОВ\"  и нажмите кнопку \"РЕМОНТ БАЗЫ\" ")
                            : std::string());
  }

 private:
  char firstChar_[20] = {};
  char verv_[20] = {};
  std::unique_ptr<storage::View> wordView_, lexemeView_;
  ListBrowse words_, lexemes_;
  framework::IncrementalLocatorClass wordLocator_, lexemeLocator_;
};

// ---------------------------------------------------------------------------------------------
// LexemeList and the filtered lexeme list: one class over two windows.

struct LexemeListControls {
  const char* module;
  const char* window;
  int fragment, filter, locator, sheet, list, message, count;
  int insert, change, remove, sample, toggleMark, clearMarks, printList, printMarked;
  int examples, comment, commentAdd;  // the read-only text boxes (0: none)
};

constexpr LexemeListControls kLexemeList = {
    ids::LexemeList::kModule,      ids::LexemeList::kWindow,     ids::LexemeList::Fragment,
    ids::LexemeList::Filter,       ids::LexemeList::Locator,     ids::LexemeList::Sheet,
    ids::LexemeList::List,         ids::LexemeList::Message,     ids::LexemeList::Count,
    ids::LexemeList::Insert,       ids::LexemeList::Change,      ids::LexemeList::Delete,
    ids::LexemeList::Sample,       ids::LexemeList::ToggleMark,  ids::LexemeList::ClearMarks,
    0,                             ids::LexemeList::PrintMarked, ids::LexemeList::SLO_EXA_MEMO,
    ids::LexemeList::SLO_VIII,     ids::LexemeList::SLO_VIII_ADD};

namespace FL = ids::LexemeFragmentList;
constexpr LexemeListControls kFragmentList = {
    FL::kModule, FL::kWindow, FL::Fragment, 0,          FL::Locator,    FL::Sheet,
    FL::List,    FL::Message, FL::Count,    FL::Insert, FL::Change,     FL::Delete,
    FL::Sample,  FL::ToggleMark, FL::ClearMarks, FL::PrintList, FL::PrintMarked, 0, 0, 0};

class LexemeList : public AppWindow {
 public:
  LexemeList(const LexemeListControls& c, bool filtered) : c_(c), filtered_(filtered) {}

  Level Init() override {
    if (Level l = WindowManager::Init()) return l;
    Errors = &ProgramErrors();
    if (Level l = UseFiles({F::kSlovo})) return l;
    OpenAppWindow(c_.module, c_.window);
    ui::Window* w = UiWindow();
    ProgramGlobals& g = Glo();
    w->Use(c_.fragment, lang::Variable::String(g.fr1, sizeof g.fr1));
    if (c_.examples) {
      w->Use(c_.examples, MemoVar(F::kSlovo, "EXA_MEMO"));
      w->Use(c_.comment, FieldVar(F::kSlovo, "VIII"));
      w->Use(c_.commentAdd, FieldVar(F::kSlovo, "VIII_ADD"));
    }

    view_ = filtered_ ? MakeView(F::kSlovo, {"METKA", "I_VERB", "NAME", "DATE"})
                      : MakeView(F::kSlovo, {"METKA", "I_VERB", "NAME", "DATE", "EXAMPLE", "VIII",
                                             "ACT51", "VIII_ADD", "EXA_MEMO"});
    list_.Init(F::kSlovo, c_.list, *view_, *this, c_.count);
    const lang::Variable metka = FieldVar(F::kSlovo, "METKA");
    const lang::Variable iverb = FieldVar(F::kSlovo, "I_VERB");
    const int key = KeyNumber(F::kSlovo, "K_SLO");
    const std::string test = kFragmentTest;
    const std::array<std::string, 3> filters =
        filtered_ ? std::array<std::string, 3>{"(slo:metka='*' and " + test + ")",
                                               "(slo:metka<>'*' and " + test + ")", test}
                  : std::array<std::string, 3>{"(slo:metka='*')", "(slo:metka<>'*')", ""};
    for (int order = kMarkedOrder; order <= kAllOrder; ++order) {
      list_.AddSortOrder(key);
      list_.SetFilter(filters[static_cast<size_t>(order - 1)]);
      if (order == kAllOrder) {
        incremental_.Init(list_, iverb, c_.locator, true);
        list_.AddLocator(incremental_);
      } else {
        step_[order - 1].Init(list_, iverb, 0, true);
        list_.AddLocator(step_[order - 1]);
      }
      if (order != kUnmarkedOrder) list_.AddResetField(metka);
    }
    list_.SetOrder(OrderOfTab(w->Value(c_.sheet)));
    for (const char* name : {"METKA", "I_VERB", "NAME", "DATE"})
      list_.AddField(FieldAt(F::kSlovo, name));
    if (!filtered_) {
      for (const char* name : {"EXAMPLE", "VIII", "ACT51"})
        list_.AddField(FieldVar(F::kSlovo, name), -1);
      list_.AddField(lang::Variable::String(g.fr1, sizeof g.fr1), -1);
      list_.AddField(lang::Variable::String(g.fr2, sizeof g.fr2), -1);
      list_.AddField(FieldVar(F::kSlovo, "VIII_ADD"), -1);
      list_.AddField(MemoVar(F::kSlovo, "EXA_MEMO"), -1);
    }
    list_.InsertControl = c_.insert;
    list_.ChangeControl = c_.change;
    list_.DeleteControl = c_.remove;
    list_.AskProcedure = 1;
    Keep(list_);
    return LevelBenign;
  }

  Level TakeNewSelection() override {
    ui::Window* w = UiWindow();
    if (w->Field() == c_.sheet) list_.ChangeSort(OrderOfTab(w->Value(c_.sheet)));
    return LevelBenign;
  }

  Level TakeAccepted() override {
    ui::Window* w = UiWindow();
    const int control = w->Field();
    if (control == c_.insert) {
      if (!filtered_) SetCardAction("add");
    } else if (control == c_.change) {
      if (filtered_) {
        SetCardAction("Chn");
      } else {
        Assign(Glo().lexemeHead, LexemeHeadOf(Declared(F::kSlovo).Field("I_VERB")));
        SetCardAction("chn");
      }
    } else if (control == c_.remove) {
      if (!filtered_) SetCardAction("del");
    } else if (control == c_.filter && control) {
      w->Update(c_.fragment);
      StartModule(modules::kLexemeFragmentList);
    } else if (control == c_.sample) {
      EnterBySample();
    } else if (control == c_.toggleMark) {
      if (list_.HasRows()) {
        ToggleMark();
        Refresh();
      }
    } else if (control == c_.clearMarks) {
      ClearMarks();
    } else if (control == c_.printMarked) {
      (void)list_.UpdateBuffer();  // the report reads its own view; this is the design's current
      StartModule(filtered_ ? modules::kMarkedFragmentCardsReport : modules::kMarkedCardsReport);
      Refresh();
    } else if (control == c_.printList && control) {
      StartModule(modules::kLexemeNamesReport);
    }
    return AppWindow::TakeAccepted();
  }

  uint8_t RunProcedure(int number, uint8_t request) override {
    return CallModule(modules::kCardForm041, request);
  }

 protected:
  void AfterEvent() override {
    ui::Window* w = UiWindow();
    w->SetText(c_.message, list_.Loaded && !list_.HasRows() ? Ansi("Помеченных лексем нет")
                                                            : std::string());
    if (c_.examples) {
      w->Display(c_.examples);
      w->Display(c_.comment);
      w->Display(c_.commentAdd);
    }
    w->Display(c_.fragment);
  }

 private:
  // The list after records changed under it: read afresh, on the same record.
  void Refresh() {
    list_.Flush();
    (void)list_.ResetQueue(framework::ResetReload);  // read failures are reported on the way
  }

  void ClearMarks() {
    if (!filtered_ && list_.HasRows()) {
      const std::string& pos =
          list_.Rows()[static_cast<size_t>(std::max(list_.CurrentChoice, 1) - 1)].ViewPosition;
      Assign(Glo().savedLexemePosition, pos);
    }
    ui::Window* w = UiWindow();
    w->SetBusy(true);
    ClearAllMarks();
    w->SetBusy(false);
    Refresh();
  }

  void EnterBySample() {
    if (list_.HasRows()) (void)list_.UpdateBuffer();  // the sample: the card as the row showed it
    framework::GlobalRequest = 0;
    uint8_t response = CallModule(modules::kCardForm038, 0);
    if (response == framework::RequestCompleted) list_.LocateBuffer();
    else Refresh();
  }

  const LexemeListControls& c_;
  bool filtered_;
  std::unique_ptr<storage::View> view_;
  ListBrowse list_;
  framework::StepLocatorClass step_[2];
  framework::IncrementalLocatorClass incremental_;
};

// ---------------------------------------------------------------------------------------------
// The auxiliary lexeme list: every column of a card that a lexicographer compares across cards.

namespace X = ids::LexemeAuxList;

class LexemeAuxList : public AppWindow {
 public:
  Level Init() override {
    if (Level l = WindowManager::Init()) return l;
    Errors = &ProgramErrors();
    if (Level l = UseFiles({F::kDct})) return l;
    OpenAppWindow(X::kModule, X::kWindow);
    static const char* const kColumns[] = {"METKA", "I_VERB", "F_M", "V_6", "I_VERB",
                                           "VI",    "IV",     "TEMA", "V_7", "V_9"};
    view_ = MakeView(F::kSlovo, {"METKA", "I_VERB", "F_M", "V_6", "VI", "IV", "TEMA", "V_7", "V_9"});
    list_.Init(F::kSlovo, X::List, *view_, *this, X::Count);
    const int key = KeyNumber(F::kSlovo, "K_SLO");
    list_.AddSortOrder(key);
    list_.SetFilter("(slo:metka='*')");
    list_.AddSortOrder(key);
    list_.SetFilter("(slo:metka=' ')");
    list_.AddSortOrder(key);
    locator_.Init(list_, FieldVar(F::kSlovo, "I_VERB"), 0, true);
    list_.AddLocator(locator_);
    list_.SetOrder(OrderOfTab(UiWindow()->Value(X::Sheet)));
    for (const char* name : kColumns) list_.AddField(FieldAt(F::kSlovo, name));
    list_.AddField(FieldVar(F::kTax, "T"), -1);
    Keep(list_);
    return LevelBenign;
  }

  Level TakeNewSelection() override {
    ui::Window* w = UiWindow();
    if (w->Field() == X::Sheet) list_.ChangeSort(OrderOfTab(w->Value(X::Sheet)));
    return LevelBenign;
  }

  Level TakeAccepted() override {
    const int control = UiWindow()->Field();
    if ((control == X::ToggleMark || control == X::Mark) && list_.HasRows()) {
      ToggleMark();
      list_.Flush();
      (void)list_.ResetQueue(framework::ResetReload);  // read failures are reported on the way
    }
    return AppWindow::TakeAccepted();
  }

 private:
  std::unique_ptr<storage::View> view_;
  ListBrowse list_;
  framework::IncrementalLocatorClass locator_;
};

}  // namespace

void RegisterListProcedures() {
  RegisterStarted(modules::kWordList, [] {
    WordList list;
    list.Run();
  });
  RegisterStarted(modules::kLexemeList, [] {
    LexemeList list(kLexemeList, false);
    list.Run();
  });
  RegisterStarted(modules::kLexemeFragmentList, [] {
    LexemeList list(kFragmentList, true);
    list.Run();
  });
  RegisterStarted(modules::kLexemeAuxList, [] {
    LexemeAuxList list;
    list.Run();
  });
}

}  // namespace korawin::app
