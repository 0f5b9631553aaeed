// The names of the tables' fields and of the settings the program reads,
// written once: every other place names a field through these.
#pragma once

#include <QString>

namespace qardel::fld {

inline const QString ID = QStringLiteral("ID");
inline const QString Time = QStringLiteral("Time");
inline const QString CorID = QStringLiteral("CorID");
inline const QString BandID = QStringLiteral("BandID");
inline const QString ModeID = QStringLiteral("ModeID");
inline const QString CorPower = QStringLiteral("CorPower");
inline const QString MyPower = QStringLiteral("MyPower");
inline const QString CorRSID = QStringLiteral("CorRSID");
inline const QString MyRSID = QStringLiteral("MyRSID");
inline const QString Notice = QStringLiteral("Notice");
inline const QString CorSuffix = QStringLiteral("CorSuffix");
inline const QString QSL = QStringLiteral("QSL");
inline const QString Repeater = QStringLiteral("Repeater");
inline const QString CorCountry = QStringLiteral("CorCountry");
inline const QString CorCity = QStringLiteral("CorCity");
inline const QString CorCallName = QStringLiteral("CorCallName");
inline const QString Band = QStringLiteral("Band");
inline const QString Mode = QStringLiteral("Mode");
inline const QString CorRS = QStringLiteral("CorRS");
inline const QString MyRS = QStringLiteral("MyRS");
inline const QString CorName = QStringLiteral("CorName");
inline const QString CallName = QStringLiteral("CallName");
inline const QString NameID = QStringLiteral("NameID");
inline const QString CountryID = QStringLiteral("CountryID");
inline const QString CityID = QStringLiteral("CityID");
inline const QString City = QStringLiteral("City");
inline const QString Country = QStringLiteral("Country");
inline const QString Name = QStringLiteral("Name");
inline const QString Begin = QStringLiteral("Begin");
inline const QString End = QStringLiteral("End");
inline const QString DefPower = QStringLiteral("DefPower");
inline const QString DefModeID = QStringLiteral("DefModeID");
inline const QString DefMode = QStringLiteral("DefMode");
inline const QString Value = QStringLiteral("Value");

} // namespace qardel::fld

namespace qardel::setting {

inline const QString LastBand = QStringLiteral("LastBand");
inline const QString LastMode = QStringLiteral("LastMode");
// the operator's own Maidenhead locator (text), for distance and beam heading
inline const QString MyLocator = QStringLiteral("MyLocator");

// The radio and WSJT-X (numbers through Get/SetIntSetting, texts through
// Get/SetTextSetting).
inline const QString RigEnabled = QStringLiteral("RigEnabled");       // 0 or 1
inline const QString RigConnection = QStringLiteral("RigConnection"); // 0 direct, 1 rigctld
inline const QString RigModel = QStringLiteral("RigModel");           // Hamlib's model number
inline const QString RigDevice = QStringLiteral("RigDevice");         // text: serial device
inline const QString RigSpeed = QStringLiteral("RigSpeed");           // baud, 0 = the model's
inline const QString RigAddress = QStringLiteral("RigAddress");       // text: rigctld host:port
inline const QString WsjtxEnabled = QStringLiteral("WsjtxEnabled");   // 0 or 1
inline const QString WsjtxAddress = QStringLiteral("WsjtxAddress");   // text: IP, multicast too
inline const QString WsjtxPort = QStringLiteral("WsjtxPort");         // UDP port

} // namespace qardel::setting
