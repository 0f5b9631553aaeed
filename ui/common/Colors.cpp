#include "Colors.h"

#include <QApplication>
#include <QPalette>

namespace qardel {

QColor windowColor() { return QApplication::palette().color(QPalette::Active, QPalette::Base); }
QColor windowTextColor() { return QApplication::palette().color(QPalette::Active, QPalette::Text); }
QColor previewColor() { return QColor(128, 128, 128); }
QColor silverColor() { return QColor(192, 192, 192); }
QColor editTint(const QColor& window) {
    return QColor(window.red(), window.green(), (window.blue() - 20 + 256) % 256);
}

} // namespace qardel
