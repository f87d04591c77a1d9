#pragma once
// A file (or a folder) that a copy could not copy: what the runs count,
// name in their final text and log, and hold their timestamps back for.

#include "platform/Timestamp.h"

#include <QString>
#include <cerrno>
#include <optional>

namespace vz {

struct CopyFailure {
    QString source;       // Windows path of what was to be copied
    QString destination;  // Windows path it was to be copied to
    int errorNumber = 0;  // errno from the platform layer; 0 when unknown
    // The file's modification time in the copy's 2-second FAT form; none for
    // a folder whose walk was interrupted (its files' times are unknown).
    std::optional<Timestamp> modified;
};

// What the export records for a database file that a Firebird server or
// another program holds (errno values no file operation gives, so the reason
// names the database's own trouble).
inline constexpr int DatabaseHeldWithoutServer = EBADE;  // an engine outside a server holds it
inline constexpr int DatabaseServerRefused = EBADR;      // no login or no backup lock from the server
inline constexpr int DatabaseLockNotCleared = EBADRQC;   // the copy's backup mark stayed (nbackup -F)
inline constexpr int DatabaseLeftInBackup = EBADSLT;     // END BACKUP did not reach the server

// Why, in the user's words: a Portuguese text for the usual reasons, the
// system's text for the rest.
QString CopyFailureReason(int errorNumber);

}  // namespace vz
