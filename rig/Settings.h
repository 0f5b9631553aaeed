// The radio's and WSJT-X's settings, kept as rows of the settings table.
#pragma once

#include "data/uDM.h"

namespace qardel::rig {

struct RigSettings {
    enum Connection { Direct = 0, Rigctld = 1 };
    bool enabled = false;
    int connection = Direct;
    int model = 1; // Hamlib's model number; 1 is its dummy radio
    QString device;
    int speed = 0; // baud; 0 takes the model's own
    QString address = QStringLiteral("localhost:4532");
    bool operator==(const RigSettings&) const = default;
};

struct WsjtxSettings {
    bool enabled = false;
    QString address = QStringLiteral("127.0.0.1"); // a multicast group is joined
    int port = 2237;
    bool operator==(const WsjtxSettings&) const = default;
};

// Read from the settings table; what is missing or unreadable takes its default.
RigSettings loadRigSettings(TDM& dm);
WsjtxSettings loadWsjtxSettings(TDM& dm);
// Posted to the settings table; the caller writes the tables (SaveAll).
void saveRigSettings(TDM& dm, const RigSettings& s);
void saveWsjtxSettings(TDM& dm, const WsjtxSettings& s);

} // namespace qardel::rig
