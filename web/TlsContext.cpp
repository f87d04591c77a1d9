#include "web/TlsContext.h"

#include "web/HttpErrors.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace vz {

QString TlsContext::TakeErrorText(const QString& fallback) {
    unsigned long last = 0;
    while (const unsigned long e = ERR_get_error()) last = e;
    if (last == 0) return fallback;
    const char* reason = ERR_reason_error_string(last);
    return reason ? QString::fromLatin1(reason) : fallback;
}

TlsContext::TlsContext(const QString& authoritiesFile) {
    ERR_clear_error();
    context_ = SSL_CTX_new(TLS_client_method());
    if (!context_)
        throw TlsError(QStringLiteral("TLS unavailable: ") + TakeErrorText(QStringLiteral("no context")));
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    // A server that closes without close_notify ends the stream as a TCP
    // close does; the body's announced length still tells a cut.
    SSL_CTX_set_options(context_, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    // Whole records and more per receive: fewer system calls on a download.
    SSL_CTX_set_read_ahead(context_, 1);
    SSL_CTX_set_default_read_buffer_len(context_, 64 * 1024);
    const QByteArray file = authoritiesFile.toLocal8Bit();
    const bool loaded = authoritiesFile.isEmpty()
                            ? SSL_CTX_set_default_verify_paths(context_) == 1
                            : SSL_CTX_load_verify_locations(context_, file.constData(), nullptr) == 1;
    if (!loaded) {
        const QString why = TakeErrorText(QStringLiteral("unreadable"));
        SSL_CTX_free(context_);
        context_ = nullptr;
        throw TlsError(authoritiesFile.isEmpty()
                           ? QStringLiteral("TLS: the system's certificate store cannot be read: ") + why
                           : QStringLiteral("TLS: the certificate authorities in %1 cannot be read: %2")
                                 .arg(authoritiesFile, why));
    }
}

TlsContext::~TlsContext() { SSL_CTX_free(context_); }

}  // namespace vz
