#include "ui/common/Colors.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QWidget>

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

void setWidgetColor(QWidget* w, std::initializer_list<QPalette::ColorRole> roles, const QColor& c) {
    static constexpr QPalette::ColorGroup groups[] = {QPalette::Active, QPalette::Inactive,
                                                      QPalette::Disabled};
    QPalette p = w->palette();
    bool same = true;
    for (auto g : groups)
        for (auto r : roles) {
            same = same && p.isBrushSet(g, r) && p.color(g, r) == c;
            p.setColor(g, r, c);
        }
    if (!same) w->setPalette(p);
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
