#pragma once
// A music folder of table Tb_Pastas as the export stages it. The value is the
// absolute path of a folder, on a drive ("D:\Musicas\Rock\") or on a network
// share ("\\srv\musica\Rock\"). A network path is staged under a first-level
// folder named after its share: "\\srv\musica\Rock\" becomes
// "musica:\Rock\" (the server name is not kept), whose staging folder is
// StagingRoot + "musica\Rock\".

#include <QString>
#include <optional>

namespace vz {

struct MusicFolderPath {
    // The folder to copy from: the value, ending with "\". A value without
    // one gets it, so its files are staged under its own folder rather than
    // mixed into its parent's.
    QString source;
    // The path whose staging path is the staging folder: the share form of a
    // network path, else the source.
    QString stagingForm;

    // Nothing for a value that names no folder: empty or blank (a null
    // Pas_Path reads as empty), or a network path without a share name.
    static std::optional<MusicFolderPath> FromPasPath(const QString& value);

    // "\\server\share\rest" -> "share:\rest"; "\\server\share" (the share's
    // root) -> "share:\". Only a path that begins with "\\" is a network path.
    // Nothing when no share name follows the server name.
    static std::optional<QString> RewriteNetworkPath(const QString& path);
};

}  // namespace vz
