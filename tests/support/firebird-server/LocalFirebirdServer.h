#pragma once
// The machine's Firebird server (Debian's firebird3.0-server) for the tests
// that need a database a server holds: started when it was not running and
// stopped again, SYSDBA given the tests' password, and attachments made
// straight through the client library, to the server ("127.0.0.1:" + path)
// or in-process (a plain path), which the program itself never does.

#include "db/FirebirdClient.h"

#include <QByteArray>
#include <QString>

namespace vz::test {

class DirectAttachment {
public:
    static constexpr long LoginFailed = 335544472;    // isc_login
    static constexpr long NetworkFailed = 335544721;  // isc_network_error
    // The SYSDBA password the tests give the server.
    static const QString TestPassword;

    explicit DirectAttachment(const QByteArray& name, const QString& password = TestPassword);
    static DirectAttachment server(const QString& hostPath, const QString& password = TestPassword);
    static DirectAttachment inProcess(const QString& hostPath);
    DirectAttachment(DirectAttachment&& other) noexcept;
    ~DirectAttachment();
    DirectAttachment(const DirectAttachment&) = delete;
    DirectAttachment& operator=(const DirectAttachment&) = delete;

    // One statement in a transaction of its own, committed; rolled back when it fails.
    void exec(const QByteArray& sql);
    // The first column of the first row, as text.
    QString value(const QString& sql);
    long long number(const QString& sql) { return value(sql).trimmed().toLongLong(); }
    int backupState() { return int(number(QStringLiteral("SELECT MON$BACKUP_STATE FROM MON$DATABASE"))); }

private:
    isc_tr_handle start();

    const FirebirdClient& client_;
    isc_db_handle handle_ = 0;
};

class LocalFirebirdServer {
public:
    ~LocalFirebirdServer();
    // Empty when the server package is installed and the test runs as root;
    // otherwise why the server cannot be used here.
    static QString unavailableReason();
    // Starts the server unless it runs already; false when that failed.
    bool start();
    // Stops the server again if start() started it.
    void stopIfStarted();
    // Stops it whoever started it; false when that failed.
    bool stop();
    bool startedHere() const { return startedHere_; }
    // Waits for the server to answer, then makes SYSDBA's password the tests'
    // one (from the password Debian's package wrote), keeping the package's
    // password file true. `database` is any database the server can open.
    // Empty, or what went wrong.
    QString ensureTestPassword(const QString& database);

private:
    bool startedHere_ = false;
};

}  // namespace vz::test
