// Packaging and delivery: uploads accepted, refused and failed, the question
// and the save dialog, volume sets saved into a chosen folder (the drive root
// included), and sets of more than 99 numbered volumes. An archive file that
// did not arrive anywhere stays at the drive root and the run does not end
// as completed.

#include "archive/VolumeNaming.h"
#include "export/UndeliveredArchive.h"
#include "tests/e2e/RunTestKit.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

const QString Root = QStringLiteral("C:\\");
const QString RootArchive = Root + ArchiveFile;
const QString Saved = QStringLiteral("D:\\Copias\\");
std::vector<StepState> States(std::initializer_list<StepState> s) { return s; }

QString VolumeName(int index) { return VolumeNaming::SpanName(ArchiveFile, index); }  // 0 -> ".z01"

class DeliveryTest : public ::testing::Test {
protected:
    explicit DeliveryTest(PackagingOptions options = {}) : kit(options) {}
    void SetUp() override
    {
        ASSERT_TRUE(kit.service.running());
        kit.prepare(Before);
        QDir().mkpath(kit.station.host(Saved));
    }
    void expectTimestampsBack()
    {
        EXPECT_EQ(kit.settings.LastBackupDados, Before);
        EXPECT_EQ(kit.settings.LastBackupAudio, Before);
        EXPECT_EQ(kit.settings.LastBackupMusica, Before);
        EXPECT_EQ(kit.settings.saves, 0);
    }
    void expectCompleted()
    {
        EXPECT_EQ(kit.frame.exportSteps.all(), States({StepDone, StepDone, StepDone, StepDone, StepDone}));
        EXPECT_EQ(kit.settings.LastBackupDados, FirstNow - 1.0 / 86400000.0);  // just below the run's start
        EXPECT_EQ(kit.settings.saves, 1);
    }
    // Archive files at the drive root.
    QStringList rootArchives() const
    {
        return QDir(kit.station.host(Root)).entryList({Guid + QStringLiteral(".*")}, QDir::Files, QDir::Name);
    }

    static inline const Timestamp Before = FileTime - 1;
    DriverKit kit;
};

TEST_F(DeliveryTest, AnAcceptedUploadIsDeletedFromTheRootAndTheRunCompletes)
{
    kit.dialogs.answerMessage(ExportDriver::FinishedText);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    expectCompleted();
    EXPECT_TRUE(rootArchives().isEmpty());
    EXPECT_TRUE(kit.packaging.LocalSaveTarget.isEmpty());
    EXPECT_FALSE(kit.packaging.VolumeMode);
    EXPECT_FALSE(kit.antiFreeze.Active);
    // The service holds a one-volume set that starts with the split signature.
    QFile uploaded(kit.service.archivePath());
    ASSERT_TRUE(uploaded.open(QIODevice::ReadOnly));
    EXPECT_EQ(uploaded.read(8), QByteArray("PK\x07\x08PK\x03\x04", 8));
}

TEST_F(DeliveryTest, ARefusedUploadKeepsTheArchiveAndTheTimestamps)
{
    // The service cannot store the archive where a folder of its name stands: it answers "FALSE".
    QDir().mkpath(kit.service.archivePath());
    kit.dialogs.answerMessage(PackageAndDelivery::NotExportedMessage);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.exportSteps.all(), States({StepDone, StepDone, StepDone, StepDone, StepFailed}));
    EXPECT_EQ(rootArchives(), QStringList{ArchiveFile});
    EXPECT_FALSE(kit.station.fs.folderExists(QStringLiteral("C:\\Replicacao")));
    expectTimestampsBack();
}

TEST_F(DeliveryTest, AFailedUploadAnsweredNoEndsTheRunWithTheArchiveAtTheRoot)
{
    kit.service.stop();
    kit.dialogs.answerMessage(PackageAndDelivery::UploadFailedQuestion, ButtonNo);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    const MessageRequest& question = kit.dialogs.records().back().message;
    EXPECT_EQ(question.caption, QString());
    EXPECT_EQ(question.icon, DialogIcon::Question);
    EXPECT_EQ(question.buttons, quint32(ButtonYes | ButtonNo));
    EXPECT_EQ(kit.frame.exportSteps.at(4), StepFailed);
    EXPECT_EQ(rootArchives(), QStringList{ArchiveFile});
    EXPECT_FALSE(kit.station.fs.folderExists(QStringLiteral("C:\\Replicacao")));
    expectTimestampsBack();
}

TEST_F(DeliveryTest, WhatAnExportThatDidNotEndLeftAtTheRootGoesWithoutAQuestion)
{
    // Upload refused, the user answers No: the archive stays at the root...
    kit.service.stop();
    kit.dialogs.answerMessage(PackageAndDelivery::UploadFailedQuestion, ButtonNo);
    kit.runExport(AllCategories);
    ASSERT_EQ(rootArchives(), QStringList{ArchiveFile});
    // ...and a partly written volume of a build that was killed lies beside it.
    kit.station.put(Root + VolumeName(0), "PK\x07\x08 cortado");
    EXPECT_TRUE(kit.station.exists(Installation::ExeFolder + UndeliveredArchive::RecordName));

    // The next export removes both without asking (they hold nothing the
    // timestamps did not keep) and delivers its own archive.
    ServiceProcess service;
    ASSERT_TRUE(service.running());
    kit.settings.BaseUrl = service.baseUrl();
    kit.dialogs.answerMessage(ExportDriver::FinishedText);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone()) << kit.dialogs.messageTexts().join(u'\n').toStdString();
    expectCompleted();
    EXPECT_TRUE(rootArchives().isEmpty());
    EXPECT_TRUE(QFile::exists(service.archivePath()));
    EXPECT_FALSE(kit.station.exists(Installation::ExeFolder + UndeliveredArchive::RecordName));
}

TEST_F(DeliveryTest, AnArchiveTheUserKeptAtTheRootIsStillAskedAbout)
{
    // An archive file at the root that no export of this program left
    // undelivered: the build asks before replacing it, as it always did.
    kit.station.put(RootArchive, "guardado pelo usuário");
    kit.dialogs.setLenientMessages(true);  // No to the question, OK to the rest
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.messageTexts().join(u'\n').contains(QStringLiteral("overwrite")));
    EXPECT_EQ(kit.station.read(RootArchive), QByteArray("guardado pelo usuário"));
    EXPECT_FALSE(kit.station.exists(Installation::ExeFolder + UndeliveredArchive::RecordName));
    EXPECT_FALSE(QFile::exists(kit.service.archivePath()));
    expectTimestampsBack();
}

TEST_F(DeliveryTest, AFailedUploadAnsweredYesIsSavedIntoTheChosenFolder)
{
    kit.service.stop();
    kit.dialogs.answerMessage(PackageAndDelivery::UploadFailedQuestion, ButtonYes)
        .answerSave(Saved + QStringLiteral("qualquer nome.zip"))
        .answerMessage(ExportDriver::FinishedText);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    const FileDialogRequest& save = kit.dialogs.records().at(1).file;
    EXPECT_EQ(save.initialFileName, ArchiveFile);
    EXPECT_EQ(save.filter, QStringLiteral("Arquivo do Zuvavivevo|") + ArchiveFile);
    expectCompleted();
    EXPECT_TRUE(rootArchives().isEmpty());
    EXPECT_TRUE(kit.station.exists(Saved + ArchiveFile));  // under its own name, in the chosen folder
    EXPECT_EQ(kit.packaging.LocalSaveTarget, Saved + ArchiveFile);
}

TEST_F(DeliveryTest, ACancelledSaveDialogKeepsTheArchiveAndFailsTheDelivery)
{
    kit.service.stop();
    kit.dialogs.answerMessage(PackageAndDelivery::UploadFailedQuestion, ButtonYes)
        .answerSave(std::nullopt)
        .answerMessage(PackageAndDelivery::CancelledMessage)
        .answerMessage(PackageAndDelivery::NotExportedMessage);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.exportSteps.at(4), StepFailed);
    EXPECT_EQ(rootArchives(), QStringList{ArchiveFile});
    expectTimestampsBack();
}

// Small volumes, so that the installation makes a set.
class VolumeSetTest : public DeliveryTest {
protected:
    VolumeSetTest() : DeliveryTest(PackagingOptions{64 * 1024}) {}
    int volumesAtRoot() const { return int(rootArchives().size()); }
};

TEST_F(VolumeSetTest, ASetIsSavedIntoTheChosenFolderWithoutUploadOrFurtherQuestions)
{
    kit.dialogs.answerSave(Saved + ArchiveFile).answerMessage(ExportDriver::FinishedText);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    expectCompleted();
    EXPECT_FALSE(QFile::exists(kit.service.archivePath()));
    EXPECT_TRUE(rootArchives().isEmpty());
    const QStringList saved =
        QDir(kit.station.host(Saved)).entryList({Guid + QStringLiteral(".*")}, QDir::Files, QDir::Name);
    ASSERT_GE(saved.size(), 4);
    EXPECT_TRUE(saved.contains(ArchiveFile));
    EXPECT_TRUE(saved.contains(VolumeName(0)));
    EXPECT_EQ(QFileInfo(kit.station.host(Saved + VolumeName(0))).size(), 64 * 1024);
    EXPECT_TRUE(kit.packaging.VolumeMode);
    EXPECT_EQ(kit.packaging.LocalSaveTarget, Saved + VolumeName(int(saved.size()) - 2));
}

TEST_F(VolumeSetTest, SavingIntoTheDriveRootLeavesTheSetWhereItIs)
{
    // The folder typed in other letter case names the same folder.
    kit.dialogs.answerSave(QStringLiteral("c:\\") + ArchiveFile).answerMessage(ExportDriver::FinishedText);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    expectCompleted();
    EXPECT_GE(volumesAtRoot(), 4);
    EXPECT_TRUE(kit.station.exists(RootArchive));
}

TEST_F(VolumeSetTest, CancellingTheFirstSaveStopsTheDeliveryWithEveryVolumeAtTheRoot)
{
    kit.dialogs.answerSave(std::nullopt)
        .answerMessage(PackageAndDelivery::CancelledMessage)
        .answerMessage(PackageAndDelivery::NotExportedMessage);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());  // no further dialog, no copy to a folder nobody chose
    EXPECT_EQ(kit.frame.exportSteps.at(4), StepFailed);
    EXPECT_GE(volumesAtRoot(), 4);
    EXPECT_TRUE(kit.station.exists(RootArchive));
    EXPECT_TRUE(Installation::filesBelow(kit.station.host(Saved)).isEmpty());
    expectTimestampsBack();
}

TEST_F(VolumeSetTest, AVolumeThatCannotBeCopiedStaysAndTheOthersAreDelivered)
{
    // A folder where the second volume's copy should go makes that copy fail.
    QDir().mkpath(kit.station.host(Saved + VolumeName(1)));
    kit.dialogs.answerSave(Saved + ArchiveFile)
        .answerMessage(PackageAndDelivery::CopyFailedMessage)
        .answerMessage(PackageAndDelivery::NotExportedMessage);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.exportSteps.at(4), StepFailed);
    EXPECT_EQ(rootArchives(), QStringList{VolumeName(1)});
    EXPECT_TRUE(kit.station.exists(Saved + VolumeName(2)));
    expectTimestampsBack();
}

TEST_F(VolumeSetTest, AnErrorDuringAPassLeavesThatVolumeAndEveryLaterOneAtTheRoot)
{
    // A window event raises in the pass after the first file was delivered.
    kit.frame.onPump = [this] {
        if (kit.frame.exportProgress == PackageAndDelivery::DeliveringText && !kit.station.exists(RootArchive))
            throw Error(QStringLiteral("interrupted"));
    };
    kit.dialogs.answerSave(Saved + ArchiveFile);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_TRUE(kit.errors.isEmpty());
    EXPECT_TRUE(kit.dialogs.messageTexts().isEmpty());
    EXPECT_EQ(kit.frame.exportSteps.at(4), StepFailed);
    EXPECT_EQ(Installation::filesBelow(kit.station.host(Saved)), QStringList{ArchiveFile});
    const QStringList left = rootArchives();
    ASSERT_GE(left.size(), 3);
    QStringList expected;
    for (int i = 0; i < left.size(); ++i)
        expected << VolumeName(i);
    EXPECT_EQ(left, expected);
    expectTimestampsBack();
}

// Volumes of 8 KiB: a set of more than a hundred.
class LargeSetTest : public DeliveryTest {
protected:
    LargeSetTest() : DeliveryTest(PackagingOptions{8 * 1024}) {}
};

TEST_F(LargeSetTest, VolumesPastNinetyNineAreDeliveredWhole)
{
    // Incompressible: about 115 volumes.
    kit.station.put(Installation::SystemFolder + QStringLiteral("Trilhas\\longa.mp3"), Noise(900 * 1024, 99));
    kit.dialogs.answerSave(Saved + ArchiveFile).answerMessage(ExportDriver::FinishedText);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    expectCompleted();
    EXPECT_TRUE(rootArchives().isEmpty());
    EXPECT_TRUE(kit.station.exists(Saved + VolumeName(99)));   // ".z100"
    EXPECT_TRUE(kit.station.exists(Saved + VolumeName(100)));  // ".z101"
    EXPECT_EQ(VolumeName(99), Guid + QStringLiteral(".z100"));
}

}  // namespace
