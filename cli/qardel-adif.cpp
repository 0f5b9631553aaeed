// qardel-adif: brings a log in from ADIF (ADI or ADX) and takes it out, on
// the data folder QARDEL uses, while QARDEL itself is closed.
#include "adif/Mapping.h"
#include "data/DataFolder.h"
#include "data/FileSync.h"
#include "data/Schema.h"
#include "data/uDM.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>

#include <cstdio>

using namespace qardel;

namespace {

bool g_russian = false;

// The text in the operator's language: Russian under a Russian locale.
QString say(const char* english, const char* russian) {
    return QString::fromUtf8(g_russian ? russian : english);
}

// The readers' and the mapping's reasons, in the operator's language.
QString reason(const QString& english) {
    if (!g_russian) return english;
    static const std::pair<const char*, const char*> kTexts[] = {
        {"^the call sign '(.*)' cannot be held as typed$",
         "позывной «\\1» нельзя записать так, как его набирают на панели"},
        {"^no call sign$", "нет позывного"},
        {"^no valid QSO_DATE and TIME_ON$", "нет верных QSO_DATE и TIME_ON"},
        {"^the length of field (\\w+) fits neither its bytes nor its characters$",
         "длина поля \\1 не сходится ни с байтами, ни с символами"},
        {"^the record has no end \\(<EOR>\\)$", "у записи нет конца (<EOR>)"},
        {"^field (\\w+) runs past the end of the file$", "поле \\1 выходит за конец файла"},
        {"^the header has no end \\(<EOH>\\)$", "у заголовка нет конца (<EOH>)"},
        {"^the XML is not well-formed at line (\\d+), column (\\d+): (.*)$",
         "XML испорчен в строке \\1, столбце \\2: \\3"}};
    for (const auto& [pattern, russian] : kTexts) {
        const QRegularExpression re(QString::fromUtf8(pattern));
        const auto m = re.match(english);
        if (!m.hasMatch()) continue;
        QString text = QString::fromUtf8(russian);
        for (int i = 1; i <= m.lastCapturedIndex(); ++i)
            text.replace(QStringLiteral("\\%1").arg(i), m.captured(i));
        return text;
    }
    return english;
}

void out(FILE* f, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), f);
    std::fputc('\n', f);
}

void progress(const QString& what, int done, int total) {
    std::fprintf(stderr, "\r%s %d / %d", qPrintable(what), done, total);
    if (done >= total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

int usage(FILE* f, int code) {
    out(f, say("Usage: qardel-adif [--data DIR] export FILE\n"
               "       qardel-adif [--data DIR] import [--dry-run] FILE...\n\n"
               "Exports the whole log, oldest QSO first, as ADI (.adi, .adif, or - for the\n"
               "standard output) or ADX (.adx); imports ADI or ADX files, told apart by their\n"
               "content. Works on QARDEL's data folder ($APPDATA/QARDEL, else\n"
               "~/.local/share/QARDEL) or on DIR, while QARDEL is closed.\n"
               "Exit code: 0 all done, 1 some records refused, 2 nothing done.",
               "Использование: qardel-adif [--data ПАПКА] export ФАЙЛ\n"
               "               qardel-adif [--data ПАПКА] import [--dry-run] ФАЙЛ...\n\n"
               "export выгружает весь журнал, от старых связей к новым, в ADI (.adi, .adif или -\n"
               "для стандартного вывода) или ADX (.adx); import загружает файлы ADI или ADX\n"
               "(вид определяется по содержимому). Работает с папкой данных QARDEL\n"
               "($APPDATA/QARDEL, иначе ~/.local/share/QARDEL) или с ПАПКОЙ, пока QARDEL закрыт.\n"
               "Код выхода: 0 всё сделано, 1 часть записей отклонена, 2 ничего не сделано."));
    return code;
}

// The nine files as they were, to put back when writing the import fails.
class Snapshot {
  public:
    explicit Snapshot(const QString& dir) : m_dir(dir) {
        m_copy = dir + QStringLiteral(".import-%1/").arg(QCoreApplication::applicationPid());
    }
    QString take() {
        QDir().mkpath(m_copy);
        for (const auto& tf : tableFiles()) {
            const QString f = m_dir + tf.second;
            if (!QFileInfo::exists(f)) continue;
            m_had << tf.second;
            if (!QFile::copy(f, m_copy + tf.second))
                return say("cannot copy %1", "не удалось скопировать %1").arg(f);
            const QString why = syncPath(m_copy + tf.second, false);
            if (!why.isEmpty()) return why;
        }
        return syncPath(m_copy, true);
    }
    // Puts every file back as it was; empty when done.
    QString restore() {
        QString failed;
        for (const auto& tf : tableFiles()) {
            const QString f = m_dir + tf.second;
            for (const char* side : {"-wal", "-shm"})
                QFile::remove(f + QLatin1String(side));
            if (m_had.contains(tf.second)) {
                if (std::rename(QFile::encodeName(m_copy + tf.second).constData(),
                                QFile::encodeName(f).constData()) != 0)
                    failed += ' ' + tf.second;
            } else {
                QFile::remove(f); // made by the import
            }
        }
        syncPath(m_dir, true);
        if (failed.isEmpty()) drop();
        return failed;
    }
    void drop() { QDir(m_copy).removeRecursively(); }
    const QString& copy() const { return m_copy; }

  private:
    QString m_dir, m_copy;
    QStringList m_had;
};

int exportLog(TDM& dm, const QString& file) {
    auto shown = [](int done, int total) { progress(say("QSOs:", "Связей:"), done, total); };
    const QString version = QCoreApplication::applicationVersion();
    const bool adx = file.endsWith(QLatin1String(".adx"), Qt::CaseInsensitive);
    const int count = dm.dsMain->recordCount();
    const QByteArray bytes = adx ? adif::writeAdx(adif::exportLog(dm, shown), "QARDEL", version)
                                 : adif::exportAdi(dm, "QARDEL", version, shown);
    if (file == QLatin1String("-")) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    } else {
        QSaveFile f(file); // the file appears whole or not at all
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
            out(stderr, say("Cannot write %1: %2", "Не удалось записать %1: %2")
                            .arg(file, f.errorString()));
            return 2;
        }
    }
    out(stderr,
        say("%1 QSOs exported to %2.", "Выгружено связей: %1, файл %2.")
            .arg(count)
            .arg(file == QLatin1String("-") ? say("the standard output", "стандартный вывод")
                                            : file));
    return 0;
}

int importFiles(TDM& dm, const QString& dir, const QStringList& files, bool dryRun) {
    adif::ImportSummary s;
    for (const QString& file : files) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) {
            out(stderr, say("Cannot read %1: %2. Nothing was imported.",
                            "Не удалось прочитать %1: %2. Ничего не загружено.")
                            .arg(file, f.errorString()));
            return 2;
        }
        const adif::ReadResult r = adif::read(f.readAll());
        if (!r.error.isEmpty()) {
            out(stderr, say("%1 cannot be read: %2. Nothing was imported.",
                            "Файл %1 не читается: %2. Ничего не загружено.")
                            .arg(file, reason(r.error)));
            return 2;
        }
        for (auto it = r.repairs.begin(); it != r.repairs.end(); ++it)
            s.repairs[it.key()] += it.value();
        for (const adif::Refusal& x : r.refused)
            s.refused.append({x.number, file + ": " + reason(x.reason)});
        s.read += int(r.refused.size());
        const int before = int(s.refused.size());
        adif::importRecords(dm, r.records, &s, [&](int done, int total) {
            progress(say("Records:", "Записей:"), done, total);
        });
        for (qsizetype i = before; i < s.refused.size(); ++i)
            s.refused[i].reason = file + ": " + reason(s.refused[i].reason);
    }
    // the summary
    out(stdout, say("Records read: %1", "Прочитано записей: %1").arg(s.read));
    out(stdout, say("QSOs imported: %1", "Загружено связей: %1").arg(s.imported));
    out(stdout, say("Duplicates skipped: %1", "Пропущено повторов: %1").arg(s.duplicates));
    out(stdout, say("Records refused: %1", "Отклонено записей: %1").arg(s.refused.size()));
    for (const adif::Refusal& x : s.refused)
        out(stdout, say("  record %1: %2", "  запись %1: %2").arg(x.number).arg(x.reason));
    static const QHash<QString, QString> repairsRu = {
        {adif::kRepairCharLengths, QStringLiteral("длины полей в символах, а не в байтах")},
        {adif::kRepairCp1251, QStringLiteral("текст в кодировке Windows-1251")},
        {adif::kRepairPower, QStringLiteral("мощность не число, оставлена пустой")}};
    for (auto it = s.repairs.begin(); it != s.repairs.end(); ++it)
        out(stdout, say("Repaired: %1 (%2)", "Исправлено: %1 (%2)")
                        .arg(g_russian ? repairsRu.value(it.key(), it.key()) : it.key())
                        .arg(it.value()));
    for (auto it = s.notKept.begin(); it != s.notKept.end(); ++it)
        out(stdout,
            say("Not kept: %1 (%2)", "Не сохранено поле: %1 (%2)").arg(it.key()).arg(it.value()));
    if (dryRun) {
        dm.AbandonTables();
        out(stdout, say("Dry run: nothing was written.", "Пробный прогон: ничего не записано."));
        return s.refused.isEmpty() ? 0 : 1;
    }
    Snapshot snap(dir);
    const QString notTaken = snap.take();
    if (!notTaken.isEmpty()) {
        snap.drop();
        dm.AbandonTables();
        out(stderr,
            say("Cannot keep a copy of the log before writing (%1). Nothing was written.",
                "Не удалось сохранить копию журнала перед записью (%1). Ничего не записано.")
                .arg(notTaken));
        return 2;
    }
    try {
        dm.SaveAll();
        dm.CloseTables();
    } catch (const DbError& e) {
        dm.AbandonTables();
        const QString failed = snap.restore();
        if (failed.isEmpty())
            out(stderr,
                say("%1\nThe data folder was put back exactly as it was; nothing was imported.",
                    "%1\nПапка данных возвращена в прежнее состояние; ничего не загружено.")
                    .arg(e.message()));
        else
            out(stderr, say("%1\nThe data folder could not be put back (%2); the files as they "
                            "were are in %3.",
                            "%1\nПапку данных не удалось вернуть в прежнее состояние (%2); прежние "
                            "файлы лежат в %3.")
                            .arg(e.message(), failed, snap.copy()));
        return 2;
    }
    snap.drop();
    return s.refused.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("qardel-adif"));
    app.setApplicationVersion(QStringLiteral(QARDEL_VERSION));
    g_russian = QLocale::system().language() == QLocale::Russian;
    QStringList args = app.arguments().mid(1);
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h")))
        return usage(stdout, 0);
    QString dir = TDM::defaultDataDir();
    const qsizetype at = args.indexOf(QLatin1String("--data"));
    if (at >= 0) {
        if (at + 1 >= args.size()) return usage(stderr, 2);
        dir = QDir(args[at + 1]).absolutePath() + QLatin1Char('/');
        args.remove(at, 2);
    }
    const bool dryRun = args.removeAll(QLatin1String("--dry-run")) > 0;
    if (args.size() < 2 ||
        (args[0] != QLatin1String("export") && args[0] != QLatin1String("import")) ||
        (args[0] == QLatin1String("export") && (args.size() != 2 || dryRun)))
        return usage(stderr, 2);

    DataFolder folder(dir, !g_russian);
    const QString refused = folder.take();
    if (!refused.isEmpty()) {
        out(stderr, refused);
        return 2;
    }
    TDM dm;
    dm.DataDir = dir;
    try {
        dm.OpenTables();
    } catch (const DbError& e) {
        dm.AbandonTables();
        out(stderr, folder.unreadable(e.message()));
        return 2;
    }
    if (args[0] == QLatin1String("export")) {
        const int rc = exportLog(dm, args[1]);
        dm.AbandonTables(); // nothing to write
        return rc;
    }
    return importFiles(dm, dir, args.mid(1), dryRun);
}
