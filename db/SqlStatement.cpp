#include "db/SqlStatement.h"

#include "platform/Cp1252.h"
#include "platform/Errors.h"

#include <climits>
#include <cstring>

namespace vz {

namespace {

constexpr short InitialColumns = 16;
constexpr int FetchEndOfCursor = 100;

std::unique_ptr<char[]> allocateSqlda(short columns, XSQLDA*& sqlda)
{
    const std::size_t bytes = XSQLDA_LENGTH(columns);
    // new char[] memory is suitably aligned for any object of that size.
    auto storage = std::make_unique<char[]>(bytes);
    sqlda = new (storage.get()) XSQLDA;
    sqlda->version = SQLDA_VERSION1;
    sqlda->sqln = columns;
    sqlda->sqld = 0;
    return storage;
}

QString scaledInteger(qint64 value, int scale)
{
    if (scale >= 0) {
        QString text = QString::number(value);
        if (value != 0)
            text.append(QString(scale, QLatin1Char('0')));
        return text;
    }
    const bool negative = value < 0;
    // Digits of the magnitude, computed unsigned so the lowest value survives.
    const quint64 magnitude = negative ? 0 - static_cast<quint64>(value) : static_cast<quint64>(value);
    QString digits = QString::number(magnitude);
    const int decimals = -scale;
    if (digits.size() <= decimals)
        digits.prepend(QString(decimals - digits.size() + 1, QLatin1Char('0')));
    digits.insert(digits.size() - decimals, QLatin1Char('.'));
    return negative ? QLatin1Char('-') + digits : digits;
}

// A column's value, copied out of its buffer (which holds no alignment promise).
template <typename T>
T load(const XSQLVAR& v)
{
    T value;
    std::memcpy(&value, v.sqldata, sizeof value);
    return value;
}

}  // namespace

SqlStatement::SqlStatement(const FirebirdClient& client, isc_db_handle* database)
    : client_(client), database_(database)
{
}

SqlStatement::~SqlStatement() { release(); }

void SqlStatement::prepare(isc_tr_handle* transaction, const QString& sql, int dialect)
{
    release();
    const QByteArray text = EncodeCp1252(sql);
    if (text.size() > USHRT_MAX)
        throw Error(QStringLiteral("SQL statement too long"));
    ISC_STATUS_ARRAY status;
    client_.isc_dsql_allocate_statement(status, database_, &handle_);
    if (FirebirdClient::failed(status)) {
        handle_ = 0;
        throw client_.errorFrom(status);
    }
    try {
        sqldaStorage_ = allocateSqlda(InitialColumns, output_);
        client_.isc_dsql_prepare(status, transaction, &handle_, static_cast<unsigned short>(text.size()),
                                 text.constData(), static_cast<unsigned short>(dialect), output_);
        client_.check(status);
        if (output_->sqld > output_->sqln) {
            sqldaStorage_ = allocateSqlda(output_->sqld, output_);
            client_.isc_dsql_describe(status, &handle_, SQLDA_VERSION1, output_);
            client_.check(status);
        }
        describe();
    } catch (...) {
        release();
        throw;
    }
}

void SqlStatement::describe()
{
    // Statement type: a select (also one FOR UPDATE) opens a cursor.
    const char items[] = {isc_info_sql_stmt_type, isc_info_end};
    char result[16] = {};
    ISC_STATUS_ARRAY status;
    client_.isc_dsql_sql_info(status, &handle_, sizeof items, items, sizeof result, result);
    client_.check(status);
    const long type = client_.infoInteger(result, isc_info_sql_stmt_type, 0);
    returnsRows_ = type == isc_info_sql_stmt_select || type == isc_info_sql_stmt_select_for_upd;

    // One buffer for all columns, each value aligned for its widest type.
    const int columns = output_->sqld;
    std::vector<std::size_t> offsets(static_cast<std::size_t>(columns));
    std::size_t total = 0;
    for (int i = 0; i < columns; ++i) {
        XSQLVAR& v = output_->sqlvar[i];
        std::size_t size = static_cast<std::size_t>(v.sqllen);
        if ((v.sqltype & ~1) == SQL_VARYING)
            size += sizeof(ISC_USHORT);
        total = (total + 7) & ~std::size_t{7};
        offsets[static_cast<std::size_t>(i)] = total;
        total += size;
    }
    data_.assign(total + 8, 0);
    nullFlags_.assign(static_cast<std::size_t>(columns), 0);
    for (int i = 0; i < columns; ++i) {
        XSQLVAR& v = output_->sqlvar[i];
        v.sqldata = data_.data() + offsets[static_cast<std::size_t>(i)];
        // Every column gets a null flag, so nullable results of expressions read too.
        v.sqltype = static_cast<ISC_SHORT>(v.sqltype | 1);
        v.sqlind = &nullFlags_[static_cast<std::size_t>(i)];
    }
}

void SqlStatement::execute(isc_tr_handle* transaction)
{
    if (!prepared())
        throw Error(QStringLiteral("Statement not prepared"));
    closeCursor();
    ISC_STATUS_ARRAY status;
    client_.isc_dsql_execute(status, transaction, &handle_, SQLDA_VERSION1, nullptr);
    client_.check(status);
    cursorOpen_ = returnsRows_;
    onRow_ = false;
}

bool SqlStatement::fetch()
{
    if (!cursorOpen_)
        throw Error(QStringLiteral("Cursor not open"));
    ISC_STATUS_ARRAY status;
    const ISC_STATUS result = client_.isc_dsql_fetch(status, &handle_, SQLDA_VERSION1, output_);
    if (result == FetchEndOfCursor) {
        onRow_ = false;
        return false;
    }
    if (result != 0) {
        onRow_ = false;
        throw client_.errorFrom(status);
    }
    onRow_ = true;
    return true;
}

void SqlStatement::closeCursor()
{
    if (!cursorOpen_)
        return;
    cursorOpen_ = false;
    onRow_ = false;
    ISC_STATUS_ARRAY status;
    client_.isc_dsql_free_statement(status, &handle_, DSQL_close);
    client_.check(status);
}

void SqlStatement::release() noexcept
{
    if (handle_ != 0) {
        ISC_STATUS_ARRAY status;
        client_.isc_dsql_free_statement(status, &handle_, DSQL_drop);
        handle_ = 0;
    }
    cursorOpen_ = false;
    onRow_ = false;
    returnsRows_ = false;
    output_ = nullptr;
    sqldaStorage_.reset();
    data_.clear();
    nullFlags_.clear();
}

int SqlStatement::columnCount() const { return output_ ? output_->sqld : 0; }

const XSQLVAR& SqlStatement::var(int column) const
{
    if (column < 0 || column >= columnCount())
        throw Error(QStringLiteral("Column %1 does not exist").arg(column));
    return output_->sqlvar[column];
}

QString SqlStatement::columnName(int column) const
{
    const XSQLVAR& v = var(column);
    return DecodeCp1252(QByteArray(v.aliasname, v.aliasname_length));
}

int SqlStatement::columnIndex(const QString& name) const
{
    for (int i = 0; i < columnCount(); ++i) {
        if (columnName(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool SqlStatement::isNull(int column) const
{
    const XSQLVAR& v = var(column);
    if (!onRow_)
        throw Error(QStringLiteral("No current row"));
    return *v.sqlind < 0;
}

QByteArray SqlStatement::asBytes(int column) const
{
    if (isNull(column))
        return QByteArray();
    const XSQLVAR& v = var(column);
    switch (v.sqltype & ~1) {
    case SQL_VARYING:
        return QByteArray(v.sqldata + sizeof(ISC_USHORT), load<ISC_USHORT>(v));
    case SQL_TEXT: {
        QByteArray bytes(v.sqldata, v.sqllen);
        // Character set OCTETS (1) keeps every byte; other CHAR values lose their padding.
        if ((v.sqlsubtype & 0xFF) != 1) {
            while (bytes.endsWith(' '))
                bytes.chop(1);
        }
        return bytes;
    }
    default:
        return QByteArray(v.sqldata, v.sqllen);
    }
}

QString SqlStatement::asString(int column) const
{
    if (isNull(column))
        return QString();
    const XSQLVAR& v = var(column);
    switch (v.sqltype & ~1) {
    case SQL_VARYING:
    case SQL_TEXT:
        return DecodeCp1252(asBytes(column));
    case SQL_SHORT:
        return scaledInteger(load<ISC_SHORT>(v), v.sqlscale);
    case SQL_LONG:
        return scaledInteger(load<ISC_LONG>(v), v.sqlscale);
    case SQL_INT64:
        return scaledInteger(load<ISC_INT64>(v), v.sqlscale);
    case SQL_FLOAT:
        return QString::number(load<float>(v));
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return QString::number(load<double>(v), 'g', 15);
    default:
        throw Error(QStringLiteral("Column %1 cannot be read as text").arg(columnName(column)));
    }
}

}  // namespace vz
