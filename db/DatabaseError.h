#pragma once
// An error reported by the Firebird client library: the SQL code, the first
// error code and the library's texts (one per line, CR LF between lines).

#include "platform/Errors.h"

namespace vz {

class DatabaseError : public Error {
public:
    DatabaseError(QString message, long sqlCode, long errorCode)
        : Error(std::move(message)), sqlCode_(sqlCode), errorCode_(errorCode)
    {
    }
    long sqlCode() const { return sqlCode_; }
    long errorCode() const { return errorCode_; }

private:
    long sqlCode_;
    long errorCode_;
};

}  // namespace vz
