// What the text fields take, from typing, pasting, dropping or the program:
// stored text never holds characters that cannot be seen or that reorder
// what is shown, and never half a character.
#pragma once

#include <QPlainTextEdit>
#include <QString>

class QLineEdit;

namespace qardel {

// A single line: no control characters (a line break or tab between words
// becomes one space), no bidirectional formatting characters, no lone half
// of a surrogate pair.
QString cleanLineText(const QString& text);
// A memo: line breaks and tabs stay; other control characters, bidirectional
// formatting characters and lone surrogate halves go.
QString cleanMemoText(const QString& text);

// The line rules for an edit, whatever puts text into it.
void applyLineRules(QLineEdit* edit);
// A memo that takes pasted and dropped text by the memo rules (typing
// cannot enter such characters).
class MemoEdit : public QPlainTextEdit {
  public:
    using QPlainTextEdit::QPlainTextEdit;

  protected:
    void insertFromMimeData(const QMimeData* source) override;
};

} // namespace qardel
