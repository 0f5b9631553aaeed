#include "ui/common/Guard.h"

#include "data/Table.h"
#include "ui/common/Colors.h"
#include "ui/common/MessageBox.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace qardel {

QString exceptionMessage(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const DbError& err) {
        return err.message();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Недостаточно памяти");
    } catch (const std::exception& err) {
        return QString::fromLocal8Bit(err.what());
    } catch (...) {
        return QStringLiteral("Неизвестная ошибка");
    }
}

void showError(const QString& message) {
    msg::error(message);
}

void setUpLanguageAndFont(QApplication& app) {
    auto* qt = new QTranslator(&app);
    if (qt->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
    const QFont font = panelFont();
    QApplication::setFont(font);
    for (const char* cls : {"QMenu", "QTipLabel", "QMessageBox", "QMessageBoxLabel", "QLabel",
                            "QPushButton", "QMenuBar", "QComboMenuItem", "QHeaderView"})
        QApplication::setFont(font, cls);
}

QardelApplication::QardelApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setUpLanguageAndFont(*this);
}

bool QardelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showError(exceptionMessage(std::current_exception()));
        return true;
    }
}

} // namespace qardel
