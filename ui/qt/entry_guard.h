// Keeps what the user types to what the runtime can store: Windows-1251 characters only, never a
// "?" in place of one it lacks. A refused character is reported so the window can say why.
#pragma once

#include <QValidator>
#include <functional>

class QPlainTextEdit;

namespace korawin::ui::qt {

using RefusedFn = std::function<void(const QString& ch)>;

// For one-line entries: refuses characters Windows-1251 lacks and, when upper is set, turns
// the text to upper case. The width limit is the entry's maxLength.
class EntryValidator : public QValidator {
 public:
  EntryValidator(bool upper, RefusedFn refused, QObject* parent);
  State validate(QString& input, int& pos) const override;

 private:
  bool upper_;
  RefusedFn refused_;
};

using TooLongFn = std::function<void(int limit)>;

// The property of a text box that holds the most bytes its variable takes (0: no limit), and
// the one that tells that its text keeps its line ends as CR LF (two bytes each).
inline constexpr char kMaxBytesProperty[] = "korawinMaxBytes";
inline constexpr char kCrLfProperty[] = "korawinCrLf";

// The bytes text takes in Windows-1251, a line end counting two when crlf.
int AnsiBytes(const QString& text, bool crlf);

// For text boxes, which take no validator: an edit that brings in a character Windows-1251
// lacks, or that makes the text longer than the box's kMaxBytesProperty, is undone and
// reported.
void GuardTextBox(QPlainTextEdit* box, RefusedFn refused, TooLongFn tooLong);

}  // namespace korawin::ui::qt
