#include "tests/web/TestCertificates.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

namespace vz::test {

namespace {
const QStringList NewKey{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
const QByteArray ServerExtensions = "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
}  // namespace

bool TestCertificates::Openssl(const QStringList& arguments) {
    QProcess openssl;
    openssl.setWorkingDirectory(dir_.path());
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        ADD_FAILURE() << "openssl " << arguments.join(QLatin1Char(' ')).toStdString() << ": "
                      << openssl.readAllStandardError().toStdString();
        return false;
    }
    return true;
}

bool TestCertificates::Write(const QString& name, const QByteArray& text) {
    QFile file(dir_.file(name));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

TestCertificates::TestCertificates() {
    const auto authority = [this](const QString& name) {
        return Openssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + NewKey +
                       QStringList{QStringLiteral("-keyout"), name + QStringLiteral(".key"), QStringLiteral("-out"),
                                   name + QStringLiteral(".pem"), QStringLiteral("-days"), QStringLiteral("3650"),
                                   QStringLiteral("-subj"), QStringLiteral("/CN=Vireo Test ") + name});
    };
    // Signed by the authority for the names in `altNames`.
    const auto signedFor = [this](const QString& name, const QByteArray& altNames, int serial) {
        return Write(name + QStringLiteral(".ext"), "subjectAltName=" + altNames + "\n" + ServerExtensions) &&
               Openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("server.csr"),
                        QStringLiteral("-CA"), QStringLiteral("ca.pem"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                        QStringLiteral("-set_serial"), QString::number(serial), QStringLiteral("-days"),
                        QStringLiteral("3650"), QStringLiteral("-extfile"), name + QStringLiteral(".ext"),
                        QStringLiteral("-out"), name + QStringLiteral(".pem")});
    };
    // openssl ca is the tool that takes a start and an end date; it needs a
    // small database of what it issued.
    const QByteArray caConfig =
        "[ca]\ndefault_ca = test\n"
        "[test]\ndatabase = issued/index.txt\nnew_certs_dir = issued\ncertificate = ca.pem\nprivate_key = ca.key\n"
        "serial = issued/serial\ndefault_md = sha256\npolicy = any\nx509_extensions = server\n"
        "[any]\ncommonName = supplied\n"
        "[server]\nsubjectAltName = IP:127.0.0.1,DNS:localhost\n" + ServerExtensions;
    ready_ = authority(QStringLiteral("ca")) && authority(QStringLiteral("other-ca")) &&
             Openssl(QStringList{QStringLiteral("req"), QStringLiteral("-new")} + NewKey +
                     QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                                 QStringLiteral("server.csr"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")}) &&
             signedFor(QStringLiteral("server"), "IP:127.0.0.1,DNS:localhost", 2) &&
             signedFor(QStringLiteral("other-host"), "IP:10.9.8.7,DNS:elsewhere.example", 3) &&
             Openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-key"), QStringLiteral("server.key"),
                      QStringLiteral("-out"), QStringLiteral("self-signed.pem"), QStringLiteral("-days"),
                      QStringLiteral("3650"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                      QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost")}) &&
             QDir(dir_.path()).mkdir(QStringLiteral("issued")) && Write(QStringLiteral("issued/index.txt"), {}) &&
             Write(QStringLiteral("issued/serial"), "04\n") && Write(QStringLiteral("ca.cnf"), caConfig) &&
             Openssl({QStringLiteral("ca"), QStringLiteral("-batch"), QStringLiteral("-notext"), QStringLiteral("-config"), QStringLiteral("ca.cnf"),
                      QStringLiteral("-in"), QStringLiteral("server.csr"), QStringLiteral("-startdate"),
                      QStringLiteral("20000101000000Z"), QStringLiteral("-enddate"), QStringLiteral("20000102000000Z"),
                      QStringLiteral("-out"), QStringLiteral("expired.pem")});
    if (!ready_) ADD_FAILURE() << "the test certificates could not be made in " << dir_.path().toStdString();
}

}  // namespace vz::test
