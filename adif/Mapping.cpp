#include "adif/Mapping.h"

#include "data/Fields.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <climits>
#include <cmath>

namespace qardel::adif {

namespace {

// ADIF's bands with their edges in MHz.
struct Band {
    const char* name;
    double low, high;
};
const Band kBands[] = {
    {"2190m", 0.1357, 0.1378}, {"630m", 0.472, 0.479},  {"560m", 0.501, 0.504},
    {"160m", 1.8, 2.0},        {"80m", 3.5, 4.0},       {"60m", 5.06, 5.45},
    {"40m", 7.0, 7.3},         {"30m", 10.1, 10.15},    {"20m", 14.0, 14.35},
    {"17m", 18.068, 18.168},   {"15m", 21.0, 21.45},    {"12m", 24.89, 24.99},
    {"10m", 28.0, 29.7},       {"8m", 40, 45},          {"6m", 50, 54},
    {"5m", 54.000001, 69.9},   {"4m", 70, 71},          {"2m", 144, 148},
    {"1.25m", 222, 225},       {"70cm", 420, 450},      {"33cm", 902, 928},
    {"23cm", 1240, 1300},      {"13cm", 2300, 2450},    {"9cm", 3300, 3500},
    {"6cm", 5650, 5925},       {"3cm", 10000, 10500},   {"1.25cm", 24000, 24250},
    {"6mm", 47000, 47200},     {"4mm", 75500, 81000},   {"2.5mm", 119980, 123000},
    {"2mm", 134000, 149000},   {"1mm", 241000, 250000}, {"submm", 300000, 7500000}};

// ADIF's modes, and submodes with the mode they belong to.
const QStringList kModes = {
    "AM",      "ARDOP", "ATV",   "CHIP",   "CLO",   "CONTESTI", "CW",    "DIGITALVOICE", "DOMINO",
    "DYNAMIC", "FAX",   "FM",    "FSK441", "FT8",   "HELL",     "ISCAT", "JT4",          "JT9",
    "JT44",    "JT65",  "MFSK",  "MSK144", "MT63",  "OLIVIA",   "OPERA", "PAC",          "PAX",
    "PKT",     "PSK",   "PSK2K", "Q15",    "QRA64", "ROS",      "RTTY",  "RTTYM",        "SSB",
    "SSTV",    "T10",   "THOR",  "THRB",   "TOR",   "V4",       "VOI",   "WINMOR",       "WSPR"};
const QHash<QString, QString> kSubmodes = {{"USB", "SSB"},
                                           {"LSB", "SSB"},
                                           {"FT4", "MFSK"},
                                           {"JS8", "MFSK"},
                                           {"FST4", "MFSK"},
                                           {"Q65", "MFSK"},
                                           {"PSK31", "PSK"},
                                           {"PSK63", "PSK"},
                                           {"PSK125", "PSK"},
                                           {"BPSK31", "PSK"},
                                           {"QPSK31", "PSK"},
                                           {"C4FM", "DIGITALVOICE"},
                                           {"DMR", "DIGITALVOICE"},
                                           {"DSTAR", "DIGITALVOICE"},
                                           {"FREEDV", "DIGITALVOICE"}};

// QARDEL's own fields: what ADIF has no place for, so that a log comes back
// exactly as it went out.
const QString kAppTime = QStringLiteral("APP_QARDEL_TIME");
const QString kAppBand = QStringLiteral("APP_QARDEL_BAND");
const QString kAppMode = QStringLiteral("APP_QARDEL_MODE");
const QString kAppCorCity = QStringLiteral("APP_QARDEL_COR_CITY");
const QString kAppCorCountry = QStringLiteral("APP_QARDEL_COR_COUNTRY");
const QString kAppSuffix = QStringLiteral("APP_QARDEL_SUFFIX");

const QStringList kKept = {"CALL",    "QSO_DATE",  "TIME_ON",      "BAND",     "FREQ",     "MODE",
                           "SUBMODE", "TX_PWR",    "RX_PWR",       "RST_SENT", "RST_RCVD", "NAME",
                           "QTH",     "COUNTRY",   "NOTES",        "COMMENT",  kAppTime,   kAppBand,
                           kAppMode,  kAppCorCity, kAppCorCountry, kAppSuffix};

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");

// A number as ADIF writes it: shortest exact decimal, never an exponent.
QString number(double v) {
    return QLocale::c().toString(v, 'f', QLocale::FloatingPointShortest);
}

bool parseNumber(const QString& text, double* v) {
    bool ok = false;
    *v = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(*v);
}

QString text(Table& t, int id, const QString& field, int size) {
    return id > 0 ? t.lookupValue(fld::ID, id, field, size).toString() : QString();
}

// The system's time-zone rules, asked once per day: a day without a change
// of its offset (nearly all) converts by its offset; a day with one, QSO by
// QSO.
QDateTime toUtc(const QDateTime& local) {
    static QHash<qint64, int> offsets; // julian day -> offset, or INT_MIN: it changes that day
    const qint64 day = local.date().toJulianDay();
    auto it = offsets.constFind(day);
    if (it == offsets.constEnd()) {
        const int morning = QDateTime(local.date(), QTime(0, 0)).offsetFromUtc();
        const int night = QDateTime(local.date(), QTime(23, 59, 59, 999)).offsetFromUtc();
        it = offsets.insert(day, morning == night ? morning : INT_MIN);
    }
    if (*it == INT_MIN) return QDateTime(local.date(), local.time()).toUTC();
    return QDateTime(local.date(), local.time(), QTimeZone::utc()).addSecs(-*it);
}

} // namespace

bool splitCall(const QString& call, QString* callSign, QString* suffix) {
    static const QRegularExpression re(QStringLiteral("^([A-Z0-9]{1,10})(?:/([A-Z0-9]{1,5}))?$"));
    const auto m = re.match(call.trimmed().toUpper());
    if (!m.hasMatch()) return false;
    *callSign = m.captured(1);
    *suffix = m.captured(2);
    return true;
}

QString bandOfFrequency(double mhz) {
    for (const Band& b : kBands)
        if (mhz >= b.low && mhz <= b.high) return QString::fromLatin1(b.name);
    return {};
}

QList<Record> exportLog(TDM& dm, const std::function<void(int, int)>& progress) {
    Table& log = *dm.dsMain;
    QList<Record> out;
    const int total = log.recordCount();
    out.reserve(total);
    // the fields found once, not by name for every row
    qardel::Field& cBand = log.fieldByName(fld::Band);
    qardel::Field& cCorCallName = log.fieldByName(fld::CorCallName);
    qardel::Field& cCorID = log.fieldByName(fld::CorID);
    qardel::Field& cCorName = log.fieldByName(fld::CorName);
    qardel::Field& cCorPower = log.fieldByName(fld::CorPower);
    qardel::Field& cCorRSID = log.fieldByName(fld::CorRSID);
    qardel::Field& cCorSuffix = log.fieldByName(fld::CorSuffix);
    qardel::Field& cMode = log.fieldByName(fld::Mode);
    qardel::Field& cMyPower = log.fieldByName(fld::MyPower);
    qardel::Field& cMyRSID = log.fieldByName(fld::MyRSID);
    qardel::Field& cNotice = log.fieldByName(fld::Notice);
    qardel::Field& cRepeater = log.fieldByName(fld::Repeater);
    qardel::Field& cTime = log.fieldByName(fld::Time);
    // the log is ordered newest first
    for (int pos = total - 1; pos >= 0; --pos) {
        log.moveTo(pos);
        Record r;
        r.number = total - pos;
        // ADIF writes the suffix after a slash; one QARDEL holds otherwise
        // (a slash of its own, other characters) comes back from its own field
        const QString suffix = cCorSuffix.asString();
        QString bare = suffix;
        while (bare.startsWith(QLatin1Char('/')))
            bare.remove(0, 1);
        r.add("CALL", cCorCallName.asString() + (bare.isEmpty() ? QString() : "/" + bare));
        QString call, split;
        if (!splitCall(r.value("CALL"), &call, &split) || split != suffix)
            r.add(kAppSuffix, suffix);
        const QDateTime local = cTime.asDateTime();
        if (local.isValid()) {
            const QDateTime utc = toUtc(local);
            const QDate d = utc.date();
            const QTime t = utc.time();
            r.add("QSO_DATE", QString::asprintf("%04d%02d%02d", d.year(), d.month(), d.day()));
            r.add("TIME_ON", QString::asprintf("%02d%02d%02d", t.hour(), t.minute(), t.second()));
            const QDate ld = local.date();
            const QTime lt = local.time();
            r.add(kAppTime,
                  QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d.%03d", ld.year(), ld.month(),
                                    ld.day(), lt.hour(), lt.minute(), lt.second(), lt.msec()));
        }
        const QString band = cBand.asString();
        if (!band.isEmpty()) {
            for (const Band& b : kBands)
                if (band.compare(QLatin1String(b.name), Qt::CaseInsensitive) == 0)
                    r.add("BAND", QString::fromLatin1(b.name));
            r.add(kAppBand, band);
        }
        const QString mode = cMode.asString();
        if (!mode.isEmpty()) {
            const QString up = mode.toUpper();
            if (kModes.contains(up)) {
                r.add("MODE", up);
            } else if (kSubmodes.contains(up)) {
                r.add("MODE", kSubmodes.value(up));
                r.add("SUBMODE", up);
            }
            r.add(kAppMode, mode);
        }
        if (!cMyPower.isNull()) r.add("TX_PWR", number(cMyPower.asFloat()));
        if (!cCorPower.isNull()) r.add("RX_PWR", number(cCorPower.asFloat()));
        const QString sent = text(*dm.dsRS, cCorRSID.asInteger(), fld::Value, 20);
        const QString rcvd = text(*dm.dsRS, cMyRSID.asInteger(), fld::Value, 20);
        if (!sent.isEmpty()) r.add("RST_SENT", sent);
        if (!rcvd.isEmpty()) r.add("RST_RCVD", rcvd);
        const QString name = cCorName.asString();
        if (!name.isEmpty()) r.add("NAME", name);
        // the log keeps the first 25 characters; the correspondent the whole
        const int corId = cCorID.asInteger();
        for (auto [logField, corField, tag, app] :
             {std::tuple{&fld::CorCity, &fld::City, "QTH", &kAppCorCity},
              std::tuple{&fld::CorCountry, &fld::Country, "COUNTRY", &kAppCorCountry}}) {
            const QString cut = log.fieldByName(*logField).asString();
            if (cut.isEmpty()) continue;
            r.add(QLatin1String(tag), cut);
            const QString whole = text(*dm.dsCors, corId, *corField, 50);
            if (whole.size() > cut.size() && cutText(whole, 25) == cut) r.add(*app, whole);
        }
        const QString notice = cNotice.asString();
        if (!notice.isEmpty()) r.add("NOTES", notice);
        if (cRepeater.asBoolean()) r.add("PROP_MODE", "RPT");
        out.append(r);
        if (progress && (out.size() % 10000 == 0 || pos == 0)) progress(int(out.size()), total);
    }
    return out;
}

void importRecords(TDM& dm, const QList<Record>& records, ImportSummary* s,
                   const std::function<void(int, int)>& progress) {
    Table& log = *dm.dsMain;
    // what is in the log already: the keys of its QSOs, and each
    // correspondent's newest QSO
    auto key = [](const QString& call, const QDateTime& t, const QString& band,
                  const QString& mode) {
        return call.toUpper() + '|' + t.toString(QStringLiteral("yyyyMMddHHmm")) + '|' +
               band.toCaseFolded() + '|' + mode.toCaseFolded();
    };
    QSet<QString> known;
    QHash<int, QDateTime> newest;
    for (log.first(); !log.eof(); log.next()) {
        const QString suffix = log.fieldByName(fld::CorSuffix).asString();
        const QDateTime t = log.fieldByName(fld::Time).asDateTime();
        known.insert(key(log.fieldByName(fld::CorCallName).asString() +
                             (suffix.isEmpty() ? QString() : "/" + suffix),
                         t, log.fieldByName(fld::Band).asString(),
                         log.fieldByName(fld::Mode).asString()));
        const int cor = log.fieldByName(fld::CorID).asInteger();
        if (!newest.contains(cor) || newest.value(cor) < t) newest.insert(cor, t);
    }
    int done = 0;
    for (const Record& r : records) {
        ++s->read;
        if (progress && ++done % 10000 == 0) progress(done, int(records.size()));
        auto refuse = [&](const QString& why) { s->refused.append({r.number, why}); };
        QString call, suffix;
        const bool held = splitCall(r.value("CALL"), &call, &suffix);
        if (r.has(kAppSuffix)) suffix = r.value(kAppSuffix);
        if (!held) {
            refuse(r.has("CALL") ? QStringLiteral("the call sign '%1' cannot be held as typed")
                                       .arg(r.value("CALL"))
                                 : QStringLiteral("no call sign"));
            continue;
        }
        QDateTime time;
        if (r.has(kAppTime)) {
            time = QDateTime::fromString(r.value(kAppTime), kTimeFormat);
        } else {
            const QDate d = QDate::fromString(r.value("QSO_DATE"), QStringLiteral("yyyyMMdd"));
            const QString on = r.value("TIME_ON");
            const QTime t = QTime::fromString(on, on.size() == 4 ? QStringLiteral("HHmm")
                                                                 : QStringLiteral("HHmmss"));
            if (d.isValid() && t.isValid()) {
                const QDateTime local = QDateTime(d, t, QTimeZone::utc()).toLocalTime();
                time = QDateTime(local.date(), local.time()); // the log's wall-clock time
            }
        }
        if (!time.isValid()) {
            refuse(QStringLiteral("no valid QSO_DATE and TIME_ON"));
            continue;
        }
        QString band = r.has(kAppBand) ? r.value(kAppBand) : r.value("BAND");
        double freq = 0;
        if (band.isEmpty() && parseNumber(r.value("FREQ"), &freq)) band = bandOfFrequency(freq);
        const QString mode = r.has(kAppMode)    ? r.value(kAppMode)
                             : r.has("SUBMODE") ? r.value("SUBMODE")
                                                : r.value("MODE");
        const QString fullCall = call + (suffix.isEmpty() ? QString() : "/" + suffix);
        const QString k = key(fullCall, time, band, mode);
        if (known.contains(k)) {
            ++s->duplicates;
            continue;
        }
        LogRowValues row;
        row.exact = true;
        row.time = time;
        for (auto [tag, value] :
             {std::pair{"RX_PWR", &row.corPowerValue}, std::pair{"TX_PWR", &row.myPowerValue}}) {
            *value = std::nan("");
            const QString t = r.value(QLatin1String(tag));
            if (!t.isEmpty() && !parseNumber(t, value)) {
                *value = std::nan("");
                ++s->repairs[QStringLiteral("a power that is not a number, left empty")];
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
            dm.FindOrAddValue(*dm.dsNames, fld::Value, r.value("NAME")),
            dm.FindOrAddValue(*dm.dsCityes, fld::Name, whole(city, kAppCorCity)),
            dm.FindOrAddValue(*dm.dsCountryes, fld::Name, whole(country, kAppCorCountry))};
        Table& cors = *dm.dsCors;
        if (cors.locate(fld::CallName, call, loCaseInsensitive)) {
            // what the record does not say stays as the correspondent has it
            if (!r.has("NAME")) props.nameId = cors.fieldByName(fld::NameID).asInteger();
            if (!r.has("QTH")) props.cityId = cors.fieldByName(fld::CityID).asInteger();
            if (!r.has("COUNTRY")) props.countryId = cors.fieldByName(fld::CountryID).asInteger();
        }
        const bool differs = dm.FindOrAddCorrespondent(call, props);
        row.corId = cors.fieldByName(fld::ID).asInteger();
        // a known correspondent ends with what its newest QSO says
        if (differs && (!newest.contains(row.corId) || newest.value(row.corId) <= time))
            dm.SetCorrespondentProps(props);
        if (!newest.contains(row.corId) || newest.value(row.corId) < time)
            newest.insert(row.corId, time);
        row.corRsId = dm.FindOrAddValue(*dm.dsRS, fld::Value, r.value("RST_SENT"));
        row.myRsId = dm.FindOrAddValue(*dm.dsRS, fld::Value, r.value("RST_RCVD"));
        row.bandId = dm.FindOrAddValue(*dm.dsBands, fld::Name, band);
        row.modeId = dm.FindOrAddValue(*dm.dsModes, fld::Name, mode);
        row.suffix = suffix;
        row.city = city;
        row.country = country;
        const QString notes = r.value("NOTES"), comment = r.value("COMMENT");
        row.notice = notes.isEmpty() || comment.isEmpty() ? notes + comment
                                                          : notes + QLatin1Char('\n') + comment;
        row.repeater = r.value("PROP_MODE").compare(QLatin1String("RPT"), Qt::CaseInsensitive) == 0;
        dm.PostLogRow(false, row);
        known.insert(k);
        ++s->imported;
        for (const adif::Field& fd : r.fields)
            if (!kKept.contains(fd.name) &&
                !(fd.name == QLatin1String("PROP_MODE") && row.repeater))
                ++s->notKept[fd.name];
    }
}

} // namespace qardel::adif
