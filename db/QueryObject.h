#pragma once
// A query object (QryBusca): one SQL statement on a connection, run in the
// connection's transaction; its rows are read forward.

#include "db/DataSet.h"
#include "db/SqlStatement.h"

#include <QString>

namespace vz {

class DatabaseConnection;
class DatabaseTransaction;

class QueryObject final : public DataSet {
public:
    QueryObject(DatabaseConnection& connection, DatabaseTransaction& transaction);
    ~QueryObject() override;

    // Closes the query when open.
    void setSql(const QString& sql);
    const QString& sql() const { return sql_; }

    // Runs a statement that returns rows and moves to the first row. The
    // connection must be attached; the transaction is started when inactive.
    void open();
    // Runs a statement that returns no rows (in the same transaction).
    void execSql();
    // Moves to the first row: runs the statement again unless the current
    // row is already the first.
    void first();
    bool next();
    bool eof() const { return !onRow_; }
    void close();
    bool active() const override { return statement_.cursorOpen(); }
    void release() noexcept override;

    bool fieldIsNull(const QString& name) const;
    QString fieldAsString(const QString& name) const;  // null reads as empty text

private:
    void prepareAndRun(bool expectRows);
    int column(const QString& name) const;

    DatabaseConnection& connection_;
    DatabaseTransaction& transaction_;
    QString sql_;
    SqlStatement statement_;
    bool onRow_ = false;
    bool onFirstRow_ = false;
};

}  // namespace vz
