#include "ui/common/Colors.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>

namespace qardel {

QColor windowColor() {
    return QApplication::palette().color(QPalette::Active, QPalette::Base);
}
QColor windowTextColor() {
    return QApplication::palette().color(QPalette::Active, QPalette::Text);
}
QColor previewColor() {
    return QColor(128, 128, 128);
}
QColor silverColor() {
    return QColor(192, 192, 192);
}
QColor editTint(const QColor& window) {
    return QColor(window.red(), window.green(), (window.blue() - 20 + 256) % 256);
}

} // namespace qardel

namespace qardel {

QFont panelFont() {
    static const bool loaded = [] {
        if (QFontDatabase::hasFamily(QStringLiteral("Tahoma"))) return true;
        // Only the regular face: with the bold face beside it this Tahoma
        // draws bold text in the regular weight, while from the regular face
        // alone bold is drawn emboldened.
        return QFontDatabase::addApplicationFont(
                   QStringLiteral("/usr/share/wine/fonts/tahoma.ttf")) >= 0;
    }();
    (void)loaded;
    return QFont(QStringLiteral("Tahoma"), 8);
}

} // namespace qardel
