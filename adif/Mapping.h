// What ADIF's fields mean to the log: a QSO as a record, and a record saved
// the way the entry panel saves a QSO (the same data-module functions).
#pragma once

#include "adif/Adif.h"
#include "data/uDM.h"

#include <functional>

namespace qardel::adif {

// Every QSO of the log, oldest first. progress(done, total) now and then.
QList<Record> exportLog(TDM& dm, const std::function<void(int, int)>& progress = {});
// The same as an ADI file, made in one pass: writeAdi(exportLog(dm)) without
// the records in between.
QByteArray exportAdi(TDM& dm, const QString& program, const QString& version,
                     const std::function<void(int, int)>& progress = {});

// The same for the QSOs with these IDs (IDs not in the log are left out),
// oldest first: what a search found, as a file.
QList<Record> exportQsos(TDM& dm, const std::vector<int>& ids);
QByteArray exportQsosAdi(TDM& dm, const std::vector<int>& ids, const QString& program,
                         const QString& version);

// A power that is not a number is left empty: the kind of repair counted.
inline const QString kRepairPower = QStringLiteral("a power that is not a number, left empty");

struct ImportSummary {
    int read = 0;
    int imported = 0;
    int duplicates = 0;
    QList<Refusal> refused;
    QMap<QString, int> repairs; // kind -> count
    QMap<QString, int> notKept; // field name -> count
};

// Adds the records to the tables (nothing is written): names, cities,
// countries, reports, bands and modes found or added, correspondents found
// or created, one log row per QSO. A QSO already in the log (same call sign,
// same minute, same band and mode) is skipped.
void importRecords(TDM& dm, const QList<Record>& records, ImportSummary* summary,
                   const std::function<void(int, int)>& progress = {});

// The call sign and suffix QARDEL can hold for an ADIF call ("UA3AAA/P");
// false when it cannot hold it as typed on the panel.
bool splitCall(const QString& call, QString* callSign, QString* suffix);
// The ADIF band of a frequency in MHz; empty when none.
QString bandOfFrequency(double mhz);

} // namespace qardel::adif
