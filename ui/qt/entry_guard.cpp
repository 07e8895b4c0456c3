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

void GuardTextBox(QPlainTextEdit* box, RefusedFn refused) {
  auto good = std::make_shared<QString>(box->toPlainText());
  QObject::connect(box, &QPlainTextEdit::textChanged, box, [box, good, refused] {
    QString now = box->toPlainText();
    QString bad = FirstForeignChar(now);
    if (bad.isEmpty()) {
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
    if (refused) refused(bad);
  });
}

}  // namespace korawin::ui::qt
