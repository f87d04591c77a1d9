#include "db/TableObject.h"

#include "db/DatabaseConnection.h"
#include "db/DatabaseTransaction.h"

namespace vz {

namespace {

const QString DbKeyColumn = QStringLiteral("DB_KEY");

// Text as an SQL string literal.
QString literal(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

}  // namespace

TableObject::TableObject(DatabaseConnection& connection, DatabaseTransaction& transaction, QString tableName)
    : connection_(connection), transaction_(transaction), tableName_(std::move(tableName)),
      statement_(connection.client(), connection.handle())
{
    connection_.addDataSet(this);
}

TableObject::~TableObject()
{
    release();
    connection_.removeDataSet(this);
}

void TableObject::open()
{
    if (active())
        return;
    connection_.Connect();
    if (!transaction_.active())
        transaction_.start();
    runSelect();
    onRow_ = statement_.fetch();
}

void TableObject::refresh()
{
    if (!active()) {
        open();
        return;
    }
    const QByteArray key = currentKey();
    onRow_ = false;
    statement_.closeCursor();
    runSelect();
    onRow_ = statement_.fetch();
    if (key.isEmpty())
        return;
    while (onRow_ && currentKey() != key)
        onRow_ = statement_.fetch();
    if (!onRow_) {
        // The remembered row is gone: the first row becomes current.
        statement_.closeCursor();
        runSelect();
        onRow_ = statement_.fetch();
    }
}

void TableObject::close()
{
    onRow_ = false;
    statement_.closeCursor();
}

void TableObject::release() noexcept
{
    onRow_ = false;
    statement_.release();
}

bool TableObject::next()
{
    if (!onRow_)
        return false;
    onRow_ = statement_.fetch();
    return onRow_;
}

QString TableObject::quoted(const QString& name) const
{
    // Dialect 1 knows no quoted names: they are written upper-cased.
    if (connection_.dialect() < 3)
        return name.toUpper();
    QString escaped = name;
    escaped.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

void TableObject::runSelect()
{
    keyColumns_ = lookUpPrimaryKey();
    QStringList keys;
    for (const QString& key : keyColumns_)
        keys.append(quoted(key));
    const QString table = quoted(tableName_);
    selectSql_ = QStringLiteral("SELECT %1.*, %1.RDB$DB_KEY AS %2 FROM %1").arg(table, DbKeyColumn);
    if (!keys.isEmpty())
        selectSql_ += QStringLiteral(" ORDER BY ") + keys.join(QStringLiteral(", "));
    statement_.prepare(transaction_.handle(), selectSql_, connection_.dialect());
    statement_.execute(transaction_.handle());
}

QStringList TableObject::lookUpPrimaryKey()
{
    // The primary key's index: named RDB$PRIMARY<n> when the key was declared
    // without a constraint name, else named after its PRIMARY KEY constraint.
    const QString sql = QStringLiteral(
        "SELECT S.RDB$FIELD_NAME FROM RDB$INDICES I "
        "JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = I.RDB$INDEX_NAME "
        "WHERE I.RDB$RELATION_NAME = %1 AND (I.RDB$INDEX_NAME STARTING WITH 'RDB$PRIMARY' "
        "OR EXISTS (SELECT 1 FROM RDB$RELATION_CONSTRAINTS C WHERE C.RDB$INDEX_NAME = I.RDB$INDEX_NAME "
        "AND C.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY')) "
        "ORDER BY S.RDB$FIELD_POSITION")
                            .arg(literal(connection_.dialect() < 3 ? tableName_.toUpper() : tableName_));
    // A short transaction of its own, with the library's default parameters.
    DatabaseTransaction lookup(connection_);
    lookup.start();
    QStringList columns;
    try {
        SqlStatement statement(connection_.client(), connection_.handle());
        statement.prepare(lookup.handle(), sql, connection_.dialect());
        statement.execute(lookup.handle());
        while (statement.fetch())
            columns.append(statement.asString(0).trimmed());
        statement.release();
        lookup.commit();
    } catch (...) {
        try {
            lookup.rollback();
        } catch (...) {
            // The first error is the one worth reporting.
        }
        throw;
    }
    return columns;
}

QByteArray TableObject::currentKey() const
{
    if (!onRow_)
        return QByteArray();
    return statement_.asBytes(statement_.columnCount() - 1);
}

int TableObject::column(const QString& name) const
{
    if (!onRow_)
        throw Error(QStringLiteral("No current row in ") + tableName_);
    // The database key is the last column; it is not one of the table's fields.
    const int index = statement_.columnIndex(name);
    if (index < 0 || index == statement_.columnCount() - 1)
        throw Error(QStringLiteral("Field %1 not found").arg(name));
    return index;
}

bool TableObject::fieldIsNull(const QString& name) const { return statement_.isNull(column(name)); }

QString TableObject::fieldAsString(const QString& name) const { return statement_.asString(column(name)); }

}  // namespace vz
