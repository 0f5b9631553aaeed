// The one place that shows message boxes and beeps. Tests preset the next
// answers and count beeps and errors instead of showing anything.
#pragma once

#include <QString>

class QWidget;

namespace qardel {

void beep();
int beepCount();

namespace msg {

enum class Answer { Yes, No };
enum class Icon { Question, Warning, Error, Information };

// A modal Yes/No question.
Answer question(const QString& caption, const QString& text, Icon icon,
                Answer defaultButton = Answer::Yes);
// A modal error box.
void error(const QString& text);
// A modal box that tells what the program did on its own.
void information(const QString& text);

// --- for tests: when the test mode is on, no box is shown; questions take
// the preset answers in order (No when none is left) and errors are recorded.
void setTestMode(bool on);
void presetAnswer(Answer a);
int questionCount();
QString lastQuestionCaption();
QString lastQuestionText();
Icon lastQuestionIcon();
Answer lastQuestionDefault();
int errorCount();
QString lastError();
QString lastInformation();
void resetCounters();

} // namespace msg
} // namespace qardel
