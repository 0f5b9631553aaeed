// An import written so that a crash or a power cut at any moment leaves the
// log as it was before the import or as it is after it, never between: every
// table file the import changed is built whole in a stage folder inside the
// data folder and synced, a commit mark is written, and only then are the
// files renamed into place. Whoever opens the folder next finishes a
// committed stage or removes one that was never committed.
#pragma once

#include <QString>

namespace qardel {

class TDM;

namespace importstage {

// The stage folder of a data folder (which ends with the delimiter).
QString folder(const QString& dataDir);

// Builds every table of dm that changed (or whose file is missing) in the
// stage, syncs it, writes the commit mark, then renames the files into the
// data folder. dm's tables are closed afterwards, without writing. Throws
// DbError when the stage cannot be built (the stage is removed and the
// folder is as before) or its files cannot be put into place (the stage
// stays committed, and the next opening finishes it).
void write(TDM& dm);

enum class Found { Nothing, Finished, Removed };
struct Recovery {
    Found found = Found::Nothing;
    QString error; // the stage could not be finished or removed: why
};
// At opening, under the folder's lock: a committed stage is finished, one
// that was never committed is removed; either way the folder is synced.
Recovery recover(const QString& dataDir);

// Test hook: called at named points of write() ("staged", "committed",
// "renamed" after each file); it may throw or stop the process.
extern void (*faultHook)(const char* point);

} // namespace importstage
} // namespace qardel
