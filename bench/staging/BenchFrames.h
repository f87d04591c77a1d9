#pragma once
// Run frames for the staging benchmark: one that keeps the texts and bars
// like the window's widgets do but paints nothing, and a decorator that
// times what the copy engine asks of another frame (progress and pumping).

#include "platform/RunFrame.h"
#include "platform/UserDialogs.h"

#include <QElapsedTimer>
#include <QString>

namespace vz::bench {

class UnpaintedFrame final : public RunFrame {
public:
    void ResetSteps() override {}
    void MarkExportStep(int, bool) override {}
    void MarkImportStep(int, bool) override {}
    void SetControlsEnabled(bool) override {}
    void ShowBusy() override {}
    void ShowIdle() override {}
    void ProcessPendingMessages() override { ++pumps; }
    void SetProgressText(const QString& text) override { progress = importProgress = text; }
    void SetDestinationText(const QString& text) override { destination = importDestination = text; }
    void SetProgressBar(qint64 maximum, qint64 position) override
    {
        barMaximum = maximum;
        barPosition = position;
    }
    void SetProgressBarNavy() override {}
    void SetPageProgressText(RunPage, const QString& text) override { progress = text; }
    void SetPageDestinationText(RunPage, const QString& text) override { destination = text; }

    QString progress, importProgress, destination, importDestination;
    qint64 barMaximum = 0, barPosition = 0, pumps = 0;
};

class TimedFrame final : public RunFrame {
public:
    explicit TimedFrame(RunFrame& inner) : inner_(inner) { clock_.start(); }

    qint64 progressNs = 0;  // texts and bars, painting included
    qint64 pumpNs = 0;      // ProcessPendingMessages
    qint64 progressCalls = 0, pumpCalls = 0;

    void ResetSteps() override { inner_.ResetSteps(); }
    void MarkExportStep(int index, bool failed) override { inner_.MarkExportStep(index, failed); }
    void MarkImportStep(int index, bool failed) override { inner_.MarkImportStep(index, failed); }
    void SetControlsEnabled(bool on) override { inner_.SetControlsEnabled(on); }
    void ShowBusy() override { inner_.ShowBusy(); }
    void ShowIdle() override { inner_.ShowIdle(); }
    void ProcessPendingMessages() override
    {
        const qint64 start = clock_.nsecsElapsed();
        inner_.ProcessPendingMessages();
        pumpNs += clock_.nsecsElapsed() - start;
        ++pumpCalls;
    }
    void SetProgressText(const QString& text) override { timed([&] { inner_.SetProgressText(text); }); }
    void SetDestinationText(const QString& text) override { timed([&] { inner_.SetDestinationText(text); }); }
    void SetProgressBar(qint64 maximum, qint64 position) override
    {
        timed([&] { inner_.SetProgressBar(maximum, position); });
    }
    void SetProgressBarNavy() override { timed([&] { inner_.SetProgressBarNavy(); }); }
    void SetPageProgressText(RunPage page, const QString& text) override { inner_.SetPageProgressText(page, text); }
    void SetPageDestinationText(RunPage page, const QString& text) override
    {
        inner_.SetPageDestinationText(page, text);
    }

private:
    template <typename F>
    void timed(F&& call)
    {
        const qint64 start = clock_.nsecsElapsed();
        call();
        progressNs += clock_.nsecsElapsed() - start;
        ++progressCalls;
    }

    RunFrame& inner_;
    QElapsedTimer clock_;
};

// The window's dialogs in a run nobody watches: every box is answered OK.
class SilentDialogs final : public UserDialogs {
public:
    DialogButton showMessage(const MessageRequest&) override { return ButtonOk; }
    QString inputText(const QString&, const QString&, const QString& initialText) override { return initialText; }
    std::optional<QString> openFile(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const FileDialogRequest&) override { return std::nullopt; }
};

}  // namespace vz::bench
