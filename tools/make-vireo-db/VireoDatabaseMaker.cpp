#include "VireoDatabaseMaker.h"

#include "platform/Cp1252.h"
#include "platform/FileSystem.h"

namespace vz {

QStringList VireoDatabaseMaker::AdmSchema()
{
    // Besides the two columns the program reads, columns of other kinds that
    // a select of every column has to cope with.
    return {QStringLiteral("CREATE TABLE TB_CONFIGURACAO (CFG_CODIGO INTEGER NOT NULL, CFG_EMISSORA VARCHAR(60), "
                           "CFG_GUID VARCHAR(128), CFG_DATA_INSTALACAO DATE, CFG_OBSERVACAO BLOB SUB_TYPE 1, "
                           "PRIMARY KEY (CFG_CODIGO))")};
}

QStringList VireoDatabaseMaker::AudioSchema()
{
    return {QStringLiteral("CREATE TABLE Tb_Pastas (Pas_Codigo INTEGER NOT NULL, Pas_Descricao VARCHAR(60), "
                           "Pas_Path VARCHAR(255), PRIMARY KEY (Pas_Codigo))")};
}

QString VireoDatabaseMaker::literal(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

void VireoDatabaseMaker::executeImmediate(isc_db_handle* database, isc_tr_handle* transaction, const QString& sql,
                                          int dialect) const
{
    const QByteArray bytes = EncodeCp1252(sql);
    if (DecodeCp1252(bytes) != sql)
        throw Error(QStringLiteral("Statement holds characters that Windows-1252 cannot store: ") + sql);
    executeImmediate(database, transaction, bytes, dialect);
}

void VireoDatabaseMaker::executeImmediate(isc_db_handle* database, isc_tr_handle* transaction,
                                          const QByteArray& bytes, int dialect) const
{
    ISC_STATUS_ARRAY status;
    client_.isc_dsql_execute_immediate(status, database, transaction, static_cast<unsigned short>(bytes.size()),
                                       bytes.constData(), static_cast<unsigned short>(dialect), nullptr);
    client_.check(status);
}

void VireoDatabaseMaker::create(const QString& hostPath, int dialect, const QStringList& schema,
                                const QStringList& rows) const
{
    if (hostfs::exists(hostPath))
        throw Error(QStringLiteral("File already exists: ") + hostPath);
    isc_db_handle database = 0;
    isc_tr_handle transaction = 0;
    // The file name goes to the library in the host's own encoding.
    QByteArray path = hostfs::encodeName(hostPath);
    path.replace('\'', "''");
    executeImmediate(&database, &transaction,
                     "CREATE DATABASE '" + path +
                         "' USER 'SYSDBA' PASSWORD 'quartzite' PAGE_SIZE 4096 DEFAULT CHARACTER SET WIN1252",
                     dialect);
    ISC_STATUS_ARRAY status;
    auto run = [&](const QStringList& statements) {
        TransactionExistenceBlock teb{&database, 0, nullptr};
        client_.isc_start_multiple(status, &transaction, 1, &teb);
        client_.check(status);
        for (const QString& sql : statements)
            executeImmediate(&database, &transaction, sql, dialect);
        client_.isc_commit_transaction(status, &transaction);
        client_.check(status);
    };
    try {
        // Tables exist for other statements only once their creation is committed.
        for (const QString& sql : schema)
            run({sql});
        run(rows);
    } catch (...) {
        ISC_STATUS_ARRAY ignored;
        if (transaction)
            client_.isc_rollback_transaction(ignored, &transaction);
        client_.isc_detach_database(ignored, &database);
        hostfs::removeFile(hostPath);  // a half-made database is of no use
        throw;
    }
    client_.isc_detach_database(status, &database);
    client_.check(status);
}

}  // namespace vz
