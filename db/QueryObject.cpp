#include "db/QueryObject.h"

#include "db/DatabaseConnection.h"
#include "db/DatabaseTransaction.h"

namespace vz {

QueryObject::QueryObject(DatabaseConnection& connection, DatabaseTransaction& transaction)
    : connection_(connection), transaction_(transaction), statement_(connection.client(), connection.handle())
{
    connection_.addDataSet(this);
}

QueryObject::~QueryObject()
{
    release();
    connection_.removeDataSet(this);
}

void QueryObject::setSql(const QString& sql)
{
    close();
    if (sql != sql_)
        statement_.release();
    sql_ = sql;
}

void QueryObject::prepareAndRun(bool expectRows)
{
    if (sql_.trimmed().isEmpty())
        throw Error(QStringLiteral("SQL statement is empty"));
    if (!connection_.connected())
        throw Error(QStringLiteral("Database not connected"));
    if (!transaction_.active())
        transaction_.start();
    if (!statement_.prepared())
        statement_.prepare(transaction_.handle(), sql_, connection_.dialect());
    if (statement_.returnsRows() != expectRows) {
        statement_.release();
        throw Error(expectRows ? QStringLiteral("Statement returns no rows") : QStringLiteral("Statement returns rows"));
    }
    statement_.execute(transaction_.handle());
}

void QueryObject::open()
{
    if (active())
        return;
    prepareAndRun(true);
    onRow_ = statement_.fetch();
    onFirstRow_ = onRow_;
}

void QueryObject::execSql()
{
    close();
    prepareAndRun(false);
}

void QueryObject::first()
{
    if (onFirstRow_)
        return;
    close();
    open();
}

bool QueryObject::next()
{
    if (!onRow_)
        return false;
    onFirstRow_ = false;
    onRow_ = statement_.fetch();
    return onRow_;
}

void QueryObject::close()
{
    onRow_ = false;
    onFirstRow_ = false;
    statement_.closeCursor();
}

void QueryObject::release() noexcept
{
    onRow_ = false;
    onFirstRow_ = false;
    statement_.release();
}

int QueryObject::column(const QString& name) const
{
    if (!onRow_)
        throw Error(QStringLiteral("No current row"));
    const int index = statement_.columnIndex(name);
    if (index < 0)
        throw Error(QStringLiteral("Field %1 not found").arg(name));
    return index;
}

bool QueryObject::fieldIsNull(const QString& name) const { return statement_.isNull(column(name)); }

QString QueryObject::fieldAsString(const QString& name) const { return statement_.asString(column(name)); }

}  // namespace vz
