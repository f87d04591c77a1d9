#include "platform/ProfileFile.h"

#include "platform/Cp1252.h"
#include "platform/FileSystem.h"

#include <QStringList>

#include <optional>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>

namespace vz {

namespace {

constexpr qsizetype MaxValueChars = 2047;

QStringList readLines(const QString& hostPath, bool* exists)
{
    HostFile file = HostFile::openRead(hostPath, ShareMode::All);
    *exists = file.isOpen();
    if (!*exists)
        return {};
    QByteArray bytes;
    char block[8192];
    for (qint64 n; (n = file.read(block, sizeof block)) > 0;)
        bytes.append(block, n);
    const QString text = DecodeCp1252(bytes);
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    // A final line end leaves one empty piece that is not a line.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The section name of a "[name]" line, or nothing.
std::optional<QString> sectionOf(const QString& line)
{
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return std::nullopt;
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    return (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
}

// The key of a "key=value" line, or nothing.
std::optional<QString> keyOf(const QString& line)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return std::nullopt;
    return line.left(eq).trimmed();
}

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QString unquoted(QString value)
{
    value = value.trimmed();
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && value.back() == first)
            value = value.mid(1, value.size() - 2);
    }
    return value.left(MaxValueChars);
}

// Writes the bytes to a temporary file beside the target, flushes it and
// renames it over the target, so the old file stays whole until the new one is.
bool replaceAtomically(const QString& hostPath, const QByteArray& bytes)
{
    const QByteArray target = hostfs::encodeName(hostPath);
    QByteArray temp = target + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return false;
    struct stat old {};
    const bool hadOld = ::stat(target.constData(), &old) == 0;
    bool ok = true;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? n : 0;
    }
    ok = ok && ::fchmod(fd, hadOld ? (old.st_mode & 07777) : 0644) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        ::unlink(temp.constData());
        return false;
    }
    // Make the rename itself durable.
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash <= 0 ? QByteArray("/") : target.left(slash);
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

}  // namespace

ProfileFile::ProfileFile(QString hostPath) : hostPath_(std::move(hostPath)) {}

QString ProfileFile::readString(const QString& section, const QString& key) const
{
    bool exists = false;
    const QStringList lines = readLines(hostPath_, &exists);
    bool inSection = false;
    for (const QString& line : lines) {
        if (auto name = sectionOf(line)) {
            inSection = sameName(*name, section);
            continue;
        }
        if (!inSection)
            continue;
        auto k = keyOf(line);
        if (k && sameName(*k, key))
            return unquoted(line.mid(line.indexOf(QLatin1Char('=')) + 1));
    }
    return QString();
}

bool ProfileFile::writeString(const QString& section, const QString& key, const QString& value)
{
    bool exists = false;
    QStringList lines = readLines(hostPath_, &exists);
    const QString entry = key + QLatin1Char('=') + value;

    qsizetype sectionLine = -1;
    qsizetype lastInSection = -1;  // last non-empty line of the section
    qsizetype keyLine = -1;
    for (qsizetype i = 0; i < lines.size() && keyLine < 0; ++i) {
        if (auto name = sectionOf(lines.at(i))) {
            if (sectionLine >= 0)
                break;  // the section ended
            if (sameName(*name, section))
                sectionLine = lastInSection = i;
            continue;
        }
        if (sectionLine < 0)
            continue;
        if (!lines.at(i).trimmed().isEmpty())
            lastInSection = i;
        auto k = keyOf(lines.at(i));
        if (k && sameName(*k, key))
            keyLine = i;
    }

    if (keyLine >= 0)
        lines[keyLine] = entry;
    else if (sectionLine >= 0)
        lines.insert(lastInSection + 1, entry);
    else
        lines << QLatin1Char('[') + section + QLatin1Char(']') << entry;

    QByteArray bytes;
    for (const QString& line : lines)
        bytes += EncodeCp1252(line) + "\r\n";
    return replaceAtomically(hostPath_, bytes);
}

}  // namespace vz
