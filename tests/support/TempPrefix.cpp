#include "tests/support/TempPrefix.h"

#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace vz::test {

TempDir::TempDir()
{
    QByteArray name = hostfs::encodeName(hostfs::tempFolder()) + "/vz-test-XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary folder " << name.constData() << ": " << std::strerror(errno);
        return;
    }
    // Canonical, so comparisons with resolved paths hold.
    path_ = hostfs::canonicalPath(hostfs::decodeName(name));
}

TempDir::~TempDir()
{
    if (path_.isEmpty())
        return;
    // hostfs::removeTree works on the encoded bytes, never follows links and
    // opens up folders without write or search permission.
    const bool removed = hostfs::removeTree(path_);
    struct stat st;
    const bool left = ::lstat(hostfs::encodeName(path_).constData(), &st) == 0;
    if (!removed || left)
        ADD_FAILURE() << "the temporary folder " << hostfs::encodeName(path_).constData() << " was not removed";
}

TempPrefix::TempPrefix(const QString& letters)
{
    QDir root(dir_.path());
    EXPECT_TRUE(root.mkpath(QStringLiteral("dosdevices")));
    for (QChar c : letters) {
        const QString letter = QString(c).toLower();
        const QString folder = QStringLiteral("drive_") + letter;
        EXPECT_TRUE(root.mkpath(folder));
        EXPECT_TRUE(QFile::link(QStringLiteral("../") + folder,
                                dir_.path() + QStringLiteral("/dosdevices/") + letter + QLatin1Char(':')));
    }
}

QString TempPrefix::drive(const QString& letter) const
{
    return dir_.path() + QStringLiteral("/drive_") + letter.toLower();
}

QString TempPrefix::addShare(const QString& server, const QString& share)
{
    const QString folder = dir_.path() + QStringLiteral("/dosdevices/unc/") + server + QLatin1Char('/') + share;
    EXPECT_TRUE(QDir().mkpath(folder));
    return folder;
}

QString writeFile(const QString& hostPath, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(hostPath).path());
    QFile f(hostPath);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << hostPath.toStdString();
    EXPECT_EQ(f.write(bytes), bytes.size());
    return hostPath;
}

QByteArray readFile(const QString& hostPath)
{
    QFile f(hostPath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void setMTime(const QString& hostPath, qint64 unixMs)
{
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(unixMs / 1000);
    times[0].tv_nsec = static_cast<long>((unixMs % 1000) * 1000000);
    times[1] = times[0];
    EXPECT_EQ(utimensat(AT_FDCWD, QFile::encodeName(hostPath).constData(), times, 0), 0);
}

}  // namespace vz::test
