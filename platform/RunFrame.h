#pragma once
// The narrow interface the main window offers to the run drivers and to the
// copy engine: the step lists, the busy state, and the progress output rule.
// The main window implements it; tests use a recording implementation.

#include "platform/EventPump.h"

#include <QString>
#include <QtGlobal>

namespace vz {

enum class RunPage { Export, Import };

class RunFrame : public EventPump {
public:
    // Step lists. StepState: 0 pending, 1 done, 2 failed, 3 running.
    virtual void ResetSteps() = 0;
    // With failed = true these enable the controls, mark the steps from index
    // to the last failed and throw SilentAbort; they do not return.
    virtual void MarkExportStep(int index, bool failed) = 0;
    virtual void MarkImportStep(int index, bool failed) = 0;
    virtual void SetControlsEnabled(bool on) = 0;
    virtual void ShowBusy() = 0;
    virtual void ShowIdle() = 0;

    // The progress output rule: written to the "Exportar" page, mirrored to the
    // "Importar" page, painted at once.
    virtual void SetProgressText(const QString& text) = 0;     // lblProgresso*
    virtual void SetDestinationText(const QString& text) = 0;  // lblDestino*
    virtual void SetProgressBar(qint64 maximum, qint64 position) = 0;  // pgb*
    virtual void SetProgressBarNavy() = 0;  // the copy engine's colour; never set back

    // The drivers' own texts ("Compactando", the final texts) reach one page only.
    virtual void SetPageProgressText(RunPage page, const QString& text) = 0;
    virtual void SetPageDestinationText(RunPage page, const QString& text) = 0;
};

}  // namespace vz
