#include "ui/qt/entry_guard.h"

#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextCursor>
#include <memory>

#include "ui/qt/text.h"

namespace korawin::ui::qt {

EntryValidator::EntryValidator(bool upper, RefusedFn refused, QObject* parent)
    : QValidator(parent), upper_(upper), refused_(std::move(refused)) {}

QValidator::State EntryValidator::validate(QString& input, int& pos) const {
  QString bad = FirstForeignChar(input);
  if (!bad.isEmpty()) {
    if (refused_) refused_(bad);
    return Invalid;
  }
  if (upper_) {
    QString upper = input.toUpper();
    // Only a change that keeps the length keeps the cursor where the user put it.
    if (upper.size() == input.size()) input = upper;
  }
  (void)pos;
  return Acceptable;
}

int AnsiBytes(const QString& text, bool crlf) {
  int n = 0;
  for (QChar c : text) n += (crlf && c == u'\n') ? 2 : 1;
  return n;
}

void GuardTextBox(QPlainTextEdit* box, RefusedFn refused, TooLongFn tooLong) {
  auto good = std::make_shared<QString>(box->toPlainText());
  QObject::connect(box, &QPlainTextEdit::textChanged, box, [box, good, refused, tooLong] {
    QString now = box->toPlainText();
    QString bad = FirstForeignChar(now);
    const int limit = box->property(kMaxBytesProperty).toInt();
    const bool over =
        bad.isEmpty() && limit > 0 && AnsiBytes(now, box->property(kCrLfProperty).toBool()) > limit;
    if (bad.isEmpty() && !over) {
      *good = now;
      return;
    }
    int pos = box->textCursor().position() - static_cast<int>(now.size() - good->size());
    {
      QSignalBlocker block(box);
      box->setPlainText(*good);
    }
    QTextCursor c = box->textCursor();
    c.setPosition(qBound(0, pos, static_cast<int>(good->size())));
    box->setTextCursor(c);
    if (over) {
      if (tooLong) tooLong(limit);
    } else if (refused) {
      refused(bad);
    }
  });
}

}  // namespace korawin::ui::qt
