// A power cut at any moment of a run of saves. Every file-system operation of
// the run is recorded; for a moment in it, a crash state is what the syncs
// before it made durable plus any part of the later operations a file system
// may have kept: each page-sized piece of an unsynced write kept or lost on
// its own, each unsynced create, rename or removal kept or lost (a later one
// on the same name only with the earlier ones). Each state is built in a
// scratch folder and opened with the program's own loader; it must open, hold
// every save that had returned, hold each table as it was before or after the
// save under way, and refer to no row that no save deleted.
//
// QARDEL_POWERCUT_STATES (or --states N) sets how many states to check,
// QARDEL_POWERCUT_SECONDS the time after which the exploration stops,
// QARDEL_POWERCUT_SEED another run of saves and other random states, and
// QARDEL_POWERCUT_TRACE=1 prints the operations recorded.
#include "FsTrace.h"
#include "data/DataTestUtil.h"
#include "data/ImportStage.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sys/time.h>

#include <bit>
#include <cstring>
#include <functional>
#include <string_view>
#include <unordered_set>

using namespace qardel;
using fstrace::Op;

namespace {

// ---------------------------------------------------------------- what a state shows

quint64 mix(quint64 h, quint64 v) {
    h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    return h * 0xff51afd7ed558ccdULL;
}

quint64 hashOf(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Double:
        return std::bit_cast<quint64>(v.toDouble());
    case QMetaType::QDateTime:
        return mix(1, quint64(v.toDateTime().toMSecsSinceEpoch()));
    case QMetaType::Bool:
    case QMetaType::Int:
        return mix(2, quint64(v.toInt()));
    case QMetaType::QString:
        return mix(3, qHash(v.toString()));
    default:
        return 4; // null
    }
}

// Every table exactly, as one number over its rows (a full dump only says
// where a wrong one differs), and every reference to a row that is not there.
struct Seen {
    QString error; // the loader's refusal; empty when everything opened
    QList<quint64> tables;
    QList<QStringList> dumps; // when asked for
    QSet<QString> dangling;
    bool operator==(const Seen& o) const {
        return error == o.error && tables == o.tables && dangling == o.dangling;
    }
};

Seen see(TDM& dm, bool dump) {
    Seen s;
    for (Table* t : dm.tables()) {
        quint64 sum = 0; // of the rows' numbers, whatever their order
        for (int pos = 0; pos < t->recordCount(); ++pos) {
            quint64 row = 0;
            for (int fi = 0; fi < t->fieldCount(); ++fi)
                if (t->fieldDefs()[size_t(fi)].isStored())
                    row = mix(row, hashOf(t->valueAt(pos, fi)));
            sum += row;
        }
        s.tables << mix(sum, quint64(t->recordCount()));
        if (dump) s.dumps << testutil::dumpTable(*t);
    }
    const std::tuple<Table*, const QString*, Table*> references[] = {
        {dm.dsMain, &fld::CorID, dm.dsCors},          {dm.dsMain, &fld::BandID, dm.dsBands},
        {dm.dsMain, &fld::ModeID, dm.dsModes},        {dm.dsMain, &fld::CorRSID, dm.dsRS},
        {dm.dsMain, &fld::MyRSID, dm.dsRS},           {dm.dsCors, &fld::NameID, dm.dsNames},
        {dm.dsCors, &fld::CountryID, dm.dsCountryes}, {dm.dsCors, &fld::CityID, dm.dsCityes},
        {dm.dsBands, &fld::DefModeID, dm.dsModes}};
    for (const auto& [from, field, to] : references) {
        const QList<int> ids = testutil::idsInOrder(*to);
        const QSet<int> there(ids.begin(), ids.end());
        const int fi = from->fieldIndex(*field), idField = from->fieldIndex(fld::ID);
        for (int pos = 0; pos < from->recordCount(); ++pos) {
            const QVariant v = from->valueAt(pos, fi);
            if (v.isValid() && !there.contains(v.toInt()))
                s.dangling << QStringLiteral("%1 %2 of row %3 = %4")
                                  .arg(from->name(), *field)
                                  .arg(from->valueAt(pos, idField).toInt())
                                  .arg(v.toInt());
        }
    }
    return s;
}

// Opens a folder the way the program starts on it: an interrupted import
// is finished or undone first.
Seen load(const QString& dir, bool dump = false) {
    TDM dm;
    dm.DataDir = dir + QLatin1Char('/');
    Seen s;
    const importstage::Recovery recovery = importstage::recover(dm.DataDir);
    if (!recovery.error.isEmpty()) {
        s.error = QStringLiteral("the import cannot be finished: ") + recovery.error;
        return s;
    }
    try {
        dm.OpenTables();
        s = see(dm, dump);
    } catch (const DbError& e) {
        s.error = e.message();
    }
    dm.AbandonTables();
    return s;
}

// What the test command explores, at the most.
constexpr int kStates = 10500, kSeconds = 110;

int settingOr(const char* env, int def) {
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(env, &ok);
    return ok && v > 0 ? v : def;
}

// ---------------------------------------------------------------- the run of saves

// Saves of every kind the program makes, through the data module's save
// functions; the state after each is kept for the checks.
class Run {
  public:
    Run(const QString& dir, fstrace::Recorder& rec) : m_dir(dir + QLatin1Char('/')), m_rec(rec) {}

    QList<Seen> after; // the state after each save; [0] before the first
    QSet<int> imports; // the saves that are imports: all tables or none

    // importOnly: the first save, its closing, then an import
    void play(bool importOnly = false) {
        m_dm.DataDir = m_dir;
        m_dm.OpenTables();
        after << see(m_dm, true);
        save([&] { // the first run: reference lists and a log
            for (const char* mode : {"SSB", "CW", "FM", "AM"})
                addList(*m_dm.dsModes, fld::Name, QString::fromLatin1(mode));
            for (const char* band : {"160", "80", "40", "20", "15", "10", "2"}) {
                addList(*m_dm.dsBands, fld::Name, QString::fromLatin1(band));
                m_dm.dsBands->edit();
                m_dm.dsBands->fieldByName(fld::DefModeID).setAsInteger(1 + int(m_rng.bounded(4)));
                m_dm.dsBands->post();
            }
            for (int i = 0; i < 300; ++i)
                qso(false);
        });
        for (int step = 1; step <= (importOnly ? 0 : 48); ++step) {
            if (step % 16 == 0) {
                reopen();
                // only the log changes: the first write after the closing
                // is a whole one
                save([&] { deleteQso(); });
                continue;
            }
            switch (step % 8) {
            case 0:
            case 1:
            case 4:
                save([&] { qso(false); }); // new or known correspondent
                break;
            case 2:
                save([&] { qso(true); }); // a correction, answered Yes
                break;
            case 3:
            case 6:
                save([&] { deleteQso(); });
                break;
            case 5:
                save([&] { // the editor adds a row to one list and deletes one of another
                    addList(*m_dm.dsCityes, fld::Name, QStringLiteral("Новый-%1").arg(step));
                    Table& t = step % 3 ? *m_dm.dsNames : *m_dm.dsBands;
                    t.moveTo(int(m_rng.bounded(t.recordCount())));
                    t.deleteRecord();
                });
                break;
            case 7:
                save([&] { // several QSOs at once, as an import does
                    for (int i = 0; i < 10; ++i)
                        qso(false);
                });
                break;
            }
        }
        save([&] {}, true); // the closing
        importQsos();
    }

  private:
    void save(const std::function<void()>& change, bool closing = false) {
        const int n = int(after.size());
        m_rec.mark(Op::Begin, n);
        change();
        m_dm.SaveAll();
        after << see(m_dm, true);
        if (closing) m_dm.CloseTables();
        m_rec.mark(Op::End, n);
    }

    // An import as the ADIF command makes it, on the closed folder: opened,
    // QSOs with new correspondents and list values added, written through
    // the stage.
    void importQsos() {
        int n = int(after.size());
        m_rec.mark(Op::Begin, n);
        m_dm.OpenTables();
        after << see(m_dm, true);
        m_rec.mark(Op::End, n);
        n = int(after.size());
        imports.insert(n);
        m_rec.mark(Op::Begin, n);
        for (int i = 0; i < 40; ++i)
            qso(false);
        addList(*m_dm.dsModes, fld::Name, QStringLiteral("FT8"));
        after << see(m_dm, true); // what it leaves
        importstage::write(m_dm);
        m_rec.mark(Op::End, n);
    }

    // Closes and opens again; two files then changed behind the program's
    // back (their time) are written whole by the next saves.
    void reopen() {
        save([] {}, true);
        const int n = int(after.size());
        m_rec.mark(Op::Begin, n);
        m_dm.OpenTables();
        after << see(m_dm, true);
        m_rec.mark(Op::End, n);
        for (const char* f : {"Main.db", "Cors.db"}) {
            struct timeval tv[2] = {{1000000000, 0}, {1000000000, 0}};
            utimes(QFile::encodeName(m_dir + QLatin1String(f)).constData(), tv);
        }
    }

    void deleteQso() {
        m_dm.dsMain->moveTo(int(m_rng.bounded(m_dm.dsMain->recordCount())));
        m_dm.dsMain->deleteRecord();
    }

    void addList(Table& t, const QString& field, const QString& text) {
        t.append();
        t.fieldByName(field).setAsString(text);
        t.post();
    }

    QString pick(const QStringList& pool, const char* fresh) {
        if (m_newValues && m_rng.bounded(4) == 0)
            return QStringLiteral("%1%2").arg(fresh).arg(++m_fresh);
        return pool[int(m_rng.bounded(pool.size()))];
    }

    // A QSO as the entry panel saves it: new, or a correction of a random one
    // that gives its correspondent other properties.
    void qso(bool correcting, bool newValues = true) {
        static const QStringList names = {"Иван", "Олег", "Анна", "Юрий"};
        static const QStringList cities = {"Тверь", "Омск", "Пермь", "Орёл"};
        static const QStringList countries = {"Россия", "Беларусь", "Армения"};
        static const QStringList reports = {"59", "57", "599"};
        Table& log = *m_dm.dsMain;
        if (correcting) log.moveTo(int(m_rng.bounded(log.recordCount())));
        m_newValues = newValues;
        const QString call = correcting ? log.fieldByName(fld::CorCallName).asString()
                                        : QStringLiteral("RA%1").arg(m_rng.bounded(60));
        const CorProps props{
            m_dm.FindOrAddValue(*m_dm.dsNames, fld::Value, pick(names, "Имя")),
            m_dm.FindOrAddValue(*m_dm.dsCityes, fld::Name, pick(cities, "Город")),
            m_dm.FindOrAddValue(*m_dm.dsCountryes, fld::Name, pick(countries, "Страна"))};
        if (m_dm.FindOrAddCorrespondent(call.isEmpty() ? QStringLiteral("UA1A") : call, props))
            m_dm.SetCorrespondentProps(props);
        LogRowValues row;
        row.corId = m_dm.dsCors->fieldByName(fld::ID).asInteger();
        row.corRsId = m_dm.FindOrAddValue(*m_dm.dsRS, fld::Value, pick(reports, "5"));
        row.myRsId = m_dm.FindOrAddValue(*m_dm.dsRS, fld::Value, pick(reports, "4"));
        row.bandId = 1 + int(m_rng.bounded(7));
        row.modeId = 1 + int(m_rng.bounded(4));
        row.myPower = QStringLiteral("100");
        row.notice = QStringLiteral("QSO %1").arg(++m_qsos);
        m_dm.PostLogRow(correcting, row);
    }

    QString m_dir;
    fstrace::Recorder& m_rec;
    TDM m_dm;
    QRandomGenerator m_rng{quint32(settingOr("QARDEL_POWERCUT_SEED", 20261208))};
    int m_fresh = 0, m_qsos = 0;
    bool m_newValues = true; // a QSO may bring names, cities … the lists lack
};

// ---------------------------------------------------------------- crash states

using Files = std::map<QString, QByteArray>;

// Walks the record one operation at a time, keeping what is durable at that
// moment; builds the crash states of the moment from it and the operations
// not yet made durable.
class Moments {
  public:
    explicit Moments(const std::vector<Op>& ops) : m_ops(ops) {}

    size_t at() const { return m_k; }
    bool done() const { return m_k == m_ops.size(); }
    size_t optional() const { return m_pending.size(); }
    // the positions of the creates, renames and removals among them
    std::vector<size_t> names() const {
        std::vector<size_t> out;
        for (size_t i = 0; i < m_pending.size(); ++i)
            if (m_ops[m_pending[i].op].isName()) out.push_back(i);
        return out;
    }

    void step() {
        const Op& op = m_ops[m_k];
        switch (op.kind) {
        case Op::Write:
            // the write's pages, each kept or lost on its own
            for (qint64 from = op.offset, end = op.offset + op.data.size(); from < end;) {
                const qint64 to = std::min(end, (from / kPage + 1) * kPage);
                m_pending.push_back({m_k, from, to});
                from = to;
            }
            break;
        case Op::Truncate:
        case Op::Create:
        case Op::Rename:
        case Op::Unlink:
            m_pending.push_back({m_k, -1, -1});
            break;
        case Op::Sync:
        case Op::DirSync: { // what it makes durable leaves the optional part
            std::vector<Piece> still;
            for (const Piece& p : m_pending) {
                const Op& o = m_ops[p.op];
                // a folder's sync makes the names in it durable (a rename's
                // where it went)
                const bool synced =
                    op.kind == Op::Sync
                        ? o.isData() && o.inode == op.inode
                        : o.isName() &&
                              fstrace::folderOf(o.kind == Op::Rename ? o.to : o.name) == op.name;
                if (!synced)
                    still.push_back(p);
                else if (o.isData())
                    apply(m_durable[o.inode], p);
                else
                    rename(m_durableNames, o);
            }
            m_pending.swap(still);
            break;
        }
        case Op::Begin:
            m_inFlight = op.save;
            break;
        case Op::End:
            m_returned = op.save;
            m_inFlight = -1;
            break;
        }
        ++m_k;
    }

    int returned() const { return m_returned; }
    int inFlight() const { return m_inFlight; }

    // The files when exactly the optional pieces keep(i) says were kept; a
    // create, rename or removal is kept only with the earlier ones on its names.
    Files state(const std::function<bool(size_t)>& keep) const {
        std::map<int, QByteArray> content;
        std::map<QString, int> names = m_durableNames;
        std::map<QString, bool> broken;
        for (size_t i = 0; i < m_pending.size(); ++i) {
            const Piece& p = m_pending[i];
            const Op& o = m_ops[p.op];
            if (o.isData()) {
                if (!keep(i)) continue;
                auto it = content.find(o.inode);
                if (it == content.end()) it = content.emplace(o.inode, durable(o.inode)).first;
                apply(it->second, p);
                continue;
            }
            const QStringList touched =
                o.kind == Op::Rename ? QStringList{o.name, o.to} : QStringList{o.name};
            bool ok = keep(i);
            for (const QString& n : touched)
                ok = ok && !broken[n];
            if (ok)
                rename(names, o);
            else
                for (const QString& n : touched)
                    broken[n] = true;
        }
        Files files;
        for (const auto& [name, inode] : names) {
            auto it = content.find(inode);
            files[name] = it != content.end() ? it->second : durable(inode);
        }
        return files;
    }

  private:
    static constexpr qint64 kPage = 4096;
    struct Piece {
        size_t op;
        qint64 from, to; // the bytes of a write; -1 for other operations
    };

    QByteArray durable(int inode) const {
        auto it = m_durable.find(inode);
        return it == m_durable.end() ? QByteArray() : it->second;
    }

    void apply(QByteArray& file, const Piece& p) const {
        const Op& o = m_ops[p.op];
        if (o.kind == Op::Truncate) {
            file.resize(o.offset, '\0');
            return;
        }
        if (file.size() < p.to) file.resize(p.to, '\0');
        std::memcpy(file.data() + p.from, o.data.constData() + (p.from - o.offset),
                    size_t(p.to - p.from));
    }

    static void rename(std::map<QString, int>& names, const Op& o) {
        switch (o.kind) {
        case Op::Create:
            names[o.name] = o.inode;
            break;
        case Op::Rename:
            names.erase(o.name);
            names[o.to] = o.inode;
            break;
        default:
            names.erase(o.name);
        }
    }

    const std::vector<Op>& m_ops;
    size_t m_k = 0;
    std::vector<Piece> m_pending;
    std::map<int, QByteArray> m_durable;
    std::map<QString, int> m_durableNames;
    int m_returned = -1, m_inFlight = -1;
};

size_t hashOf(const Files& files, int returned, int inFlight) {
    size_t h = std::hash<int>()(returned * 1000 + inFlight);
    for (const auto& [name, data] : files) {
        h = h * 1000003 ^ qHash(name);
        h = h * 1000003 ^ std::hash<std::string_view>()({data.constData(), size_t(data.size())});
    }
    return h;
}

void putFiles(const QString& dir, const Files& files) {
    QDir d(dir);
    for (const QFileInfo& f :
         d.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        f.isDir() ? void(QDir(f.absoluteFilePath()).removeRecursively())
                  : void(d.remove(f.fileName()));
    for (const auto& [name, data] : files) {
        const QString path = dir + QLatin1Char('/') + name;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY(testutil::writeBytes(path, data));
    }
}

// Empty when a state may follow a power cut at this moment, else why not;
// `dumped` loads the state again with full dumps to say where it differs.
QString verdict(const Seen& s, const Seen& uncrashed, const QList<Seen>& after, int returned,
                int inFlight, bool import, const std::function<Seen()>& dumped) {
    if (!s.error.isEmpty())
        return s.error == uncrashed.error ? QString()
                                          : QStringLiteral("the loader refuses: ") + s.error;
    // an import leaves every table as before it or every table as after it
    if (import && s.tables != after[returned].tables && s.tables != after[inFlight].tables)
        return QStringLiteral("the import under way (save %1) is half done").arg(inFlight);
    for (int t = 0; t < s.tables.size(); ++t)
        if (s.tables[t] != after[returned].tables[t] &&
            (inFlight < 0 || s.tables[t] != after[inFlight].tables[t]))
            return QStringLiteral("table %1 is neither as save %2 left it nor as save %3 does: %4")
                .arg(t)
                .arg(returned)
                .arg(inFlight)
                .arg(testutil::firstDifference(dumped().dumps.value(t), after[returned].dumps[t]));
    for (const QString& d : s.dangling)
        if (!after[returned].dangling.contains(d) &&
            (inFlight < 0 || !after[inFlight].dangling.contains(d)))
            return QStringLiteral("a reference to a row no save deleted: ") + d;
    return {};
}

QString describe(const Op& o) {
    static const char* const kinds[] = {"create", "write",       "truncate", "sync", "rename",
                                        "unlink", "folder-sync", "begin",    "end"};
    QString s = QString::fromLatin1(kinds[o.kind]);
    if (o.inode >= 0) s += QStringLiteral(" #%1").arg(o.inode);
    if (!o.name.isEmpty()) s += QLatin1Char(' ') + o.name;
    if (!o.to.isEmpty()) s += QStringLiteral(" -> ") + o.to;
    if (o.kind == Op::Write) s += QStringLiteral(" %1+%2").arg(o.offset).arg(o.data.size());
    if (o.kind == Op::Truncate) s += QStringLiteral(" to %1").arg(o.offset);
    if (o.kind == Op::Begin || o.kind == Op::End) s += QStringLiteral(" save %1").arg(o.save);
    return s;
}

} // namespace

class TestPowerCut : public QObject {
    Q_OBJECT
  private slots:
    void everyCrashStateOpensWhole() {
        explore(false, settingOr("QARDEL_POWERCUT_STATES", kStates),
                settingOr("QARDEL_POWERCUT_SECONDS", kSeconds));
    }

    // An import alone, so that its moments are all explored whatever the
    // time limit does to the long run: all of it or nothing reaches the log.
    void anImportIsAllOrNothing() { explore(true, 3000, 60); }

  private:
    void explore(bool importOnly, int target, int seconds) {
        // the states are built in memory where the system has a folder for it
        QTemporaryDir data, scratchHome(QDir(QStringLiteral("/dev/shm")).exists()
                                            ? QStringLiteral("/dev/shm/qardel-XXXXXX")
                                            : QDir::tempPath() + QStringLiteral("/qardel-XXXXXX"));
        QVERIFY(data.isValid() && scratchHome.isValid());
        const QString scratch = scratchHome.path();

        std::vector<Op> ops;
        QList<Seen> after;
        QSet<int> imports;
        {
            fstrace::Recorder rec(data.path());
            Run run(data.path(), rec);
            run.play(importOnly);
            QVERIFY2(rec.broken().isEmpty(), qPrintable(rec.broken()));
            ops = rec.ops();
            after = run.after;
            imports = run.imports;
        }
        if (qEnvironmentVariableIsSet("QARDEL_POWERCUT_TRACE"))
            for (size_t i = 0; i < ops.size(); ++i)
                qInfo("%zu %s", i, qPrintable(describe(ops[i])));
        // the run's own files are the last state
        QCOMPARE(load(data.path()), after.last());

        // Each moment: nothing lost, all that is not durable lost, each
        // create, rename or removal that is not durable lost alone, then as
        // many other random states as the target leaves room for.
        size_t open = 0;
        for (Moments m(ops); !m.done(); m.step())
            open += m.optional() > 0;

        QElapsedTimer clock;
        clock.start();
        QRandomGenerator rng(quint32(settingOr("QARDEL_POWERCUT_SEED", 20261208)));
        std::unordered_set<size_t> seen;
        int checked = 0, failed = 0;
        QStringList failures;
        Moments m(ops);
        for (;; m.step()) {
            if (clock.elapsed() > seconds * 1000) break;
            const int r = std::max(m.returned(), 0), f = m.inFlight();
            // the first state has nothing lost: no refusal is right there,
            // later ones may share the refusals it has
            Seen uncrashed;
            uncrashed.error = QStringLiteral("(none)");
            bool first = true;
            auto check = [&](const std::function<bool(size_t)>& keep) {
                const Files files = m.state(keep);
                const bool fresh = seen.insert(hashOf(files, r, f)).second;
                if (!fresh && !first) return;
                putFiles(scratch, files);
                const Seen s = load(scratch);
                if (fresh) {
                    ++checked;
                    const QString why = verdict(s, uncrashed, after, r, f, imports.contains(f),
                                                [&] { return load(scratch, true); });
                    if (!why.isEmpty() && ++failed <= 5)
                        failures << QStringLiteral("at operation %1 of %2: %3")
                                        .arg(m.at())
                                        .arg(ops.size())
                                        .arg(why);
                }
                if (std::exchange(first, false)) uncrashed = s;
            };
            check([](size_t) { return true; });
            if (m.optional() > 0) {
                check([](size_t) { return false; });
                for (size_t lost : m.names())
                    check([lost](size_t k) { return k != lost; });
                // this moment's share of what is left of the target
                const int share = std::max(0, target - checked) / int(std::max<size_t>(open, 1));
                for (int tries = 0, got = checked + share; checked < got && tries < 3 * share + 3;
                     ++tries) {
                    // in order up to a point, or each on its own with some odds
                    const size_t cut = rng.bounded(quint32(m.optional() + 1));
                    const quint32 odds = 1 + rng.bounded(9);
                    const bool ordered = rng.bounded(3) == 0;
                    check([&](size_t k) { return ordered ? k < cut : rng.bounded(10u) < odds; });
                }
                --open;
            }
            if (m.done()) break;
        }
        qInfo("%d crash states checked, %d failed (%zu operations recorded over %lld saves, "
              "%.0f s%s)",
              checked, failed, ops.size(), qlonglong(after.size() - 1), clock.elapsed() / 1000.0,
              m.done() ? "" : "; stopped by the time limit");
        QVERIFY2(failed == 0, qPrintable(failures.join(QLatin1Char('\n'))));
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    const int at = int(args.indexOf(QStringLiteral("--states")));
    if (at >= 0 && at + 1 < args.size()) {
        qputenv("QARDEL_POWERCUT_STATES", args[at + 1].toLatin1());
        args.remove(at, 2);
    }
    // a long exploration outlasts Qt Test's watchdog unless it is told
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT",
                QByteArray::number(qint64(settingOr("QARDEL_POWERCUT_SECONDS", kSeconds) + 600) *
                                   1000));
    TestPowerCut t;
    return QTest::qExec(&t, args);
}

#include "tst_powercut.moc"
