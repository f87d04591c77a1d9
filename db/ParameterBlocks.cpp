#include "db/ParameterBlocks.h"

#include "platform/Cp1252.h"
#include "platform/Errors.h"

#include <ibase.h>

namespace vz {

namespace {

struct NamedCode {
    const char* name;
    char code;
};

// The string items a connection's parameter lines may carry.
constexpr NamedCode DatabaseStringItems[] = {
    {"user_name", isc_dpb_user_name},         {"password", isc_dpb_password},
    {"lc_ctype", isc_dpb_lc_ctype},           {"sql_role_name", isc_dpb_sql_role_name},
    {"password_enc", isc_dpb_password_enc},   {"lc_messages", isc_dpb_lc_messages},
};

constexpr NamedCode TransactionItems[] = {
    {"consistency", isc_tpb_consistency}, {"concurrency", isc_tpb_concurrency},
    {"shared", isc_tpb_shared},           {"protected", isc_tpb_protected},
    {"exclusive", isc_tpb_exclusive},     {"wait", isc_tpb_wait},
    {"nowait", isc_tpb_nowait},           {"read", isc_tpb_read},
    {"write", isc_tpb_write},             {"read_committed", isc_tpb_read_committed},
    {"rec_version", isc_tpb_rec_version}, {"no_rec_version", isc_tpb_no_rec_version},
    {"no_auto_undo", isc_tpb_no_auto_undo},
};

template <std::size_t N>
const NamedCode* find(const NamedCode (&items)[N], const QString& name)
{
    for (const NamedCode& item : items) {
        if (name == QLatin1String(item.name))
            return &item;
    }
    return nullptr;
}

QString withoutPrefix(QString name, QLatin1String prefix)
{
    name = name.trimmed().toLower();
    if (name.startsWith(prefix))
        name.remove(0, prefix.size());
    return name;
}

}  // namespace

QByteArray BuildDatabaseParameterBlock(const QStringList& lines)
{
    QByteArray block(1, static_cast<char>(isc_dpb_version1));
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString name = withoutPrefix(equals < 0 ? line : line.left(equals), QLatin1String("isc_dpb_"));
        const NamedCode* item = find(DatabaseStringItems, name);
        if (!item)
            throw Error(QStringLiteral("Unknown database parameter: ") + name);
        if (equals < 0)
            throw Error(QStringLiteral("Database parameter without a value: ") + name);
        const QByteArray value = EncodeCp1252(line.mid(equals + 1));
        if (value.size() > 255)
            throw Error(QStringLiteral("Database parameter value too long: ") + name);
        block.append(item->code);
        block.append(static_cast<char>(value.size()));
        block.append(value);
    }
    return block;
}

QByteArray BuildTransactionParameterBlock(const QStringList& lines)
{
    QByteArray block(1, static_cast<char>(isc_tpb_version3));
    for (const QString& line : lines) {
        const QString name = withoutPrefix(line, QLatin1String("isc_tpb_"));
        const NamedCode* item = find(TransactionItems, name);
        if (!item)
            throw Error(QStringLiteral("Unknown transaction parameter: ") + name);
        block.append(item->code);
    }
    return block;
}

}  // namespace vz
