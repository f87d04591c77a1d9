#pragma once
// The sibling program on Linux: its main window is an X11 top-level window
// whose WM_CLASS instance or class name is "VcmMainwin" (compared without
// regard to case, as Windows compares window classes); the close request is
// the WM_DELETE_WINDOW client message; "Servidor.exe" is started natively
// when it is a Linux executable, through wine when wine is installed.

#include "platform/FileSystem.h"
#include "platform/SiblingProgram.h"

#include <QString>

namespace vz {

class X11SiblingProgram final : public SiblingProgram {
public:
    static inline const QString WindowClass = QStringLiteral("VcmMainwin");
    static inline const QString ServerFileName = QStringLiteral("Servidor.exe");

    // displayName: the X display to look at; empty means $DISPLAY. Without a
    // reachable display no window is ever found.
    explicit X11SiblingProgram(const FileSystem& fs, QString displayName = {});

    bool SiblingIsRunning() override;
    void AskSiblingToClose() override;
    void StartSiblingServer(const QString& systemFolderWindowsPath) override;

private:
    const FileSystem& fs_;
    QString displayName_;
};

}  // namespace vz
