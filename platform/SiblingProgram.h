#pragma once
// The sibling automation program "Vireo Cast": whether its main window is
// there, asking that window to close, and starting its server again. The
// export and import runs call these around the files the sibling keeps open.

#include <QString>

namespace vz {

class SiblingProgram {
public:
    virtual ~SiblingProgram() = default;
    // True when a top-level window of the class "VcmMainwin" exists.
    virtual bool SiblingIsRunning() = 0;
    // Posts that window a close request without waiting for it to close;
    // nothing happens when there is no such window.
    virtual void AskSiblingToClose() = 0;
    // Starts systemFolderWindowsPath + "Servidor.exe" without waiting; the
    // outcome is not reported.
    virtual void StartSiblingServer(const QString& systemFolderWindowsPath) = 0;
};

}  // namespace vz
