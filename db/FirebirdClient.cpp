#include "db/FirebirdClient.h"

#include "platform/Cp1252.h"
#include "platform/DynamicLibrary.h"

#include <QStringDecoder>
#include <mutex>
#include <vector>

namespace vz {

namespace {

// The clients loaded so far, kept until the process ends: the library starts
// threads of its own and must not be unloaded under them.
struct LoadedClients {
    std::mutex mutex;
    std::vector<std::pair<QStringList, std::unique_ptr<FirebirdClient>>> clients;
};

LoadedClients& loadedClients()
{
    static auto* loaded = new LoadedClients;  // never destroyed, see above
    return *loaded;
}

// The library's texts hold file names (UTF-8 on this system) and data
// (Windows-1252 in these databases): UTF-8 when the bytes are valid UTF-8.
QString decodeLibraryText(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return DecodeCp1252(bytes);
    return text;
}

}  // namespace

QStringList FirebirdClient::DefaultLibraryNames()
{
    return {QStringLiteral("libfbclient.so.2"), QStringLiteral("libfbclient.so")};
}

const FirebirdClient& FirebirdClient::Load(const QStringList& libraryNames)
{
    LoadedClients& loaded = loadedClients();
    const std::lock_guard lock(loaded.mutex);
    for (const auto& [names, client] : loaded.clients) {
        if (names == libraryNames)
            return *client;
    }
    auto library = DynamicLibrary::LoadFirst(libraryNames);
    if (!library)
        throw Error(NotFoundMessage);
    std::unique_ptr<FirebirdClient> client(new FirebirdClient(std::move(library)));
    loaded.clients.emplace_back(libraryNames, std::move(client));
    return *loaded.clients.back().second;
}

FirebirdClient::FirebirdClient(std::unique_ptr<DynamicLibrary> library) : library_(std::move(library))
{
    QStringList missing;
    auto bind = [&](auto& entry, const char* symbolName) {
        entry = library_->function<std::remove_reference_t<decltype(entry)>>(symbolName);
        if (!entry)
            missing.append(QLatin1String(symbolName));
    };
    bind(isc_attach_database, "isc_attach_database");
    bind(isc_detach_database, "isc_detach_database");
    bind(isc_database_info, "isc_database_info");
    bind(isc_start_multiple, "isc_start_multiple");
    bind(isc_commit_transaction, "isc_commit_transaction");
    bind(isc_rollback_transaction, "isc_rollback_transaction");
    bind(isc_dsql_allocate_statement, "isc_dsql_allocate_statement");
    bind(isc_dsql_prepare, "isc_dsql_prepare");
    bind(isc_dsql_describe, "isc_dsql_describe");
    bind(isc_dsql_sql_info, "isc_dsql_sql_info");
    bind(isc_dsql_execute, "isc_dsql_execute");
    bind(isc_dsql_execute_immediate, "isc_dsql_execute_immediate");
    bind(isc_dsql_fetch, "isc_dsql_fetch");
    bind(isc_dsql_free_statement, "isc_dsql_free_statement");
    bind(isc_sqlcode, "isc_sqlcode");
    bind(fb_interpret, "fb_interpret");
    bind(isc_vax_integer, "isc_vax_integer");
    if (!missing.isEmpty()) {
        throw Error(QStringLiteral("Firebird client library %1 lacks %2")
                        .arg(library_->name(), missing.join(QStringLiteral(", "))));
    }
}

FirebirdClient::~FirebirdClient() = default;

const QString& FirebirdClient::libraryName() const { return library_->name(); }

DatabaseError FirebirdClient::errorFrom(const ISC_STATUS* status) const
{
    const long sqlCode = isc_sqlcode(status);
    const long errorCode = status[0] == 1 ? static_cast<long>(status[1]) : 0;
    QStringList lines;
    const ISC_STATUS* cursor = status;
    char buffer[1024];
    while (fb_interpret(buffer, sizeof buffer, &cursor) > 0)
        lines.append(decodeLibraryText(QByteArray(buffer)));
    QString message = lines.join(QStringLiteral("\r\n"));
    if (message.endsWith(QLatin1Char('.')))
        message.chop(1);
    return DatabaseError(message, sqlCode, errorCode);
}

long FirebirdClient::infoInteger(const char* result, char item, long fallback) const
{
    if (result[0] != item)
        return fallback;
    const short length = static_cast<short>(isc_vax_integer(result + 1, 2));
    return isc_vax_integer(result + 3, length);
}

void FirebirdClient::check(const ISC_STATUS* status) const
{
    if (failed(status))
        throw errorFrom(status);
}

}  // namespace vz
