// The colours of the entry panel's states.
#pragma once

#include <QColor>

namespace qardel {

QColor windowColor();     // the system colour of text-entry fields
QColor windowTextColor(); // the system colour of their text
QColor previewColor();    // grey: a notice preview
QColor silverColor();     // the disabled log grid
// The correcting-state tint: the window colour with blue reduced by 20, modulo 256.
QColor editTint(const QColor& window);

} // namespace qardel
