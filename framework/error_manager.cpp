#include "framework/error_manager.h"

#include <string>

#include "platform/field_codec.h"
#include "storage/driver.h"
#include "ui/halt.h"

namespace korawin::framework {

namespace {

constexpr size_t kFieldMax = 255;
constexpr size_t kExpandMax = 2000;

// A context text as the fields keep it: at most 255 characters, trailing blanks removed.
std::string Clip(std::string_view s) {
  return std::string(platform::TrimTrailing(s.substr(0, kFieldMax)));
}

// Replaces every occurrence of token. The scan resumes after each inserted value, so a value
// that carries the token itself is left as it is instead of being expanded without end.
void ReplaceAll(std::string& text, std::string_view token, std::string_view value) {
  size_t pos = 0;
  while ((pos = text.find(token, pos)) != std::string::npos) {
    text.replace(pos, token.size(), value);
    pos += value.size();
    if (text.size() > kExpandMax) text.resize(kExpandMax);
  }
}

}  // namespace

void ErrorClass::Init() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    Errors.clear();
    current_ = kNoEntry;
  }
  AddErrors(DefaultErrors());
}

void ErrorClass::Kill() {
  std::lock_guard<std::mutex> lock(mu_);
  Errors.clear();
  Errors.shrink_to_fit();
  current_ = kNoEntry;
}

bool ErrorClass::AddErrors(std::span<const uint8_t> table) {
  std::lock_guard<std::mutex> lock(mu_);
  if (table.size() < 2) return false;
  size_t count = table[0] | (table[1] << 8);
  size_t p = 2;
  auto text = [&](std::string_view* out) {
    if (p >= table.size()) return false;
    size_t n = table[p++];
    if (table.size() - p < n) return false;
    *out = std::string_view(reinterpret_cast<const char*>(table.data() + p), n);
    p += n;
    return true;
  };
  for (size_t i = 0; i < count; ++i) {
    if (table.size() - p < 3) return false;
    ErrorEntry e;
    e.Id = static_cast<uint16_t>(table[p] | (table[p + 1] << 8));
    e.Fatality = table[p + 2];
    p += 3;
    if (!text(&e.Title) || !text(&e.Message)) return false;
    Errors.push_back(e);
  }
  return true;
}

void ErrorClass::SetErrors() {
  std::lock_guard<std::mutex> lock(mu_);
  SaveErrorCode = storage::ErrorCode();
  SaveError = Clip(storage::ErrorText());
  int driverCode = storage::DriverErrorCode();
  SaveFileErrorCode = driverCode ? std::to_string(driverCode) : std::string();
  SaveFileError = Clip(storage::DriverErrorText());
}

void ErrorClass::SetFile(std::string_view name) {
  std::lock_guard<std::mutex> lock(mu_);
  FileName = Clip(name);
}

void ErrorClass::SetField(std::string_view name) {
  std::lock_guard<std::mutex> lock(mu_);
  FieldName = Clip(name);
}

void ErrorClass::SetId(uint16_t id) {
  std::lock_guard<std::mutex> lock(mu_);
  SetIdLocked(id);
}

void ErrorClass::SetIdLocked(uint16_t id) {
  for (size_t i = Errors.size(); i-- > 0;) {
    if (Errors[i].Id == id) {
      current_ = i;
      return;
    }
  }
  // Showing whatever entry happens to be first would mislead; name the id instead.
  current_ = kNoEntry;
  unknownText_ = "Message number " + std::to_string(id) + " is not defined.";
  unknown_ = ErrorEntry{id, unknownText_, "Unknown Message", LevelNotify};
}

const ErrorEntry& ErrorClass::CurrentLocked() const {
  return current_ == kNoEntry ? unknown_ : Errors[current_];
}

ErrorEntry ErrorClass::Current() {
  std::lock_guard<std::mutex> lock(mu_);
  return CurrentLocked();
}

std::string ErrorClass::SubstituteTokens() {
  std::lock_guard<std::mutex> lock(mu_);
  return Expand(current_);
}

std::string ErrorClass::Expand(size_t index) {
  const ErrorEntry& entry = index == kNoEntry ? unknown_ : Errors[index];
  std::string t(entry.Message.substr(0, kExpandMax));
  ReplaceAll(t, "%FileErrorCode", SaveFileErrorCode);
  ReplaceAll(t, "%FileError", SaveFileError);
  ReplaceAll(t, "%File", FileName);
  ReplaceAll(t, "%ErrorCode", std::to_string(SaveErrorCode));
  if (t.find("%ErrorText") != std::string::npos) {
    // Code 90 carries the driver's own text; without one the runtime's text still says what
    // went wrong.
    bool driverOwn = SaveErrorCode == storage::kErrFileSystem &&
                     !(SaveFileError.empty() && SaveFileErrorCode.empty());
    std::string errorText =
        driverOwn ? SaveFileError + " (" + SaveFileErrorCode + ")"
                  : SaveError + " (" + std::to_string(SaveErrorCode) + ")";
    ReplaceAll(t, "%ErrorText", errorText);
  }
  ReplaceAll(t, "%Error", SaveError);
  ReplaceAll(t, "%Message", MessageText);
  ReplaceAll(t, "%Field", FieldName);
  if (t.find("%Previous") != std::string::npos) {
    // The overridden message, expanded like this one; earlier entries only, so this ends.
    std::string previous;
    if (index != kNoEntry) {
      for (size_t j = index; j-- > 0;) {
        if (Errors[j].Id == entry.Id) {
          previous = Expand(j);
          break;
        }
      }
    }
    ReplaceAll(t, "%Previous", previous);
  }
  return t;
}

Level ErrorClass::Throw(uint16_t id) {
  SetErrors();
  return TakeError(id);
}

Level ErrorClass::ThrowMessage(uint16_t id, std::string_view text) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    MessageText = std::string(text.substr(0, kFieldMax));
  }
  return Throw(id);
}

Level ErrorClass::TakeError(uint16_t id) {
  uint8_t level;
  {
    std::lock_guard<std::mutex> lock(mu_);
    SetIdLocked(id);
    level = CurrentLocked().Fatality;
  }
  switch (level) {
    case LevelBenign: return TakeBenign();
    case LevelUser:
    case LevelCancel: return TakeUser();
    case LevelProgram: return TakeProgram();
    case LevelFatal: return TakeFatal();
    case LevelNotify: return TakeNotify();
    default: return TakeOther();
  }
}

unsigned ErrorClass::ShowMessage(uint16_t id, unsigned buttons, unsigned defaultButton) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    SetIdLocked(id);
  }
  return Show({}, ui::Icon::Exclamation, buttons, defaultButton);
}

unsigned ErrorClass::Show(std::string_view suffix, ui::Icon icon, unsigned buttons,
                          unsigned defaultButton) {
  ui::MessageBoxRequest box;
  {
    std::lock_guard<std::mutex> lock(mu_);
    box.text = Expand(current_);
    box.text += suffix;
    box.caption = std::string(CurrentLocked().Title);
  }
  box.icon = icon;
  box.buttons = buttons;
  box.defaultButton = defaultButton;
  // Shown outside the lock: a modal box must not stop other procedures' messages.
  return Ui().ShowMessage(box);
}

Level ErrorClass::TakeBenign() { return LevelBenign; }

Level ErrorClass::TakeNotify() {
  Show({}, ui::Icon::Information, ButtonOk, ButtonOk);
  return LevelNotify;
}

Level ErrorClass::TakeUser() {
  unsigned pressed = Show({}, ui::Icon::Exclamation, ButtonYes + ButtonNo, ButtonYes);
  return pressed == ButtonYes ? LevelBenign : LevelCancel;
}

Level ErrorClass::TakeFatal() {
  std::string title;
  {
    std::lock_guard<std::mutex> lock(mu_);
    title = std::string(CurrentLocked().Title);
  }
  Show(kFatalSuffix, ui::Icon::Information, ButtonOk, ButtonOk);
  ui::Halt(0, title);
  return LevelFatal;  // only when a test has replaced the halt
}

Level ErrorClass::TakeProgram() { return TakeFatal(); }

Level ErrorClass::TakeOther() { return TakeProgram(); }

}  // namespace korawin::framework
