#pragma once
// Real Firebird databases for tests, made by this build's make-vireo-db tool
// (so a test needs no link to the database library to create them):
// VireoAdm.fdb with TB_CONFIGURACAO (CFG_CODIGO, CFG_GUID, ...) and
// VireoAudio.fdb with Tb_Pastas (Pas_Path, ...). Values are stored as
// Windows-1252 bytes. On failure the helpers add a test failure with the
// tool's message and return false: ASSERT_TRUE(CreateAdmDatabase(...)).

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace vz::test {

struct ConfigurationRow {
    int codigo = 0;
    std::optional<QString> guid;  // nothing: CFG_GUID null
};

// Host path of make-vireo-db in the build the test runs from ($VZ_BINARY_DIR,
// else the parent folder of the test's executable that holds tools/).
QString MakeVireoDbTool();

// Runs make-vireo-db with `arguments` (kind, file, options), after making the
// file's folder; false (and a test failure holding the tool's message) when
// it does not succeed.
bool RunMakeVireoDb(const QStringList& arguments);

// Creates an administration database at hostPath (which must not exist; its
// folder is created when missing).
// extraArguments go to the tool as they are (e.g. "--dialect", "3", "--sql", ...).
bool CreateAdmDatabase(const QString& hostPath, const std::vector<ConfigurationRow>& rows,
                       const QStringList& extraArguments = {});

// Creates an audio database at hostPath with one Tb_Pastas row per folder, in
// this order (nothing: Pas_Path null).
bool CreateAudioDatabase(const QString& hostPath, const std::vector<std::optional<QString>>& musicFolders,
                         const QStringList& extraArguments = {});

// Both databases of an installation in its host "Vireodb" folder (created
// when missing): VireoAdm.fdb with one row (CFG_CODIGO 1, the GUID) and
// VireoAudio.fdb with the music folders.
bool CreateInstallationDatabases(const QString& hostVireodbFolder, const QString& clientGuid,
                                 const QStringList& musicFolders);

}  // namespace vz::test
