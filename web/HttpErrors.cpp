#include "web/HttpErrors.h"

#include "platform/Socket.h"

namespace vz {

SocketError::SocketError(int errorNumber)
    : Error(QStringLiteral("Socket Error # ") + QString::number(errorNumber) + QStringLiteral("\r\n") +
            Socket::ErrorText(errorNumber)),
      errorNumber_(errorNumber) {}

}  // namespace vz
