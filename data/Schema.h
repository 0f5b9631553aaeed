// The nine tables of the logbook: fields, indexes, active orders and lookups.
#pragma once

#include "data/Table.h"

#include <memory>
#include <utility>
#include <vector>

namespace qardel {

struct LogTables {
    std::unique_ptr<Table> main, cors, bands, modes, rs, countryes, cityes, names, ini;
};

// The nine tables' names and their files' names in the data folder, in the
// order the tables are listed (the log first, the settings last).
const std::vector<std::pair<QString, QString>>& tableFiles();
// The file name of a table; empty for a name that is not one of the nine.
QString tableFileName(const QString& tableName);

// Builds the nine closed tables with their lookups wired to each other.
LogTables createLogTables();

// Default width in characters of a field shown in a grid.
int defaultDisplayWidth(const FieldDef& f);

} // namespace qardel
