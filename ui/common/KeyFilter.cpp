#include "ui/common/KeyFilter.h"

#include "ui/common/Guard.h"
#include "ui/common/MessageBox.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>

namespace qardel {

QChar typedChar(const QKeyEvent* e) {
    if (e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab) return {};
    // X11 gives the Delete key the text DEL (127); it types nothing
    if (e->key() == Qt::Key_Delete) return {};
    if (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return {};
    const QString t = e->text();
    if (t.size() != 1) return {};
    return t.at(0);
}

KeyFilter::KeyFilter(QWidget* control, KeyFilterFn fn) : QObject(control), m_fn(std::move(fn)) {}

bool KeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || m_resending) return false;
    auto* ke = static_cast<QKeyEvent*>(event);
    const QChar ch = typedChar(ke);
    if (ch.isNull()) return false;
    QChar out;
    if (!guarded([&] { out = m_fn(ch); })) return true;
    if (out.isNull()) {
        beep();
        return true;
    }
    if (out == ch) return false;
    // The control inserts the replacement instead of the typed character.
    QKeyEvent replaced(QEvent::KeyPress, ke->key(), ke->modifiers(), QString(out),
                       ke->isAutoRepeat(), ke->count());
    m_resending = true;
    QCoreApplication::sendEvent(watched, &replaced);
    m_resending = false;
    return true;
}

KeyFilter* installKeyFilter(QWidget* control, KeyFilterFn fn) {
    // An editable combo box hands typed keys to its edit part directly, so
    // the filter watches the box itself.
    auto* f = new KeyFilter(control, std::move(fn));
    control->installEventFilter(f);
    return f;
}

} // namespace qardel
