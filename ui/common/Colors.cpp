#include "Colors.h"

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
        bool ok = false;
        for (const char* f :
             {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"})
            ok = QFontDatabase::addApplicationFont(QLatin1String(f)) >= 0 || ok;
        return ok;
    }();
    (void)loaded;
    return QFont(QStringLiteral("Tahoma"), 8);
}

} // namespace qardel
