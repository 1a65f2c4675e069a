#pragma once

#include <QString>

namespace platform {

// Makes the folder's entries reach the disk: after a file was renamed into the folder, its new name
// survives a crash of the machine only once the folder itself is synced. False when the folder cannot
// be opened or synced.
bool syncFolder(const QString& folder);

} // namespace platform
