#include "ui/common/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <deque>

namespace qardel {

namespace {
int g_beeps = 0;
bool g_testMode = false;
std::deque<msg::Answer> g_answers;
int g_questions = 0;
QString g_qCaption, g_qText, g_lastError, g_lastInformation;
msg::Icon g_qIcon = msg::Icon::Question;
msg::Answer g_qDefault = msg::Answer::Yes;
int g_errors = 0;

QMessageBox::Icon qtIcon(msg::Icon i) {
    switch (i) {
    case msg::Icon::Question:
        return QMessageBox::Question;
    case msg::Icon::Warning:
        return QMessageBox::Warning;
    case msg::Icon::Error:
        return QMessageBox::Critical;
    case msg::Icon::Information:
        return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}
} // namespace

void beep() {
    ++g_beeps;
    if (!g_testMode) QApplication::beep();
}
int beepCount() {
    return g_beeps;
}

namespace msg {

Answer question(const QString& caption, const QString& text, Icon icon, Answer defaultButton) {
    ++g_questions;
    g_qCaption = caption;
    g_qText = text;
    g_qIcon = icon;
    g_qDefault = defaultButton;
    if (g_testMode) {
        if (g_answers.empty()) return Answer::No;
        const Answer a = g_answers.front();
        g_answers.pop_front();
        return a;
    }
    QMessageBox box(qtIcon(icon), caption, text, QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
    box.setDefaultButton(defaultButton == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&Нет"));
    return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void error(const QString& text) {
    ++g_errors;
    g_lastError = text;
    if (g_testMode) return;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("QARDEL"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void information(const QString& text) {
    g_lastInformation = text;
    if (g_testMode) return;
    QMessageBox box(QMessageBox::Information, QStringLiteral("QARDEL"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void setTestMode(bool on) {
    g_testMode = on;
}
void presetAnswer(Answer a) {
    g_answers.push_back(a);
}
int questionCount() {
    return g_questions;
}
QString lastQuestionCaption() {
    return g_qCaption;
}
QString lastQuestionText() {
    return g_qText;
}
Icon lastQuestionIcon() {
    return g_qIcon;
}
Answer lastQuestionDefault() {
    return g_qDefault;
}
int errorCount() {
    return g_errors;
}
QString lastError() {
    return g_lastError;
}
QString lastInformation() {
    return g_lastInformation;
}
void resetCounters() {
    g_beeps = 0;
    g_questions = 0;
    g_errors = 0;
    g_answers.clear();
    g_qCaption.clear();
    g_qText.clear();
    g_lastError.clear();
    g_lastInformation.clear();
}

} // namespace msg
} // namespace qardel
