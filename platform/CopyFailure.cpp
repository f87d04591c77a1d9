#include "platform/CopyFailure.h"

#include "platform/FileSystem.h"
#include "platform/HostFile.h"

#include <cerrno>

namespace vz {

QString CopyFailureReason(int errorNumber)
{
    switch (errorNumber) {
    case SharingViolation: return QStringLiteral("arquivo em uso por outro programa");
    case EACCES:
    case EPERM:
    case EROFS: return QStringLiteral("somente leitura ou sem permissão");
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return QStringLiteral("disco cheio");
    case EIO: return QStringLiteral("erro de leitura ou gravação no disco");
    case ENOENT: return QStringLiteral("arquivo ou pasta não encontrado");
    case ENODEV: return QStringLiteral("unidade inexistente");
    case EISDIR: return QStringLiteral("existe uma pasta com esse nome");
    case 0: return QStringLiteral("motivo desconhecido");
    default: return hostfs::errorText(errorNumber);
    }
}

}  // namespace vz
