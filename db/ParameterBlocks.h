#pragma once
// The parameter blocks the client library receives, built from parameter
// lines ("user_name=SYSDBA", "read_committed", ...).

#include <QByteArray>
#include <QStringList>

namespace vz {

// Database parameter block: version byte 1, then per line the item's code,
// the value's length and its Windows-1252 bytes. Each line is split at its
// first "="; the name is lower-cased and a leading "isc_dpb_" removed.
// Throws vz::Error for an unknown name, a missing value or one over 255 bytes.
QByteArray BuildDatabaseParameterBlock(const QStringList& lines);

// Transaction parameter block: version byte 3, then one code per line.
// A line may carry a leading "isc_tpb_". Throws vz::Error for an unknown name.
QByteArray BuildTransactionParameterBlock(const QStringList& lines);

}  // namespace vz
