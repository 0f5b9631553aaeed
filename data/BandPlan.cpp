#include "data/BandPlan.h"

#include <QLocale>
#include <QRegularExpression>

namespace qardel {

const PlanBand* planBandOfName(const QString& name) {
    QString n = name.trimmed().toLower();
    n.remove(QLatin1Char(' '));
    // Cyrillic units as Russian lists write them
    n.replace(QStringLiteral("кгц"), QStringLiteral("khz"));
    n.replace(QStringLiteral("мгц"), QStringLiteral("mhz"));
    n.replace(QStringLiteral("ггц"), QStringLiteral("ghz"));
    n.replace(QStringLiteral("мм"), QStringLiteral("mm"));
    n.replace(QStringLiteral("см"), QStringLiteral("cm"));
    n.replace(QStringLiteral("м"), QStringLiteral("m"));
    n.replace(QLatin1Char(','), QLatin1Char('.'));
    // a bare number is the wavelength in metres where the plan has that band
    // ("160", "20"), else a frequency in MHz ("14", "144")
    for (const QString& candidate : {n, n + QLatin1Char('m')})
        for (const PlanBand& b : kBandPlan)
            if (candidate == QLatin1String(b.name)) return &b;
    static const QRegularExpression frequency(
        QStringLiteral("^([0-9]+(?:\\.[0-9]+)?)(khz|mhz|ghz)?$"));
    const QRegularExpressionMatch m = frequency.match(n);
    if (!m.hasMatch()) return nullptr;
    bool ok = false;
    double mhz = QLocale::c().toDouble(m.captured(1), &ok);
    if (!ok) return nullptr;
    if (m.captured(2) == QLatin1String("ghz")) mhz *= 1000;
    if (m.captured(2) == QLatin1String("khz")) mhz /= 1000;
    return planBandOf(mhz);
}

} // namespace qardel
