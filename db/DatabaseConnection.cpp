#include "db/DatabaseConnection.h"

#include "db/DataSet.h"
#include "db/DatabaseTransaction.h"
#include "db/ParameterBlocks.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <climits>

namespace vz {

DatabaseConnection::DatabaseConnection(const FirebirdClient& client, const FileSystem& fs, QString fileName)
    : client_(client), fs_(fs), fileName_(std::move(fileName))
{
}

DatabaseConnection::~DatabaseConnection()
{
    try {
        Disconnect();
    } catch (...) {
        // Released with the window; nothing is left to tell.
    }
}

void DatabaseConnection::setFileName(const QString& windowsPath)
{
    if (windowsPath == fileName_)
        return;
    if (connected())
        throw Error(QStringLiteral("Cannot change the database name while connected"));
    fileName_ = windowsPath;
}

void DatabaseConnection::setConnectionParams(const QStringList& lines)
{
    if (lines == params_)
        return;
    params_ = lines;
    paramsChanged_ = true;
}

void DatabaseConnection::Connect()
{
    if (connected())
        return;
    if (fileName_.isEmpty())
        throw Error(QStringLiteral("Database name is missing"));
    if (paramsChanged_) {
        dpb_ = BuildDatabaseParameterBlock(params_);
        ++dpbBuilds_;
        paramsChanged_ = false;
    }

    const auto hostPath = fs_.toHost(fileName_);
    if (!hostPath)
        throw Error(QStringLiteral("Database file not found: ") + fileName_);
    hostFileName_ = *hostPath;
    // The library reads "name:path" as a server and a path on it; a local
    // path must not look like that.
    if (hostFileName_.contains(QLatin1Char(':')))
        throw Error(QStringLiteral("Database file path holds a \":\", which the client library would take for a "
                                   "server name: ") +
                    hostFileName_);
    const QByteArray path = hostfs::encodeName(hostFileName_);
    if (path.size() > SHRT_MAX)
        throw Error(QStringLiteral("Database file path too long: ") + hostFileName_);

    ISC_STATUS_ARRAY status;
    client_.isc_attach_database(status, static_cast<short>(path.size()), path.constData(), &handle_,
                                static_cast<short>(dpb_.size()), dpb_.constData());
    if (FirebirdClient::failed(status)) {
        handle_ = 0;
        throw client_.errorFrom(status);
    }
    ++attachCount_;
    try {
        readDialect();
    } catch (...) {
        ISC_STATUS_ARRAY ignored;
        client_.isc_detach_database(ignored, &handle_);
        handle_ = 0;
        throw;
    }
}

void DatabaseConnection::readDialect()
{
    const char items[] = {isc_info_db_sql_dialect, isc_info_end};
    char result[32] = {};
    ISC_STATUS_ARRAY status;
    client_.isc_database_info(status, &handle_, sizeof items, items, sizeof result, result);
    client_.check(status);
    // A database too old to know its dialect is a dialect 1 database.
    const int databaseDialect = static_cast<int>(client_.infoInteger(result, isc_info_db_sql_dialect, 1));
    dialect_ = std::min(RequestedDialect, databaseDialect);
}

void DatabaseConnection::Disconnect()
{
    if (!connected())
        return;
    for (DataSet* dataSet : std::vector<DataSet*>(dataSets_))
        dataSet->release();
    if (defaultTransaction_ && defaultTransaction_->active())
        defaultTransaction_->endWithDefaultAction();

    const isc_db_handle attached = handle_;
    ISC_STATUS_ARRAY status;
    client_.isc_detach_database(status, &handle_);
    if (FirebirdClient::failed(status)) {
        handle_ = attached;
        throw client_.errorFrom(status);
    }
    handle_ = 0;
}

void DatabaseConnection::addDataSet(DataSet* dataSet) { dataSets_.push_back(dataSet); }

void DatabaseConnection::removeDataSet(DataSet* dataSet) { std::erase(dataSets_, dataSet); }

}  // namespace vz
