#pragma once
// One database connection (DB_Adm, DB_Vireo): a file name in Windows form,
// its parameter lines and the parameter block built from them, the attach
// and detach, and the dialect in effect. Read-only use; no login prompt.

#include "db/FirebirdClient.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace vz {

class DataSet;
class DatabaseTransaction;
class FileSystem;

class DatabaseConnection {
public:
    static constexpr int RequestedDialect = 1;

    DatabaseConnection(const FirebirdClient& client, const FileSystem& fs, QString fileName);
    ~DatabaseConnection();  // disconnects; errors are ignored
    DatabaseConnection(const DatabaseConnection&) = delete;
    DatabaseConnection& operator=(const DatabaseConnection&) = delete;

    // The database file as a Windows path; the file system turns it into the
    // host path the client library opens. Throws vz::Error while attached.
    void setFileName(const QString& windowsPath);
    const QString& fileName() const { return fileName_; }

    // "name=value" lines; a change makes the next attach build the block again.
    void setConnectionParams(const QStringList& lines);
    const QStringList& ConnectionParams() const { return params_; }

    // Attaches; no effect when attached. Throws vz::Error ("Database name is
    // missing", ...) or DatabaseError; nothing stays attached after a failure.
    void Connect();
    // Closes the open table and query objects, ends the transaction with its
    // default action (commit; rollback when the commit fails; never an error)
    // and detaches. No effect when not attached. A failed detach throws
    // DatabaseError and the connection stays attached.
    void Disconnect();
    bool connected() const { return handle_ != 0; }

    // The dialect statements are prepared in: the requested one, or the
    // database's own when that is lower. Valid while attached.
    int dialect() const { return dialect_; }
    // The block of the last build (empty before the first attach).
    const QByteArray& databaseParameterBlock() const { return dpb_; }
    int attachCount() const { return attachCount_; }
    int parameterBlockBuildCount() const { return dpbBuilds_; }

    // The host path of the last attach attempt.
    const QString& hostFileName() const { return hostFileName_; }

    void setDefaultTransaction(DatabaseTransaction* transaction) { defaultTransaction_ = transaction; }
    DatabaseTransaction* defaultTransaction() const { return defaultTransaction_; }

    const FirebirdClient& client() const { return client_; }
    isc_db_handle* handle() { return &handle_; }

    // Table and query objects register while they exist.
    void addDataSet(DataSet* dataSet);
    void removeDataSet(DataSet* dataSet);

private:
    void readDialect();

    const FirebirdClient& client_;
    const FileSystem& fs_;
    QString fileName_;
    QString hostFileName_;
    QStringList params_;
    bool paramsChanged_ = true;
    QByteArray dpb_;
    int dpbBuilds_ = 0;
    int attachCount_ = 0;
    isc_db_handle handle_ = 0;
    int dialect_ = RequestedDialect;
    DatabaseTransaction* defaultTransaction_ = nullptr;
    std::vector<DataSet*> dataSets_;
};

}  // namespace vz
