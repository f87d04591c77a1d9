#include "platform/SiblingPrograms.h"

#include "platform/ProcessLauncher.h"
#include "platform/WineSiblingProgram.h"
#include "platform/X11SiblingProgram.h"

namespace vz {

SiblingPrograms::SiblingPrograms(std::unique_ptr<SiblingProgram> native, std::unique_ptr<SiblingProgram> wine)
    : native_(std::move(native)), wine_(std::move(wine))
{
}

std::unique_ptr<SiblingPrograms> SiblingPrograms::ForInstallation(const FileSystem& fs, const QString& helperHostPath,
                                                                  const QString& displayName)
{
    std::unique_ptr<SiblingProgram> wine;
    const DriveMap& map = fs.driveMap();
    if (map.isWinePrefix()) {
        if (const auto launcher = ProcessLauncher::findInPath(QStringLiteral("wine")))
            wine = std::make_unique<WineSiblingProgram>(*launcher, map.prefix(), helperHostPath);
    }
    return std::make_unique<SiblingPrograms>(std::make_unique<X11SiblingProgram>(fs, displayName), std::move(wine));
}

bool SiblingPrograms::SiblingIsRunning()
{
    // The X11 look-up costs a round trip, the helper a Wine process: X11 first.
    return native_->SiblingIsRunning() || (wine_ && wine_->SiblingIsRunning());
}

void SiblingPrograms::AskSiblingToClose()
{
    native_->AskSiblingToClose();
    if (wine_)
        wine_->AskSiblingToClose();
}

void SiblingPrograms::StartSiblingServer(const QString& systemFolderWindowsPath)
{
    if (wine_)
        wine_->StartSiblingServer(systemFolderWindowsPath);
    else
        native_->StartSiblingServer(systemFolderWindowsPath);
}

}  // namespace vz
