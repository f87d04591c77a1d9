#include "db/DatabaseTransaction.h"

#include "db/DatabaseConnection.h"
#include "db/ParameterBlocks.h"

namespace vz {

DatabaseTransaction::DatabaseTransaction(DatabaseConnection& connection, QStringList params)
    : connection_(connection), params_(std::move(params))
{
}

DatabaseTransaction::~DatabaseTransaction()
{
    if (active())
        endWithDefaultAction();
    if (connection_.defaultTransaction() == this)
        connection_.setDefaultTransaction(nullptr);
}

void DatabaseTransaction::setParams(const QStringList& lines)
{
    if (lines == params_)
        return;
    params_ = lines;
    paramsChanged_ = true;
}

void DatabaseTransaction::start()
{
    if (active())
        throw Error(QStringLiteral("Transaction is already active"));
    if (!connection_.connected())
        throw Error(QStringLiteral("Database not connected"));
    if (paramsChanged_) {
        tpb_ = params_.isEmpty() ? QByteArray() : BuildTransactionParameterBlock(params_);
        ++tpbBuilds_;
        paramsChanged_ = false;
    }
    TransactionExistenceBlock teb{connection_.handle(), static_cast<long>(tpb_.size()),
                                  tpb_.isEmpty() ? nullptr : tpb_.constData()};
    const FirebirdClient& client = connection_.client();
    ISC_STATUS_ARRAY status;
    client.isc_start_multiple(status, &handle_, 1, &teb);
    if (FirebirdClient::failed(status)) {
        handle_ = 0;
        throw client.errorFrom(status);
    }
    ++starts_;
}

void DatabaseTransaction::commit()
{
    if (!active())
        return;
    const FirebirdClient& client = connection_.client();
    ISC_STATUS_ARRAY status;
    client.isc_commit_transaction(status, &handle_);
    client.check(status);
    handle_ = 0;
    ++commits_;
}

void DatabaseTransaction::rollback()
{
    if (!active())
        return;
    const FirebirdClient& client = connection_.client();
    ISC_STATUS_ARRAY status;
    client.isc_rollback_transaction(status, &handle_);
    client.check(status);
    handle_ = 0;
    ++rollbacks_;
}

void DatabaseTransaction::endWithDefaultAction() noexcept
{
    try {
        commit();
    } catch (...) {
        try {
            rollback();
        } catch (...) {
            // The transaction dies with its attachment.
        }
    }
    handle_ = 0;
}

}  // namespace vz
