#pragma once
// The program's identity and its memory between runs: the values derived
// from the executable's place, the settings file VireoReplicador.ini beside
// it, the three last-export timestamps and the client identifier.

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/RegionalSettings.h"
#include "platform/RunSettings.h"
#include "platform/Timestamp.h"

#include <QString>

namespace vz {

// What LoadSettings needs from the window that owns the settings.
class SettingsHost {
public:
    virtual ~SettingsHost() = default;
    // File names of the audio (DB_Vireo) and administration (DB_Adm) databases.
    virtual void setDatabaseFileNames(const QString& vireoFile, const QString& admFile) = 0;
    // CFG_GUID of the first configuration row; may throw vz::Error.
    virtual QString readClientGuid() = 0;
    // Filter of both file dialogs ("Arquivo do Zuvavivevo|" + ArchiveName).
    virtual void setDialogFilters(const QString& filter) = 0;
    virtual void SetControlsEnabled(bool on) = 0;
    // The standard error display.
    virtual void showError(const QString& message) = 0;
};

class Settings final : public RunSettings {
public:
    static inline const QString FileName = QStringLiteral("VireoReplicador.ini");

    // executableWindowsPath: the executable's full path as a Windows path.
    // serviceHost: the replication web service's base URL
    // ("https://host[:port]/Zuvavivevo/"), or host[:port] for
    // "http://host[:port]/Zuvavivevo/".
    Settings(const FileSystem& fs, const Clock& clock, RegionalSettings regional, const QString& executableWindowsPath,
             const QString& serviceHost);

    // The values (ExeFolder, ExeDrive, SystemFolder, ClientGuid, ArchiveName,
    // BaseUrl and the three timestamps) are RunSettings' members, held for the
    // life of the process.

    // Runs once while the main window is created. A settings file that is
    // there but cannot be read is shown as an error and disables the controls.
    void LoadSettings(SettingsHost& host);
    // Writes the three timestamps; throws vz::Error "Unable to write to %s".
    // Does nothing unless LoadSettings read them or found no settings file:
    // values never read would replace the stored ones (and the "never
    // exported" marker) with day 0.
    void SaveBackupTimestamps() override;

    // ExeFolder + "VireoReplicador.ini".
    QString settingsFilePath() const { return ExeFolder + FileName; }
    const RegionalSettings& regional() const { return regional_; }
    const Clock& clock() const { return clock_; }
    QString FormatTimestamp(Timestamp value) const override;
    Timestamp ParseTimestamp(const QString& text, Timestamp defaultValue) const override;

    // True when the identifier can become part of file names and URLs: no
    // path separator, no ":", no control character, not "." or "..".
    static bool IsSafeClientGuid(const QString& guid);

private:
    // Where the timestamps in memory came from.
    enum class TimestampOrigin {
        NotRead,   // LoadSettings has not read them (not run, or stopped before them)
        File,      // read from the settings file
        NoFile,    // there was no settings file: saving creates it
    };

    const FileSystem& fs_;
    const Clock& clock_;
    RegionalSettings regional_;
    QString serviceHost_;
    QString exeWindowsPath_;
    TimestampOrigin timestampOrigin_ = TimestampOrigin::NotRead;
};

}  // namespace vz
