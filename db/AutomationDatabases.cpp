#include "db/AutomationDatabases.h"

namespace vz {

QStringList AutomationDatabases::ConnectionParamLines()
{
    return {QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=quartzite")};
}

QStringList AutomationDatabases::TransactionParamLines()
{
    return {QStringLiteral("read_committed"), QStringLiteral("rec_version"), QStringLiteral("nowait")};
}

AutomationDatabases::AutomationDatabases(const FileSystem& fs, const QStringList& clientLibraryNames)
    : client(FirebirdClient::Load(clientLibraryNames)),
      DB_Adm(client, fs, DesignTimeAdmFileName),
      Trans_Adm(DB_Adm, TransactionParamLines()),
      Tb_Configuracao(DB_Adm, Trans_Adm, QStringLiteral("TB_CONFIGURACAO")),
      DB_Vireo(client, fs, DesignTimeVireoFileName),
      Trans_Vireo(DB_Vireo, TransactionParamLines()),
      QryBusca(DB_Vireo, Trans_Vireo)
{
    DB_Adm.setConnectionParams(ConnectionParamLines());
    DB_Adm.setDefaultTransaction(&Trans_Adm);
    DB_Vireo.setConnectionParams(ConnectionParamLines());
    DB_Vireo.setDefaultTransaction(&Trans_Vireo);
}

AutomationDatabases::~AutomationDatabases()
{
    // Statements and transactions go before their connections detach.
    for (DatabaseConnection* connection : {&DB_Vireo, &DB_Adm}) {
        try {
            connection->Disconnect();
        } catch (...) {
            // Nothing is left to tell at this point.
        }
    }
}

void AutomationDatabases::setFileNames(const QString& vireoWindowsPath, const QString& admWindowsPath)
{
    DB_Vireo.setFileName(vireoWindowsPath);
    DB_Adm.setFileName(admWindowsPath);
}

QString AutomationDatabases::ReadClientGuid()
{
    DB_Adm.Connect();
    try {
        Tb_Configuracao.open();
        Tb_Configuracao.refresh();
        const QString guid = Tb_Configuracao.eof() ? QString() : Tb_Configuracao.fieldAsString(QStringLiteral("CFG_GUID"));
        Tb_Configuracao.close();
        DB_Adm.Disconnect();
        return guid;
    } catch (...) {
        // A database held open would keep its file locked for the whole
        // session, and the export would then skip it.
        try {
            DB_Adm.Disconnect();
        } catch (...) {
            // The first error is the one worth reporting.
        }
        throw;
    }
}

void AutomationDatabases::ForEachMusicFolder(const std::function<void(const QString&)>& callback)
{
    QryBusca.close();
    QryBusca.setSql(MusicFoldersSql);
    QryBusca.open();
    QryBusca.first();
    while (!QryBusca.eof()) {
        callback(QryBusca.fieldAsString(QStringLiteral("Pas_Path")));
        QryBusca.next();
    }
}

}  // namespace vz
