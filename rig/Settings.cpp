#include "rig/Settings.h"

#include "data/Fields.h"

namespace qardel::rig {

RigSettings loadRigSettings(TDM& dm) {
    RigSettings s;
    s.enabled = dm.GetIntSetting(setting::RigEnabled, 0) != 0;
    s.connection = dm.GetIntSetting(setting::RigConnection, s.connection) == RigSettings::Rigctld
                       ? RigSettings::Rigctld
                       : RigSettings::Direct;
    s.model = dm.GetIntSetting(setting::RigModel, s.model);
    s.device = dm.GetTextSetting(setting::RigDevice, s.device);
    s.speed = std::max(0, dm.GetIntSetting(setting::RigSpeed, s.speed));
    s.address = dm.GetTextSetting(setting::RigAddress, s.address);
    return s;
}

WsjtxSettings loadWsjtxSettings(TDM& dm) {
    WsjtxSettings s;
    s.enabled = dm.GetIntSetting(setting::WsjtxEnabled, 0) != 0;
    s.address = dm.GetTextSetting(setting::WsjtxAddress, s.address);
    const int port = dm.GetIntSetting(setting::WsjtxPort, s.port);
    if (port >= 0 && port <= 65535) s.port = port;
    return s;
}

void saveRigSettings(TDM& dm, const RigSettings& s) {
    dm.SetIntSetting(setting::RigEnabled, s.enabled ? 1 : 0);
    dm.SetIntSetting(setting::RigConnection, s.connection);
    dm.SetIntSetting(setting::RigModel, s.model);
    dm.SetTextSetting(setting::RigDevice, s.device);
    dm.SetIntSetting(setting::RigSpeed, s.speed);
    dm.SetTextSetting(setting::RigAddress, s.address);
}

void saveWsjtxSettings(TDM& dm, const WsjtxSettings& s) {
    dm.SetIntSetting(setting::WsjtxEnabled, s.enabled ? 1 : 0);
    dm.SetTextSetting(setting::WsjtxAddress, s.address);
    dm.SetIntSetting(setting::WsjtxPort, s.port);
}

} // namespace qardel::rig
