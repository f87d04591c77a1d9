#include "export/ExportDriver.h"

#include "platform/Errors.h"
#include "platform/FileUtilities.h"
#include "staging/CopyEngine.h"
#include "staging/ExportSources.h"

#include <memory>

namespace vz {

namespace {

// Leading and trailing blanks and control characters, as the prompt's answer loses them.
QString TrimBlanksAndControls(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

struct Timestamps {
    Timestamp dados, audio, musica;
};

}  // namespace

// The pieces one run stages with; made afresh for every run.
struct ExportStaging {
    CopyEngine engine;
    ExportSources sources;
    explicit ExportStaging(const ExportServices& s)
        : engine(s.fileSystem, s.frame, s.settings.ExeDrive),
          sources(engine, s.frame, s.settings.SystemFolder, s.clock,
                  [&db = s.databases](const std::function<void(const QString&)>& visit) {
                      db.ForEachMusicFolder(visit);
                  })
    {
    }
};

ExportDriver::ExportDriver(ExportServices services, PackageAndDelivery& packaging)
    : s_(std::move(services)), packaging_(packaging)
{
}

void ExportDriver::Message(const QString& text) { ShowRunMessage(s_, text); }

void ExportDriver::AskFirstRunDate()
{
    RunSettings& settings = s_.settings;
    QString accepted;
    for (;;) {
        // Cancel gives back the initial text: an empty answer.
        const QString answer = TrimBlanksAndControls(s_.dialogs.inputText(s_.title, FirstRunPrompt, QString()));
        if (answer.isEmpty())
            break;
        const Timestamp value = settings.ParseTimestamp(answer, EarliestTimestamp);
        if (value != EarliestTimestamp && value <= s_.clock.now()) {
            accepted = answer;
            break;
        }
        Message(InvalidDateMessage);
    }
    settings.LastBackupDados = settings.ParseTimestamp(accepted, EarliestTimestamp);
    settings.LastBackupAudio = settings.LastBackupDados;
    settings.LastBackupMusica = settings.LastBackupDados;
}

void ExportDriver::ConnectAudioDatabase()
{
    try {
        s_.databases.ConnectVireo();
    } catch (const SilentAbort&) {
        throw;
    } catch (...) {
        s_.frame.SetPageProgressText(RunPage::Export, DatabaseFailedText);
        throw SilentAbort();
    }
}

void ExportDriver::Run(const ExportCategories& categories, const FileDialogRequest& saveDialog)
{
    RunSettings& settings = s_.settings;
    RunFrame& frame = s_.frame;
    // Without the identifier there is no archive name and no service address.
    if (settings.ClientGuid.isEmpty()) {
        Message(NoClientMessage);
        return;
    }
    if (settings.LastBackupDados == EarliestTimestamp)
        AskFirstRunDate();

    const Timestamps before{settings.LastBackupDados, settings.LastBackupAudio, settings.LastBackupMusica};
    bool completed = false;
    const auto closing = [&] {
        if (!completed) {
            settings.LastBackupDados = before.dados;
            settings.LastBackupAudio = before.audio;
            settings.LastBackupMusica = before.musica;
        }
        // A connection left attached would hold the audio database locked
        // (against the automation program and the next export's copy of it).
        try {
            s_.databases.DisconnectVireo();
        } catch (...) {
        }
        frame.ShowIdle();
        frame.SetControlsEnabled(true);
    };
    try {
        RemoveFolderToRecycleBin(s_.fileSystem, settings.ExeFolder + QStringLiteral("Replicacao"));
        frame.ShowBusy();
        frame.ResetSteps();
        frame.SetControlsEnabled(false);

        if (categories.geral)
            StageAll();
        else
            StageCategories(categories);

        frame.MarkExportStep(PackageAndDelivery::PackStep, false);
        packaging_.SaveDialog = saveDialog;
        if (!packaging_.PackageAndDeliver())
            frame.MarkExportStep(PackageAndDelivery::PackStep, true);
        frame.MarkExportStep(StepCount, false);
        completed = true;

        const QString text = FinishedText + settings.FormatTimestamp(s_.clock.now());
        frame.SetPageProgressText(RunPage::Export, text);
        frame.SetPageDestinationText(RunPage::Export, QString());
        settings.SaveBackupTimestamps();
        Message(text);
    } catch (...) {
        closing();
        throw;
    }
    closing();
}

void ExportDriver::StageAll()
{
    RunSettings& settings = s_.settings;
    ExportStaging staging(s_);
    const bool siblingWasRunning = s_.sibling.SiblingIsRunning();
    if (siblingWasRunning)
        Message(SiblingWarning);
    s_.sibling.AskSiblingToClose();
    staging.sources.StageSystemFolder(QString(), true, settings.LastBackupDados);
    if (siblingWasRunning)
        s_.sibling.StartSiblingServer(settings.SystemFolder);
    ConnectAudioDatabase();
    staging.sources.StageMusicFolders(true, settings.LastBackupMusica);
    settings.LastBackupDados = s_.clock.now();
    settings.LastBackupAudio = settings.LastBackupDados;
    settings.LastBackupMusica = settings.LastBackupDados;
    s_.databases.DisconnectVireo();
}

void ExportDriver::StageCategories(const ExportCategories& categories)
{
    RunSettings& settings = s_.settings;
    RunFrame& frame = s_.frame;
    ExportStaging staging(s_);
    ExportSources& sources = staging.sources;
    const bool siblingWasRunning = s_.sibling.SiblingIsRunning();
    if (siblingWasRunning)
        Message(SiblingWarning);

    if (categories.dados) {
        frame.MarkExportStep(DadosStep, false);
        try {
            sources.StageSystemFolder(QString(), false, settings.LastBackupDados);
            // The sibling keeps its databases open: closed just before they are
            // copied, its server started again right after.
            s_.sibling.AskSiblingToClose();
            const QStringList& folders = ExportSources::DadosFolders;
            sources.StageSystemFolder(folders.first(), true, settings.LastBackupDados);
            if (siblingWasRunning)
                s_.sibling.StartSiblingServer(settings.SystemFolder);
            for (qsizetype i = 1; i < folders.size(); ++i)
                sources.StageSystemFolder(folders.at(i), true, settings.LastBackupDados);
            settings.LastBackupDados = s_.clock.now();
        } catch (...) {
            frame.MarkExportStep(DadosStep, true);
        }
    }
    if (categories.audios) {
        frame.MarkExportStep(AudioStep, false);
        try {
            for (const QString& name : ExportSources::AudioFolders)
                sources.StageSystemFolder(name, true, settings.LastBackupAudio);
            settings.LastBackupAudio = s_.clock.now();
        } catch (...) {
            frame.MarkExportStep(AudioStep, true);
        }
    }
    ConnectAudioDatabase();
    frame.MarkExportStep(MusicStep, false);
    if (categories.musicas)
        sources.StageMusicFolders(false, settings.LastBackupMusica);
    s_.databases.DisconnectVireo();
}

}  // namespace vz
