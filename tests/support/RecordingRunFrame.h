#pragma once
// A RunFrame without a window: keeps the step states, texts and bars and a
// log of every call, with the marking rules of the real window.

#include "platform/RunFrame.h"
#include "platform/StepStates.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace vz::test {

class RecordingRunFrame : public RunFrame {
public:
    StepStates exportSteps{5};
    StepStates importSteps{3};
    bool controlsEnabled = true;
    bool busy = false;
    bool barNavy = false;
    QString exportProgress, exportDestination, importProgress, importDestination;
    qint64 exportBarMax = 0, exportBarPos = 0, importBarMax = 0, importBarPos = 0;
    int pumps = 0;
    QStringList log;                       // one line per call, e.g. "MarkExportStep(2,false)"
    std::function<void()> onPump;          // runs inside ProcessPendingMessages

    void ResetSteps() override;
    void MarkExportStep(int index, bool failed) override;
    void MarkImportStep(int index, bool failed) override;
    void SetControlsEnabled(bool on) override;
    void ShowBusy() override;
    void ShowIdle() override;
    void ProcessPendingMessages() override;
    void SetProgressText(const QString& text) override;
    void SetDestinationText(const QString& text) override;
    void SetProgressBar(qint64 maximum, qint64 position) override;
    void SetProgressBarNavy() override;
    void SetPageProgressText(RunPage page, const QString& text) override;
    void SetPageDestinationText(RunPage page, const QString& text) override;
};

}  // namespace vz::test
