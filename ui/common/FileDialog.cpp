#include "ui/common/FileDialog.h"

#include <QDir>
#include <QFileDialog>

#include <deque>

namespace qardel::file {

namespace {
bool g_testMode = false;
std::deque<QString> g_names;
QString g_caption;
} // namespace

QString askSaveName(QWidget* parent, const QString& caption, const QString& suggested,
                    const QString& filter) {
    g_caption = caption;
    if (g_testMode) {
        if (g_names.empty()) return {};
        const QString name = g_names.front();
        g_names.pop_front();
        return name;
    }
    const QString start =
        QDir::isAbsolutePath(suggested) ? suggested : QDir::home().filePath(suggested);
    return QFileDialog::getSaveFileName(parent, caption, start, filter);
}

void setTestMode(bool on) {
    g_testMode = on;
    g_names.clear();
}

void presetSaveName(const QString& path) {
    g_names.push_back(path);
}

QString lastCaption() {
    return g_caption;
}

} // namespace qardel::file
