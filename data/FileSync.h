// Making what was written durable: a file's data, or a folder's entries (so
// that a rename in it survives a power cut).
#pragma once

#include <QString>

namespace qardel {

// Syncs a file or a folder; empty when done, else the system's reason.
QString syncPath(const QString& path, bool folder);

} // namespace qardel
