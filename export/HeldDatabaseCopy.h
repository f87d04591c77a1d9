#pragma once
// The export's copy of a database file that is in use. A Firebird server
// keeps the automation program's databases open all day, and a copy read
// while it writes would be a corrupt file; so a held database is copied
// under Firebird's physical-backup lock:
//   - attached through the server on 127.0.0.1 (where the client library
//     goes for a file another engine holds, as the program's own reads do),
//     ALTER DATABASE BEGIN BACKUP freezes the main file (the server writes
//     its changes to a delta file meanwhile);
//   - the main file is copied without the share lock (which Firebird allows
//     in this state) into a temporary file beside the target;
//   - ALTER DATABASE END BACKUP, always, also when the copy failed;
//   - `nbackup -F` clears the copy's backup mark, so that it is an ordinary
//     database, and only then the temporary file is renamed to the target.
// A database file no one holds is left to the engine's plain copy. One that
// an engine outside a server holds (another program's embedded engine)
// cannot be reached and fails with DatabaseHeldWithoutServer.

#include "db/FirebirdClient.h"
#include "staging/HeldFileCopier.h"

#include <QString>
#include <QStringList>

namespace vz {

class HeldDatabaseCopy final : public HeldFileCopier {
public:
    static constexpr int DefaultToolTimeoutMs = 60000;

    // connectionParams: the lines the program attaches with (user and
    // password of the installation). nbackupProgram: a host path or a name
    // looked up in PATH; it is given toolTimeoutMs to finish.
    HeldDatabaseCopy(const FirebirdClient& client, QStringList connectionParams,
                     QString nbackupProgram = QStringLiteral("nbackup"), int toolTimeoutMs = DefaultToolTimeoutMs);

    // Files whose name ends in ".fdb" that the platform's lock test finds
    // held; NotHeld for anything else.
    Outcome CopyHeld(const QString& sourceWindowsPath, const QString& fromHostPath,
                     const QString& toHostPath) override;

    // What the server or the tool said when a copy failed, one line per
    // failure ("<Windows path>: <text>"), for the run log.
    const QStringList& Details() const { return details_; }
    // The databases copied under the backup lock so far.
    int CopiedCount() const { return copied_; }

private:
    Outcome fail(const QString& sourceWindowsPath, int errorNumber, const QString& detail);
    bool clearBackupMark(const QString& hostPath, QString* detail) const;

    const FirebirdClient& client_;
    QStringList connectionParams_;
    QString nbackupProgram_;
    int toolTimeoutMs_;
    QStringList details_;
    int copied_ = 0;
};

}  // namespace vz
