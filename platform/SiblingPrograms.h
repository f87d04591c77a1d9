#pragma once
// The sibling program wherever it runs: as a native program (its X11 window)
// and, for an installation that runs under Wine, inside the Wine prefix too.
// It is present when either finds it, the close request goes to both, and the
// server is started through Wine when Wine is in use, natively otherwise.

#include "platform/FileSystem.h"
#include "platform/SiblingProgram.h"

#include <QString>
#include <memory>

namespace vz {

class SiblingPrograms final : public SiblingProgram {
public:
    // wine may be null: then only the native program is served.
    SiblingPrograms(std::unique_ptr<SiblingProgram> native, std::unique_ptr<SiblingProgram> wine);

    // For the installation the file system maps: the X11 window on
    // displayName (empty: $DISPLAY) always; the Wine helper at helperHostPath
    // as well when the drive map's prefix is a Wine prefix and `wine` is found
    // on the PATH.
    static std::unique_ptr<SiblingPrograms> ForInstallation(const FileSystem& fs, const QString& helperHostPath,
                                                            const QString& displayName = {});

    bool UsesWine() const { return wine_ != nullptr; }

    bool SiblingIsRunning() override;
    void AskSiblingToClose() override;
    void StartSiblingServer(const QString& systemFolderWindowsPath) override;

private:
    std::unique_ptr<SiblingProgram> native_;
    std::unique_ptr<SiblingProgram> wine_;
};

}  // namespace vz
