#include "platform/ProfileFile.h"

#include "platform/Cp1252.h"
#include "platform/FileSystem.h"
#include "platform/HostFsDetail.h"
#include "platform/TemporaryFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vz {

namespace {

constexpr qsizetype MaxValueChars = 2047;

// What one read of the file found.
struct FileText {
    ProfileFile::LoadStatus status = ProfileFile::LoadStatus::Missing;
    int errorNumber = 0;
    mode_t mode = 0;  // of the file read
    QStringList lines;
};

FileText readText(const QString& hostPath)
{
    FileText out;
    HostFile file = HostFile::openRead(hostPath, ShareMode::All);
    if (!file.isOpen()) {
        out.errorNumber = file.errorNumber();
        // Only nothing at the path is "missing"; a file that is there but
        // cannot be opened must never be taken for a new, empty one.
        const bool missing = out.errorNumber == ENOENT || out.errorNumber == ENOTDIR;
        out.status = missing ? ProfileFile::LoadStatus::Missing : ProfileFile::LoadStatus::Unreadable;
        return out;
    }
    out.status = ProfileFile::LoadStatus::Unreadable;
    struct stat st {};
    if (::fstat(file.fd(), &st) != 0) {
        out.errorNumber = errno;
        return out;
    }
    out.mode = st.st_mode;
    QByteArray bytes;
    char block[8192];
    qint64 n;
    while ((n = file.read(block, sizeof block)) > 0)
        bytes.append(block, n);
    if (n < 0) {
        // Half a file would read as missing keys, and a write would drop them.
        out.errorNumber = errno;
        return out;
    }
    const QString text = DecodeCp1252(bytes);
    out.lines = text.split(QLatin1Char('\n'));
    for (QString& line : out.lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    // A final line end leaves one empty piece that is not a line.
    if (!out.lines.isEmpty() && out.lines.last().isEmpty())
        out.lines.removeLast();
    out.status = ProfileFile::LoadStatus::Loaded;
    return out;
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

QString valueIn(const QStringList& lines, const QString& section, const QString& key)
{
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

// Writes the bytes to one of the program's temporary files beside the target
// (a leftover of an interrupted write is then recognisable), flushes it and
// renames it over the target, so the old file stays whole until the new one
// is. The new file gets permissionBits. 0, or the errno of the failure.
int replaceAtomically(const QString& hostPath, const QByteArray& bytes, mode_t permissionBits)
{
    const QByteArray target = hostfs::encodeName(hostPath);
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.left(slash);
    QByteArray temp;
    const int fd = detail::createTemporaryIn(folder, &temp);
    if (fd < 0)
        return errno;
    bool ok = true;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? n : 0;
    }
    ok = ok && ::fchmod(fd, permissionBits) == 0;
    ok = ok && ::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.constData(), target.constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.constData());
        return error != 0 ? error : EIO;
    }
    // Make the rename itself durable.
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return 0;
}

}  // namespace

ProfileFile::ProfileFile(QString hostPath) : hostPath_(std::move(hostPath)) {}

ProfileFile::LoadStatus ProfileFile::load()
{
    FileText text = readText(hostPath_);
    errorNumber_ = text.status == LoadStatus::Unreadable ? text.errorNumber : 0;
    if (text.status == LoadStatus::Loaded)
        loadedLines_ = std::move(text.lines);
    else
        loadedLines_.reset();
    return text.status;
}

QString ProfileFile::readString(const QString& section, const QString& key) const
{
    if (loadedLines_)
        return valueIn(*loadedLines_, section, key);
    return valueIn(readText(hostPath_).lines, section, key);
}

bool ProfileFile::writeString(const QString& section, const QString& key, const QString& value)
{
    // The file is read again: what is written keeps whatever changed since load().
    FileText current = readText(hostPath_);
    if (current.status == LoadStatus::Unreadable) {
        errorNumber_ = current.errorNumber;
        return false;
    }
    const bool exists = current.status == LoadStatus::Loaded;
    if (exists && S_ISREG(current.mode) && detail::isReadOnlyMode(current.mode)) {
        // Windows refuses to replace a read-only file; a rename does not ask,
        // and root ignores the bits, so they are checked here.
        errorNumber_ = EACCES;
        return false;
    }
    QStringList& lines = current.lines;
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
    errorNumber_ = replaceAtomically(hostPath_, bytes, exists ? (current.mode & 07777) : 0644);
    if (errorNumber_ != 0)
        return false;
    if (loadedLines_)
        loadedLines_ = std::move(lines);
    return true;
}

}  // namespace vz
