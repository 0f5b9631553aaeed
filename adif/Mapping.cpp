#include "adif/Mapping.h"

#include "callinfo/Sources.h"
#include "data/BandPlan.h"
#include "data/Fields.h"
#include "data/TableColumn.h"

#include <QTimeZone>

#include <algorithm>
#include <climits>
#include <cmath>
#include <type_traits>

namespace qardel::adif {

namespace {

// ADIF's modes, each with its submodes.
struct ModeDef {
    const char* mode;
    std::initializer_list<const char*> submodes;
};
const ModeDef kModeDefs[] = {
    {"AM", {}},
    {"ARDOP", {}},
    {"ATV", {}},
    {"CHIP", {"CHIP64", "CHIP128"}},
    {"CLO", {}},
    {"CONTESTI", {}},
    {"CW", {"PCW"}},
    {"DIGITALVOICE", {"C4FM", "DMR", "DSTAR", "FREEDV", "M17"}},
    {"DOMINO",
     {"DOM-M", "DOM4", "DOM5", "DOM8", "DOM11", "DOM16", "DOM22", "DOM44", "DOM88", "DOMINOEX",
      "DOMINOF"}},
    {"DYNAMIC", {"VARA HF", "VARA SATELLITE", "VARA FM 1200", "VARA FM 9600"}},
    {"FAX", {}},
    {"FM", {}},
    {"FSK441", {}},
    {"FT8", {}},
    {"HELL", {"FMHELL", "FSKHELL", "HELL80", "HELLX5", "HELLX9", "HFSK", "PSKHELL", "SLOWHELL"}},
    {"ISCAT", {"ISCAT-A", "ISCAT-B"}},
    {"JT4", {"JT4A", "JT4B", "JT4C", "JT4D", "JT4E", "JT4F", "JT4G"}},
    {"JT9",
     {"JT9-1", "JT9-2", "JT9-5", "JT9-10", "JT9-30", "JT9A", "JT9B", "JT9C", "JT9D", "JT9E",
      "JT9E FAST", "JT9F", "JT9F FAST", "JT9G", "JT9G FAST", "JT9H", "JT9H FAST"}},
    {"JT44", {}},
    {"JT65", {"JT65A", "JT65B", "JT65B2", "JT65C", "JT65C2"}},
    {"MFSK",
     {"FSQCALL", "FST4", "FST4W", "FT4", "JS8", "JTMS", "MFSK4", "MFSK8", "MFSK11", "MFSK16",
      "MFSK22", "MFSK31", "MFSK32", "MFSK64", "MFSK64L", "MFSK128", "MFSK128L", "Q65"}},
    {"MSK144", {}},
    {"MT63", {}},
    {"OLIVIA",
     {"OLIVIA 4/125", "OLIVIA 4/250", "OLIVIA 8/250", "OLIVIA 8/500", "OLIVIA 16/500",
      "OLIVIA 16/1000", "OLIVIA 32/1000"}},
    {"OPERA", {"OPERA-BEACON", "OPERA-QSO"}},
    {"PAC", {"PAC2", "PAC3", "PAC4"}},
    {"PAX", {"PAX2"}},
    {"PKT", {}},
    {"PSK",
     {"8PSK125",   "8PSK125F",   "8PSK125FL",  "8PSK250",    "8PSK250F",   "8PSK250FL", "8PSK500",
      "8PSK500F",  "8PSK1000",   "8PSK1000F",  "8PSK1200F",  "FSK31",      "PSK10",     "PSK31",
      "PSK63",     "PSK63F",     "PSK63RC10",  "PSK63RC20",  "PSK63RC32",  "PSK63RC4",  "PSK63RC5",
      "PSK125",    "PSK125RC10", "PSK125RC12", "PSK125RC16", "PSK125RC4",  "PSK125RC5", "PSK250",
      "PSK250RC2", "PSK250RC3",  "PSK250RC5",  "PSK250RC6",  "PSK250RC7",  "PSK500",    "PSK500RC2",
      "PSK500RC3", "PSK500RC4",  "PSK800RC2",  "PSK1000",    "PSK1000RC2", "PSKAM10",   "PSKAM31",
      "PSKAM50",   "PSKFEC31",   "QPSK31",     "QPSK63",     "QPSK125",    "QPSK250",   "QPSK500",
      "SIM31"}},
    {"PSK2K", {}},
    {"Q15", {}},
    {"QRA64", {"QRA64A", "QRA64B", "QRA64C", "QRA64D", "QRA64E"}},
    {"ROS", {"ROS-EME", "ROS-HF", "ROS-MF"}},
    {"RTTY", {"ASCI"}},
    {"RTTYM", {}},
    {"SSB", {"LSB", "USB"}},
    {"SSTV", {}},
    {"T10", {}},
    {"THOR",
     {"THOR-M", "THOR4", "THOR5", "THOR8", "THOR11", "THOR16", "THOR22", "THOR25X4", "THOR50X1",
      "THOR50X2", "THOR100"}},
    {"THRB", {"THRBX", "THRBX1", "THRBX2", "THRBX4", "THROB1", "THROB2", "THROB4"}},
    {"TOR", {"AMTORFEC", "GTOR", "NAVTEX", "SITORB"}},
    {"V4", {}},
    {"VOI", {}},
    {"WINMOR", {}},
    {"WSPR", {}}};

// Names loggers use for what ADIF calls otherwise.
const std::pair<const char*, const char*> kModeAliases[] = {
    {"BPSK31", "PSK31"},   {"BPSK63", "PSK63"},
    {"BPSK125", "PSK125"}, {"BPSK250", "PSK250"},
    {"PACKET", "PKT"},     {"DV", "DIGITALVOICE"},
    {"YSF", "C4FM"},       {"FUSION", "C4FM"},
    {"PHONE", "SSB"},      {"DIGITAL VOICE", "DIGITALVOICE"}};

// An ADIF MODE with its SUBMODE (empty when it is a mode itself).
struct AdifMode {
    QString mode, submode;
};

// Letters and digits only, upper case: "jt9h-fast" and "JT9H FAST" meet.
QString bare(const QString& s) {
    QString out;
    for (QChar c : s)
        if (c.isLetterOrNumber()) out += c.toUpper();
    return out;
}

// A log's mode as ADIF names it: the mode or submode itself (spelled with
// or without blanks and hyphens), a name loggers use for it, or the longest
// ADIF name the mode begins with, up to a character that is not a letter
// ("RTTY 45" → RTTY, "CW-R" → CW, "OLIVIA 8-500" → OLIVIA). None: empty.
AdifMode adifModeOf(const QString& logMode) {
    static const QHash<QString, AdifMode> byName = [] {
        QHash<QString, AdifMode> h;
        for (const ModeDef& m : kModeDefs) {
            h.insert(bare(QLatin1String(m.mode)), {QLatin1String(m.mode), {}});
            for (const char* sub : m.submodes)
                h.insert(bare(QLatin1String(sub)), {QLatin1String(m.mode), QLatin1String(sub)});
        }
        for (const auto& [alias, name] : kModeAliases)
            h.insert(bare(QLatin1String(alias)), h.value(bare(QLatin1String(name))));
        return h;
    }();
    const QString name = logMode.simplified().toUpper();
    const auto it = byName.constFind(bare(name));
    if (it != byName.constEnd()) return *it;
    AdifMode best;
    qsizetype bestLength = 0;
    auto consider = [&](const QString& adif, const AdifMode& m) {
        if (adif.size() < 2 || adif.size() <= bestLength || !name.startsWith(adif)) return;
        if (name.size() > adif.size() && name[adif.size()].isLetter()) return;
        best = m;
        bestLength = adif.size();
    };
    for (const ModeDef& m : kModeDefs) {
        consider(QLatin1String(m.mode), {QLatin1String(m.mode), {}});
        for (const char* sub : m.submodes)
            consider(QLatin1String(sub), {QLatin1String(m.mode), QLatin1String(sub)});
    }
    return best;
}

// A log's band as ADIF names it: one of ADIF's bands however it is written,
// or the band of a frequency in its name (planBandOfName). None: empty.
QString adifBandOf(const QString& logBand) {
    const PlanBand* b = planBandOfName(logBand.simplified());
    return b ? QString::fromLatin1(b->name) : QString();
}

// QARDEL's own fields: what ADIF has no place for, so that a log comes back
// exactly as it went out.
// each as bytes for writing ADI and as text for reading records
const char kAppTimeTag[] = "APP_QARDEL_TIME";
const QString kAppTime = QLatin1String(kAppTimeTag);
const char kAppBandTag[] = "APP_QARDEL_BAND";
const QString kAppBand = QLatin1String(kAppBandTag);
const char kAppModeTag[] = "APP_QARDEL_MODE";
const QString kAppMode = QLatin1String(kAppModeTag);
const char kAppCorCityTag[] = "APP_QARDEL_COR_CITY";
const QString kAppCorCity = QLatin1String(kAppCorCityTag);
const char kAppCorCountryTag[] = "APP_QARDEL_COR_COUNTRY";
const QString kAppCorCountry = QLatin1String(kAppCorCountryTag);
const char kAppSuffixTag[] = "APP_QARDEL_SUFFIX";
const QString kAppSuffix = QLatin1String(kAppSuffixTag);

// Read or worked out again: DXCC, CQZ, ITUZ and CONT follow from the call.
const QStringList kKept = {"DXCC",         "CQZ",      "ITUZ",     "CONT",   "CALL",    "QSO_DATE",
                           "TIME_ON",      "BAND",     "FREQ",     "MODE",   "SUBMODE", "TX_PWR",
                           "RX_PWR",       "RST_SENT", "RST_RCVD", "NAME",   "QTH",     "COUNTRY",
                           "NOTES",        "COMMENT",  kAppTime,   kAppBand, kAppMode,  kAppCorCity,
                           kAppCorCountry, kAppSuffix};

// A number as ADIF writes it: shortest exact decimal, never an exponent.
QString number(double v) {
    return QLocale::c().toString(v, 'f', QLocale::FloatingPointShortest);
}

bool parseNumber(const QString& text, double* v) {
    bool ok = false;
    *v = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(*v);
}

// The system's time-zone rules, asked once per day: a day without a change
// of its offset (nearly all) converts by its offset; a day with one, QSO by
// QSO. Times are the log's wall-clock milliseconds (TableColumn.h).
qint64 toUtcMs(qint64 localMs) {
    struct Day {
        qint64 offset; // at midnight, in ms
        bool changes;
    };
    static QHash<qint64, Day> days;
    const qint64 day = localMs >= 0 ? localMs / kMsPerDay : -((-localMs - 1) / kMsPerDay) - 1;
    auto it = days.constFind(day);
    if (it == days.constEnd()) {
        const QDate d = QDate::fromJulianDay(day);
        const int morning = QDateTime(d, QTime(0, 0)).offsetFromUtc();
        const int night = QDateTime(d, QTime(23, 59, 59, 999)).offsetFromUtc();
        it = days.insert(day, Day{qint64(morning) * 1000, morning != night});
    }
    if (it->changes) {
        const QDateTime local = fromNaive(localMs);
        // a time the clocks skipped counts by the offset the day began with
        if (local.isValid()) return localMs - qint64(local.offsetFromUtc()) * 1000;
    }
    return localMs - it->offset;
}

// Digits of a wall-clock time: "yyyyMMdd", "HHmmss", "yyyy-MM-dd HH:mm:ss.zzz".
struct Clock {
    int y, mo, d, h, mi, s, ms;
    explicit Clock(qint64 t) {
        qint64 day = t / kMsPerDay, rest = t % kMsPerDay;
        if (rest < 0) rest += kMsPerDay, --day;
        QDate::fromJulianDay(day).getDate(&y, &mo, &d);
        h = int(rest / 3600000), mi = int(rest / 60000 % 60), s = int(rest / 1000 % 60),
        ms = int(rest % 1000);
    }
    QByteArray date() const {
        char b[8];
        put(b, y, 4), put(b + 4, mo, 2), put(b + 6, d, 2);
        return QByteArray(b, 8);
    }
    QByteArray time() const {
        char b[6];
        put(b, h, 2), put(b + 2, mi, 2), put(b + 4, s, 2);
        return QByteArray(b, 6);
    }
    QByteArray full() const {
        char b[23] = {0, 0, 0, 0, '-', 0, 0, '-', 0, 0, ' ', 0, 0, ':', 0, 0, ':', 0, 0, '.'};
        put(b, y, 4), put(b + 5, mo, 2), put(b + 8, d, 2), put(b + 11, h, 2), put(b + 14, mi, 2),
            put(b + 17, s, 2), put(b + 20, ms, 3);
        return QByteArray(b, 23);
    }
    // n digits of v, leading zeros included
    static void put(char* at, int v, int n) {
        for (int i = n - 1; i >= 0; --i, v /= 10)
            at[i] = char('0' + v % 10);
    }
};

} // namespace

bool splitCall(const QString& text, QString* callSign, QString* suffix) {
    // letters and digits, up to 10, and after one slash up to 5
    const QString call = text.trimmed().toUpper();
    const qsizetype slash = call.indexOf(QLatin1Char('/'));
    const QString sign = slash < 0 ? call : call.left(slash);
    const QString after = slash < 0 ? QString() : call.mid(slash + 1);
    auto held = [](const QString& s, int most) {
        if (s.isEmpty() || s.size() > most) return false;
        for (QChar c : s)
            if (!((c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                  (c >= QLatin1Char('0') && c <= QLatin1Char('9'))))
                return false;
        return true;
    };
    if (!held(sign, 10) || (slash >= 0 && !held(after, 5))) return false;
    *callSign = sign;
    *suffix = after;
    return true;
}

QString bandOfFrequency(double mhz) {
    const PlanBand* b = planBandOf(mhz);
    return b ? QString::fromLatin1(b->name) : QString();
}

namespace {

// A stored field's column, and an integer of it (null reads as 0): the
// export and the import read the log this way, without moving its cursor.
const Column& col(Table& t, const QString& field) {
    return t.rows().column(t.fieldIndex(field));
}
int intOf(const Column& c, uint32_t slot) {
    return c.isNull(slot) ? 0 : c.ints[slot];
}

// The texts of a list's rows by ID, each looked up and converted once.
class TextById {
  public:
    TextById(Table& t, const QString& field) : m_t(t), m_fi(t.fieldIndex(field)) {}
    const QString& text(int id) {
        static const QString none;
        if (id <= 0) return none;
        auto it = m_cache.constFind(id);
        if (it != m_cache.constEnd()) return *it;
        const int64_t slot = m_t.rows().idSlot(id);
        const Column& c = m_t.rows().column(m_fi);
        return *m_cache.insert(id, slot >= 0 && !c.isNull(uint32_t(slot)) ? c.texts[size_t(slot)]
                                                                          : QString());
    }

  private:
    Table& m_t;
    int m_fi;
    QHash<int, QString> m_cache;
};

// The live slots of these QSOs (IDs not in the log are left out), by ID.
std::vector<uint32_t> slotsOfIds(Table& log, const std::vector<int>& ids) {
    std::vector<uint32_t> found;
    for (int id : ids) {
        const int64_t s = id > 0 ? log.rows().idSlot(id) : -1;
        if (s >= 0) found.push_back(uint32_t(s));
    }
    std::sort(found.begin(), found.end(),
              [&log](uint32_t a, uint32_t b) { return log.rows().idOf(a) < log.rows().idOf(b); });
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

// Every QSO of the log, oldest first, handed field by field to put(name,
// text) and closed by end(). Reads the columns themselves: a million QSOs
// go out in seconds.
// only: the IDs of the QSOs to write, instead of the whole log.
template <class Emit, class End>
void emitLog(TDM& dm, Emit put, End end, const std::function<void(int, int)>& progress,
             const std::vector<int>* only = nullptr) {
    Table& log = *dm.dsMain;
    const Column &cCorID = col(log, fld::CorID), &cTime = col(log, fld::Time),
                 &cSuffix = col(log, fld::CorSuffix), &cBandID = col(log, fld::BandID),
                 &cModeID = col(log, fld::ModeID), &cCorPower = col(log, fld::CorPower),
                 &cMyPower = col(log, fld::MyPower), &cCorRSID = col(log, fld::CorRSID),
                 &cMyRSID = col(log, fld::MyRSID), &cNotice = col(log, fld::Notice),
                 &cCity = col(log, fld::CorCity), &cCountry = col(log, fld::CorCountry),
                 &cRepeater = col(log, fld::Repeater);
    Table& cors = *dm.dsCors;
    const Column &corCall = col(cors, fld::CallName), &corName = col(cors, fld::NameID),
                 &corCity = col(cors, fld::CityID), &corCountry = col(cors, fld::CountryID);
    TextById names(*dm.dsNames, fld::Value), cities(*dm.dsCityes, fld::Name),
        countries(*dm.dsCountryes, fld::Name), bands(*dm.dsBands, fld::Name),
        modes(*dm.dsModes, fld::Name), reports(*dm.dsRS, fld::Value);
    auto textOf = [](const Column& c, uint32_t s) -> const QString& { return c.texts[s]; };
    // the entity, zones and continent of each station, from the country
    // files the call-sign card reads, worked out once per call and suffix
    const std::shared_ptr<const callinfo::CtyData> cty = callinfo::loadCty(dm.DataDir).data;
    struct Where {
        QByteArray dxcc, cq, itu, continent; // empty: not known
    };
    QHash<QString, Where> whereOf;
    auto where = [&](const QString& call, const QString& suffix) -> const Where& {
        const QString key = call + QLatin1Char('/') + suffix;
        auto it = whereOf.constFind(key);
        if (it != whereOf.constEnd()) return *it;
        Where w;
        const callinfo::CallInfo i = cty ? cty->resolve(call, suffix) : callinfo::CallInfo{};
        if (i.hasEntity()) {
            const int dxcc = cty->entity(i.entity).dxcc;
            if (dxcc > 0) w.dxcc = QByteArray::number(dxcc);
            if (i.cq > 0) w.cq = QByteArray::number(i.cq);
            if (i.itu > 0) w.itu = QByteArray::number(i.itu);
            w.continent = i.continent.toLatin1();
        }
        return *whereOf.insert(key, w);
    };
    // oldest first by the QSO's time (a log imported from files that were
    // not in time order has its IDs out of it), ties by ID
    std::vector<uint32_t> order = only ? slotsOfIds(log, *only) : log.slotsInIdOrder();
    std::stable_sort(order.begin(), order.end(), [&cTime](uint32_t a, uint32_t b) {
        const qint64 ta = cTime.isNull(a) ? LLONG_MIN : cTime.times[a];
        const qint64 tb = cTime.isNull(b) ? LLONG_MIN : cTime.times[b];
        return ta < tb;
    });
    const int total = int(order.size());
    int done = 0;
    for (uint32_t s : order) {
        const int corId = intOf(cCorID, s);
        const int64_t cs = corId > 0 ? cors.rows().idSlot(corId) : -1;
        const uint32_t corSlot = uint32_t(cs);
        // ADIF writes the suffix after a slash; one QARDEL holds otherwise
        // (a slash of its own, other characters) comes back from its own field
        const QString& suffix = textOf(cSuffix, s);
        QString bare = suffix;
        while (bare.startsWith(QLatin1Char('/')))
            bare.remove(0, 1);
        const QString callSign = cs >= 0 ? textOf(corCall, corSlot) : QString();
        const QString call = callSign + (bare.isEmpty() ? QString() : "/" + bare);
        put("CALL", call);
        QString split, splitSuffix;
        if (!splitCall(call, &split, &splitSuffix) || splitSuffix != suffix)
            put(kAppSuffixTag, suffix);
        if (!cTime.isNull(s)) {
            const Clock local(cTime.times[s]), utc(toUtcMs(cTime.times[s]));
            put("QSO_DATE", utc.date());
            put("TIME_ON", utc.time());
            put(kAppTimeTag, local.full());
        }
        // every band and mode goes out: under ADIF's name where one fits,
        // else as the log names it; QARDEL's own name beside it
        const QString& band = bands.text(intOf(cBandID, s));
        if (!band.isEmpty()) {
            const QString adif = adifBandOf(band);
            put("BAND", adif.isEmpty() ? band.trimmed() : adif);
            put(kAppBandTag, band);
        }
        const QString& mode = modes.text(intOf(cModeID, s));
        if (!mode.isEmpty()) {
            const AdifMode adif = adifModeOf(mode);
            if (adif.mode.isEmpty()) {
                put("MODE", mode.trimmed());
            } else {
                put("MODE", adif.mode);
                if (!adif.submode.isEmpty()) put("SUBMODE", adif.submode);
            }
            put(kAppModeTag, mode);
        }
        if (!cMyPower.isNull(s)) put("TX_PWR", number(cMyPower.floats[s]).toLatin1());
        if (!cCorPower.isNull(s)) put("RX_PWR", number(cCorPower.floats[s]).toLatin1());
        const QString& sent = reports.text(intOf(cCorRSID, s));
        const QString& rcvd = reports.text(intOf(cMyRSID, s));
        if (!sent.isEmpty()) put("RST_SENT", sent);
        if (!rcvd.isEmpty()) put("RST_RCVD", rcvd);
        const QString& name = cs >= 0 ? names.text(intOf(corName, corSlot)) : QString();
        if (!name.isEmpty()) put("NAME", name);
        // the log keeps the first 25 characters; the correspondent the whole
        for (auto [logCol, list, corCol, tag, app] :
             {std::tuple{&cCity, &cities, &corCity, "QTH", kAppCorCityTag},
              std::tuple{&cCountry, &countries, &corCountry, "COUNTRY", kAppCorCountryTag}}) {
            const QString& cut = textOf(*logCol, s);
            if (cut.isEmpty()) continue;
            put(tag, cut);
            if (cs < 0) continue;
            const QString& whole = list->text(intOf(*corCol, corSlot));
            if (whole.size() > cut.size() && cutText(whole, 25) == cut) put(app, whole);
        }
        if (cs >= 0) {
            const Where& w = where(callSign, suffix);
            for (auto [tag, value] : {std::pair{"DXCC", &w.dxcc}, std::pair{"CQZ", &w.cq},
                                      std::pair{"ITUZ", &w.itu}, std::pair{"CONT", &w.continent}})
                if (!value->isEmpty()) put(tag, *value);
        }
        const QString& notice = textOf(cNotice, s);
        if (!notice.isEmpty()) put("NOTES", notice);
        if (intOf(cRepeater, s) != 0) put("PROP_MODE", QStringLiteral("RPT"));
        end();
        if (progress && (++done % 10000 == 0 || done == total)) progress(done, total);
    }
}

QString text(const QString& v) {
    return v;
}
QString text(const QByteArray& v) {
    return QString::fromLatin1(v); // the digits of times and numbers
}

} // namespace

namespace {

// The records of the log's QSOs (only those of ids when given), oldest first.
QList<Record> recordsOf(TDM& dm, const std::function<void(int, int)>& progress,
                        const std::vector<int>* ids) {
    QList<Record> out;
    out.reserve(ids ? qsizetype(ids->size()) : dm.dsMain->recordCount());
    Record r;
    emitLog(
        dm,
        [&r](const auto& name, const auto& value) {
            r.add(QString::fromLatin1(name), text(value));
        },
        [&] {
            r.number = int(out.size()) + 1;
            out.append(std::move(r));
            r = Record{};
        },
        progress, ids);
    return out;
}

// The same, as an ADI file with its header.
QByteArray adiOf(TDM& dm, const QString& program, const QString& version,
                 const std::function<void(int, int)>& progress, const std::vector<int>* ids) {
    QByteArray out;
    out.reserve(qsizetype(ids ? ids->size() : size_t(dm.dsMain->recordCount())) * 320);
    appendAdiHeader(out, program, version);
    emitLog(
        dm,
        [&out](const auto& name, const auto& value) {
            if constexpr (std::is_same_v<std::decay_t<decltype(value)>, QString>)
                appendAdiField(out, name, QStringView(value));
            else
                appendAdiField(out, name, value);
        },
        [&out] { appendAdiEnd(out); }, progress, ids);
    return out;
}

} // namespace

QList<Record> exportLog(TDM& dm, const std::function<void(int, int)>& progress) {
    return recordsOf(dm, progress, nullptr);
}

QByteArray exportAdi(TDM& dm, const QString& program, const QString& version,
                     const std::function<void(int, int)>& progress) {
    return adiOf(dm, program, version, progress, nullptr);
}

void importRecords(TDM& dm, const QList<Record>& records, ImportSummary* s,
                   const std::function<void(int, int)>& progress) {
    Table& log = *dm.dsMain;
    // what is in the log already: the keys of its QSOs, and each
    // correspondent's newest QSO
    // times as the log's wall-clock milliseconds, so that no zone moves them
    auto key = [](const QString& call, qint64 ms, const QString& band, const QString& mode) {
        const qint64 minute = ms >= 0 ? ms / 60000 : -((-ms - 1) / 60000) - 1;
        return call.toUpper() + '|' + QString::number(minute) + '|' + band.toCaseFolded() + '|' +
               mode.toCaseFolded();
    };
    QSet<QString> known;
    QHash<int, qint64> newest;
    {
        const Column &cCorID = col(log, fld::CorID), &cTime = col(log, fld::Time),
                     &cSuffix = col(log, fld::CorSuffix), &cBandID = col(log, fld::BandID),
                     &cModeID = col(log, fld::ModeID), &corCall = col(*dm.dsCors, fld::CallName);
        TextById bands(*dm.dsBands, fld::Name), modes(*dm.dsModes, fld::Name);
        for (uint32_t slot : log.slotsInIdOrder()) {
            const int cor = intOf(cCorID, slot);
            const int64_t cs = cor > 0 ? dm.dsCors->rows().idSlot(cor) : -1;
            const QString& suffix = cSuffix.texts[slot];
            const qint64 t = cTime.isNull(slot) ? 0 : cTime.times[slot];
            known.insert(key((cs >= 0 ? corCall.texts[size_t(cs)] : QString()) +
                                 (suffix.isEmpty() ? QString() : "/" + suffix),
                             t, bands.text(intOf(cBandID, slot)),
                             modes.text(intOf(cModeID, slot))));
            if (!newest.contains(cor) || newest.value(cor) < t) newest.insert(cor, t);
        }
    }
    // A value longer than its list's field is cut before it is looked up or
    // added, so that its second occurrence finds the first; every cut is
    // counted by field.
    auto fit = [s](const char* tag, const QString& value, Table& t, const QString& field) {
        const int size = t.fieldDefs()[size_t(t.fieldIndex(field))].size;
        const QString cut = size > 0 ? cutText(value, size) : value;
        if (cut.size() != value.size())
            ++s->repairs
                  [QStringLiteral("%1 cut to %2 characters").arg(QLatin1String(tag)).arg(size)];
        return cut;
    };
    int done = 0;
    for (const Record& r : records) {
        ++s->read;
        if (progress && ++done % 10000 == 0) progress(done, int(records.size()));
        auto refuse = [&](const QString& why) { s->refused.append({r.number, why}); };
        // enumerations, dates and numbers without the blanks and line breaks
        // around them
        auto word = [&r](const char* name) { return r.value(QLatin1String(name)).trimmed(); };
        try {
            QString call, suffix;
            const bool held = splitCall(r.value("CALL"), &call, &suffix);
            if (r.has(kAppSuffix))
                suffix = fit(kAppSuffixTag, r.value(kAppSuffix), log, fld::CorSuffix);
            if (!held) {
                refuse(r.has("CALL") ? QStringLiteral("the call sign '%1' cannot be held as typed")
                                           .arg(r.value("CALL"))
                                     : QStringLiteral("no call sign"));
                continue;
            }
            QDateTime time;
            if (r.has(kAppTime)) {
                // the wall-clock time as written, also one the clocks skipped
                const QByteArray t = r.value(kAppTime).trimmed().toLatin1();
                qint64 ms = 0;
                if (parseNaiveTime(t.constData(), int(t.size()), &ms)) {
                    const qint64 day = ms / kMsPerDay;
                    time = QDateTime(QDate::fromJulianDay(day),
                                     QTime::fromMSecsSinceStartOfDay(int(ms - day * kMsPerDay)),
                                     QTimeZone::utc());
                }
            } else {
                const QDate d = QDate::fromString(word("QSO_DATE"), QStringLiteral("yyyyMMdd"));
                const QString on = word("TIME_ON");
                const QTime t = QTime::fromString(on, on.size() == 4 ? QStringLiteral("HHmm")
                                                                     : QStringLiteral("HHmmss"));
                if (d.isValid() && t.isValid()) {
                    const QDateTime local = QDateTime(d, t, QTimeZone::utc()).toLocalTime();
                    // the log's wall-clock time (a UTC form, so that no zone moves it)
                    time = QDateTime(local.date(), local.time(), QTimeZone::utc());
                }
            }
            if (!time.isValid()) {
                refuse(QStringLiteral("no valid QSO_DATE and TIME_ON"));
                continue;
            }
            QString band = r.has(kAppBand) ? r.value(kAppBand) : word("BAND");
            double freq = 0;
            if (band.isEmpty() && parseNumber(word("FREQ"), &freq)) band = bandOfFrequency(freq);
            band = fit(r.has(kAppBand) ? kAppBandTag : "BAND", band, *dm.dsBands, fld::Name);
            const QString submode = word("SUBMODE");
            QString mode = r.has(kAppMode)      ? r.value(kAppMode)
                           : !submode.isEmpty() ? submode
                                                : word("MODE");
            mode = fit(r.has(kAppMode)      ? kAppModeTag
                       : !submode.isEmpty() ? "SUBMODE"
                                            : "MODE",
                       mode, *dm.dsModes, fld::Name);
            const QString fullCall = call + (suffix.isEmpty() ? QString() : "/" + suffix);
            const qint64 wall = toNaive(time);
            const QString k = key(fullCall, wall, band, mode);
            if (known.contains(k)) {
                ++s->duplicates;
                continue;
            }
            LogRowValues row;
            row.exact = true;
            row.time = time;
            for (auto [tag, value] : {std::pair{"RX_PWR", &row.corPowerValue},
                                      std::pair{"TX_PWR", &row.myPowerValue}}) {
                *value = std::nan("");
                const QString t = word(tag);
                if (!t.isEmpty() && !parseNumber(t, value)) {
                    *value = std::nan("");
                    ++s->repairs[kRepairPower];
                }
            }
            // the lists and the correspondent as a save finds or adds them
            const QString city = r.value("QTH"), country = r.value("COUNTRY");
            auto whole = [&r](const QString& cut, const QString& app) {
                const QString w = r.value(app);
                return !cut.isEmpty() && w.size() > cut.size() && cutText(w, 25) == cutText(cut, 25)
                           ? w
                           : cut;
            };
            CorProps props{
                dm.FindOrAddValue(*dm.dsNames, fld::Value,
                                  fit("NAME", r.value("NAME"), *dm.dsNames, fld::Value)),
                dm.FindOrAddValue(*dm.dsCityes, fld::Name,
                                  fit("QTH", whole(city, kAppCorCity), *dm.dsCityes, fld::Name)),
                dm.FindOrAddValue(
                    *dm.dsCountryes, fld::Name,
                    fit("COUNTRY", whole(country, kAppCorCountry), *dm.dsCountryes, fld::Name))};
            Table& cors = *dm.dsCors;
            if (cors.locate(fld::CallName, call, loCaseInsensitive)) {
                // what the record does not say stays as the correspondent has it
                if (!r.has("NAME")) props.nameId = cors.fieldByName(fld::NameID).asInteger();
                if (!r.has("QTH")) props.cityId = cors.fieldByName(fld::CityID).asInteger();
                if (!r.has("COUNTRY"))
                    props.countryId = cors.fieldByName(fld::CountryID).asInteger();
            }
            const bool differs = dm.FindOrAddCorrespondent(call, props);
            row.corId = cors.fieldByName(fld::ID).asInteger();
            // a known correspondent ends with what its newest QSO says
            if (differs && (!newest.contains(row.corId) || newest.value(row.corId) <= wall))
                dm.SetCorrespondentProps(props);
            if (!newest.contains(row.corId) || newest.value(row.corId) < wall)
                newest.insert(row.corId, wall);
            row.corRsId = dm.FindOrAddValue(
                *dm.dsRS, fld::Value, fit("RST_SENT", r.value("RST_SENT"), *dm.dsRS, fld::Value));
            row.myRsId = dm.FindOrAddValue(
                *dm.dsRS, fld::Value, fit("RST_RCVD", r.value("RST_RCVD"), *dm.dsRS, fld::Value));
            row.bandId = dm.FindOrAddValue(*dm.dsBands, fld::Name, band);
            row.modeId = dm.FindOrAddValue(*dm.dsModes, fld::Name, mode);
            row.suffix = suffix;
            row.city = city;
            row.country = country;
            const QString notes = r.value("NOTES"), comment = r.value("COMMENT");
            row.notice = notes.isEmpty() || comment.isEmpty() ? notes + comment
                                                              : notes + QLatin1Char('\n') + comment;
            row.repeater =
                word("PROP_MODE").compare(QLatin1String("RPT"), Qt::CaseInsensitive) == 0;
            dm.PostLogRow(false, row);
            known.insert(k);
            ++s->imported;
            for (const adif::Field& fd : r.fields)
                if (!kKept.contains(fd.name) &&
                    !(fd.name == QLatin1String("PROP_MODE") && row.repeater))
                    ++s->notKept[fd.name];
        } catch (const DbError& e) {
            // the tables refused something of this record: it is left out,
            // with the reason; what it added to the lists stays unused
            refuse(e.message());
        }
    }
}

QList<Record> exportQsos(TDM& dm, const std::vector<int>& ids) {
    return recordsOf(dm, {}, &ids);
}

QByteArray exportQsosAdi(TDM& dm, const std::vector<int>& ids, const QString& program,
                         const QString& version) {
    return adiOf(dm, program, version, {}, &ids);
}

} // namespace qardel::adif
