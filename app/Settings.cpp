#include "app/Settings.h"

#include "platform/Errors.h"
#include "platform/ProfileFile.h"
#include "platform/TimestampText.h"
#include "platform/WindowsPath.h"

namespace vz {

namespace {

// "C:" for a drive-letter path, "\\server\share" for a network path.
QString driveOf(const QString& path)
{
    if (path.size() >= 2 && path.at(1) == QLatin1Char(':'))
        return path.left(2);
    if (path.startsWith(QLatin1String("\\\\"))) {
        const qsizetype serverEnd = path.indexOf(QLatin1Char('\\'), 2);
        if (serverEnd < 0)
            return path;
        const qsizetype shareEnd = path.indexOf(QLatin1Char('\\'), serverEnd + 1);
        return shareEnd < 0 ? path : path.left(shareEnd);
    }
    return QString();
}

}  // namespace

Settings::Settings(const FileSystem& fs, const Clock& clock, RegionalSettings regional,
                   const QString& executableWindowsPath, const QString& serviceHost)
    : fs_(fs), clock_(clock), regional_(std::move(regional)), serviceHost_(serviceHost)
{
    // Kept until LoadSettings derives the values, as the window's creation does.
    exeWindowsPath_ = executableWindowsPath;
}

QString Settings::FormatTimestamp(Timestamp value) const { return vz::FormatTimestamp(value, regional_); }

Timestamp Settings::ParseTimestamp(const QString& text, Timestamp defaultValue) const
{
    return vz::ParseTimestamp(text, defaultValue, regional_, DecodeTimestamp(clock_.now()).year);
}

bool Settings::IsSafeClientGuid(const QString& guid)
{
    if (guid == QLatin1String(".") || guid == QLatin1String(".."))
        return false;
    for (QChar c : guid) {
        // Control characters include C1, which unassigned Windows-1252 bytes decode to.
        if (c == QLatin1Char('\\') || c == QLatin1Char('/') || c == QLatin1Char(':') ||
            c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

void Settings::LoadSettings(SettingsHost& host)
{
    // 1. Values from the executable's place; the service address is built in:
    // a whole base URL (http or https), or host[:port] of the plain one.
    BaseUrl = serviceHost_.contains(QLatin1String("://"))
                  ? serviceHost_
                  : QStringLiteral("http://") + serviceHost_ + QStringLiteral("/Zuvavivevo/");
    ExeFolder = ExtractFilePath(exeWindowsPath_);
    ExeDrive = driveOf(exeWindowsPath_);

    // 2. Without a settings file nothing below runs and nothing is shown;
    // closing then creates it.
    const auto hostPath = fs_.toHost(settingsFilePath());
    if (!hostPath) {
        timestampOrigin_ = TimestampOrigin::NoFile;
        return;
    }
    // 3. Read once: every value below comes from the same text.
    ProfileFile file(*hostPath);
    switch (file.load()) {
    case ProfileFile::LoadStatus::Missing:
        timestampOrigin_ = TimestampOrigin::NoFile;
        return;
    case ProfileFile::LoadStatus::Unreadable:
        // Nothing can run without the installation folder, and the file must
        // not be recreated over what it holds.
        host.showError(QStringLiteral("Não foi possível ler o arquivo de configurações ") + settingsFilePath() +
                       QStringLiteral(": ") + hostfs::errorText(file.errorNumber()));
        host.SetControlsEnabled(false);
        return;
    case ProfileFile::LoadStatus::Loaded:
        break;
    }

    try {
        // 4.
        SystemFolder = IncludeTrailingBackslash(file.readString(QStringLiteral("SERVIDOR"), QStringLiteral("PASTA_SISTEMA")));
        if (SystemFolder.isEmpty()) {
            // Every later step expects an installation folder; without one no
            // run could stage or restore anything sensible.
            host.showError(QStringLiteral("PASTA_SISTEMA não informada em ") + settingsFilePath());
            host.SetControlsEnabled(false);
            return;
        }

        // 5.
        host.setDatabaseFileNames(SystemFolder + QStringLiteral("Vireodb\\VireoAudio.fdb"),
                                  SystemFolder + QStringLiteral("Vireodb\\VireoAdm.fdb"));

        // 6.
        const QString config = QStringLiteral("CONFIG");
        LastBackupDados = ParseTimestamp(file.readString(config, QStringLiteral("DADOS")), EarliestTimestamp);
        LastBackupAudio = ParseTimestamp(file.readString(config, QStringLiteral("AUDIO")), EarliestTimestamp);
        LastBackupMusica = ParseTimestamp(file.readString(config, QStringLiteral("MUSICA")), EarliestTimestamp);
        timestampOrigin_ = TimestampOrigin::File;

        // 7.
        const QString guid = host.readClientGuid();

        // 8. and 9. The identifier becomes part of file names and URLs: one that
        // could leave the intended folders or break a request counts as missing.
        if (!guid.isEmpty() && IsSafeClientGuid(guid)) {
            ClientGuid = guid;
            ArchiveName = ClientGuid + QStringLiteral(".zip");
            host.setDialogFilters(QStringLiteral("Arquivo do Zuvavivevo|") + ArchiveName);
        } else {
            if (!guid.isEmpty())
                host.showError(QStringLiteral("Identificador do cliente inválido: ") + guid);
            host.SetControlsEnabled(false);
        }
    } catch (const Error& e) {
        host.showError(e.message());
    }
}

void Settings::SaveBackupTimestamps()
{
    // Values never read are day 0: writing them would lose the stored dates.
    if (timestampOrigin_ == TimestampOrigin::NotRead)
        return;
    const QString path = settingsFilePath();
    const Error failure(QStringLiteral("Unable to write to ") + path);
    const auto hostPath = fs_.toHost(path);
    if (!hostPath)
        throw failure;
    ProfileFile file(*hostPath);
    const QString config = QStringLiteral("CONFIG");
    // Each key reaches the file before the next one is written.
    if (!file.writeString(config, QStringLiteral("dados"), FormatTimestamp(LastBackupDados)))
        throw failure;
    if (!file.writeString(config, QStringLiteral("audio"), FormatTimestamp(LastBackupAudio)))
        throw failure;
    if (!file.writeString(config, QStringLiteral("musica"), FormatTimestamp(LastBackupMusica)))
        throw failure;
}

}  // namespace vz
