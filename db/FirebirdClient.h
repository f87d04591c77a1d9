#pragma once
// The Firebird client library (libfbclient), loaded at run time once per
// process and kept loaded until the process ends: the entry points this
// program uses, and the errors they report.

#include "db/DatabaseError.h"

#include <QString>
#include <QStringList>
#include <ibase.h>
#include <memory>

namespace vz {

class DynamicLibrary;

class FirebirdClient {
public:
    static inline const QString NotFoundMessage = QStringLiteral(
        "Firebird client library libfbclient not found in the path. Please install the Firebird client to use "
        "this functionality");

    // "libfbclient.so.2", then "libfbclient.so".
    static QStringList DefaultLibraryNames();

    // The client loaded from the first of `libraryNames` that loads. Loaded
    // on the first call for a list; later calls with the same list return the
    // same client without trying again. Throws vz::Error(NotFoundMessage)
    // when none of the names loads.
    static const FirebirdClient& Load(const QStringList& libraryNames = DefaultLibraryNames());

    ~FirebirdClient();
    FirebirdClient(const FirebirdClient&) = delete;
    FirebirdClient& operator=(const FirebirdClient&) = delete;

    const QString& libraryName() const;

    // The database error for a failed call's status vector.
    DatabaseError errorFrom(const ISC_STATUS* status) const;
    // Throws errorFrom(status) when the vector reports an error.
    void check(const ISC_STATUS* status) const;
    static bool failed(const ISC_STATUS* status) { return status[0] == 1 && status[1] != 0; }
    // The integer of `item` when it is the first item of an information
    // call's result (item byte, two-byte length, value); else `fallback`.
    long infoInteger(const char* result, char item, long fallback) const;

    decltype(&::isc_attach_database) isc_attach_database = nullptr;
    decltype(&::isc_detach_database) isc_detach_database = nullptr;
    decltype(&::isc_database_info) isc_database_info = nullptr;
    decltype(&::isc_start_multiple) isc_start_multiple = nullptr;
    decltype(&::isc_commit_transaction) isc_commit_transaction = nullptr;
    decltype(&::isc_rollback_transaction) isc_rollback_transaction = nullptr;
    decltype(&::isc_dsql_allocate_statement) isc_dsql_allocate_statement = nullptr;
    decltype(&::isc_dsql_prepare) isc_dsql_prepare = nullptr;
    decltype(&::isc_dsql_describe) isc_dsql_describe = nullptr;
    decltype(&::isc_dsql_sql_info) isc_dsql_sql_info = nullptr;
    decltype(&::isc_dsql_execute) isc_dsql_execute = nullptr;
    decltype(&::isc_dsql_execute_immediate) isc_dsql_execute_immediate = nullptr;
    decltype(&::isc_dsql_fetch) isc_dsql_fetch = nullptr;
    decltype(&::isc_dsql_free_statement) isc_dsql_free_statement = nullptr;
    decltype(&::isc_sqlcode) isc_sqlcode = nullptr;
    decltype(&::fb_interpret) fb_interpret = nullptr;
    decltype(&::isc_vax_integer) isc_vax_integer = nullptr;

private:
    explicit FirebirdClient(std::unique_ptr<DynamicLibrary> library);
    std::unique_ptr<DynamicLibrary> library_;
};

// One entry of the vector isc_start_multiple takes (a transaction over one
// database). The length is declared long, which also fits clients that read
// an int there (little-endian, padded to the pointer's alignment).
struct TransactionExistenceBlock {
    isc_db_handle* database;
    long tpbLength;
    const char* tpb;
};

}  // namespace vz
