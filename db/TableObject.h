#pragma once
// A table object (Tb_Configuracao): every row of one table in primary-key
// order, read forward from the first, with the re-read that finds the
// current row again.

#include "db/DataSet.h"
#include "db/SqlStatement.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vz {

class DatabaseConnection;
class DatabaseTransaction;

class TableObject final : public DataSet {
public:
    TableObject(DatabaseConnection& connection, DatabaseTransaction& transaction, QString tableName);
    ~TableObject() override;

    const QString& tableName() const { return tableName_; }

    // Attaches and starts the transaction when needed, looks the primary key
    // up, runs the select and moves to the first row. No effect when open.
    void open();
    // Runs the select again and makes the row that was current current
    // again (found by its database key); the first row when it is gone.
    void refresh();
    // Closes the result set; the transaction stays active.
    void close();
    bool active() const override { return statement_.cursorOpen(); }
    void release() noexcept override;

    // True when there is no current row (no rows, or past the last).
    bool eof() const { return !onRow_; }
    bool next();
    bool fieldIsNull(const QString& name) const;
    QString fieldAsString(const QString& name) const;  // null reads as empty text

    // Of the last run of the select.
    const QStringList& primaryKeyColumns() const { return keyColumns_; }
    const QString& selectSql() const { return selectSql_; }

private:
    void runSelect();
    QStringList lookUpPrimaryKey();
    QString quoted(const QString& name) const;
    QByteArray currentKey() const;
    int column(const QString& name) const;

    DatabaseConnection& connection_;
    DatabaseTransaction& transaction_;
    QString tableName_;
    SqlStatement statement_;
    QStringList keyColumns_;
    QString selectSql_;
    bool onRow_ = false;
};

}  // namespace vz
