// Helpers shared by the test programs.
#pragma once

#include <QDir>
#include <QTemporaryDir>

// A fresh data folder per test, with the trailing delimiter the data module expects.
struct TempDataDir {
    QTemporaryDir dir;
    QString path() const { return dir.path() + QLatin1Char('/'); }
};
