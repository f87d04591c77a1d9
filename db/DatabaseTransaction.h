#pragma once
// A transaction on one connection (Trans_Adm, Trans_Vireo): its parameter
// lines and block, started on demand, ended by commit or rollback.

#include "db/FirebirdClient.h"

#include <QByteArray>
#include <QStringList>

namespace vz {

class DatabaseConnection;

class DatabaseTransaction {
public:
    // No lines give an empty parameter block: the library's defaults.
    explicit DatabaseTransaction(DatabaseConnection& connection, QStringList params = {});
    ~DatabaseTransaction();  // ends an active transaction with its default action
    DatabaseTransaction(const DatabaseTransaction&) = delete;
    DatabaseTransaction& operator=(const DatabaseTransaction&) = delete;

    void setParams(const QStringList& lines);
    const QStringList& params() const { return params_; }

    // Starts it on its connection, which must be attached. The block is built
    // on the first start and reused while the lines stay unchanged. On
    // failure the handle is cleared and DatabaseError is thrown.
    void start();
    void commit();
    void rollback();
    // Commit, the default action; when the commit fails a rollback is tried.
    // Either way the handle is cleared. Never throws.
    void endWithDefaultAction() noexcept;
    bool active() const { return handle_ != 0; }

    const QByteArray& transactionParameterBlock() const { return tpb_; }
    int parameterBlockBuildCount() const { return tpbBuilds_; }
    int startCount() const { return starts_; }
    int commitCount() const { return commits_; }
    int rollbackCount() const { return rollbacks_; }

    DatabaseConnection& connection() const { return connection_; }
    isc_tr_handle* handle() { return &handle_; }

private:
    DatabaseConnection& connection_;
    QStringList params_;
    bool paramsChanged_ = true;
    QByteArray tpb_;
    int tpbBuilds_ = 0;
    int starts_ = 0;
    int commits_ = 0;
    int rollbacks_ = 0;
    isc_tr_handle handle_ = 0;
};

}  // namespace vz
