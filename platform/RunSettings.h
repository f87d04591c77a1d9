#pragma once
// The settings values the export and import runs read, and the three
// last-export timestamps they change. The window's Settings is the program's
// implementation; the runs see only this, so they need nothing of the window.

#include "platform/Timestamp.h"

#include <QString>

namespace vz {

class RunSettings {
public:
    virtual ~RunSettings() = default;

    // Strings are empty and timestamps 0 until the settings are loaded.
    QString ExeFolder;     // folder of the executable, ending with "\"
    QString ExeDrive;      // "C:" or "\\server\share", never a trailing "\"
    QString SystemFolder;  // installation folder, ending with "\" once read
    QString ClientGuid;    // empty when it could not be read
    QString ArchiveName;   // ClientGuid + ".zip"
    QString BaseUrl;       // "http://" + service host + "/Zuvavivevo/"
    Timestamp LastBackupDados = 0;
    Timestamp LastBackupAudio = 0;
    Timestamp LastBackupMusica = 0;

    // Timestamp text in the user's regional settings, and back.
    virtual QString FormatTimestamp(Timestamp value) const = 0;
    virtual Timestamp ParseTimestamp(const QString& text, Timestamp defaultValue) const = 0;
    // Writes the three timestamps to the settings file; throws vz::Error.
    virtual void SaveBackupTimestamps() = 0;
};

}  // namespace vz
