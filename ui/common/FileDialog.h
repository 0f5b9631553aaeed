// The one place that asks the operator for a file to write. Tests preset the
// answers instead of showing a dialog.
#pragma once

#include <QString>

class QWidget;

namespace qardel::file {

// A file name to save to, asking with the system's dialog; empty when the
// operator cancels. suggested: the name (or path) the dialog starts with;
// filter: "ADIF (*.adi)" and the like.
QString askSaveName(QWidget* parent, const QString& caption, const QString& suggested,
                    const QString& filter);

// --- for tests: when the test mode is on no dialog is shown; each question
// takes the next preset name (empty, a cancel, when none is left).
void setTestMode(bool on);
void presetSaveName(const QString& path);
QString lastCaption();

} // namespace qardel::file
