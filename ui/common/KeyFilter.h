// Key filters: each typed character is shown to the filter before the control
// inserts it; the filter returns the character to insert (possibly another
// one) or a null QChar to refuse it, and a refused character beeps.
#pragma once

#include <QChar>
#include <QObject>

#include <functional>

class QWidget;
class QKeyEvent;

namespace qardel {

using KeyFilterFn = std::function<QChar(QChar typed)>;

class KeyFilter : public QObject {
  public:
    KeyFilter(QWidget* control, KeyFilterFn fn);
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    KeyFilterFn m_fn;
    bool m_resending = false;
};

// Installs fn on the control.
KeyFilter* installKeyFilter(QWidget* control, KeyFilterFn fn);

// The typed character of a key press, or a null QChar for keys that type
// nothing (arrows, shortcuts with Ctrl or Alt, Tab).
QChar typedChar(const QKeyEvent* e);

} // namespace qardel
