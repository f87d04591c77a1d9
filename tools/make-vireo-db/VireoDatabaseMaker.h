#pragma once
// Creates a Firebird database file through the client library (CREATE
// DATABASE run as an immediate statement) and fills it with SQL statements.

#include "db/FirebirdClient.h"

#include <QString>
#include <QStringList>

namespace vz {

class VireoDatabaseMaker {
public:
    explicit VireoDatabaseMaker(const FirebirdClient& client) : client_(client) {}

    // Creates `hostPath` (which must not exist) in the given SQL dialect with
    // Windows-1252 as its default character set, then runs `schema` (each
    // committed) and `rows` (committed together). Statements are sent as
    // Windows-1252 bytes. Throws vz::Error / DatabaseError.
    void create(const QString& hostPath, int dialect, const QStringList& schema, const QStringList& rows) const;

    // The administration database's table and the audio database's table.
    static QStringList AdmSchema();
    static QStringList AudioSchema();
    // An SQL string literal holding `text`.
    static QString literal(const QString& text);

private:
    void executeImmediate(isc_db_handle* database, isc_tr_handle* transaction, const QString& sql,
                          int dialect) const;
    void executeImmediate(isc_db_handle* database, isc_tr_handle* transaction, const QByteArray& bytes,
                          int dialect) const;

    const FirebirdClient& client_;
};

}  // namespace vz
