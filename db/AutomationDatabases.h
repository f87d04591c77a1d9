#pragma once
// The automation system's two databases as the window holds them: the
// administration database (DB_Adm, Trans_Adm, Tb_Configuracao) for the
// client identifier, and the audio database (DB_Vireo, Trans_Vireo,
// QryBusca) for the music folders. Nothing is ever written to them.

#include "db/DatabaseConnection.h"
#include "db/DatabaseTransaction.h"
#include "db/FirebirdClient.h"
#include "db/QueryObject.h"
#include "db/TableObject.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace vz {

class FileSystem;

class AutomationDatabases {
public:
    static inline const QString DesignTimeAdmFileName = QStringLiteral("C:\\Vireo\\Vireo Cast\\Vireodb\\VIREOADM.FDB");
    static inline const QString DesignTimeVireoFileName =
        QStringLiteral("C:\\Vireo\\Vireo Cast\\Vireodb\\VIREOAUDIO.FDB");
    static inline const QString MusicFoldersSql = QStringLiteral("SELECT Pas_Path FROM Tb_Pastas");
    static QStringList ConnectionParamLines();   // user_name=SYSDBA, password=...
    static QStringList TransactionParamLines();  // read_committed, rec_version, nowait

    // Loads the client library on first use in the process; throws vz::Error
    // with FirebirdClient::NotFoundMessage when it cannot be loaded.
    explicit AutomationDatabases(const FileSystem& fs,
                                 const QStringList& clientLibraryNames = FirebirdClient::DefaultLibraryNames());
    ~AutomationDatabases();  // disconnects both; errors are ignored
    AutomationDatabases(const AutomationDatabases&) = delete;
    AutomationDatabases& operator=(const AutomationDatabases&) = delete;

    // Windows paths of the audio and the administration database.
    void setFileNames(const QString& vireoWindowsPath, const QString& admWindowsPath);

    // CFG_GUID of the row with the lowest CFG_CODIGO; empty text for no rows
    // or a null value. Attaches DB_Adm for the read only: it is detached
    // again also when the read fails, so the file is never left held.
    QString ReadClientGuid();

    void ConnectVireo() { DB_Vireo.Connect(); }
    void DisconnectVireo() { DB_Vireo.Disconnect(); }

    // Calls `callback` with Pas_Path of every row of Tb_Pastas in the order
    // the server returns them (null as empty text). Expects DB_Vireo
    // attached. An error of the callback or the database ends the walk and
    // propagates; the query stays open until DB_Vireo is disconnected.
    void ForEachMusicFolder(const std::function<void(const QString&)>& callback);

    const FirebirdClient& client;
    DatabaseConnection DB_Adm;
    DatabaseTransaction Trans_Adm;
    TableObject Tb_Configuracao;
    DatabaseConnection DB_Vireo;
    DatabaseTransaction Trans_Vireo;
    QueryObject QryBusca;
};

}  // namespace vz
