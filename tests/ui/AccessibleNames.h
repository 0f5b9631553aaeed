// The names a screen reader speaks for the controls of a window.
#pragma once

#include "ui/common/DataGrid.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTabBar>

namespace qardel::test {

// One line per control the operator can reach ("objectName: name"), sorted.
// The parts of a combo box and of the tab bar speak for their owner.
inline QStringList accessibleNames(QWidget* window) {
    QStringList out;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        bool part = false;
        for (QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
            part = part || qobject_cast<QComboBox*>(p) || qobject_cast<QTabBar*>(p);
        const bool control = qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                             qobject_cast<QPlainTextEdit*>(w) ||
                             qobject_cast<QAbstractButton*>(w) || qobject_cast<DataGrid*>(w);
        if (part || !control) continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        out << w->objectName() + QStringLiteral(": ") +
                   (a ? a->text(QAccessible::Name) : QStringLiteral("<none>"));
    }
    out.sort();
    return out;
}

} // namespace qardel::test
