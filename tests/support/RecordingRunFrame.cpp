#include "tests/support/RecordingRunFrame.h"

#include "platform/Errors.h"

namespace vz::test {

namespace {
QString boolText(bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); }
}  // namespace

void RecordingRunFrame::ResetSteps()
{
    log << QStringLiteral("ResetSteps");
    exportSteps.reset();
    importSteps.reset();
    controlsEnabled = true;
}

void RecordingRunFrame::MarkExportStep(int index, bool failed)
{
    log << QStringLiteral("MarkExportStep(%1,%2)").arg(index).arg(boolText(failed));
    if (failed) {
        controlsEnabled = true;
        exportSteps.markFailedFrom(index);
        throw SilentAbort();
    }
    exportSteps.markRunning(index);
    ProcessPendingMessages();
}

void RecordingRunFrame::MarkImportStep(int index, bool failed)
{
    log << QStringLiteral("MarkImportStep(%1,%2)").arg(index).arg(boolText(failed));
    if (failed) {
        controlsEnabled = true;
        importSteps.markFailedFrom(index);
        throw SilentAbort();
    }
    importSteps.markRunning(index);
    ProcessPendingMessages();
}

void RecordingRunFrame::SetControlsEnabled(bool on)
{
    log << QStringLiteral("SetControlsEnabled(%1)").arg(boolText(on));
    controlsEnabled = on;
}

void RecordingRunFrame::ShowBusy()
{
    log << QStringLiteral("ShowBusy");
    busy = true;
}

void RecordingRunFrame::ShowIdle()
{
    log << QStringLiteral("ShowIdle");
    busy = false;
}

void RecordingRunFrame::ProcessPendingMessages()
{
    ++pumps;
    if (onPump)
        onPump();
}

void RecordingRunFrame::SetProgressText(const QString& text)
{
    exportProgress = text;
    importProgress = text;
}

void RecordingRunFrame::SetDestinationText(const QString& text)
{
    exportDestination = text;
    importDestination = text;
}

void RecordingRunFrame::SetProgressBar(qint64 maximum, qint64 position)
{
    exportBarMax = importBarMax = maximum;
    exportBarPos = importBarPos = position;
}

void RecordingRunFrame::SetProgressBarNavy() { barNavy = true; }

void RecordingRunFrame::SetPageProgressText(RunPage page, const QString& text)
{
    (page == RunPage::Export ? exportProgress : importProgress) = text;
}

void RecordingRunFrame::SetPageDestinationText(RunPage page, const QString& text)
{
    (page == RunPage::Export ? exportDestination : importDestination) = text;
}

}  // namespace vz::test
