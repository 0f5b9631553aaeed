#include "ui/common/TextRules.h"

#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QValidator>

namespace qardel {

namespace {

bool isBidiFormat(char16_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
           c == 0x200F || c == 0x061C;
}

bool isBreak(char16_t c) {
    return c == u'\n' || c == u'\r' || c == u'\t' || c == 0x2028 || c == 0x2029 || c == 0x85 ||
           c == 0x0B || c == 0x0C;
}

// Calls keep(i, n) for each piece of text worth keeping (a character, or a
// surrogate pair) and brk() for each line break or tab.
template <typename Keep, typename Brk> void scan(const QString& text, Keep keep, Brk brk) {
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 < n && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
                keep(i, 2);
                ++i;
            }
            continue;
        }
        if (QChar::isLowSurrogate(c) || isBidiFormat(c)) continue;
        if (isBreak(c)) {
            brk(c);
            continue;
        }
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) continue;
        keep(i, 1);
    }
}

class LineValidator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override {
        const QString clean = cleanLineText(input);
        if (clean != input) {
            pos = int(qMin(cleanLineText(input.left(pos)).size(), clean.size()));
            input = clean;
        }
        return Acceptable;
    }
};

} // namespace

QString cleanLineText(const QString& text) {
    QString out;
    out.reserve(text.size());
    bool pendingSpace = false;
    scan(
        text,
        [&](qsizetype i, int n) {
            if (pendingSpace && !out.isEmpty() && !out.endsWith(QLatin1Char(' ')))
                out += QLatin1Char(' ');
            pendingSpace = false;
            out += QStringView(text).mid(i, n);
        },
        [&](char16_t) { pendingSpace = true; });
    return out;
}

QString cleanMemoText(const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); // one line break
    QString out;
    out.reserve(lines.size());
    scan(
        lines, [&](qsizetype i, int n) { out += QStringView(lines).mid(i, n); },
        [&](char16_t c) { out += c == u'\t' ? QLatin1Char('\t') : QLatin1Char('\n'); });
    return out;
}

void applyLineRules(QLineEdit* edit) {
    edit->setValidator(new LineValidator(edit));
}

void LineEdit::focusOutEvent(QFocusEvent* e) {
    const int start = selectionStart();
    const int length = int(selectedText().size());
    const bool atStart = cursorPosition() == start;
    QLineEdit::focusOutEvent(e); // drops the selection
    if (length > 0) {
        if (atStart)
            setSelection(start + length, -length);
        else
            setSelection(start, length);
    }
}

MemoEdit::MemoEdit(QWidget* parent) : QPlainTextEdit(parent) {
    // an emptied memo wraps at words again
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (wordWrapMode() != QTextOption::WrapAtWordBoundaryOrAnywhere && document()->isEmpty())
            setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    });
}

bool MemoEdit::hasLongWord(const QString& text) {
    int run = 0;
    for (const QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > kLongestWord) return true;
    }
    return false;
}

void MemoEdit::setText(const QString& text) {
    setWordWrapMode(hasLongWord(text) ? QTextOption::WrapAnywhere
                                      : QTextOption::WrapAtWordBoundaryOrAnywhere);
    setPlainText(text);
}

void MemoEdit::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText()) return;
    const QString text = cleanMemoText(source->text());
    if (hasLongWord(text)) setWordWrapMode(QTextOption::WrapAnywhere);
    insertPlainText(text);
}

} // namespace qardel
