// qardel-adif: brings a log in from ADIF (ADI or ADX) and takes it out, on
// the data folder QARDEL uses, while QARDEL itself is closed.
#include "adif/Mapping.h"
#include "data/DataFolder.h"
#include "data/FileSync.h"
#include "data/ImportStage.h"
#include "data/Schema.h"
#include "data/uDM.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
         "XML испорчен в строке \\1, столбце \\2: \\3"},
        {"^the text of field (\\w+) is neither UTF-8 nor clearly Windows-1251 or Windows-1252$",
         "текст поля \\1 не в UTF-8 и не определяется однозначно как Windows-1251 или "
         "Windows-1252"},
        {"^field (\\w+) is not valid (.*)$", "поле \\1 не в кодировке \\2"},
        {"^the record is larger than (\\d+) MiB$", "запись больше \\1 МиБ"},
        {"^elements nest deeper than (\\d+) in the record$",
         "элементы в записи вложены глубже \\1 уровней"},
        {"^the file's encoding '(.*)' is not supported$",
         "кодировка файла «\\1» не поддерживается"},
        {"^(\\w+) cut to (\\d+) characters$", "\\1 обрезано до \\2 символов"},
        {"^lengths counted in characters$", "длины полей в символах, а не в байтах"},
        {"^a power that is not a number, left empty$", "мощность не число, оставлена пустой"}};
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
               "       qardel-adif [--data DIR] import [--dry-run] [--encoding ENC] FILE...\n\n"
               "Exports the whole log, oldest QSO first, as ADI (.adi, .adif, or - for the\n"
               "standard output) or ADX (.adx); imports ADI or ADX files, told apart by their\n"
               "content. ENC (utf-8, cp1251 or cp1252) reads every field in that encoding;\n"
               "without it each field's encoding is recognised. Works on QARDEL's data folder\n"
               "($APPDATA/QARDEL, else ~/.local/share/QARDEL) or on DIR, while QARDEL is closed.\n"
               "Exit code: 0 all done, 1 some records refused, 2 nothing done.",
               "Использование: qardel-adif [--data ПАПКА] export ФАЙЛ\n"
               "               qardel-adif [--data ПАПКА] import [--dry-run] [--encoding КОД] "
               "ФАЙЛ...\n\n"
               "export выгружает весь журнал, от старых связей к новым, в ADI (.adi, .adif или -\n"
               "для стандартного вывода) или ADX (.adx); import загружает файлы ADI или ADX\n"
               "(вид определяется по содержимому). КОД (utf-8, cp1251 или cp1252) задаёт\n"
               "кодировку всех полей; без него кодировка каждого поля определяется сама.\n"
               "Работает с папкой данных QARDEL ($APPDATA/QARDEL, иначе ~/.local/share/QARDEL)\n"
               "или с ПАПКОЙ, пока QARDEL закрыт.\n"
               "Код выхода: 0 всё сделано, 1 часть записей отклонена, 2 ничего не сделано."));
    return code;
}

QString systemReason(int e) {
    return QString::fromLocal8Bit(std::strerror(e));
}

// A file to import: only a regular file is read, and at most the size one
// import may take, so that a device, a FIFO or a disk image never hangs the
// command or takes all memory. Empty when read, else why not.
QString readInput(const QString& file, QByteArray* bytes) {
    // not blocking: a FIFO without a writer would wait for one
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return systemReason(errno);
    struct stat st {};
    QString why;
    if (::fstat(fd, &st) != 0)
        why = systemReason(errno);
    else if (!S_ISREG(st.st_mode))
        why = say("not a regular file (a folder, a device or a pipe)",
                  "это не обычный файл (папка, устройство или канал)");
    else if (st.st_size > adif::kMaxFileBytes)
        why = say("larger than %1 MiB", "больше %1 МиБ").arg(adif::kMaxFileBytes >> 20);
    if (why.isEmpty()) {
        bytes->resize(qsizetype(st.st_size));
        qsizetype got = 0;
        for (;;) {
            if (got == bytes->size()) {
                if (bytes->size() > adif::kMaxFileBytes) break;
                bytes->resize(std::min(bytes->size() + 65536, adif::kMaxFileBytes + 1));
                if (got == bytes->size()) break;
            }
            const ssize_t n = ::read(fd, bytes->data() + got, size_t(bytes->size() - got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                why = systemReason(errno);
                break;
            }
            if (n == 0) break;
            got += n;
        }
        bytes->resize(got);
        if (why.isEmpty() && got > adif::kMaxFileBytes) // it grew while it was read
            why = say("larger than %1 MiB", "больше %1 МиБ").arg(adif::kMaxFileBytes >> 20);
    }
    ::close(fd);
    if (!why.isEmpty()) bytes->clear();
    return why;
}

// The standard output, every write, the flush and the closing checked: a
// full disk or a reader that went away is a failure, not an export.
QString writeStdout(const QByteArray& bytes) {
    std::fflush(stdout);
    QString why = writeAllTo(STDOUT_FILENO, bytes);
    struct stat st {};
    if (why.isEmpty() && ::fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode) &&
        ::fsync(STDOUT_FILENO) != 0)
        why = systemReason(errno);
    if (why.isEmpty() && ::close(STDOUT_FILENO) != 0) why = systemReason(errno);
    return why;
}

int exportLog(TDM& dm, const QString& file) {
    auto shown = [](int done, int total) { progress(say("QSOs:", "Связей:"), done, total); };
    const QString version = QCoreApplication::applicationVersion();
    const bool adx = file.endsWith(QLatin1String(".adx"), Qt::CaseInsensitive);
    const int count = dm.dsMain->recordCount();
    const QByteArray bytes = adx ? adif::writeAdx(adif::exportLog(dm, shown), "QARDEL", version)
                                 : adif::exportAdi(dm, "QARDEL", version, shown);
    const bool toStdout = file == QLatin1String("-");
    // the file appears whole or not at all, and only where a regular file is
    // or none
    const WholeWrite w = toStdout ? WholeWrite{writeStdout(bytes)} : writeFileWhole(file, bytes);
    const QString why = w.notRegular ? say("not a regular file (a folder, a device, a pipe or a "
                                           "socket), left as it is",
                                           "это не обычный файл (папка, устройство, канал или "
                                           "сокет), он оставлен как есть")
                                     : w.error;
    if (w.written && !why.isEmpty()) {
        out(stderr, say("%1 QSOs exported to %2, but its folder could not be synced (%3): a "
                        "power cut may still lose the file.",
                        "Выгружено связей: %1, файл %2, но его папку не удалось сбросить на диск "
                        "(%3): при сбое питания файл ещё может пропасть.")
                        .arg(count)
                        .arg(file, why));
        return 2;
    }
    if (!why.isEmpty()) {
        out(stderr,
            say("Cannot write %1: %2. Nothing was exported.",
                "Не удалось записать %1: %2. Ничего не выгружено.")
                .arg(toStdout ? say("the standard output", "стандартный вывод") : file, why));
        return 2;
    }
    out(stderr, say("%1 QSOs exported to %2.", "Выгружено связей: %1, файл %2.")
                    .arg(count)
                    .arg(toStdout ? say("the standard output", "стандартный вывод") : file));
    return 0;
}

void printSummary(const adif::ImportSummary& s, const QMap<QString, int>& encodings, int imported) {
    out(stdout, say("Records read: %1", "Прочитано записей: %1").arg(s.read));
    out(stdout, say("QSOs imported: %1", "Загружено связей: %1").arg(imported));
    out(stdout, say("Duplicates skipped: %1", "Пропущено повторов: %1").arg(s.duplicates));
    out(stdout, say("Records refused: %1", "Отклонено записей: %1").arg(s.refused.size()));
    bool undecided = false;
    for (const adif::Refusal& x : s.refused) {
        out(stdout, say("  record %1: %2", "  запись %1: %2").arg(x.number).arg(x.reason));
        undecided = undecided || x.reason.contains(QLatin1String("Windows-1252"));
    }
    if (undecided)
        out(stdout, say("  (--encoding cp1251 or --encoding cp1252 reads such text as you say)",
                        "  (--encoding cp1251 или --encoding cp1252 читает такой текст так, как "
                        "вы укажете)"));
    if (!encodings.isEmpty()) {
        QStringList used;
        for (auto it = encodings.begin(); it != encodings.end(); ++it)
            used << say("%1 (%2 fields)", "%1 (полей: %2)").arg(it.key()).arg(it.value());
        out(stdout, say("Encodings: %1", "Кодировки: %1").arg(used.join(QStringLiteral(", "))));
    }
    for (auto it = s.repairs.begin(); it != s.repairs.end(); ++it)
        out(stdout,
            say("Repaired: %1 (%2)", "Исправлено: %1 (%2)").arg(reason(it.key())).arg(it.value()));
    for (auto it = s.notKept.begin(); it != s.notKept.end(); ++it)
        out(stdout,
            say("Not kept: %1 (%2)", "Не сохранено поле: %1 (%2)").arg(it.key()).arg(it.value()));
}

int importFiles(TDM& dm, const QStringList& files, bool dryRun, adif::Encoding encoding) {
    adif::ImportSummary s;
    QMap<QString, int> encodings;
    for (const QString& file : files) {
        QByteArray bytes;
        const QString unread = readInput(file, &bytes);
        if (!unread.isEmpty()) {
            dm.AbandonTables();
            out(stderr, say("Cannot read %1: %2. Nothing was imported.",
                            "Не удалось прочитать %1: %2. Ничего не загружено.")
                            .arg(file, unread));
            return 2;
        }
        const adif::ReadResult r = adif::read(bytes, encoding);
        bytes.clear();
        if (!r.error.isEmpty()) {
            dm.AbandonTables();
            out(stderr, say("%1 cannot be read: %2. Nothing was imported.",
                            "Файл %1 не читается: %2. Ничего не загружено.")
                            .arg(file, reason(r.error)));
            return 2;
        }
        for (auto it = r.repairs.begin(); it != r.repairs.end(); ++it)
            s.repairs[it.key()] += it.value();
        for (auto it = r.encodings.begin(); it != r.encodings.end(); ++it)
            encodings[it.key()] += it.value();
        for (const adif::Refusal& x : r.refused)
            s.refused.append({x.number, file + ": " + reason(x.reason)});
        s.read += int(r.refused.size());
        const qsizetype before = s.refused.size();
        adif::importRecords(dm, r.records, &s, [&](int done, int total) {
            progress(say("Records:", "Записей:"), done, total);
        });
        for (qsizetype i = before; i < s.refused.size(); ++i)
            s.refused[i].reason = file + ": " + reason(s.refused[i].reason);
    }
    if (dryRun) {
        dm.AbandonTables();
        printSummary(s, encodings, s.imported);
        out(stdout, say("Dry run: nothing was written.", "Пробный прогон: ничего не записано."));
        return s.refused.isEmpty() ? 0 : 1;
    }
    try {
        importstage::write(dm);
    } catch (const DbError& e) {
        dm.AbandonTables();
        printSummary(s, encodings, 0);
        out(stderr, say("%1\nNothing was imported: the data folder is as it was.",
                        "%1\nНичего не загружено: папка данных осталась прежней.")
                        .arg(e.message()));
        return 2;
    }
    printSummary(s, encodings, s.imported);
    return s.refused.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("qardel-adif"));
    app.setApplicationVersion(QStringLiteral(QARDEL_VERSION));
    g_russian = QLocale::system().language() == QLocale::Russian;
    // a reader that goes away is a write error to report, not a silent end
    std::signal(SIGPIPE, SIG_IGN);
    QStringList args = app.arguments().mid(1);
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h")))
        return usage(stdout, 0);
    QString dir = TDM::defaultDataDir();
    const qsizetype at = args.indexOf(QLatin1String("--data"));
    if (at >= 0) {
        if (at + 1 >= args.size()) return usage(stderr, 2);
        if (args[at + 1].trimmed().isEmpty()) {
            // an empty name would be the current folder
            out(stderr, say("--data needs the name of a folder.", "--data требует имя папки."));
            return 2;
        }
        dir = QDir(args[at + 1]).absolutePath() + QLatin1Char('/');
        args.remove(at, 2);
    }
    adif::Encoding encoding = adif::Encoding::Auto;
    const qsizetype enc = args.indexOf(QLatin1String("--encoding"));
    if (enc >= 0) {
        const QString name = enc + 1 < args.size() ? args[enc + 1].toLower() : QString();
        if (name == QLatin1String("utf-8") || name == QLatin1String("utf8"))
            encoding = adif::Encoding::Utf8;
        else if (name == QLatin1String("cp1251") || name == QLatin1String("windows-1251"))
            encoding = adif::Encoding::Cp1251;
        else if (name == QLatin1String("cp1252") || name == QLatin1String("windows-1252"))
            encoding = adif::Encoding::Cp1252;
        else
            return usage(stderr, 2);
        args.remove(enc, 2);
    }
    const bool dryRun = args.removeAll(QLatin1String("--dry-run")) > 0;
    if (args.size() < 2 ||
        (args[0] != QLatin1String("export") && args[0] != QLatin1String("import")) ||
        (args[0] == QLatin1String("export") &&
         (args.size() != 2 || dryRun || encoding != adif::Encoding::Auto)))
        return usage(stderr, 2);

    DataFolder folder(dir, !g_russian);
    const QString refused = folder.take();
    if (!refused.isEmpty()) {
        out(stderr, refused);
        return 2;
    }
    if (!folder.recovered().isEmpty()) out(stderr, folder.recovered());
    TDM dm;
    dm.DataDir = dir;
    try {
        dm.OpenTables();
    } catch (const DbError& e) {
        dm.AbandonTables();
        out(stderr, folder.unreadable(e.message()));
        return 2;
    }
    const bool exporting = args[0] == QLatin1String("export");
    try {
        if (exporting) {
            const int rc = exportLog(dm, args[1]);
            dm.AbandonTables(); // nothing to write
            return rc;
        }
        return importFiles(dm, args.mid(1), dryRun, encoding);
    } catch (const std::exception& e) {
        // whatever went wrong, nothing half done reaches the folder
        dm.AbandonTables();
        out(stderr, exporting ? say("%1\nNothing was exported.", "%1\nНичего не выгружено.")
                                    .arg(QString::fromLocal8Bit(e.what()))
                              : say("%1\nNothing was imported: the data folder is as it was.",
                                    "%1\nНичего не загружено: папка данных осталась прежней.")
                                    .arg(QString::fromLocal8Bit(e.what())));
        return 2;
    }
}
