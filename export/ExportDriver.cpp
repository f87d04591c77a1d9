#include "export/ExportDriver.h"

#include "export/CategoryMoment.h"
#include "export/HeldDatabaseCopy.h"
#include "platform/Errors.h"
#include "staging/LeftoverFiles.h"
#include "platform/FileUtilities.h"
#include "platform/SiblingCloseWait.h"
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
    HeldDatabaseCopy heldDatabases;
    CopyEngine engine;
    ExportSources sources;
    explicit ExportStaging(const ExportServices& s)
        : heldDatabases(s.databases.client, s.databases.DB_Vireo.ConnectionParams()),
          engine(s.fileSystem, s.frame, s.settings.ExeDrive),
          sources(engine, s.frame, s.settings.SystemFolder,
                  [&db = s.databases](const std::function<void(const QString&)>& visit) {
                      db.ForEachMusicFolder(visit);
                  })
    {
        // The mirror is started afresh by every export (a crashed one's is
        // discarded), so its new files need no temporary name.
        engine.SetNewFilesInPlace(true);
        // The databases a Firebird server keeps open are copied under its backup lock.
        engine.SetHeldFileCopier(&heldDatabases);
    }
    size_t failureCount() const { return engine.Failures().size(); }
};

ExportDriver::ExportDriver(ExportServices services, PackageAndDelivery& packaging)
    : s_(std::move(services)), packaging_(packaging)
{
}

ExportDriver::~ExportDriver() = default;

void ExportDriver::Message(const QString& text) { ShowRunMessage(s_, text); }

QString ExportDriver::NotCopiedText(size_t count)
{
    return QStringLiteral(", %1 arquivo(s) não copiado(s)").arg(count);
}

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

    // The settings keep the moments of the last delivered export for the
    // whole run: whatever ends the program meanwhile saves only those.
    pending_ = PendingMoments{};
    bool completed = false;
    bool stopped = false;
    const auto closing = [&] {
        const size_t notCopied = staging_ ? staging_->failureCount() : 0;
        QString line = completed ? QStringLiteral("Exportação finalizada")
                       : stopped ? QStringLiteral("Exportação interrompida: o programa foi fechado")
                                 : QStringLiteral("Exportação não concluída");
        if (notCopied > 0)
            line += NotCopiedText(notCopied);
        QStringList details = staging_ ? RunLog::FailureLines(staging_->engine.Failures(), false) : QStringList();
        if (staging_)
            details += staging_->heldDatabases.Details();
        details += RunLog::TrashLines(s_.recycleBin.PruneFailures());
        s_.log.Write(line, details);
        staging_.reset();
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
        // What a run that ended midway left behind: temporary files in the
        // folders the runs write to, and a staging mirror that may hold
        // partly written files (its timestamps did not move, so everything
        // in it is staged again).
        RemoveLeftoverFiles(s_.fileSystem, settings);
        s_.recycleBin.RemoveFolder(settings.ExeFolder + QStringLiteral("Replicacao"));
        s_.recycleBin.RemoveFolder(settings.ExeDrive + QStringLiteral("\\Replicacao"));
        frame.ShowBusy();
        frame.ResetSteps();
        frame.SetControlsEnabled(false);

        staging_ = std::make_unique<ExportStaging>(s_);
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

        // Delivered: now the categories' moments may move.
        if (pending_.dados)
            settings.LastBackupDados = *pending_.dados;
        if (pending_.audio)
            settings.LastBackupAudio = *pending_.audio;
        if (pending_.musica)
            settings.LastBackupMusica = *pending_.musica;
        const size_t notCopied = staging_->failureCount();
        QString text = FinishedText + settings.FormatTimestamp(s_.clock.now());
        if (notCopied > 0)
            text += NotCopiedText(notCopied);
        frame.SetPageProgressText(RunPage::Export, text);
        frame.SetPageDestinationText(RunPage::Export, QString());
        settings.SaveBackupTimestamps();
        Message(text);
    } catch (const RunStopped&) {
        stopped = true;
        closing();
        throw;
    } catch (...) {
        closing();
        throw;
    }
    closing();
}

void ExportDriver::StageAll()
{
    RunSettings& settings = s_.settings;
    ExportSources& sources = staging_->sources;
    const std::vector<CopyFailure>& failures = staging_->engine.Failures();
    const bool siblingWasRunning = s_.sibling.SiblingIsRunning();
    if (siblingWasRunning)
        Message(SiblingWarning);
    s_.sibling.AskSiblingToClose();
    // Its databases are copied only once it has let them go.
    SiblingCloseWait(s_.sibling, s_.frame, s_.clock, RunPage::Export).Wait();
    const Timestamp start = s_.clock.now();
    sources.StageSystemFolder(QString(), true, settings.LastBackupDados);
    const size_t systemFailures = failures.size();
    if (siblingWasRunning)
        s_.sibling.StartSiblingServer(settings.SystemFolder);
    ConnectAudioDatabase();
    sources.StageMusicFolders(true, settings.LastBackupMusica);
    // One moment for all three, held back per source for what was not copied.
    const std::vector<CopyFailure> system(failures.begin(), failures.begin() + qsizetype(systemFailures));
    pending_.dados = CategoryMoment::Next(start, settings.LastBackupDados, system);
    pending_.audio = CategoryMoment::Next(start, settings.LastBackupAudio, system);
    pending_.musica = CategoryMoment::Next(start, settings.LastBackupMusica, failures, systemFailures);
    s_.databases.DisconnectVireo();
}

void ExportDriver::StageCategories(const ExportCategories& categories)
{
    RunSettings& settings = s_.settings;
    RunFrame& frame = s_.frame;
    ExportSources& sources = staging_->sources;
    const std::vector<CopyFailure>& failures = staging_->engine.Failures();
    const bool siblingWasRunning = s_.sibling.SiblingIsRunning();
    if (siblingWasRunning)
        Message(SiblingWarning);

    if (categories.dados) {
        frame.MarkExportStep(DadosStep, false);
        try {
            const Timestamp start = s_.clock.now();
            const size_t from = failures.size();
            sources.StageSystemFolder(QString(), false, settings.LastBackupDados);
            // The sibling keeps its databases open: closed just before they are
            // copied, its server started again right after.
            s_.sibling.AskSiblingToClose();
            SiblingCloseWait(s_.sibling, frame, s_.clock, RunPage::Export).Wait();
            const QStringList& folders = ExportSources::DadosFolders;
            sources.StageSystemFolder(folders.first(), true, settings.LastBackupDados);
            if (siblingWasRunning)
                s_.sibling.StartSiblingServer(settings.SystemFolder);
            for (qsizetype i = 1; i < folders.size(); ++i)
                sources.StageSystemFolder(folders.at(i), true, settings.LastBackupDados);
            pending_.dados = CategoryMoment::Next(start, settings.LastBackupDados, failures, from);
        } catch (const RunStopped&) {
            throw;
        } catch (...) {
            frame.MarkExportStep(DadosStep, true);
        }
    }
    if (categories.audios) {
        frame.MarkExportStep(AudioStep, false);
        try {
            const Timestamp start = s_.clock.now();
            const size_t from = failures.size();
            for (const QString& name : ExportSources::AudioFolders)
                sources.StageSystemFolder(name, true, settings.LastBackupAudio);
            pending_.audio = CategoryMoment::Next(start, settings.LastBackupAudio, failures, from);
        } catch (const RunStopped&) {
            throw;
        } catch (...) {
            frame.MarkExportStep(AudioStep, true);
        }
    }
    ConnectAudioDatabase();
    frame.MarkExportStep(MusicStep, false);
    if (categories.musicas) {
        const Timestamp start = s_.clock.now();
        const size_t from = failures.size();
        sources.StageMusicFolders(false, settings.LastBackupMusica);
        pending_.musica = CategoryMoment::Next(start, settings.LastBackupMusica, failures, from);
    }
    s_.databases.DisconnectVireo();
}

}  // namespace vz
