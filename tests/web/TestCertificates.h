#pragma once
// A certificate authority and server certificates made with the openssl
// command line into a temporary folder, for TLS tests against 127.0.0.1:
// one the authority signed for 127.0.0.1 and localhost, one it signed for
// another host, one it signed that expired long ago (openssl ca with a
// start and end date in 2000), and a self-signed one no store trusts. All
// server certificates share one key.

#include "tests/support/TempPrefix.h"

#include <QString>

namespace vz::test {

class TestCertificates {
public:
    TestCertificates();  // a test fails when openssl cannot make them

    bool ready() const { return ready_; }
    QString authority() const { return dir_.file(QStringLiteral("ca.pem")); }
    QString key() const { return dir_.file(QStringLiteral("server.key")); }
    QString server() const { return dir_.file(QStringLiteral("server.pem")); }
    QString otherHost() const { return dir_.file(QStringLiteral("other-host.pem")); }
    QString expired() const { return dir_.file(QStringLiteral("expired.pem")); }
    QString selfSigned() const { return dir_.file(QStringLiteral("self-signed.pem")); }
    // A second authority, unrelated to the first.
    QString otherAuthority() const { return dir_.file(QStringLiteral("other-ca.pem")); }

private:
    bool Openssl(const QStringList& arguments);
    bool Write(const QString& name, const QByteArray& text);

    TempDir dir_;
    bool ready_ = false;
};

}  // namespace vz::test
