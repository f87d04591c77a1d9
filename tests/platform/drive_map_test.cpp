// Windows path text rules and the Wine-style drive map, on real prefixes.

#include "platform/DriveMap.h"
#include "platform/FileSystem.h"
#include "platform/WindowsPath.h"
#include "tests/support/TempPrefix.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace vz {
namespace {

using test::TempDir;
using test::TempPrefix;
using test::writeFile;

QString S(const char* text) { return QString::fromUtf8(text); }

TEST(WindowsPath, TextRules)
{
    EXPECT_EQ(IncludeTrailingBackslash(S("C:\\Vireo")), S("C:\\Vireo\\"));
    EXPECT_EQ(IncludeTrailingBackslash(S("C:\\Vireo\\")), S("C:\\Vireo\\"));
    EXPECT_EQ(IncludeTrailingBackslash(QString()), QString());
    EXPECT_EQ(ExcludeTrailingBackslash(S("C:\\Replicacao\\")), S("C:\\Replicacao"));
    EXPECT_EQ(ExcludeTrailingBackslash(S("C:\\Replicacao")), S("C:\\Replicacao"));

    EXPECT_EQ(ExtractFilePath(S("C:\\Vireo\\Vireo Cast\\app.exe")), S("C:\\Vireo\\Vireo Cast\\"));
    EXPECT_EQ(ExtractFileName(S("C:\\Vireo\\Vireo Cast\\app.exe")), S("app.exe"));
    EXPECT_EQ(ExtractFilePath(S("C:app.exe")), S("C:"));
    EXPECT_EQ(ExtractFileName(S("C:app.exe")), S("app.exe"));
    EXPECT_EQ(ExtractFilePath(S("app.exe")), QString());
    EXPECT_EQ(ExtractFileName(S("app.exe")), S("app.exe"));

    EXPECT_EQ(ExtractDrive(S("C:\\Vireo")), S("C:"));
    EXPECT_EQ(ExtractDrive(S("c:")), S("c:"));
    EXPECT_EQ(ExtractDrive(S("\\\\srv\\musica\\Rock\\")), S("\\\\srv\\musica"));
    EXPECT_EQ(ExtractDrive(S("\\\\srv\\musica")), S("\\\\srv\\musica"));
    EXPECT_EQ(ExtractDrive(S("\\\\srv")), QString());
    EXPECT_EQ(ExtractDrive(S("musica:\\Rock\\")), QString());
    EXPECT_EQ(ExtractDrive(S("\\Vireo")), QString());

    EXPECT_EQ(PathWithoutDrive(S("C:\\a\\b")), S("a/b"));
    EXPECT_EQ(PathWithoutDrive(S("C:\\a\\b\\")), S("a/b/"));
    EXPECT_EQ(PathWithoutDrive(S("\\\\srv\\share\\a")), S("a"));
    EXPECT_EQ(PathWithoutDrive(S("C:\\")), QString());
}

TEST(DriveMap, LettersFromDosdevices)
{
    TempPrefix prefix(S("cd"));
    const DriveMap map = prefix.driveMap();
    EXPECT_EQ(map.prefix(), prefix.path());
    const QString c = prefix.drive(S("c"));
    EXPECT_EQ(map.toHost(S("C:\\Vireo\\Vireo Cast\\")), c + S("/Vireo/Vireo Cast"));
    EXPECT_EQ(map.toHost(S("c:\\Vireo")), c + S("/Vireo"));
    EXPECT_EQ(map.toHost(S("C:\\")), c);
    EXPECT_EQ(map.toHost(S("C:")), c);
    EXPECT_EQ(map.toHost(S("D:\\Musicas\\Rock\\")), prefix.drive(S("d")) + S("/Musicas/Rock"));

    // Drives the map lacks, and texts that are no absolute Windows path.
    EXPECT_FALSE(map.toHost(S("E:\\x")));
    EXPECT_FALSE(map.toHost(S("musica:\\Rock\\")));
    EXPECT_FALSE(map.toHost(S("Vireo\\x")));
    EXPECT_FALSE(map.toHost(S("\\Vireo")));
    EXPECT_FALSE(map.toHost(QString()));
    EXPECT_FALSE(map.toHost(S("1:\\x")));

    EXPECT_EQ(map.toWindows(c + S("/Vireo/app.exe")), S("C:\\Vireo\\app.exe"));
    EXPECT_EQ(map.toWindows(c), S("C:\\"));
    EXPECT_FALSE(map.toWindows(S("/usr/bin")));
    EXPECT_TRUE(map.isDriveRoot(c));
    EXPECT_FALSE(map.isDriveRoot(c + S("/Vireo")));
}

TEST(DriveMap, DotsAndTrailingBlanksAreWindowsNormalized)
{
    TempPrefix prefix;
    const DriveMap map = prefix.driveMap();
    const QString c = prefix.drive(S("c"));
    EXPECT_EQ(map.toHost(S("C:\\a\\..\\b\\.\\c")), c + S("/b/c"));
    EXPECT_EQ(map.toHost(S("C:\\..\\..\\Vireo")), c + S("/Vireo"));  // never above the drive
    EXPECT_EQ(map.toHost(S("C:\\Vireo. \\x.txt.")), c + S("/Vireo/x.txt"));
    EXPECT_EQ(map.toHost(S("C:/Vireo/x")), c + S("/Vireo/x"));
    EXPECT_EQ(map.toHost(S("C:\\Vireo\\\\x\\")), c + S("/Vireo/x"));
}

TEST(DriveMap, UncSharesAndMissingOnes)
{
    TempPrefix prefix;
    const QString share = prefix.addShare(S("srv"), S("musica"));
    QDir().mkpath(share + S("/Rock"));
    const DriveMap map = prefix.driveMap();
    const QString canonicalShare = hostfs::canonicalPath(share);
    EXPECT_EQ(map.toHost(S("\\\\srv\\musica\\Rock\\")), canonicalShare + S("/Rock"));
    EXPECT_EQ(map.toHost(S("\\\\SRV\\Musica\\rock")), canonicalShare + S("/Rock"));
    EXPECT_EQ(map.toHost(S("\\\\srv\\musica")), canonicalShare);
    EXPECT_FALSE(map.toHost(S("\\\\srv\\outra\\Rock")));
    EXPECT_FALSE(map.toHost(S("\\\\outro\\musica")));
    EXPECT_FALSE(map.toHost(S("\\\\srv")));
    EXPECT_EQ(map.toWindows(canonicalShare + S("/Rock")), S("\\\\srv\\musica\\Rock"));
    EXPECT_EQ(map.toWindows(canonicalShare), S("\\\\srv\\musica"));

    // Through FileSystem a missing drive or share finds nothing and makes nothing.
    FileSystem fs(map);
    int visited = 0;
    EXPECT_FALSE(fs.listFolder(S("E:\\"), [&](const DirEntry&) { return ++visited, true; }));
    EXPECT_FALSE(fs.listFolder(S("\\\\srv\\outra\\"), [&](const DirEntry&) { return ++visited, true; }));
    EXPECT_EQ(visited, 0);
    EXPECT_FALSE(fs.createFolders(S("E:\\Replicacao")));
    EXPECT_FALSE(fs.writeFile(S("E:\\x.txt"), "x"));
    EXPECT_FALSE(fs.fileExists(S("E:\\x.txt")));
    EXPECT_FALSE(fs.folderExists(S("musica:\\Rock\\")));
    EXPECT_TRUE(fs.createFolders(S("\\\\srv\\musica\\Pop\\Anos 80")));
    EXPECT_TRUE(QFileInfo(share + S("/Pop/Anos 80")).isDir());
}

TEST(DriveMap, DanglingAndDeviceEntriesAreNoDrives)
{
    TempPrefix prefix;
    ASSERT_TRUE(QFile::link(S("../nowhere"), prefix.path() + S("/dosdevices/e:")));
    ASSERT_TRUE(QFile::link(S("/dev/null"), prefix.path() + S("/dosdevices/c::")));
    const DriveMap map = prefix.driveMap();
    EXPECT_FALSE(map.toHost(S("E:\\")));
    EXPECT_TRUE(map.toHost(S("C:\\")));
}

TEST(DriveMap, RootOnlyFallback)
{
    const DriveMap map = DriveMap::rootOnly();
    EXPECT_TRUE(map.prefix().isEmpty());
    EXPECT_EQ(map.toHost(S("Z:\\")), S("/"));
    EXPECT_EQ(map.toHost(S("z:\\etc\\hostname")), S("/etc/hostname"));
    EXPECT_FALSE(map.toHost(S("C:\\Vireo")));
    TempDir dir;
    EXPECT_EQ(map.toWindows(dir.file(S("a/b.txt"))), S("Z:") + QString(dir.path()).replace(QLatin1Char('/'), QLatin1Char('\\')) + S("\\a\\b.txt"));
    EXPECT_EQ(map.toWindows(S("/")), S("Z:\\"));

    // An executable with no prefix above it gets the same map.
    const DriveMap forExe = DriveMap::forExecutable(dir.file(S("bin/vireo")));
    EXPECT_TRUE(forExe.prefix().isEmpty());
    EXPECT_EQ(forExe.toHost(S("Z:\\")), S("/"));
}

TEST(DriveMap, ExecutableFindsItsPrefixAndDeepestDriveWins)
{
    TempPrefix prefix;
    // Wine's usual z: -> / alongside c:.
    ASSERT_TRUE(QFile::link(S("/"), prefix.path() + S("/dosdevices/z:")));
    const QString exe = writeFile(prefix.drive(S("c")) + S("/Vireo/Replicador/VireoReplicador"), "elf");
    const DriveMap map = DriveMap::forExecutable(exe);
    EXPECT_EQ(map.prefix(), prefix.path());
    EXPECT_EQ(map.toWindows(exe), S("C:\\Vireo\\Replicador\\VireoReplicador"));
    EXPECT_EQ(map.toWindows(S("/usr/bin")), S("Z:\\usr\\bin"));
    EXPECT_EQ(map.toHost(S("Z:\\usr")), S("/usr"));

    // A host path reached through a link resolves to where it lies.
    ASSERT_TRUE(QFile::link(prefix.drive(S("c")) + S("/Vireo"), prefix.path() + S("/vireo-link")));
    EXPECT_EQ(map.toWindows(prefix.path() + S("/vireo-link/Replicador")), S("C:\\Vireo\\Replicador"));
}

TEST(DriveMap, CaseInsensitiveResolution)
{
    TempPrefix prefix;
    const QString c = prefix.drive(S("c"));
    writeFile(c + S("/Vireo/Vireo Cast/VireoReplicador.ini"), "[CONFIG]\n");
    const DriveMap map = prefix.driveMap();

    EXPECT_EQ(map.toHost(S("C:\\VIREO\\vireo cast\\vireoreplicador.INI")), c + S("/Vireo/Vireo Cast/VireoReplicador.ini"));
    // Missing parts keep the case given; existing ones take the disk's.
    EXPECT_EQ(map.toHost(S("c:\\vireo\\Replicacao\\C\\Dados")), c + S("/Vireo/Replicacao/C/Dados"));
    FileSystem fs(map);
    EXPECT_TRUE(fs.fileExists(S("C:\\vireo\\VIREO CAST\\VireoReplicador.ini")));
    EXPECT_TRUE(fs.folderExists(S("C:\\VIREO\\")));
    EXPECT_FALSE(fs.folderExists(S("C:\\vireo\\vireo cast\\vireoreplicador.ini")));  // a file is no folder
    EXPECT_TRUE(fs.createFolders(S("C:\\VIREO\\Novo\\Sub")));
    EXPECT_TRUE(QFileInfo(c + S("/Vireo/Novo/Sub")).isDir());
    EXPECT_FALSE(QFileInfo::exists(c + S("/VIREO")));

    // The exact name wins over another case of it.
    QDir().mkpath(c + S("/musica"));
    QDir().mkpath(c + S("/MUSICA"));
    EXPECT_EQ(map.toHost(S("C:\\MUSICA")), c + S("/MUSICA"));
    EXPECT_EQ(map.toHost(S("C:\\musica")), c + S("/musica"));
    const QString other = map.toHost(S("C:\\Musica")).value();
    EXPECT_TRUE(other == c + S("/MUSICA") || other == c + S("/musica")) << other.toStdString();

    EXPECT_EQ(DriveMap::resolveChild(c, S("vireo")), c + S("/Vireo"));
    EXPECT_EQ(DriveMap::resolveChild(c + S("/Vireo"), S("Nada.txt")), c + S("/Vireo/Nada.txt"));
    EXPECT_EQ(DriveMap::resolveChild(S("/"), S("ETC")), S("/etc"));
}

TEST(DriveMap, NonAsciiNamesMatchWithoutCase)
{
    TempPrefix prefix;
    const QString c = prefix.drive(S("c"));
    writeFile(c + S("/Programação/Músicas.txt"), "x");
    const DriveMap map = prefix.driveMap();
    EXPECT_EQ(map.toHost(S("C:\\PROGRAMAÇÃO\\MÚSICAS.TXT")), c + S("/Programação/Músicas.txt"));
}

}  // namespace
}  // namespace vz
