#include "rig/QsoLogger.h"

#include "adif/Adif.h"
#include "adif/Mapping.h"
#include "data/Fields.h"
#include "data/TableColumn.h"
#include "rig/BandMode.h"

#include <QLocale>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimeZone>

#include <cmath>

namespace qardel::rig {

namespace {

// The leading number of a power ("100", "100W", "5,5 Вт"); NaN when none.
double powerOf(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^\\s*([0-9]+(?:[.,][0-9]+)?)"));
    const QRegularExpressionMatch m = number.match(text);
    if (!m.hasMatch()) return std::nan("");
    bool ok = false;
    const double v = QLocale::c().toDouble(m.captured(1).replace(QLatin1Char(','), '.'), &ok);
    return ok ? v : std::nan("");
}

// The log's wall-clock time of a UTC time: the local date and time, kept in
// a UTC form so that no zone moves it again.
QDateTime wallClock(const QDateTime& utc) {
    const QDateTime local = utc.toLocalTime();
    return QDateTime(local.date(), local.time(), QTimeZone::utc());
}

qint64 minuteOf(qint64 wallMs) {
    return wallMs >= 0 ? wallMs / 60000 : -((-wallMs - 1) / 60000) - 1;
}

} // namespace

bool incomingFrom(const WsjtxQso& m, IncomingQso* out, QString* why) {
    IncomingQso q;
    if (m.type == kWsjtxLoggedAdif) {
        const adif::ReadResult r = adif::readAdi(m.adif.toUtf8());
        if (r.records.size() != 1) {
            *why = QStringLiteral("запись ADIF не прочитана");
            return false;
        }
        const adif::Record& rec = r.records.first();
        q.call = rec.value(QStringLiteral("CALL"));
        const QDate d =
            QDate::fromString(rec.value(QStringLiteral("QSO_DATE")), QStringLiteral("yyyyMMdd"));
        const QString on = rec.value(QStringLiteral("TIME_ON"));
        const QTime t = QTime::fromString(on, on.size() == 4 ? QStringLiteral("HHmm")
                                                             : QStringLiteral("HHmmss"));
        q.timeUtc = QDateTime(d, t, QTimeZone::utc());
        bool ok = false;
        const double mhz = QLocale::c().toDouble(rec.value(QStringLiteral("FREQ")).trimmed(), &ok);
        q.hz = ok && std::isfinite(mhz) && mhz > 0 ? mhz * 1e6 : 0;
        q.band = rec.value(QStringLiteral("BAND"));
        q.mode = rec.has(QStringLiteral("SUBMODE")) ? rec.value(QStringLiteral("SUBMODE"))
                                                    : rec.value(QStringLiteral("MODE"));
        q.reportSent = rec.value(QStringLiteral("RST_SENT"));
        q.reportReceived = rec.value(QStringLiteral("RST_RCVD"));
        q.txPower = rec.value(QStringLiteral("TX_PWR"));
        q.name = rec.value(QStringLiteral("NAME"));
        q.comment = rec.value(QStringLiteral("COMMENT"));
        q.repeater = rec.value(QStringLiteral("PROP_MODE"))
                         .compare(QLatin1String("RPT"), Qt::CaseInsensitive) == 0;
    } else {
        q.call = m.call;
        q.timeUtc = m.timeOn.toUTC();
        q.hz = double(m.txFrequency);
        q.mode = m.mode;
        q.reportSent = m.reportSent;
        q.reportReceived = m.reportReceived;
        q.txPower = m.txPower;
        q.name = m.name;
        q.comment = m.comments;
        q.repeater = m.propMode.compare(QLatin1String("RPT"), Qt::CaseInsensitive) == 0;
    }
    q.call = q.call.trimmed().toUpper();
    if (q.call.isEmpty()) {
        *why = QStringLiteral("нет позывного");
        return false;
    }
    if (!q.timeUtc.isValid() || q.timeUtc.date().year() < 1900 || q.timeUtc.date().year() > 9999) {
        *why = QStringLiteral("нет времени QSO");
        return false;
    }
    *out = q;
    return true;
}

QsoLogger::QsoLogger(TDM* dm, QObject* parent) : QObject(parent), m_dm(dm) {
    m_retry.setSingleShot(true);
    m_retry.setInterval(200);
    connect(&m_retry, &QTimer::timeout, this, &QsoLogger::drain);
}

void QsoLogger::take(const WsjtxQso& message) {
    IncomingQso q;
    QString why;
    if (!incomingFrom(message, &q, &why)) {
        LogOutcome o;
        o.kind = LogOutcome::Refused;
        o.call = message.call.trimmed().toUpper();
        o.reason = why;
        emit done(o);
        return;
    }
    take(q);
}

void QsoLogger::take(const IncomingQso& qso) {
    m_queue.push_back(qso);
    drain();
}

void QsoLogger::drain() {
    while (!m_queue.empty()) {
        if (m_gate && !m_gate()) {
            m_retry.start();
            return;
        }
        const IncomingQso q = m_queue.front();
        m_queue.pop_front();
        emit done(write(q));
    }
}

bool QsoLogger::isDuplicate(int corId, const QString& suffix, qint64 minute, int bandId,
                            int modeId) {
    Table& log = *m_dm->dsMain;
    const RowStore& rows = log.rows();
    const Column& cCor = rows.column(log.fieldIndex(fld::CorID));
    const Column& cTime = rows.column(log.fieldIndex(fld::Time));
    const Column& cBand = rows.column(log.fieldIndex(fld::BandID));
    const Column& cMode = rows.column(log.fieldIndex(fld::ModeID));
    const Column& cSuffix = rows.column(log.fieldIndex(fld::CorSuffix));
    auto intOf = [](const Column& c, uint32_t s) { return c.isNull(s) ? 0 : c.ints[s]; };
    for (uint32_t s : log.slotsInIdOrder()) {
        if (intOf(cCor, s) != corId || intOf(cBand, s) != bandId || intOf(cMode, s) != modeId)
            continue;
        if (cTime.isNull(s) || minuteOf(cTime.times[s]) != minute) continue;
        if (cSuffix.texts[s].compare(suffix, Qt::CaseInsensitive) == 0) return true;
    }
    return false;
}

LogOutcome QsoLogger::write(const IncomingQso& q) {
    TDM& dm = *m_dm;
    LogOutcome o;
    o.call = q.call;
    o.mode = q.mode;
    auto refuse = [&o](const QString& why) {
        o.kind = LogOutcome::Refused;
        o.reason = why;
        return o;
    };
    if (!dm.dsMain->isActive()) return refuse(QStringLiteral("журнал закрыт"));
    if (!q.timeUtc.isValid() || q.timeUtc.date().year() < 1900 || q.timeUtc.date().year() > 9999)
        return refuse(QStringLiteral("нет времени QSO"));
    QString call, suffix;
    if (!adif::splitCall(q.call, &call, &suffix))
        return refuse(QStringLiteral("такой позывной не вводится на панели"));
    const QDateTime time = wallClock(q.timeUtc);
    o.time = time;
    const qint64 minute = minuteOf(toNaive(time));

    // the band of the operator's list that holds the frequency; else the
    // band WSJT-X names, found or added by that name
    int bandId = bandIdOfFrequency(*dm.dsBands, q.hz);
    QString bandName;
    if (bandId > 0) {
        bandName = dm.dsBands->lookupValue(fld::ID, bandId, fld::Name, 25).toString();
    } else {
        bandName = q.band.isEmpty() ? adif::bandOfFrequency(q.hz / 1e6) : q.band;
    }
    o.band = bandName;

    // nothing is added for a QSO the log already holds
    auto idOf = [](Table& t, const QString& field, const QString& text) {
        return !text.isEmpty() && t.locate(field, text, loCaseInsensitive)
                   ? t.fieldByName(fld::ID).asInteger()
                   : 0;
    };
    Table& log = *dm.dsMain;
    const int keepId = log.isEmpty() ? 0 : log.fieldByName(fld::ID).asInteger();
    // the preview of the panel stays as it is; the cursor goes back below
    auto scroll = std::exchange(dm.OnLogScroll, nullptr);
    const auto restore = qScopeGuard([&] {
        if (keepId > 0 && log.isActive() && log.state() == TableState::Browse)
            log.locate(fld::ID, keepId);
        dm.OnLogScroll = scroll;
    });
    const int knownCor = idOf(*dm.dsCors, fld::CallName, call);
    const int knownBand = bandId > 0 ? bandId : idOf(*dm.dsBands, fld::Name, bandName);
    const int knownMode = idOf(*dm.dsModes, fld::Name, q.mode);
    const bool bandKnown = bandName.isEmpty() || knownBand > 0;
    const bool modeKnown = q.mode.isEmpty() || knownMode > 0;
    if (knownCor > 0 && bandKnown && modeKnown &&
        isDuplicate(knownCor, suffix, minute, knownBand, knownMode)) {
        o.kind = LogOutcome::Duplicate;
        return o;
    }

    Table* lists[] = {dm.dsNames, dm.dsRS, dm.dsBands, dm.dsModes};
    int before[std::size(lists)];
    for (size_t i = 0; i < std::size(lists); ++i)
        before[i] = lists[i]->recordCount();
    try {
        // a known correspondent keeps what it has; only a missing name is added
        CorProps props;
        if (knownCor > 0 && dm.dsCors->locate(fld::ID, knownCor)) {
            Table& cors = *dm.dsCors;
            props = {cors.fieldByName(fld::NameID).asInteger(),
                     cors.fieldByName(fld::CityID).asInteger(),
                     cors.fieldByName(fld::CountryID).asInteger()};
        }
        if (props.nameId <= 0) props.nameId = dm.FindOrAddValue(*dm.dsNames, fld::Value, q.name);
        if (dm.FindOrAddCorrespondent(call, props)) dm.SetCorrespondentProps(props);
        LogRowValues row;
        row.corId = dm.dsCors->fieldByName(fld::ID).asInteger();
        row.suffix = suffix;
        row.notice = q.comment;
        row.repeater = q.repeater;
        row.corRsId = dm.FindOrAddValue(*dm.dsRS, fld::Value, q.reportSent);
        row.myRsId = dm.FindOrAddValue(*dm.dsRS, fld::Value, q.reportReceived);
        row.bandId = bandId > 0 ? bandId : dm.FindOrAddValue(*dm.dsBands, fld::Name, bandName);
        row.modeId = dm.FindOrAddValue(*dm.dsModes, fld::Name, q.mode);
        row.exact = true;
        row.corPowerValue = std::nan("");
        row.myPowerValue = powerOf(q.txPower);
        row.time = time;
        dm.PostLogRow(false, row);
        o.logId = log.fieldByName(fld::ID).asInteger();
    } catch (const DbError& e) {
        // rows a list gained before the refusal stay, as after a refused save
        for (size_t i = 0; i < std::size(lists); ++i)
            if (lists[i]->recordCount() != before[i]) o.grown.append(lists[i]);
        return refuse(e.message());
    }
    for (size_t i = 0; i < std::size(lists); ++i)
        if (lists[i]->recordCount() != before[i]) o.grown.append(lists[i]);
    try {
        dm.SaveAll();
    } catch (const DbError& e) {
        o.kind = LogOutcome::NotSaved;
        o.reason = e.message();
        return o;
    }
    o.kind = LogOutcome::Logged;
    return o;
}

} // namespace qardel::rig
