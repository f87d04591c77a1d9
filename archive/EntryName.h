#pragma once
// Entry names as bytes in the archive and as text: UTF-8 (flagged, or in an
// Info-ZIP Unicode path field, or simply valid UTF-8 as Info-ZIP writes it),
// else the OEM code page 850 of the Windows programs that wrote the older sets.

#include <QByteArray>
#include <QString>

namespace vz {

class EntryName {
public:
    static QString Decode(const QByteArray& raw, quint32 flags, const QByteArray& extra);
    // Plain ASCII stays as it is; anything else is UTF-8 and `utf8` is set.
    static QByteArray Encode(const QString& name, bool& utf8);
};

}  // namespace vz
