// The general error display: an error escaping a handler ends that handler,
// its message is shown in an error box, and the program goes on.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <utility>

namespace qardel {

void showError(const QString& message);
QString exceptionMessage(std::exception_ptr e);

// Runs one event handler; returns false when it ended with an error.
template <class F> bool guarded(F&& f) {
    try {
        std::forward<F>(f)();
        return true;
    } catch (...) {
        showError(exceptionMessage(std::current_exception()));
        return false;
    }
}

// Qt's own texts (context menus, standard buttons) in the system's language
// and one font, the windows' Tahoma 8 pt, for tooltips, menus and message
// boxes too. The application object does this at start.
void setUpLanguageAndFont(QApplication& app);

// The application object: the last resort for errors no handler caught.
class QardelApplication : public QApplication {
  public:
    QardelApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace qardel
