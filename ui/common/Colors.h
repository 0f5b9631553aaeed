// The colours of the entry panel's states.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

#include <initializer_list>

class QWidget;

namespace qardel {

QColor windowColor();     // the system colour of text-entry fields
QColor windowTextColor(); // the system colour of their text
QColor previewColor();    // grey: a notice preview
QColor silverColor();     // the disabled log grid
// The correcting-state tint: the window colour with blue reduced by 20, modulo 256.
QColor editTint(const QColor& window);

// Gives the widget colour c for these roles in every colour group. A widget
// that has them set to c already is left alone: a palette change goes
// through the widget and all its children.
void setWidgetColor(QWidget* w, std::initializer_list<QPalette::ColorRole> roles, const QColor& c);

// The windows' font, Tahoma 8 pt. Where the system lacks Tahoma, the free
// Tahoma of Debian's fonts-wine is loaded for the program.
QFont panelFont();

} // namespace qardel
