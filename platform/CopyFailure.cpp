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
    // What the copy engine records for a file it refuses to write: one of
    // the program's own (its executable, helpers, settings file).
    case ECANCELED: return QStringLiteral("arquivo protegido do próprio programa");
    case DatabaseHeldWithoutServer:
        return QStringLiteral("banco de dados aberto por outro programa fora do servidor Firebird");
    case DatabaseServerRefused:
        return QStringLiteral("o servidor Firebird não permitiu a cópia do banco de dados");
    case DatabaseLockNotCleared:
        return QStringLiteral("a cópia do banco de dados não pôde ser liberada (nbackup -F)");
    case DatabaseLeftInBackup:
        return QStringLiteral("o servidor Firebird não confirmou o fim do backup do banco de dados");
    case 0: return QStringLiteral("motivo desconhecido");
    default: return hostfs::errorText(errorNumber);
    }
}

}  // namespace vz
