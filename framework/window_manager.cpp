#include "framework/window_manager.h"

#include <cstring>

#include "framework/browse.h"
#include "framework/resizer.h"
#include "framework/toolbar.h"
#include "lang/bind.h"
#include "ui/runtime/window.h"

namespace korawin::framework {

int& ThreadVcrRequest() {
  thread_local int request = VcrNone;
  return request;
}

WindowManager::~WindowManager() = default;

ErrorClass& WindowManager::Errs() {
  if (Errors) return *Errors;
  if (Primary && Primary->Me && Primary->Me->Errors) return *Primary->Me->Errors;
  // A window without files still answers questions through a table of its own.
  static ErrorClass* fallback = [] {
    auto* e = new ErrorClass;
    e->Init();
    return e;
  }();
  return *fallback;
}

bool WindowManager::OpenWindow(std::string_view module, std::string_view name) {
  return OpenWindow(module, name, false);
}

bool WindowManager::OpenWindow(std::string_view module, std::string_view name, bool hidden) {
  window_ = ui::Window::Open(module, name, hidden);
  Opened = window_ != nullptr;
  return Opened;
}

void WindowManager::AddItem(BrowseClass& browse) {
  for (BrowseClass* b : Browses)
    if (b == &browse) return;
  Browses.push_back(&browse);
}

void WindowManager::SelectFirstField() {
  if (FirstField && window_) window_->Select(FirstField);
}

void WindowManager::Redisplay() {
  if (window_) window_->Display();
}

// ---- Life -------------------------------------------------------------------------------------

Level WindowManager::Init() {
  if (Request == 0) Request = GlobalRequest.exchange(0);
  OriginalRequest = Request;
  Browses.clear();
  Buttons.clear();
  FileDrops.clear();
  lang::PUSHSCOPE(1);
  InsertAction = 2;
  DeleteAction = 2;
  ChangeAction = 1;
  CancelAction = 3;
  AutoToolbar = true;
  AutoRefresh = true;
  // Init runs on the procedure's thread: the browse that called this form shares its slot.
  VcrRequest = &ThreadVcrRequest();
  Dead = false;
  setUp_ = true;
  return LevelBenign;
}

Level WindowManager::Kill() {
  if (Dead || !setUp_) return LevelNotify;
  for (BrowseClass* b : Browses) b->Kill();
  for (BrowseClass* b : FileDrops) b->Kill();
  Browses.clear();
  FileDrops.clear();
  Buttons.clear();
  for (ProtectedFile& f : Files) {
    if (f.Saved) f.Manager->RestoreBuffer(f.Saved, true);
    f.Saved = 0;
  }
  if (Primary && Saved) {
    FileManager& me = *Primary->Me;
    if (Response == RequestCompleted) {
      // The record saved stays in the buffer: the caller positions on it or takes it as the
      // selected one. The copy is only dropped.
      uint16_t now = me.SaveBuffer();
      me.RestoreBuffer(Saved, true);
      me.RestoreBuffer(now, true);
    } else {
      me.RestoreBuffer(Saved, true);
    }
    Saved = 0;
  }
  if (Toolbar) Toolbar->Kill();
  if (Resize) Resize->Kill();
  Dead = true;
  lang::POPSCOPE();
  window_.reset();
  return LevelBenign;
}

uint8_t WindowManager::Run() {
  if (Init() == LevelBenign) Ask();
  // Kill also when Init stopped early: the scope of bound names must close on this thread.
  (void)Kill();  // 5 only when there was nothing to kill
  GlobalResponse = Response;
  return Response;
}

uint8_t WindowManager::RunProcedure(int number, uint8_t request) { return 0; }

void WindowManager::Ask() {
  LastInsertedPosition.clear();
  ui::Window* w = window_.get();
  if (!w) return;
  while (!w->Closed() && !Dead) {
    ui::EventKind kind = w->Accept().kind;
    if (kind == ui::EventKind::None) break;
    Level level = TakeEvent();
    if (level == LevelFatal) {
      w->Close();
      break;
    }
    if (level == LevelNotify) continue;
    if (kind == ui::EventKind::CloseWindow || kind == ui::EventKind::CloseDown) {
      w->Close();
      break;
    }
  }
}

void WindowManager::Open() {
  if (Translator && window_) Translator->TranslateWindow(*window_);
  Reset(false);
  Inited |= 1;
}

void WindowManager::Reset(bool force) {
  bool reload = force || ForcedReset;
  ForcedReset = false;
  for (BrowseClass* b : Browses) b->ResetSort(reload);
  for (BrowseClass* b : FileDrops) b->ResetSort(reload);
  Redisplay();
}

void WindowManager::Update() {
  // The browses read their records from the view when they need them; only the controls'
  // texts are taken here.
  if (window_) window_->Update();
}

// ---- Events -----------------------------------------------------------------------------------

Level WindowManager::TakeEvent() {
  ui::Window* w = window_.get();
  if (!w) return LevelFatal;
  const ui::Event ev = w->CurrentEvent();
  if (AutoToolbar && Toolbar) Toolbar->SetTarget(*w, w->Focus());
  Level level = LevelBenign;
  const bool fieldEvent = ui::IsFieldEvent(ev.kind);
  if (!fieldEvent) {
    level = TakeWindowEvent();
    if (level) return level;
  } else {
    switch (ev.kind) {
      case ui::EventKind::Accepted: level = TakeAccepted(); break;
      case ui::EventKind::Rejected: level = TakeRejected(); break;
      case ui::EventKind::Selected: level = TakeSelected(); break;
      case ui::EventKind::NewSelection: level = TakeNewSelection(); break;
      case ui::EventKind::AlertKey:
        if (HistoryKey && ev.key == HistoryKey) RestoreField(ev.control ? ev.control : w->Focus());
        break;
      default: break;
    }
    if (level) return level;
    level = TakeFieldEvent();
    if (level) return level;
  }
  if (w->Closed()) return LevelBenign;
  for (BrowseClass* b : Browses) b->TakeEvent();
  for (BrowseClass* b : FileDrops) b->TakeEvent();
  const bool closing = ev.kind == ui::EventKind::CloseWindow || ev.kind == ui::EventKind::CloseDown;
  if (AutoRefresh && !closing && !w->Closed()) {
    bool reload = false;
    for (BrowseClass* b : Browses) reload = b->NeedRefresh() || reload;
    if (reload) Reset(false);
  }
  return LevelBenign;
}

Level WindowManager::TakeWindowEvent() {
  ui::Window* w = window_.get();
  switch (w->EventNow()) {
    case ui::EventKind::OpenWindow:
      if (!(Inited & 1)) Open();
      SelectFirstField();
      break;
    case ui::EventKind::LoseFocus:
      if (ResetOnGainFocus) ForcedReset = true;
      break;
    case ui::EventKind::GainFocus:
      if (Inited) Reset(false);
      else Open();
      break;
    case ui::EventKind::Sized: case ui::EventKind::Maximized: case ui::EventKind::Restored:
      if (Resize) Resize->Resize();
      if (Inited) Reset(false);
      Inited |= 2;
      break;
    case ui::EventKind::Completed:
      return TakeCompleted();
    case ui::EventKind::CloseWindow: case ui::EventKind::CloseDown:
      return TakeCloseEvent();
    default:
      break;
  }
  return LevelBenign;
}

Level WindowManager::TakeAccepted() {
  ui::Window* w = window_.get();
  const int control = w->Field();
  if (Toolbar && Toolbar->TakeEvent(VcrRequest, *this)) return LevelBenign;
  for (const ButtonResponse& b : Buttons) {
    if (b.Control == control) {
      SetResponse(b.Response);
      return LevelNotify;
    }
  }
  if (OkControl && control == OkControl) {
    if (Request == InsertRecord || Request == ChangeRecord) {
      // Every control accepts in turn; "EVENT:Completed" follows unless one refused.
      w->SelectAll();
    } else {
      w->Post(ui::EventKind::Completed);
    }
  }
  return LevelBenign;
}

Level WindowManager::TakeRejected() {
  ui::Window* w = window_.get();
  w->Display(w->Field());
  w->Select(w->Field());
  return LevelBenign;
}

void WindowManager::SetResponse(uint8_t response) {
  Response = response;
  if (window_) window_->Post(ui::EventKind::CloseWindow);
  if (response == RequestCancelled && Toolbar && VcrRequest) *VcrRequest = VcrNone;
}

// ---- Update forms -----------------------------------------------------------------------------

Level WindowManager::PrimeUpdate() {
  if (!Primary) return LevelBenign;
  FileManager& me = *Primary->Me;
  (void)me.UseFile();  // a file that cannot open was reported; the save reports again
  Primary->SaveLinkingFields();
  for (ProtectedFile& f : Files) f.Saved = f.Manager->SaveBuffer();
  switch (Request) {
    case InsertRecord:
      if (InsertAction != 0) {
        Response = 0;
        PrimeFields();
        if (Response == RequestCancelled) return LevelFatal;
      }
      Response = RequestCancelled;
      break;
    case DeleteRecord:
      if (DeleteAction == 2 || DeleteAction == 4) {
        Level l = Primary->Delete(DeleteAction == 2);
        Response = l == LevelBenign ? RequestCompleted : RequestCancelled;
        return LevelFatal;
      }
      Response = RequestCancelled;
      break;
    default:
      Response = RequestCancelled;
      break;
  }
  Saved = me.SaveBuffer();
  return LevelBenign;
}

Level WindowManager::TakeCompleted() {
  // The values the ditto key gives back are the user's own, taken before the save.
  for (HistoryField& h : History) {
    h.Value.assign(static_cast<const char*>(h.Field.address), h.Field.size);
  }
  switch (Request) {
    case InsertRecord: return SaveInsert();
    case ChangeRecord: return SaveChange();
    case DeleteRecord: return SaveDelete();
    default: return LevelBenign;
  }
}

Level WindowManager::SaveInsert() {
  FileManager& me = *Primary->Me;
  if (me.Insert() != LevelBenign) {
    SelectFirstField();
    return LevelNotify;
  }
  uint8_t action = InsertAction;
  if (action == 4) {
    if (Errs().TakeError(RecordAdded) != LevelBenign) {
      SetResponse(RequestCompleted);
      return LevelNotify;
    }
    action = 3;
  }
  if (action != 3) {
    SetResponse(RequestCompleted);
    return LevelNotify;
  }
  // Another record on the same form: the files go back to how they stood, the primary record
  // to its primed state with a fresh number.
  LastInsertedPosition = me.Position();
  for (ProtectedFile& f : Files) {
    if (f.Saved) f.Manager->RestoreBuffer(f.Saved, true);
    f.Saved = f.Manager->SaveBuffer();
  }
  if (Saved) me.RestoreBuffer(Saved, true);
  Saved = 0;
  if (me.PrimeAutoInc() != LevelBenign && window_) window_->Post(ui::EventKind::CloseWindow);
  PrimeFields();
  Response = RequestCancelled;
  Saved = me.SaveBuffer();
  Redisplay();
  SelectFirstField();
  return LevelNotify;
}

namespace {

// A failure of the write itself, which another attempt may get past. A record changed by
// another station (re-read and shown) and the refusals of validation or integrity rules are
// not: the user looks at the form again instead.
bool RetryableUpdate(uint8_t error) {
  return error == RecordNotUpdated || error == TransactionCancelled;
}

}  // namespace

Level WindowManager::SaveChange() {
  FileManager& me = *Primary->Me;
  ui::Window* w = window_.get();
  Response = RequestCancelled;
  if (w) w->SetBusy(true);
  bool written = false;
  bool unchanged = Saved && me.EqualBuffer(Saved);
  while (!unchanged) {
    me.Info().LastError = 0;
    Level l = Primary->Update(HistoryKey ? UpdateShow : UpdateQuiet);
    if (l == LevelBenign) {
      written = true;
      break;
    }
    if (w) w->SetBusy(false);
    if (RetryableUpdate(me.Info().LastError)) {
      unsigned answer =
          Errs().ShowMessage(RecordUpdateError, ButtonYes | ButtonNo | ButtonCancel, ButtonCancel);
      if (answer == ButtonYes) {
        if (w) w->SetBusy(true);
        continue;
      }
      if (answer == ButtonNo) {
        // The user gives the change up: the form closes on the card as it was read.
        if (Saved) me.RestoreBuffer(Saved, false);
        if (w) w->Post(ui::EventKind::CloseWindow);
        return LevelNotify;
      }
    }
    Redisplay();
    SelectFirstField();
    return LevelNotify;
  }
  if (w) w->SetBusy(false);
  if (written || (VcrRequest == nullptr || *VcrRequest == VcrNone)) Response = RequestCompleted;
  if (w) w->Post(ui::EventKind::CloseWindow);
  return LevelNotify;
}

Level WindowManager::SaveDelete() {
  ui::Window* w = window_.get();
  Response = RequestCancelled;
  bool ask = true;
  for (;;) {
    if (w) w->SetBusy(true);
    Level l = Primary->DeleteNoRetry(ask);
    if (w) w->SetBusy(false);
    ask = false;
    if (l == LevelBenign) {
      SetResponse(RequestCompleted);
      return LevelNotify;
    }
    if (l == LevelCancel) break;  // the user kept the record
    unsigned answer =
        Errs().ShowMessage(RecordDeleteError, ButtonYes | ButtonNo | ButtonCancel, ButtonCancel);
    if (answer == ButtonYes) continue;
    if (answer == ButtonNo) {
      if (w) w->Post(ui::EventKind::CloseWindow);
      return LevelNotify;
    }
    break;
  }
  Redisplay();
  SelectFirstField();
  return LevelNotify;
}

Level WindowManager::TakeCloseEvent() {
  if (Response == RequestCompleted || !Primary) return LevelBenign;
  FileManager& me = *Primary->Me;
  if ((Request == InsertRecord || Request == ChangeRecord) && CancelAction && Saved &&
      !me.EqualBuffer(Saved)) {
    if ((CancelAction & 3) == 3) {
      unsigned answer =
          Errs().ShowMessage(SaveRecord, ButtonYes | ButtonNo | ButtonCancel, ButtonCancel);
      if (answer == ButtonYes) {
        if (window_) window_->Post(ui::EventKind::Accepted, OkControl);
        return LevelNotify;
      }
      if (answer != ButtonNo) {
        SelectFirstField();
        return LevelNotify;
      }
    } else if (CancelAction & 1) {
      if (window_) window_->Post(ui::EventKind::Accepted, OkControl);
      return LevelNotify;
    } else if (Errs().TakeError(ChangesWillBeLost) != LevelBenign) {
      SelectFirstField();
      return LevelNotify;
    }
  }
  if (OriginalRequest == InsertRecord && Response == RequestCancelled) {
    Primary->CancelAutoInc();
    if (me.Info().AutoIncDone) {
      SelectFirstField();
      return LevelNotify;
    }
  }
  if (!LastInsertedPosition.empty()) {
    // Records were added with "add another": the caller finds the last of them current.
    Response = RequestCompleted;
    (void)me.TryReget(LastInsertedPosition);  // gone meanwhile: the caller finds the buffer
  }
  return LevelBenign;
}

// ---- Ditto ------------------------------------------------------------------------------------

void WindowManager::AddHistoryField(int control, const lang::Variable& field) {
  History.push_back({control, field, {}});
}

void WindowManager::RestoreField(int control) {
  for (HistoryField& h : History) {
    if (h.Control != control || h.Value.size() != h.Field.size) continue;
    std::memcpy(const_cast<void*>(h.Field.address), h.Value.data(), h.Value.size());
    if (window_) window_->Display(control);
    return;
  }
}

}  // namespace korawin::framework
