// Feeds arbitrary bytes to the table-file loader: whatever a file holds, a
// load either gives a whole table or refuses with a message, and never
// crashes, hangs or leaks.
#include "data/Schema.h"
#include "data/uDM.h"

#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdlib>

using namespace qardel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString path = [] {
        const QString dir = QDir::tempPath() + QStringLiteral("/qardel-fuzz-%1").arg(getpid());
        QDir().mkpath(dir);
        return dir + QStringLiteral("/table.db");
    }();
    if (size == 0) return 0;
    // the first byte picks which of the nine tables reads the file
    const int which = data[0] % 9;
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) abort();
        f.write(reinterpret_cast<const char*>(data + 1), qint64(size - 1));
    }
    QFile::remove(path + QStringLiteral("-journal"));
    TDM dm;
    Table* t = dm.tables()[size_t(which)];
    t->filePath = path;
    try {
        t->load();
        // a loaded table must be usable all the way through
        for (t->first(); !t->eof(); t->next())
            for (int i = 0; i < t->fieldCount(); ++i)
                (void)t->field(i).displayText();
        t->abandon();
    } catch (const DbError&) {
    }
    return 0;
}
