// An export and an import through the real window (offscreen) with the
// replication service reached over HTTPS: the service serves a certificate
// of a test authority, and the program trusts that authority only through
// OpenSSL's SSL_CERT_FILE, as a station with a private authority would.
// A certificate the program cannot trust is a connection failure to the
// runs: nothing reaches the service.

#include "app/MainWindow.h"
#include "app/RunWiring.h"
#include "export/PackageAndDelivery.h"
#include "tests/e2e/RunTestKit.h"
#include "tests/web/TestCertificates.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

// One installation with its window and the runs attached as main() attaches
// them, built for the service's https address.
struct Station {
    Station(const QString& serviceBaseUrl, bool full)
    {
        if (full)
            installation.populate();
        else
            installation.populateEmpty();
        databases = std::make_unique<AutomationDatabases>(installation.fs);
        window = std::make_unique<MainWindow>(MainWindowServices{
            installation.fs, clock, RegionalSettings::dayMonthYear(), dialogs, *databases,
            Installation::ExeFolder + QStringLiteral("vireo-zuvavivevo"), serviceBaseUrl, [] { return true; }});
        runs = std::make_unique<RunWiring>(*window, sibling);
    }
    ~Station()
    {
        runs.reset();
        window.reset();
    }
    QString settingsText() const
    {
        return QString::fromLatin1(installation.read(Installation::ExeFolder + QStringLiteral("VireoReplicador.ini")));
    }

    Installation installation;
    ManualClock clock{FirstNow};
    ScriptedDialogs dialogs;
    QStringList events;
    RecordingSibling sibling{events};
    std::unique_ptr<AutomationDatabases> databases;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<RunWiring> runs;
};

class TlsRoundTripTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(certificates.ready());
        ASSERT_TRUE(service.running());
        qputenv("SSL_CERT_FILE", certificates.authority().toLocal8Bit());
    }
    void TearDown() override { qunsetenv("SSL_CERT_FILE"); }
    QString baseUrl() const { return QStringLiteral("https://127.0.0.1:%1/Zuvavivevo/").arg(service.host().section(u':', 1)); }

    TestCertificates certificates;
    ServiceProcess service{{QStringLiteral("--tls-cert"), certificates.server(), QStringLiteral("--tls-key"),
                            certificates.key()}};
};

TEST_F(TlsRoundTripTest, AFullExportAndItsImportOverHttpsRestoreEveryFile)
{
    Station a(baseUrl(), true);
    const QMap<QString, FileState> exported = a.installation.exportedFiles();
    a.window->controls().chkGeral->click();
    a.dialogs.cancelInput().answerMessage(ExportDriver::FinishedText);  // first run: everything
    a.window->btnIniciarExportacaoClick();
    ASSERT_TRUE(a.dialogs.scriptDone()) << a.dialogs.messageTexts().join(u'\n').toStdString();
    ASSERT_TRUE(QFile::exists(service.archivePath()));

    Station b(baseUrl(), false);
    b.clock.set(LocalTime(2090, 6, 1, 12));
    b.dialogs.answerMessage(ImportDriver::FinishedText);
    b.window->btnIniciarImportacaoClick();
    ASSERT_TRUE(b.dialogs.scriptDone()) << b.dialogs.messageTexts().join(u'\n').toStdString();
    int compared = 0;
    for (auto it = exported.begin(); it != exported.end(); ++it) {
        if (it.key().startsWith(QStringLiteral("\\\\")))
            continue;  // a share is not restored
        EXPECT_EQ(b.installation.read(it.key()), it.value().bytes) << it.key().toStdString();
        ++compared;
    }
    EXPECT_EQ(compared, 17);
    // The service was asked over the same channel to drop its copy.
    EXPECT_FALSE(QFile::exists(service.archivePath()));
    EXPECT_EQ(b.window->controls().lblProgressoImportacao->text(),
              QStringLiteral("Importação finalizada as 01/06/2090 12:00:00"));
}

TEST_F(TlsRoundTripTest, AServiceWhoseCertificateIsNotTrustedIsAServiceThatCannotBeReached)
{
    // The store names another authority: the upload fails as an
    // unreachable service does, and the user declines the local copy.
    qputenv("SSL_CERT_FILE", certificates.otherAuthority().toLocal8Bit());
    Station a(baseUrl(), true);
    a.window->controls().chkGeral->click();
    a.dialogs.cancelInput().answerMessage(PackageAndDelivery::UploadFailedQuestion, ButtonNo);
    a.window->btnIniciarExportacaoClick();
    ASSERT_TRUE(a.dialogs.scriptDone()) << a.dialogs.messageTexts().join(u'\n').toStdString();
    EXPECT_FALSE(QFile::exists(service.archivePath()));
    EXPECT_FALSE(a.settingsText().contains(QStringLiteral("dados=01/06/2090")));
}

}  // namespace
