// The operator's own Maidenhead locator, and distance and beam heading from
// it to a station.
#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace qardel::callinfo {

struct LatLon {
    double lat = 0; // degrees, north positive
    double lon = 0; // degrees, east positive
};

// "KO85" or "KO85ab": field letters A-R, square digits, subsquare letters
// A-X, in either case.
bool isValidLocator(QStringView text);
// The form QARDEL keeps: upper case ("KO85AB").
QString normalizedLocator(QStringView text);
// The centre of the square or subsquare; nothing for an invalid locator.
std::optional<LatLon> locatorCentre(QStringView text);

// Great-circle distance on a sphere of the Earth's mean radius (6371 km).
double distanceKm(LatLon from, LatLon to);
// The initial heading of the great circle from one point to the other, in
// degrees clockwise from true north, 0 up to (not including) 360.
double bearingDeg(LatLon from, LatLon to);

} // namespace qardel::callinfo
