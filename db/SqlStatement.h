#pragma once
// One DSQL statement of a connection: prepared in a dialect, executed in a
// transaction, its rows fetched forward into buffers described by the
// library. Text is Windows-1252 (the connections name no character set).

#include "db/FirebirdClient.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

namespace vz {

class SqlStatement {
public:
    SqlStatement(const FirebirdClient& client, isc_db_handle* database);
    ~SqlStatement();  // frees the statement; errors are ignored
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    // Frees any earlier statement first.
    void prepare(isc_tr_handle* transaction, const QString& sql, int dialect);
    bool prepared() const { return handle_ != 0; }
    bool returnsRows() const { return returnsRows_; }

    // A statement that returns rows opens its cursor; one that does not runs.
    void execute(isc_tr_handle* transaction);
    // Moves to the next row; false (and no current row) past the last one.
    bool fetch();
    bool cursorOpen() const { return cursorOpen_; }
    void closeCursor();
    // Closes the cursor and frees the statement. Never throws.
    void release() noexcept;

    int columnCount() const;
    QString columnName(int column) const;          // as the statement names it
    int columnIndex(const QString& name) const;    // without regard to case; -1 when absent
    bool isNull(int column) const;
    // The value as text: strings decoded from Windows-1252 (CHAR without its
    // padding blanks), integers and decimals in their scale, floats. Throws
    // vz::Error for kinds that have no text form here (dates, blobs, ...).
    QString asString(int column) const;
    // The value's bytes as stored (strings without length word or padding).
    QByteArray asBytes(int column) const;

private:
    void describe();
    const XSQLVAR& var(int column) const;

    const FirebirdClient& client_;
    isc_db_handle* database_;
    isc_stmt_handle handle_ = 0;
    bool returnsRows_ = false;
    bool cursorOpen_ = false;
    bool onRow_ = false;
    std::unique_ptr<char[]> sqldaStorage_;
    XSQLDA* output_ = nullptr;
    std::vector<char> data_;
    std::vector<ISC_SHORT> nullFlags_;
};

}  // namespace vz
