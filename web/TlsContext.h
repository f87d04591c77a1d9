#pragma once
// What every TLS connection of a client shares: TLS 1.2 or later, the
// server's certificate checked against the trusted authorities: the
// system's store (Debian's ca-certificates; OpenSSL's SSL_CERT_FILE and
// SSL_CERT_DIR override it), or one file of authorities instead when given.

#include <QString>

struct ssl_ctx_st;

namespace vz {

class TlsContext {
public:
    // authoritiesFile: PEM certificates trusted instead of the system's
    // store; empty for the store. Raises TlsError when they cannot be read.
    explicit TlsContext(const QString& authoritiesFile);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    ssl_ctx_st* handle() const { return context_; }

    // The text of OpenSSL's most recent error on this thread (and clears
    // the queue); `fallback` when there is none.
    static QString TakeErrorText(const QString& fallback);

private:
    ssl_ctx_st* context_ = nullptr;
};

}  // namespace vz
