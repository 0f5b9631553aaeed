#include "Guard.h"

#include "MessageBox.h"
#include "Table.h"

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

QardelApplication::QardelApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool QardelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showError(exceptionMessage(std::current_exception()));
        return true;
    }
}

} // namespace qardel
