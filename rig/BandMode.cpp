#include "rig/BandMode.h"

#include "data/Fields.h"

namespace qardel::rig {

int bandIdOfFrequency(Table& bands, double hz) {
    if (!bands.isActive() || !(hz > 0)) return 0;
    const double khz = hz / 1000;
    const int fiId = bands.fieldIndex(fld::ID), fiBegin = bands.fieldIndex(fld::Begin),
              fiEnd = bands.fieldIndex(fld::End), fiName = bands.fieldIndex(fld::Name);
    const PlanBand* plan = planBandOf(hz / 1e6);
    for (uint32_t slot : bands.slotsInIdOrder()) {
        const QVariant begin = bands.valueOfSlot(slot, fiBegin);
        const QVariant end = bands.valueOfSlot(slot, fiEnd);
        bool holds = false;
        if (!begin.isNull() && !end.isNull())
            holds = khz >= begin.toDouble() && khz <= end.toDouble();
        else
            holds = plan && planBandOfName(bands.valueOfSlot(slot, fiName).toString()) == plan;
        if (holds) return bands.valueOfSlot(slot, fiId).toInt();
    }
    return 0;
}

namespace {

QString entryNamed(const QStringList& entries, std::initializer_list<const char*> names) {
    for (const char* n : names)
        for (const QString& e : entries)
            if (e.compare(QLatin1String(n), Qt::CaseInsensitive) == 0) return e;
    return {};
}

bool isVoiceOrCw(const QString& mode) {
    static const QStringList analog = {"SSB", "USB", "LSB", "CW", "AM", "FM", "DSB"};
    return analog.contains(mode, Qt::CaseInsensitive);
}

} // namespace

QString modeEntryForRadio(const QString& radioMode, const QStringList& entries,
                          const QString& selected) {
    const QString m = radioMode.toUpper();
    if (m == QLatin1String("USB")) return entryNamed(entries, {"SSB", "USB"});
    if (m == QLatin1String("LSB")) return entryNamed(entries, {"SSB", "LSB"});
    if (m == QLatin1String("CW") || m == QLatin1String("CWR")) return entryNamed(entries, {"CW"});
    if (m == QLatin1String("AM") || m == QLatin1String("AMS") || m == QLatin1String("AMN") ||
        m == QLatin1String("SAM") || m == QLatin1String("SAL") || m == QLatin1String("SAH"))
        return entryNamed(entries, {"AM"});
    if (m == QLatin1String("FM") || m == QLatin1String("FMN") || m == QLatin1String("WFM"))
        return entryNamed(entries, {"FM"});
    if (m == QLatin1String("RTTY") || m == QLatin1String("RTTYR"))
        return entryNamed(entries, {"RTTY"});
    if (m.startsWith(QLatin1String("PKT"))) {
        if (!selected.isEmpty() && !isVoiceOrCw(selected)) return {};
        return entryNamed(entries, {"DATA", "DIGI", "PKT"});
    }
    return {};
}

} // namespace qardel::rig
