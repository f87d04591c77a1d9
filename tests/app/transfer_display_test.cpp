// The transfer display and the progress mirror under it: rates and byte
// counts in the locale's number format, the bar limits, the mirror to the
// "Importar" page, long transfers on a manual clock, and painting at most
// once per frame with the last state always painted.

#include "app/MainWindowControls.h"
#include "app/ProgressMirror.h"
#include "app/TransferDisplay.h"
#include "tests/app/PaintCounter.h"
#include "tests/support/ManualClock.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

class CountingPump final : public EventPump {
public:
    int calls = 0;
    void ProcessPendingMessages() override { ++calls; }
};


RegionalSettings commaDecimals()
{
    RegionalSettings r = RegionalSettings::dayMonthYear();
    r.decimalSeparator = QLatin1Char(',');
    r.thousandSeparator = QLatin1Char('.');
    return r;
}

class TransferDisplayTest : public ::testing::Test {
protected:
    explicit TransferDisplayTest(RegionalSettings r = RegionalSettings::dayMonthYear()) : regional(std::move(r)) {}

    QWidget window;
    MainWindowControls c{&window};
    qint64 frameMs = 1000;
    ProgressMirror mirror{{c.lblProgressoExportacao, c.lblDestinoExportacao, c.pgbExportacao},
                          {c.lblProgressoImportacao, c.lblDestinoImportacao, c.pgbImportacao},
                          [this] { return frameMs; }};
    ManualClock clock;
    RegionalSettings regional;
    CountingPump pump;
    TransferDisplay display{mirror, clock, regional, pump};
    int antiFreezeSwitches = 0;

    void SetUp() override { display.setAntiFreezeSwitch([this] { ++antiFreezeSwitches; }); }

    void expectBothBars(qint64 maximum, qint64 position)
    {
        EXPECT_EQ(c.pgbExportacao->maximum(), maximum);
        EXPECT_EQ(c.pgbImportacao->maximum(), maximum);
        EXPECT_EQ(c.pgbExportacao->value(), position);
        EXPECT_EQ(c.pgbImportacao->value(), position);
    }
    void expectBothPages(const QString& progress, const QString& destination)
    {
        EXPECT_EQ(c.lblProgressoExportacao->text(), progress);
        EXPECT_EQ(c.lblProgressoImportacao->text(), progress);
        EXPECT_EQ(c.lblDestinoExportacao->text(), destination);
        EXPECT_EQ(c.lblDestinoImportacao->text(), destination);
    }
};

TEST_F(TransferDisplayTest, WorkBeginSetsTheBarLimitsOnlyAndSwitchesTheAntiFreezeOn)
{
    c.lblProgressoExportacao->setText(u"before"_qs);
    display.HttpClientWorkBegin(TransferDisplay::WorkWrite, 2097152);
    expectBothBars(2097152, 0);
    EXPECT_EQ(display.TransferTotal, 2097152u);
    EXPECT_EQ(display.TransferStart, clock.now());
    EXPECT_EQ(antiFreezeSwitches, 1);
    EXPECT_EQ(c.lblProgressoExportacao->text(), u"before"_qs);
    EXPECT_EQ(pump.calls, 0);

    display.HttpClientWorkBegin(TransferDisplay::WorkRead, 0);
    expectBothBars(0, 0);
    EXPECT_EQ(antiFreezeSwitches, 2);
}

TEST_F(TransferDisplayTest, AnUnknownSizeShowsInKilobytesUntilTheFirstWorkEvent)
{
    display.HttpClientWorkBegin(TransferDisplay::WorkRead, -1);
    EXPECT_EQ(display.TransferTotal, 4294967295u);
    expectBothBars(4194303, 0);
    clock.advanceMs(1000);
    display.HttpClientWork(TransferDisplay::WorkRead, 1024);
    expectBothBars(4294967295LL, 1024);
    expectBothPages(u"Taxa de Transferência: 1.00 KB/s"_qs, u"0,001.00 KB de 4,194,304.00 KB"_qs);
}

TEST_F(TransferDisplayTest, ReadingAndSendingShowTheirRateTexts)
{
    display.HttpClientWorkBegin(TransferDisplay::WorkRead, 2097152);
    // Same millisecond as the start: no rate yet.
    display.HttpClientWork(TransferDisplay::WorkRead, 1536);
    expectBothPages(u"Taxa de Transferência: 0.00 KB/s"_qs, u"0,001.50 KB de 2,048.00 KB"_qs);
    expectBothBars(2097152, 1536);

    clock.advanceMs(500);
    display.HttpClientWork(TransferDisplay::WorkWrite, 1048576);
    expectBothPages(u"Taxa de Transferência 2048.00 KB/s"_qs, u"1,024.00 KB de 2,048.00 KB"_qs);

    // An unknown mode leaves the first text as it was, and the mirror copies it.
    clock.advanceMs(500);
    c.lblProgressoImportacao->setText(u"other"_qs);
    display.HttpClientWork(7, 2097152);
    expectBothPages(u"Taxa de Transferência 2048.00 KB/s"_qs, u"2,048.00 KB de 2,048.00 KB"_qs);
    EXPECT_DOUBLE_EQ(display.TransferRate, 2048.0);
    EXPECT_EQ(pump.calls, 0);
}

class CommaLocaleTransferTest : public TransferDisplayTest {
protected:
    CommaLocaleTransferTest() : TransferDisplayTest(commaDecimals()) {}
};

TEST_F(CommaLocaleTransferTest, NumbersUseTheLocaleSeparators)
{
    display.HttpClientWorkBegin(TransferDisplay::WorkRead, 2097152);
    clock.advanceMs(250);
    display.HttpClientWork(TransferDisplay::WorkRead, 1536);
    expectBothPages(u"Taxa de Transferência: 6,00 KB/s"_qs, u"0.001,50 KB de 2.048,00 KB"_qs);
}

TEST_F(TransferDisplayTest, LongTransfersMeasureTheirWholeDuration)
{
    display.HttpClientWorkBegin(TransferDisplay::WorkRead, 100000000);
    clock.advanceMs(3 * 3600 * 1000.0);
    display.HttpClientWork(TransferDisplay::WorkRead, 1024 * 10800 * 2);
    EXPECT_EQ(c.lblProgressoExportacao->text(), u"Taxa de Transferência: 2.00 KB/s"_qs);

    display.HttpClientWorkBegin(TransferDisplay::WorkWrite, 100000000);
    clock.advanceMs(20 * 3600 * 1000.0);
    display.HttpClientWork(TransferDisplay::WorkWrite, 1024 * 72000);
    EXPECT_EQ(c.lblProgressoExportacao->text(), u"Taxa de Transferência 1.00 KB/s"_qs);

    // Milliseconds count: 1 KB over 1.5 s.
    display.HttpClientWorkBegin(TransferDisplay::WorkRead, 100000000);
    clock.advanceMs(1500);
    display.HttpClientWork(TransferDisplay::WorkRead, 1536);
    EXPECT_EQ(c.lblProgressoExportacao->text(), u"Taxa de Transferência: 1.00 KB/s"_qs);
}

TEST_F(TransferDisplayTest, CountsBeyond2GiBStayPositive)
{
    display.HttpClientWorkBegin(TransferDisplay::WorkRead, static_cast<qint32>(3221225472u));  // 3 GiB
    expectBothBars(3221225472LL / 1024, 0);
    clock.advanceMs(1000);
    display.HttpClientWork(TransferDisplay::WorkRead, static_cast<qint32>(2684354560u));  // 2.5 GiB
    expectBothBars(3221225472LL, 2684354560LL);
    expectBothPages(u"Taxa de Transferência: 2621440.00 KB/s"_qs, u"2,621,440.00 KB de 3,145,728.00 KB"_qs);
}

TEST_F(TransferDisplayTest, WorkEndCompletesBothPagesAndHandlesPendingEvents)
{
    display.HttpClientWorkBegin(TransferDisplay::WorkWrite, 4096);
    clock.advanceMs(10);
    display.HttpClientWork(TransferDisplay::WorkWrite, 2048);
    display.HttpClientWorkEnd(TransferDisplay::WorkWrite);
    expectBothPages(u"Transferência Completa"_qs, QString());
    expectBothBars(4096, 0);  // the bars keep their maximum
    EXPECT_EQ(display.TransferTotal, 0u);
    EXPECT_EQ(display.TransferRate, 0.0);
    EXPECT_EQ(pump.calls, 1);
}

TEST_F(TransferDisplayTest, UpdatesArePaintedAtOnceButAtMostOncePerFrame)
{
    window.show();
    QCoreApplication::processEvents();
    PaintCounter progress(c.lblProgressoExportacao), destination(c.lblDestinoExportacao), bar(c.pgbExportacao);
    const int before = mirror.paintCount();

    display.HttpClientWorkBegin(TransferDisplay::WorkRead, 1000000);
    clock.advanceMs(100);
    display.HttpClientWork(TransferDisplay::WorkRead, 10240);
    // Painted before any event is handled: one paint of everything that changed.
    EXPECT_EQ(mirror.paintCount(), before + 1);
    EXPECT_GE(progress.count, 1);
    EXPECT_GE(destination.count, 1);
    EXPECT_GE(bar.count, 1);

    // Within the same frame the widgets take every value but are not painted again.
    for (int i = 1; i <= 200; ++i)
        display.HttpClientWork(TransferDisplay::WorkRead, 10240 + i * 4096);
    EXPECT_EQ(mirror.paintCount(), before + 1);
    EXPECT_EQ(c.pgbImportacao->value(), 10240 + 200 * 4096);
    EXPECT_EQ(c.lblDestinoImportacao->text(), u"0,810.00 KB de 0,976.56 KB"_qs);

    // The last state is painted when the frame is over, without another update.
    frameMs += ProgressMirror::FrameMs;
    EXPECT_TRUE(QTest::qWaitFor([&] { return mirror.paintCount() == before + 2; }, 2000));

    // A value that does not change costs no paint at all.
    frameMs += 100;
    mirror.setProgressText(c.lblProgressoExportacao->text());
    mirror.setBar(c.pgbExportacao->maximum(), c.pgbExportacao->value());
    EXPECT_EQ(mirror.paintCount(), before + 2);
}

TEST_F(TransferDisplayTest, TheCopyEngineColourIsNavyOnBothBars)
{
    EXPECT_EQ(c.pgbExportacao->fillColor(), QColor(40, 211, 0));
    mirror.setBarColor(ProgressBar::Navy);
    EXPECT_EQ(c.pgbExportacao->fillColor(), QColor(0, 0, 128));
    EXPECT_EQ(c.pgbImportacao->fillColor(), QColor(0, 0, 128));
}

}  // namespace
