#pragma once
// Entry names as bytes in the archive and as text. Reading: UTF-8 (flagged,
// or in an Info-ZIP Unicode path field, or simply valid UTF-8 as Info-ZIP
// writes it); else, for an entry made on Unix, the host's own bytes, kept
// as host names are kept (see hostfs::decodeName); else the OEM code page
// 850 of the Windows programs that wrote the older sets.
//
// Writing: an entry name made from host names is stored as the host's
// bytes. The UTF-8 flag is set only when those bytes are valid UTF-8 and
// not plain ASCII; every entry is written as made on Unix (see
// EntryPermissions), so that reading gives back the very same bytes of a
// name that is not UTF-8 instead of taking them for code page 850.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace vz {

class EntryName {
public:
    struct Encoded {
        QByteArray bytes;
        bool utf8 = false;  // set the UTF-8 flag
    };

    // versionMadeBy: the central record's field; its high byte names the host.
    static QString Decode(const QByteArray& raw, quint32 flags, const QByteArray& extra, quint32 versionMadeBy);
    static Encoded Encode(const QString& name);
};

}  // namespace vz
