#include "ui/console_message_box.h"

#include <unistd.h>

#include <cctype>
#include <cstring>
#include <string>

#include "platform/codepage.h"

namespace korawin::ui {

namespace {

const char* ButtonName(Button b) {
  switch (b) {
    case ButtonOk: return "OK";
    case ButtonYes: return "Yes";
    case ButtonNo: return "No";
    case ButtonCancel: return "Cancel";
    default: return "";
  }
}

const char* IconLabel(Icon icon) {
  switch (icon) {
    case Icon::Hand: return "[Error] ";
    case Icon::Question: return "[Question] ";
    case Icon::Exclamation: return "[Warning] ";
    case Icon::Information: return "[Information] ";
    default: return "";
  }
}

int OfferedCount(const MessageBoxRequest& box) {
  int n = 0;
  for (Button b : kButtonOrder) n += (box.buttons & b) ? 1 : 0;
  return n;
}

// Closing a box answers Cancel when it has one, OK when OK is all it has.
unsigned ClosedAnswer(const MessageBoxRequest& box) {
  if (box.buttons & ButtonCancel) return ButtonCancel;
  if (OfferedCount(box) <= 1 && (box.buttons & ButtonOk)) return ButtonOk;
  return ButtonNone;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

ConsoleMessageUi::ConsoleMessageUi()
    : ConsoleMessageUi(stdin, stderr, ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO)) {}

ConsoleMessageUi::ConsoleMessageUi(std::FILE* in, std::FILE* out, bool interactive)
    : in_(in), out_(out), interactive_(interactive && in != nullptr) {}

unsigned ConsoleMessageUi::ShowMessage(const MessageBoxRequest& box) {
  std::lock_guard<std::mutex> lock(mu_);
  std::string caption = platform::Cp1251ToUtf8(box.caption);
  std::string text = platform::Cp1251ToUtf8(box.text);
  std::fprintf(out_, "%s%s\n%s\n", IconLabel(box.icon), caption.c_str(), text.c_str());
  unsigned answer = EffectiveDefault(box);
  if (interactive_ && OfferedCount(box) > 1) answer = Ask(box);
  std::fflush(out_);
  return answer;
}

unsigned ConsoleMessageUi::Ask(const MessageBoxRequest& box) {
  unsigned def = EffectiveDefault(box);
  std::string prompt;
  for (Button b : kButtonOrder) {
    if (!(box.buttons & b)) continue;
    if (!prompt.empty()) prompt += '/';
    prompt += ButtonName(b);
  }
  prompt += " [";
  prompt += ButtonName(static_cast<Button>(def));
  prompt += "]? ";
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::fputs(prompt.c_str(), out_);
    std::fflush(out_);
    char line[256];
    if (!std::fgets(line, sizeof line, in_)) return ClosedAnswer(box);
    if (!std::strchr(line, '\n')) {  // drop the rest of an overlong line
      int c;
      while ((c = std::fgetc(in_)) != EOF && c != '\n') {}
    }
    std::string word = line;
    while (!word.empty() && std::isspace(static_cast<unsigned char>(word.back()))) word.pop_back();
    size_t start = word.find_first_not_of(" \t");
    word = Lower(start == std::string::npos ? std::string() : word.substr(start));
    if (word.empty()) return def;
    unsigned match = ButtonNone;
    int matches = 0;
    for (Button b : kButtonOrder) {
      if (!(box.buttons & b)) continue;
      std::string name = Lower(ButtonName(b));
      if (name.compare(0, word.size(), word) == 0 && word.size() <= name.size()) {
        match = b;
        ++matches;
      }
    }
    if (matches == 1) return match;
  }
  return def;
}

void ConsoleMessageUi::Beep(Sound /*kind*/) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!interactive_) return;
  std::fputc('\a', out_);
  std::fflush(out_);
}

}  // namespace korawin::ui
