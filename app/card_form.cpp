// The lexeme card forms and their expand windows.
//
// One form in three copies: koraw041 (called by the lexeme lists), koraw053 (by the word list,
// the browsers and the participants' lexeme windows) and koraw038 (entry by sample: the card
// in the buffer is the sample, OK adds what the user made of it as a new card). Besides the
// update-form protocol the card signs and dates itself, adds the vocabulary texts typed into it
// to their files, offers the pick lists, opens the larger one-field windows and starts the
// card's printing and export. Saving writes the card and the word file DCT as one transaction
// (app/card_store.h).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_windows.h"
#include "app/bound_controls.h"
#include "app/card_store.h"
#include "app/dictionary.h"
#include "app/globals.h"
#include "app/modules.h"
#include "app/procedures.h"
#include "app/program.h"
#include "app/texts.h"
#include "framework/window_manager.h"
#include "lang/bind.h"
#include "platform/clock.h"
#include "storage/driver.h"
#include "ui/runtime/window.h"

namespace korawin::app {

namespace {

using framework::Level;
using framework::LevelBenign;
using framework::LevelNotify;
namespace C = ids::CardForm041;
namespace M = modules;
using F = LexiconFile;

// The three copies number their controls alike (tests/app/windows_test.cpp keeps them so).
static_assert(C::OK == ids::CardForm053::OK && C::OK == ids::CardForm038::OK);
static_assert(C::SLO_METKA == ids::CardForm053::SLO_METKA &&
              C::SLO_METKA == ids::CardForm038::SLO_METKA);

// The request a pick list is called with: choose an entry.
constexpr uint8_t kSelectRequest = 4;
// The ditto key: gives back what the user typed before another station's card was shown.
constexpr int kDittoKey = ui::kKeyCtrl | '\'';

std::string_view TrimRight(std::string_view s) {
  size_t n = s.find_last_not_of(' ');
  return n == std::string_view::npos ? std::string_view() : s.substr(0, n + 1);
}

// A card field kept in a vocabulary file, with its pick list: the form's procedure number of
// the pick list and the button beside the field.
struct Vocabulary {
  int control;
  const char* field;
  F file;
  const char* entry;  // the vocabulary's one field
  const char* key;
  int pickList;
  int number;
  int pickButton;
  bool fetchedOnRefresh;  // the refresh loads the card's entry into the vocabulary's buffer
};

// Each participant row's pick buttons fill that row's fields.
constexpr Vocabulary kVocabularies[] = {
    {C::SLO_IV, "IV", F::kTax, "T", "TAX_K", M::kTaxPick, 1, C::PickIV, true},
    {C::SLO_TEMA, "TEMA", F::kTema, "T", "K_T", M::kThemePick, 2, C::PickTEMA, true},
    {C::SLO_ACT41, "ACT41", F::kAk2, "A", "BY_A", M::kRolePick, 3, C::PickACT41, false},
    {C::SLO_ACT42, "ACT42", F::kAk2, "A", "BY_A", M::kRolePick, 4, C::PickACT42, false},
    {C::SLO_ACT43, "ACT43", F::kAk2, "A", "BY_A", M::kRolePick, 5, C::PickACT43, false},
    {C::SLO_ACT44, "ACT44", F::kAk2, "A", "BY_A", M::kRolePick, 6, C::PickACT44, false},
    {C::SLO_ACT45, "ACT45", F::kAk2, "A", "BY_A", M::kRolePick, 7, C::PickACT45, false},
    {C::SLO_ACT51, "ACT51", F::kAk3, "A", "BY_A", M::kTClassPick, 8, C::PickACT51, false},
    {C::SLO_ACT52, "ACT52", F::kAk3, "A", "BY_A", M::kTClassPick, 9, C::PickACT52, false},
    {C::SLO_ACT53, "ACT53", F::kAk3, "A", "BY_A", M::kTClassPick, 10, C::PickACT53, false},
    {C::SLO_ACT54, "ACT54", F::kAk3, "A", "BY_A", M::kTClassPick, 11, C::PickACT54, false},
    {C::SLO_ACT55, "ACT55", F::kAk3, "A", "BY_A", M::kTClassPick, 12, C::PickACT55, false},
    {C::SLO_V_4, "V_4", F::kP4, "F", "K_P_4", M::kK4Pick, 13, C::PickV_4, true},
    {C::SLO_V_7, "V_7", F::kP7, "F", "K_P_7", M::kK6Pick, 14, C::PickV_7, true},
    {C::SLO_V8B, "V8B", F::kP8b, "F", "K_P8B", M::kK81Pick, 15, C::PickV8B, true},
    {C::SLO_V8E, "V8E", F::kP8e, "F", "K_P8E", M::kK82Pick, 16, C::PickV8E, true},
};

const Vocabulary* VocabularyOf(int control) {
  for (const Vocabulary& v : kVocabularies)
    if (v.control == control) return &v;
  return nullptr;
}

// An expand button: the one-field window it calls and the control that has the focus after.
struct Expand {
  int button;
  int module;
  int focus;
};

constexpr Expand kExpands[] = {
    {C::ExpandEXA_MEMO, M::kExamplesExpand, C::SLO_EXA_MEMO},
    {C::ExpandVIII_ADD, M::kCommentAddExpand, C::SLO_VIII_ADD},
    {C::ExpandV_5, M::kK9Expand, C::SLO_V_5},
    {C::ExpandV_9, M::kK7Expand, C::SLO_V_9},
    {C::ExpandIV, M::kTaxExpand, C::SLO_IV},
    {C::ExpandV_4, M::kK4Expand, C::SLO_V_4},
    {C::ExpandV_7, M::kK6Expand, C::SLO_V_7},
    {C::ExpandV8E, M::kK82Expand, C::SLO_V8E},
};

enum class Copy { k041, k053, k038 };

// The text of a card field (without trailing blanks) copied into a vocabulary's buffer, cut to
// its width.
void CopyToVocabulary(const Vocabulary& v) {
  Declared(v.file).Clear();
  Declared(v.file).SetField(v.entry, TrimRight(Declared(F::kSlovo).Field(v.field)));
}

// Adds a text to its vocabulary, as one transaction of its own so that a crash cannot leave
// the file and its key apart. A text already there (the unique key refuses it) or blank is
// left alone, as is any failure: the card does not depend on it.
void AddToVocabulary(const Vocabulary& v) {
  if (TrimRight(Declared(F::kSlovo).Field(v.field)).empty()) return;
  framework::FileManager& fm = Access(v.file);
  const int key = KeyNumber(v.file, v.key);
  CopyToVocabulary(v);
  if (fm.TryFetch(key) == LevelBenign) return;  // known already: no journal for nothing
  CopyToVocabulary(v);
  framework::TransactionFrame frame;
  if (frame.Begin({&fm}, false) != LevelBenign) return;
  if (storage::CallDriver(storage::kOpAdd, Declared(v.file).fd()) != 0) {
    frame.Rollback();
    return;
  }
  (void)frame.Commit(0, false);  // a vocabulary entry not added is no loss to the card
}

class CardForm : public framework::WindowManager {
 public:
  CardForm(Copy copy, uint8_t request) : copy_(copy), called_(request) {}

  Level Init() override {
    // Entry by sample is an insert of the sample as the user changed it, whatever the caller
    // passed.
    Request = copy_ == Copy::k038 ? static_cast<uint8_t>(framework::InsertRecord) : called_;
    framework::GlobalRequest = 0;
    if (Level level = WindowManager::Init()) return level;
    Errors = &ProgramErrors();

    DeclaredFile& card = Declared(F::kSlovo);
    ProgramGlobals& g = Glo();
    const std::string_view id = card.Field("I_VERB");
    oldIdentifier_.assign(id);
    Assign(g.currentLex, id);
    Assign(g.oldWord, id.substr(0, std::min(id.find(' '), id.size())));
    const size_t paren = id.find('(');
    Assign(g.lexemeHead, paren == std::string_view::npos ? TrimRight(id) : id.substr(0, paren));

    for (F f : {F::kAk2, F::kAk3, F::kSlovo}) {
      if (Level l = Relate(f).Open()) return l;
      opened_.push_back(f);
    }
    Primary = &Relate(F::kSlovo);
    DeleteAction = 1;  // the card shows what is deleted; OK deletes it
    HistoryKey = kDittoKey;
    // The vocabularies' buffers serve the card while it is open; other windows find theirs as
    // they left them.
    for (F f : {F::kTax, F::kTema, F::kAk2, F::kAk3, F::kP4, F::kP7, F::kP8b, F::kP8e})
      AddUpdateFile(Access(f));
    if (Level l = PrimeUpdate()) return l;

    switch (copy_) {
      case Copy::k041:
        OpenWindow(ids::CardForm041::kModule, ids::CardForm041::kWindow);
        break;
      case Copy::k053:
        OpenWindow(ids::CardForm053::kModule, ids::CardForm053::kWindow);
        break;
      case Copy::k038:
        OpenWindow(ids::CardForm038::kModule, ids::CardForm038::kWindow);
        break;
    }
    ui::Window* w = UiWindow();
    if (!w) return framework::LevelFatal;
    w->SetCaption(Caption());
    UseBoundNames(*w);
    for (const ui::ControlDesc* c : w->Desc().Numbered()) {
      if (!c || c->use.empty()) continue;
      if (c->type != ui::ControlType::Entry && c->type != ui::ControlType::TextBox) continue;
      lang::SymbolInfo info;
      if (!lang::LookupName(c->use, &info)) continue;
      w->SetAlertKeys(c->feq, {kDittoKey});
      AddHistoryField(c->feq, info.var);
    }
    OkControl = C::OK;
    FirstField = C::SLO_I_VERB;
    AddButton(C::Cancel, framework::RequestCancelled);
    return LevelBenign;
  }

  Level Kill() override {
    Level l = WindowManager::Kill();
    for (auto it = opened_.rbegin(); it != opened_.rend(); ++it) (void)Relate(*it).Close();  // 0
    opened_.clear();
    return l;
  }

  // The vocabularies' buffers take the card's entries, so that the one-field windows on them
  // show the card's texts.
  void Reset(bool force) override {
    for (const Vocabulary& v : kVocabularies) {
      if (!v.fetchedOnRefresh) continue;
      CopyToVocabulary(v);
      (void)Access(v.file).TryFetch(KeyNumber(v.file, v.key));  // not found: the buffer keeps the card's text
    }
    WindowManager::Reset(force);
  }

  // Procedures 1 to 16 are the pick lists of the vocabulary fields.
  uint8_t RunProcedure(int number, uint8_t request) override {
    for (const Vocabulary& v : kVocabularies)
      if (v.number == number) return CallModule(v.pickList, request);
    return 0;
  }

  Level TakeAccepted() override {
    ui::Window* w = UiWindow();
    const int control = w->Field();
    DeclaredFile& card = Declared(F::kSlovo);
    TellCut(*w, control);
    if (control == C::SLO_NAME && TrimRight(card.Field("NAME")).empty()) {
      card.SetField("NAME", Clip(Glo().authorName));  // the card is signed
      w->Display(control);
    } else if (control == C::SLO_DATE && DateOfCard() == 0) {
      SetDateOfCard(platform::Today());
      w->Display(control);
    } else if (control == C::SLO_EXA_MEMO) {
      ExampleFollowsMemo();
    }
    const Vocabulary* vocabulary = VocabularyOf(control);
    if (vocabulary) AddToVocabulary(*vocabulary);

    if (Level l = WindowManager::TakeAccepted()) return l;

    if (vocabulary) return CheckVocabulary(*vocabulary);
    for (const Vocabulary& v : kVocabularies)
      if (v.pickButton == control) Pick(v);
    for (const Expand& e : kExpands)
      if (e.button == control) ExpandField(e);
    if (control == C::Print) StartModule(M::kCardReport);
    if (control == C::PrintAlt) StartModule(M::kCardReport2);
    if (control == C::Export) StartModule(M::kCardExport);
    return LevelBenign;
  }

  Level TakeCompleted() override {
    for (framework::HistoryField& h : History)
      h.Value.assign(static_cast<const char*>(h.Field.address), h.Field.size);
    ExampleFollowsMemo();
    switch (Request) {
      case framework::InsertRecord:
        return SaveNew();
      case framework::ChangeRecord:
        return SaveChanged();
      case framework::DeleteRecord:
        return SaveDeleted();
      default:
        return LevelBenign;
    }
  }

 private:
  // The caption by the request (Windows-1251).
  std::string Caption() const {
    if (copy_ == Copy::k038) return "Adding a slovo Record";
    switch (Request) {
      case framework::InsertRecord:
        return Ansi("Новая лексема");
      case framework::ChangeRecord:
        return (Ansi("Лексема ") + Clip(Glo().lexemeHead)).substr(0, 40);
      case framework::DeleteRecord:
        return Ansi("Удаляем лексему");
      default:
        return UiWindow()->Desc().caption;
    }
  }

  int32_t DateOfCard() const {
    const DeclaredFile& card = Declared(F::kSlovo);
    int32_t date = 0;
    std::memcpy(&date, card.Field("DATE").data(), sizeof date);
    return date;
  }
  void SetDateOfCard(int32_t date) {
    DeclaredFile& card = Declared(F::kSlovo);
    const storage::FieldDescriptor& f =
        card.fd().fields[static_cast<size_t>(card.FieldIndex("DATE"))];
    std::memcpy(card.record.data() + f.offset, &date, sizeof date);
  }

  // The old string field of the examples follows the memo.
  void ExampleFollowsMemo() {
    DeclaredFile& card = Declared(F::kSlovo);
    card.SetField("EXAMPLE", std::string_view(card.memo.data(), card.memo.size()).substr(0, 255));
  }

  // After a vocabulary field took its text: a text its vocabulary lacks is chosen from the pick
  // list instead (the focus returns to the field when none is chosen).
  Level CheckVocabulary(const Vocabulary& v) {
    DeclaredFile& card = Declared(F::kSlovo);
    if (TrimRight(card.Field(v.field)).empty()) return LevelBenign;
    framework::FileManager& fm = Access(v.file);
    CopyToVocabulary(v);
    if (fm.TryFetch(KeyNumber(v.file, v.key)) != LevelBenign) {
      framework::GlobalRequest = kSelectRequest;
      if (RunProcedure(v.number, kSelectRequest) == framework::RequestCompleted) {
        card.SetField(v.field, TrimRight(Declared(v.file).Field(v.entry)));
      } else {
        UiWindow()->Select(v.control);
      }
    }
    Reset(true);
    return LevelBenign;
  }

  // A pick button: the list opens on the field's text; an entry chosen replaces it.
  void Pick(const Vocabulary& v) {
    CopyToVocabulary(v);
    framework::GlobalRequest = kSelectRequest;
    if (RunProcedure(v.number, kSelectRequest) == framework::RequestCompleted)
      Declared(F::kSlovo).SetField(v.field, TrimRight(Declared(v.file).Field(v.entry)));
    Reset(false);
    UiWindow()->Select(v.control);
  }

  // An expand button: what the controls hold goes to the buffers first; windows on the card's
  // own fields edit them in place, those on a vocabulary's buffer only show the text whole.
  void ExpandField(const Expand& e) {
    Update();
    Reset(false);
    CallModule(e.module, 0);
    Redisplay();
    UiWindow()->Select(e.focus);
  }

  Level SaveNew() {
    ui::Window* w = UiWindow();
    w->SetBusy(true);
    Level l = SaveCard(framework::InsertRecord, oldIdentifier_);
    w->SetBusy(false);
    if (l != LevelBenign) {
      SelectFirstField();
      return LevelNotify;
    }
    SetResponse(framework::RequestCompleted);
    return LevelNotify;
  }

  // The last failure of a save, from SLOVO's or DCT's manager.
  uint8_t LastFailure() const {
    uint8_t e = Access(F::kSlovo).Info().LastError;
    return e ? e : Access(F::kDct).Info().LastError;
  }
  void ClearFailure() {
    Access(F::kSlovo).Info().LastError = 0;
    Access(F::kDct).Info().LastError = 0;
  }

  Level SaveChanged() {
    ui::Window* w = UiWindow();
    framework::FileManager& me = *Primary->Me;
    Response = framework::RequestCancelled;
    if (Saved && me.EqualBuffer(Saved)) {
      Response = framework::RequestCompleted;
      w->Post(ui::EventKind::CloseWindow);
      return LevelNotify;
    }
    for (;;) {
      ClearFailure();
      w->SetBusy(true);
      Level l = SaveCard(framework::ChangeRecord, oldIdentifier_);
      w->SetBusy(false);
      if (l == LevelBenign) {
        Response = framework::RequestCompleted;
        w->Post(ui::EventKind::CloseWindow);
        return LevelNotify;
      }
      const uint8_t failure = LastFailure();
      if (failure == framework::RecordChangedByOtherOnForm ||
          failure == framework::RecordChangedByOther) {
        // The other station's card is in the buffer, watched afresh: it is what the form now
        // edits, and the ditto key gives the user's values back.
        oldIdentifier_.assign(Declared(F::kSlovo).Field("I_VERB"));
        const uint16_t now = me.SaveBuffer();
        me.RestoreBuffer(Saved, true);
        me.RestoreBuffer(now, false);
        Saved = now;
        break;
      }
      if (failure != framework::RecordNotUpdated && failure != framework::TransactionCancelled)
        break;
      unsigned answer =
          Errs().ShowMessage(framework::RecordUpdateError,
                             framework::ButtonYes | framework::ButtonNo | framework::ButtonCancel,
                             framework::ButtonCancel);
      if (answer == framework::ButtonYes) continue;
      if (answer == framework::ButtonNo) {
        me.RestoreBuffer(Saved, false);
        w->Post(ui::EventKind::CloseWindow);
        return LevelNotify;
      }
      break;
    }
    Redisplay();
    SelectFirstField();
    return LevelNotify;
  }

  Level SaveDeleted() {
    ui::Window* w = UiWindow();
    framework::FileManager& me = *Primary->Me;
    Response = framework::RequestCancelled;
    if (me.ThrowError(framework::ConfirmDelete) == LevelBenign) {
      for (;;) {
        ClearFailure();
        w->SetBusy(true);
        Level l = SaveCard(framework::DeleteRecord, oldIdentifier_);
        w->SetBusy(false);
        if (l == LevelBenign) {
          SetResponse(framework::RequestCompleted);
          return LevelNotify;
        }
        unsigned answer =
            Errs().ShowMessage(framework::RecordDeleteError,
                               framework::ButtonYes | framework::ButtonNo | framework::ButtonCancel,
                               framework::ButtonCancel);
        if (answer == framework::ButtonYes) continue;
        if (answer == framework::ButtonNo) {
          w->Post(ui::EventKind::CloseWindow);
          return LevelNotify;
        }
        break;
      }
    }
    Redisplay();
    SelectFirstField();
    return LevelNotify;
  }

  Copy copy_;
  uint8_t called_;
  std::string oldIdentifier_;  // SLO:I_VERB as stored when the card was read
  std::vector<F> opened_;
};

// A larger window on one field. Those on the card's own fields close with OK, having edited
// the field in place; those on a vocabulary's buffer are read-only and close with Close.
class ExpandWindow : public framework::WindowManager {
 public:
  ExpandWindow(const char* module, const char* window) : module_(module), window_(window) {}

  Level Init() override {
    Request = 0;
    framework::GlobalRequest = 0;
    if (Level level = WindowManager::Init()) return level;
    Errors = &ProgramErrors();
    if (!OpenWindow(module_, window_)) return framework::LevelFatal;
    ui::Window* w = UiWindow();
    UseBoundNames(*w);
    ok_ = w->Desc().Feq("OK");
    for (const ui::ControlDesc* c : w->Desc().Numbered())
      if (c && !c->use.empty()) field_ = c->feq;
    FirstField = field_;
    return LevelBenign;
  }

  Level TakeAccepted() override {
    ui::Window* w = UiWindow();
    if (w->Field() == field_) TellCut(*w, field_);
    if (ok_ && w->Field() == ok_) {
      w->Update(field_);
      w->Post(ui::EventKind::CloseWindow);
    }
    return WindowManager::TakeAccepted();
  }

 private:
  const char* module_;
  const char* window_;
  int ok_ = 0;
  int field_ = 0;
};

void RegisterExpand(int module, const char* windowModule, const char* windowName) {
  RegisterCalled(module, [windowModule, windowName](uint8_t) {
    ExpandWindow w(windowModule, windowName);
    return w.Run();
  });
}

}  // namespace

void RegisterCardProcedures() {
  RegisterCalled(M::kCardForm041, [](uint8_t request) {
    CardForm form(Copy::k041, request);
    return form.Run();
  });
  RegisterCalled(M::kCardForm053, [](uint8_t request) {
    CardForm form(Copy::k053, request);
    return form.Run();
  });
  RegisterCalled(M::kCardForm038, [](uint8_t request) {
    CardForm form(Copy::k038, request);
    return form.Run();
  });
  RegisterExpand(M::kExamplesExpand, ids::ExamplesExpand::kModule, ids::ExamplesExpand::kWindow);
  RegisterExpand(M::kCommentAddExpand, ids::CommentAddExpand::kModule,
                 ids::CommentAddExpand::kWindow);
  RegisterExpand(M::kK9Expand, ids::K9Expand::kModule, ids::K9Expand::kWindow);
  RegisterExpand(M::kK7Expand, ids::K7Expand::kModule, ids::K7Expand::kWindow);
  RegisterExpand(M::kTaxExpand, ids::TaxExpand::kModule, ids::TaxExpand::kWindow);
  RegisterExpand(M::kK4Expand, ids::K4Expand::kModule, ids::K4Expand::kWindow);
  RegisterExpand(M::kK6Expand, ids::K6Expand::kModule, ids::K6Expand::kWindow);
  RegisterExpand(M::kK82Expand, ids::K82Expand::kModule, ids::K82Expand::kWindow);
}

}  // namespace korawin::app
