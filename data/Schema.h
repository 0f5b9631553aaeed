// The nine tables of the logbook: fields, indexes, active orders and lookups.
#pragma once

#include "data/Table.h"

#include <memory>

namespace qardel {

struct LogTables {
    std::unique_ptr<Table> main, cors, bands, modes, rs, countryes, cityes, names, ini;
};

// Builds the nine closed tables with their lookups wired to each other.
LogTables createLogTables();

// Default width in characters of a field shown in a grid.
int defaultDisplayWidth(const FieldDef& f);

} // namespace qardel
