#pragma once
// The errors the HTTP client raises. Callers tell them apart by their text;
// the client itself tells a dropped kept connection by its kind.

#include "platform/Errors.h"

#include <QString>

namespace vz {

// A response outside 2xx, or a redirection: the message is the status line
// as received; the status code and the response body come with it.
class HttpError : public Error {
public:
    HttpError(const QString& statusLine, int statusCode, QString body)
        : Error(statusLine), statusCode_(statusCode), body_(std::move(body)) {}
    int statusCode() const { return statusCode_; }
    const QString& body() const { return body_; }

private:
    int statusCode_;
    QString body_;
};

// Name resolution or socket failure: "Socket Error # " + number + CR LF + text.
class SocketError : public Error {
public:
    explicit SocketError(int errorNumber);
    int errorNumber() const { return errorNumber_; }

private:
    int errorNumber_;
};

// The secure channel could not be set up or broke: a refused certificate,
// a failed handshake ("TLS handshake failed: certificate has expired"), a
// protocol error later on. Raised where a socket error is, and treated as
// one by every caller.
class TlsError : public Error {
public:
    explicit TlsError(const QString& message) : Error(message) {}
};

// The server closed the connection while the status line was awaited.
class ConnectionClosedGracefully : public Error {
public:
    ConnectionClosedGracefully() : Error(QStringLiteral("Connection Closed Gracefully.")) {}
};

}  // namespace vz
