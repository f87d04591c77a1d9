#include "web/TlsChannel.h"

#include "platform/Socket.h"
#include "web/HttpErrors.h"
#include "web/TlsContext.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>

namespace vz {

namespace {

// A BIO over vz::Socket: writes block as the plain client's do, reads never
// wait (the caller waits, pumping the window).
int bioWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    return static_cast<TlsChannel*>(BIO_get_data(bio))->WriteRaw(data, length);
}

int bioRead(BIO* bio, char* data, int length) {
    BIO_clear_retry_flags(bio);
    bool wouldBlock = false;
    const int n = static_cast<TlsChannel*>(BIO_get_data(bio))->ReadRaw(data, length, wouldBlock);
    if (wouldBlock) BIO_set_retry_read(bio);
    return n;
}

long bioControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* socketMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vz socket");
        BIO_meth_set_write(m, bioWrite);
        BIO_meth_set_read(m, bioRead);
        BIO_meth_set_ctrl(m, bioControl);
        BIO_meth_set_create(m, bioCreate);
        return m;
    }();
    return method;
}

}  // namespace

TlsChannel::TlsChannel(TlsContext& context, Socket& socket) : socket_(socket) {
    ERR_clear_error();
    ssl_ = SSL_new(context.handle());
    BIO* bio = ssl_ ? BIO_new(socketMethod()) : nullptr;
    if (!bio) {
        SSL_free(ssl_);
        ssl_ = nullptr;
        throw TlsError(QStringLiteral("TLS unavailable: ") + TlsContext::TakeErrorText(QStringLiteral("no session")));
    }
    BIO_set_data(bio, this);
    SSL_set_bio(ssl_, bio, bio);
}

int TlsChannel::WriteRaw(const char* data, int length) {
    const qint64 n = socket_.Send(data, length);
    if (n < 0) ioError_ = socket_.lastError();
    return n < 0 ? -1 : int(n);
}

int TlsChannel::ReadRaw(char* data, int length, bool& wouldBlock) {
    const qint64 n = socket_.ReceiveNow(data, length);
    wouldBlock = n < 0 && Socket::IsWouldBlock(socket_.lastError());
    if (n < 0 && !wouldBlock) ioError_ = socket_.lastError();
    return n < 0 ? -1 : int(n);
}

TlsChannel::~TlsChannel() { SSL_free(ssl_); }

void TlsChannel::Raise(int sslError, const QString& prefix) {
    if (sslError == SSL_ERROR_SYSCALL) {
        ERR_clear_error();
        const int number = ioError_;
        // A close in the middle of a record, with no system error behind it.
        if (number == 0) throw TlsError(prefix + QStringLiteral("the connection was closed"));
        throw SocketError(number);
    }
    QString reason;
    const long verified = SSL_get_verify_result(ssl_);
    if (verified != X509_V_OK) {
        ERR_clear_error();
        reason = QString::fromLatin1(X509_verify_cert_error_string(verified));
    } else {
        reason = TlsContext::TakeErrorText(QStringLiteral("error %1").arg(sslError));
    }
    throw TlsError(prefix + reason);
}

void TlsChannel::Handshake(const QString& host, const Wait& waitReadable, int limitMs) {
    const QString failed = QStringLiteral("TLS handshake failed: ");
    ERR_clear_error();
    const QByteArray name = host.toUtf8();
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, name.constData(), &v4) == 1 || inet_pton(AF_INET6, name.constData(), &v6) == 1) {
        // An address is checked against the certificate's IP entries; it
        // names no server for SNI.
        if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), name.constData()) != 1)
            throw TlsError(failed + QStringLiteral("cannot check the address ") + host);
    } else {
        SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (SSL_set1_host(ssl_, name.constData()) != 1 || SSL_set_tlsext_host_name(ssl_, name.constData()) != 1)
            throw TlsError(failed + QStringLiteral("cannot check the host name ") + host);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        ioError_ = 0;
        const int rc = SSL_connect(ssl_);
        if (rc == 1) return;
        const int error = SSL_get_error(ssl_, rc);
        if (error != SSL_ERROR_WANT_READ) Raise(error, failed);
        const qint64 leftMs =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (leftMs <= 0) throw TlsError(failed + QStringLiteral("timed out"));
        const int waited = waitReadable(int(std::min<qint64>(leftMs, INT_MAX)));
        if (waited < 0) throw SocketError(socket_.lastError());
        if (waited == 0) throw TlsError(failed + QStringLiteral("timed out"));
    }
}

qint64 TlsChannel::ReceiveNow(char* into, qint64 maxBytes) {
    ERR_clear_error();
    size_t got = 0;
    ioError_ = 0;
    const int rc = SSL_read_ex(ssl_, into, size_t(std::min<qint64>(maxBytes, INT_MAX)), &got);
    if (rc == 1) return qint64(got);
    const int error = SSL_get_error(ssl_, rc);
    if (error == SSL_ERROR_WANT_READ) return -1;
    if (error == SSL_ERROR_ZERO_RETURN) return 0;
    Raise(error, QStringLiteral("TLS error: "));
}

bool TlsChannel::HasBufferedInput() const { return SSL_has_pending(ssl_) == 1; }

void TlsChannel::SendAll(const char* data, qint64 count, const Wait& waitReadable) {
    while (count > 0) {
        ERR_clear_error();
        size_t sent = 0;
        ioError_ = 0;
        const int rc = SSL_write_ex(ssl_, data, size_t(std::min<qint64>(count, INT_MAX)), &sent);
        if (rc == 1) {
            data += sent;
            count -= qint64(sent);
            continue;
        }
        const int error = SSL_get_error(ssl_, rc);
        // Only a message the server sends in between (a key update) has the
        // write wait for input.
        if (error != SSL_ERROR_WANT_READ) Raise(error, QStringLiteral("TLS error: "));
        if (waitReadable(-1) < 0) throw SocketError(socket_.lastError());
    }
}

}  // namespace vz
