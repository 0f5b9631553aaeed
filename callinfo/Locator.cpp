#include "callinfo/Locator.h"

#include <cmath>
#include <numbers>

namespace qardel::callinfo {

namespace {
constexpr double kEarthRadiusKm = 6371.0;
constexpr double kRad = std::numbers::pi / 180.0;

bool inRange(QChar c, char lo, char hi) {
    const char16_t u = c.toUpper().unicode();
    return u >= char16_t(lo) && u <= char16_t(hi);
}
} // namespace

bool isValidLocator(QStringView t) {
    if (t.size() != 4 && t.size() != 6) return false;
    if (!inRange(t[0], 'A', 'R') || !inRange(t[1], 'A', 'R')) return false;
    if (!t[2].isDigit() || !t[3].isDigit() || t[2].unicode() > '9' || t[3].unicode() > '9')
        return false;
    return t.size() == 4 || (inRange(t[4], 'A', 'X') && inRange(t[5], 'A', 'X'));
}

QString normalizedLocator(QStringView t) {
    return t.toString().toUpper();
}

std::optional<LatLon> locatorCentre(QStringView t) {
    if (!isValidLocator(t)) return std::nullopt;
    auto letter = [&](int i) { return double(t[i].toUpper().unicode() - u'A'); };
    auto digit = [&](int i) { return double(t[i].unicode() - u'0'); };
    double lon = -180 + letter(0) * 20 + digit(2) * 2;
    double lat = -90 + letter(1) * 10 + digit(3);
    if (t.size() == 6) {
        lon += letter(4) * (2.0 / 24) + 1.0 / 24;
        lat += letter(5) * (1.0 / 24) + 0.5 / 24;
    } else {
        lon += 1;
        lat += 0.5;
    }
    return LatLon{lat, lon};
}

double distanceKm(LatLon a, LatLon b) {
    // the haversine form keeps its precision for short distances
    const double dLat = (b.lat - a.lat) * kRad, dLon = (b.lon - a.lon) * kRad;
    const double h =
        std::sin(dLat / 2) * std::sin(dLat / 2) +
        std::cos(a.lat * kRad) * std::cos(b.lat * kRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * kEarthRadiusKm * std::asin(std::min(1.0, std::sqrt(h)));
}

double bearingDeg(LatLon a, LatLon b) {
    const double f1 = a.lat * kRad, f2 = b.lat * kRad, dl = (b.lon - a.lon) * kRad;
    const double y = std::sin(dl) * std::cos(f2);
    const double x = std::cos(f1) * std::sin(f2) - std::sin(f1) * std::cos(f2) * std::cos(dl);
    double deg = std::atan2(y, x) / kRad;
    deg = std::fmod(deg + 360.0, 360.0);
    return deg >= 360.0 ? 0.0 : deg;
}

} // namespace qardel::callinfo
