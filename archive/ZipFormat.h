#pragma once
// Signatures, sizes and flag values of the PKWARE ZIP format as this
// component writes and reads them.

#include <QtGlobal>

namespace vz::zip {

inline constexpr quint32 LocalSignature = 0x04034b50;
inline constexpr quint32 CentralSignature = 0x02014b50;
inline constexpr quint32 EndSignature = 0x06054b50;
inline constexpr quint32 Zip64EndSignature = 0x06064b50;
inline constexpr quint32 Zip64LocatorSignature = 0x07064b50;
inline constexpr quint32 SplitSignature = 0x08074b50;  // also the data-descriptor signature

inline constexpr int LocalFixedSize = 30;
inline constexpr int CentralFixedSize = 46;
inline constexpr int EndFixedSize = 22;
inline constexpr int Zip64EndFixedSize = 56;
inline constexpr int Zip64LocatorSize = 20;
inline constexpr qint64 EndSearchBytes = 65557;  // 22-byte record + longest comment

inline constexpr quint64 Max32 = 0xFFFFFFFFu;
inline constexpr quint32 Max16 = 0xFFFFu;

inline constexpr quint32 FlagEncrypted = 0x0001;
inline constexpr quint32 FlagDataDescriptor = 0x0008;
inline constexpr quint32 FlagUtf8 = 0x0800;

inline constexpr quint32 MethodStored = 0;
inline constexpr quint32 MethodDeflated = 8;

inline constexpr quint32 VersionStored = 10;
inline constexpr quint32 VersionDeflated = 20;
inline constexpr quint32 VersionZip64 = 45;

// The high byte of "version made by": the system whose attributes and name
// bytes the entry carries.
inline constexpr quint32 HostMsDos = 0;
inline constexpr quint32 HostUnix = 3;

// The Unix file type in the high half of an entry made on Unix.
inline constexpr quint32 UnixTypeMask = 0170000;
inline constexpr quint32 UnixRegularFile = 0100000;

inline constexpr quint16 ExtraZip64 = 0x0001;
inline constexpr quint16 ExtraExtendedTime = 0x5455;
inline constexpr quint16 ExtraUnicodePath = 0x7075;

}  // namespace vz::zip
