// What the text fields take, from typing, pasting, dropping or the program:
// stored text never holds characters that cannot be seen or that reorder
// what is shown, and never half a character.
#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QString>

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

// An edit that keeps its selection, and shows it, while another control has
// the focus (the completed part of a call sign stays highlighted).
class LineEdit : public QLineEdit {
  public:
    using QLineEdit::QLineEdit;

  protected:
    void focusOutEvent(QFocusEvent* e) override;
};
// A memo that takes pasted and dropped text by the memo rules (typing
// cannot enter such characters).
// Text with a very long run that cannot be broken at a word is wrapped
// anywhere: laying such a run out at word boundaries costs time that grows
// with the square of its length.
class MemoEdit : public QPlainTextEdit {
  public:
    explicit MemoEdit(QWidget* parent = nullptr);
    // Shows text, wrapped as it needs.
    void setText(const QString& text);
    // Longer runs without a space are wrapped anywhere.
    static constexpr int kLongestWord = 1000;
    static bool hasLongWord(const QString& text);

  protected:
    void insertFromMimeData(const QMimeData* source) override;
};

} // namespace qardel
