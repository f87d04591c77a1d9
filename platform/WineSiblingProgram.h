#pragma once
// The sibling program as it runs under Wine. Wine does not show Win32 window
// classes to X11 (a window's WM_CLASS is its process's file name), so the
// window of class "VcmMainwin" is looked up, asked to close and the server
// started from inside the installation's Wine prefix: by the Windows helper
// vz-sibling.exe, installed beside the program and run with `wine` and
// WINEPREFIX set, and with the TMPDIR of the prefix's running wineserver
// (see WineServer). When no wineserver runs for the prefix, no program of it
// runs: the look-up and the close request then start no Wine at all. Each run
// of the helper has a time limit; a run that fails counts as "not found" and
// is reported on standard error and in lastError().

#include "platform/SiblingProgram.h"
#include "platform/WineServer.h"

#include <QString>
#include <QStringList>

namespace vz {

class WineSiblingProgram final : public SiblingProgram {
public:
    static inline const QString HelperFileName = QStringLiteral("vz-sibling.exe");
    static inline const QString ServerFileName = QStringLiteral("Servidor.exe");
    // Long enough for a helper run that has to start the prefix's wineserver
    // first (about a second), short enough not to hang the window on a
    // broken Wine.
    static constexpr int DefaultRunLimitMs = 15000;

    // wineHostPath: the wine launcher; prefixHostPath: the prefix the
    // installation runs in; helperHostPath: vz-sibling.exe.
    WineSiblingProgram(QString wineHostPath, QString prefixHostPath, QString helperHostPath,
                       int runLimitMs = DefaultRunLimitMs);

    bool SiblingIsRunning() override;
    void AskSiblingToClose() override;
    // The helper starts the server with ShellExecute (show command SW_SHOW)
    // in the server's folder and returns at once.
    void StartSiblingServer(const QString& systemFolderWindowsPath) override;

    // Why the helper gave no answer in the last call; empty when it did
    // or was not needed.
    const QString& lastError() const { return lastError_; }

private:
    // The helper's answer: 0 yes (found, posted, started), 1 no window,
    // anything else a failure.
    enum class Answer { Yes, No, Failed };
    Answer runHelper(const QStringList& arguments, const WineServer::Lookup& server);

    QString wine_;
    QString prefix_;
    QString helper_;
    int runLimitMs_;
    QString lastError_;
};

}  // namespace vz
