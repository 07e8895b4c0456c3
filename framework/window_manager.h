// The window manager: every procedure that opens a window runs it through one. It owns the
// window's browse lists, its buttons with fixed responses and the fields the ditto key
// recalls, runs the event loop and hands each event to overridable handlers. For an update
// form (the window that inserts, changes or deletes one record of a primary file) it carries
// out the request the calling browse passed in, decides what a close with unsaved changes
// does, and reports the outcome back as a response.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/relation_manager.h"
#include "lang/types.h"
#include "ui/runtime/event.h"

namespace korawin::ui {
class Window;
}

namespace korawin::framework {

class BrowseClass;
class ToolbarClass;
class WindowResizeClass;

// Requests a browse passes to an update form, and the form's responses.
enum RequestCode : uint8_t { InsertRecord = 1, ChangeRecord = 2, DeleteRecord = 3 };
enum ResponseCode : uint8_t { RequestCompleted = 1, RequestCancelled = 2 };

// The program-wide request/response pair: a browse puts its request here before it runs the
// update procedure (on its own thread, waiting for it), the form takes it at Init and leaves
// its response when it ends.
inline std::atomic<uint8_t> GlobalRequest{0};
inline std::atomic<uint8_t> GlobalResponse{0};

// Pending navigation requests of the toolbar: what to do after the form saved.
enum VcrCode : int {
  VcrNone = 0,
  VcrForward = 1,       // next record
  VcrBackward = 2,      // previous record
  VcrPageForward = 3,
  VcrPageBackward = 4,
  VcrFirst = 5,
  VcrLast = 6,
  VcrInsert = 7,        // a new record
};

// The pending navigation request of the calling thread: a browse and the form it calls run on
// one thread and share it.
int& ThreadVcrRequest();

// Translates a window's texts; the framework itself carries none.
class TranslatorClass {
 public:
  virtual ~TranslatorClass() = default;
  virtual void TranslateWindow(ui::Window& window) = 0;
};

// A button that closes the window with a fixed response.
struct ButtonResponse {
  int32_t Control = 0;
  uint8_t Response = 0;
};

// A file whose record is protected while the window is open.
struct ProtectedFile {
  FileManager* Manager = nullptr;
  uint16_t Saved = 0;
};

// A field the ditto key can recall, with its value at the last save.
struct HistoryField {
  int32_t Control = 0;
  lang::Variable Field;
  std::string Value;  // the field's bytes; empty until the first save
};

class WindowManager {
 public:
  WindowManager() = default;
  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;
  virtual ~WindowManager();

  // Virtual operations, in slot order.
  // The event loop: waits for each event and hands it to TakeEvent until the window closes.
  virtual void Ask();
  // Takes the global request, opens a scope of bound names, sets the defaults; 0.
  virtual Level Init();
  // Releases what Init and the procedure set up and closes the scope; 5 when already dead or
  // never set up, else 0.
  virtual Level Kill();
  // Translates the window, resets it and marks it opened.
  virtual void Open();
  // Default values of a new record; the base does nothing.
  virtual void PrimeFields() {}
  // Prepares an update form for its request (from Init). 3 when the form must not show.
  virtual Level PrimeUpdate();
  // Refreshes every browse (reloading when forced) and redisplays the window.
  virtual void Reset(bool force = false);
  // Puts the remembered value back into the field of control and shows it.
  virtual void RestoreField(int control);
  // Init, Ask, Kill; returns Response (also left in GlobalResponse).
  virtual uint8_t Run();
  // Runs update or print procedure number with request; returns its response. The base has
  // none and returns 0; procedures override it to start theirs.
  virtual uint8_t RunProcedure(int number, uint8_t request);
  // Registers control's field for the ditto key.
  virtual void AddHistoryField(int control, const lang::Variable& field);
  // Stores response and asks the window to close.
  virtual void SetResponse(uint8_t response);
  virtual Level TakeAccepted();
  // Saves by request.
  virtual Level TakeCompleted();
  // Decides whether the window may close.
  virtual Level TakeCloseEvent();
  // Dispatches the current event.
  virtual Level TakeEvent();
  virtual Level TakeFieldEvent() { return LevelBenign; }
  virtual Level TakeNewSelection() { return LevelBenign; }
  virtual Level TakeRejected();
  virtual Level TakeSelected() { return LevelBenign; }
  virtual Level TakeWindowEvent();
  // Stores the controls into their variables and lets every browse take its record.
  virtual void Update();

  // Opens the described window for this procedure; false when it is not described.
  bool OpenWindow(std::string_view module, std::string_view name);
  // The same, the window starting hidden (a progress window that may never be needed).
  bool OpenWindow(std::string_view module, std::string_view name, bool hidden);
  ui::Window* UiWindow() const { return window_.get(); }
  // Adds a button that closes the window with response.
  void AddButton(int control, uint8_t response) { Buttons.push_back({control, response}); }
  // Protects file's record while the window is open (saved by PrimeUpdate).
  void AddUpdateFile(FileManager& file) { Files.push_back({&file, 0}); }
  // Joins a browse (BrowseClass::Init does it).
  void AddItem(BrowseClass& browse);

  // Fields, in the order of the design.
  bool AutoRefresh = false;
  bool AutoToolbar = false;
  std::vector<BrowseClass*> Browses;
  std::vector<ButtonResponse> Buttons;
  std::vector<BrowseClass*> FileDrops;  // drop-down file lists are browses as well
  uint8_t CancelAction = 0;
  uint8_t ChangeAction = 0;
  bool Dead = false;
  uint8_t DeleteAction = 0;
  ErrorClass* Errors = nullptr;
  std::vector<ProtectedFile> Files;
  int32_t FirstField = 0;
  bool ForcedReset = false;
  bool ResetOnGainFocus = false;
  std::vector<HistoryField> History;
  int32_t HistoryKey = 0;
  uint8_t Inited = 0;
  uint8_t InsertAction = 0;
  std::string LastInsertedPosition;
  int32_t OkControl = 0;
  bool Opened = false;
  uint8_t OriginalRequest = 0;
  RelationManager* Primary = nullptr;
  uint8_t Request = 0;
  WindowResizeClass* Resize = nullptr;
  uint8_t Response = 0;
  uint16_t Saved = 0;
  ToolbarClass* Toolbar = nullptr;
  TranslatorClass* Translator = nullptr;
  int* VcrRequest = nullptr;

 protected:
  // The error manager the window speaks through.
  ErrorClass& Errs();
  void SelectFirstField();
  void Redisplay();
  Level SaveInsert();
  Level SaveChange();
  Level SaveDelete();

 private:
  std::unique_ptr<ui::Window> window_;
  bool setUp_ = false;  // Init ran
  int localVcr_ = VcrNone;
};

}  // namespace korawin::framework
