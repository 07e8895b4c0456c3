// The error manager: one message table and one object through which the framework shows
// every complaint and question. Callers set the context (file, field, extra text), name a
// message id and act on the level that comes back.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ui/message_box.h"

namespace korawin::framework {

// Levels: the results of framework operations and the severities of messages. A caller that
// drops one does so visibly, (void) with the reason beside it.
enum [[nodiscard]] Level : uint8_t {
  LevelBenign = 0,
  LevelUser = 1,
  LevelProgram = 2,
  LevelFatal = 3,
  LevelCancel = 4,
  LevelNotify = 5,
};

using ui::ButtonCancel;
using ui::ButtonNo;
using ui::ButtonNone;
using ui::ButtonOk;
using ui::ButtonYes;

// Message ids of the built-in table.
enum MessageId : uint16_t {
  RecordRetrievalError = 1,
  AccessDenied = 2,
  RecordAdded = 3,
  RecordInsertError = 4,
  AddNewRecord = 5,
  RecordChangedByOther = 6,
  RecordChangedByOtherOnForm = 7,
  ChangesWillBeLost = 8,
  ConfirmDelete = 9,
  FileCreationError = 10,
  RecordNotDeleted = 11,
  InvalidRequestDelete = 12,
  DuplicateKeyError = 13,
  FieldContentsError = 14,
  ValueError = 15,
  RangeErrorBetween = 16,
  RangeErrorLower = 17,
  RangeErrorHigher = 18,
  FileLoadError = 19,
  InvalidRequestInsert = 20,
  TransactionCancelled = 21,
  NoRecords = 22,
  FileAccessError = 23,
  ProcedureNotDefined = 24,
  RecordNotUpdated = 25,
  KeyNotBuilt = 26,
  InvalidKey = 27,
  RecordNotRead = 28,
  ReferentialDeleteError = 30,
  ReferentialUpdateError = 31,
  AutoIncrementError = 32,
  RecordDeleteError = 33,
  RecordUpdateError = 34,
  SaveRecord = 35,
  BeginningOfFile = 36,
  EndOfFile = 37,
  InvalidRequestUpdate = 38,
  FileUsageError = 39,
  ViewOpenError = 40,
};

// The built-in message table as one read-only block: a 16-bit entry count, then per entry a
// 16-bit id, a level byte, the title and the message, each a length byte and its bytes
// (little-endian, no padding, no terminators).
std::span<const uint8_t> DefaultErrors();

// One message. Title and Message refer to the bytes of the table the entry came from.
struct ErrorEntry {
  uint16_t Id = 0;
  std::string_view Message;
  std::string_view Title;
  uint8_t Fatality = LevelBenign;
};

// Appended to a fatal message before the program ends.
inline constexpr std::string_view kFatalSuffix = "  Press OK to end this application";

class ErrorClass {
 public:
  ErrorClass() = default;
  ErrorClass(const ErrorClass&) = delete;
  ErrorClass& operator=(const ErrorClass&) = delete;
  virtual ~ErrorClass() = default;

  // Creates the message list with the built-in table. Call once before any file is opened.
  void Init();
  // Releases the message list.
  void Kill();

  // Appends the entries of a table in the block format of DefaultErrors(), in block order.
  // The table must outlive this object. A block cut short keeps the entries that are whole
  // and returns false.
  virtual bool AddErrors(std::span<const uint8_t> table);

  // Captures the current error of the calling thread: code, text, the driver's own code and
  // text (trailing blanks removed).
  void SetErrors();
  // Context for "%File" and "%Field" (trailing blanks removed, at most 255 characters).
  void SetFile(std::string_view name);
  void SetField(std::string_view name);

  // Makes the latest entry with id current; an id that no entry carries gets a generic
  // notice naming the id.
  void SetId(uint16_t id);
  // The current entry's message with every token replaced (at most 2000 characters).
  std::string SubstituteTokens();
  // A copy of the current entry.
  ErrorEntry Current();

  // SetErrors, then TakeError. Returns the level of the handler.
  Level Throw(uint16_t id);
  // MessageText = text (at most 255 characters), then Throw.
  Level ThrowMessage(uint16_t id, std::string_view text);
  // SetId, then the handler of the entry's level. Fatal levels end the program.
  Level TakeError(uint16_t id);
  // SetId, then shows the message with the exclamation icon and the given buttons; returns
  // the button pressed. Does not capture the error state.
  unsigned ShowMessage(uint16_t id, unsigned buttons, unsigned defaultButton);

  // Level handlers, each showing the current entry.
  virtual Level TakeBenign();
  virtual Level TakeFatal();
  virtual Level TakeNotify();
  virtual Level TakeOther();
  virtual Level TakeProgram();
  virtual Level TakeUser();

  // Shows messages through ui (nullptr: the program-wide message interface).
  void SetUi(ui::MessageUi* ui) { ui_ = ui; }

  // The message list and the context. Setting a field directly (MessageText, as callers do)
  // is not guarded; the setters are.
  std::vector<ErrorEntry> Errors;
  std::string FieldName;
  std::string FileName;
  std::string MessageText;
  std::string SaveError;
  int32_t SaveErrorCode = 0;
  std::string SaveFileError;
  std::string SaveFileErrorCode;

 protected:
  // Shows the current entry's expanded text (plus suffix) with its title; returns the button.
  unsigned Show(std::string_view suffix, ui::Icon icon, unsigned buttons, unsigned defaultButton);
  ui::MessageUi& Ui() { return ui_ ? *ui_ : ui::Messages(); }

 private:
  void SetIdLocked(uint16_t id);
  const ErrorEntry& CurrentLocked() const;
  std::string Expand(size_t index);

  // Program-wide object used from every procedure's thread: the state is guarded, boxes are
  // shown outside the lock.
  std::mutex mu_;
  static constexpr size_t kNoEntry = static_cast<size_t>(-1);
  size_t current_ = kNoEntry;  // index in Errors; kNoEntry: unknown_ is current
  ErrorEntry unknown_;
  std::string unknownText_;
  ui::MessageUi* ui_ = nullptr;
};

}  // namespace korawin::framework
