#pragma once
// Windows paths on Linux, in the layout Wine uses: a prefix folder holds
// dosdevices/, whose entries "c:", "d:", ... are symbolic links to host
// folders, and dosdevices/unc/SERVER/SHARE stands for \\SERVER\SHARE.
// Without a prefix the single drive Z: stands for the host root "/".
//
// Names are case-insensitive as on Windows: a path component that does not
// exist with its exact case resolves to the first entry of its folder that
// matches without regard to case; components that do not exist at all keep
// the case given, so new files get the case the program gives.

#include <QString>
#include <optional>
#include <vector>

namespace vz {

class DriveMap {
public:
    // Reads the drives of a Wine-style prefix (a folder holding dosdevices/).
    static DriveMap fromPrefix(const QString& prefixHostPath);
    // Walks up from the executable's folder to the first folder that holds
    // dosdevices/ and reads it; without one, the Z: fallback.
    static DriveMap forExecutable(const QString& executableHostPath);
    // Only Z: = "/".
    static DriveMap rootOnly();

    // Host path for a Windows path ("C:\a\b\" -> "/prefix/drive_c/a/b"), or
    // nothing when its drive or share is not in the map or the text is not an
    // absolute Windows path. The result has no trailing "/" except for "/".
    std::optional<QString> toHost(const QString& windowsPath) const;

    // Windows path for a host path: the drive whose folder holds it and lies
    // deepest wins. Nothing when no drive holds it. Folders get no trailing "\".
    std::optional<QString> toWindows(const QString& hostPath) const;

    // True when the host path (as toHost gives it) is the folder of a drive or share.
    bool isDriveRoot(const QString& hostPath) const;

    // The child of an existing host folder named `name` without regard to
    // case: the exact name when it exists, else the first case-insensitive
    // match in listing order, else folder + "/" + name as given.
    static QString resolveChild(const QString& hostFolder, const QString& name);

    // The prefix folder, empty for the Z: fallback.
    const QString& prefix() const { return prefix_; }
    // True when Wine set the prefix up (it holds system.reg): the
    // installation's programs then run in it under Wine, not only its drives.
    bool isWinePrefix() const;

private:
    QString prefix_;
    // Drive letter (upper case) -> host folder; "\\SERVER\SHARE" -> host folder.
    struct Drive {
        QString name;       // "C:" or "\\SERVER\SHARE" (as found)
        QString hostFolder; // canonical host folder
    };
    std::vector<Drive> drives_;
    friend class DriveMapBuilder;
};

}  // namespace vz
