#include "platform/Trash.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"

#include <QByteArray>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace vz {

namespace {

constexpr QChar Slash = QLatin1Char('/');

QString joinHost(const QString& folder, const QString& name)
{
    return folder.endsWith(Slash) ? QString(folder + name) : QString(folder + Slash + name);
}

QString parentOf(const QString& path)
{
    const qsizetype cut = path.lastIndexOf(Slash);
    return cut <= 0 ? QStringLiteral("/") : path.left(cut);
}

// Mount points contain spaces and such as octal escapes ("\040").
QString unescapeMountField(const char* field, size_t length)
{
    QByteArray out;
    for (size_t i = 0; i < length; ++i) {
        if (field[i] == '\\' && i + 3 < length && field[i + 1] >= '0' && field[i + 1] <= '3') {
            out.append(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
            i += 3;
        } else {
            out.append(field[i]);
        }
    }
    return hostfs::decodeName(out);
}

bool holds(const QString& folder, const QString& path)
{
    return folder == QLatin1String("/") || path == folder || path.startsWith(folder + Slash);
}

// The mount point of the volume holding a canonical path: the deepest mount
// that holds it. Without /proc, the last ancestor on the same device.
QString mountPointOf(const QString& canonicalPath)
{
    QString best;
    if (FILE* file = std::fopen("/proc/self/mountinfo", "re")) {
        char* line = nullptr;
        size_t capacity = 0;
        while (::getline(&line, &capacity, file) > 0) {
            // ID parentID major:minor root mountpoint ...
            const char* field = line;
            for (int skip = 0; skip < 4 && field != nullptr; ++skip) {
                field = std::strchr(field, ' ');
                if (field != nullptr)
                    ++field;
            }
            if (field == nullptr)
                continue;
            const char* end = std::strchr(field, ' ');
            const QString mountPoint = unescapeMountField(field, end ? size_t(end - field) : std::strlen(field));
            if (holds(mountPoint, canonicalPath) && mountPoint.size() > best.size())
                best = mountPoint;
        }
        std::free(line);
        std::fclose(file);
    }
    if (!best.isEmpty())
        return best;

    struct stat st;
    if (::stat(hostfs::encodeName(canonicalPath).constData(), &st) != 0)
        return QStringLiteral("/");
    QString current = canonicalPath;
    while (current != QLatin1String("/")) {
        const QString parent = parentOf(current);
        struct stat pst;
        if (::stat(hostfs::encodeName(parent).constData(), &pst) != 0 || pst.st_dev != st.st_dev)
            break;
        current = parent;
    }
    return current;
}

// True when the item holds more than limitBytes in file sizes; stops counting
// as soon as it does. Links are not followed.
bool sizeExceeds(const QByteArray& path, qint64 limitBytes, qint64& total, int depth = 0)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        total += st.st_size;
        return total > limitBytes;
    }
    if (depth > 4096)
        return false;
    DIR* dir = ::opendir(path.constData());
    if (dir == nullptr)
        return false;
    bool exceeds = false;
    while (const dirent* entry = ::readdir(dir)) {
        const char* n = entry->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        if (sizeExceeds(path + '/' + n, limitBytes, total, depth + 1)) {
            exceeds = true;
            break;
        }
    }
    ::closedir(dir);
    return exceeds;
}

// A per-user trash folder under a volume's top: created when missing, and
// only taken when it is a real folder of that user (never a link planted by
// someone else), with files/ and info/ inside.
bool usableUserTrash(const QString& folder, uint uid)
{
    const QByteArray path = hostfs::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid)
        return false;
    return hostfs::createFolders(joinHost(folder, QStringLiteral("files")), 0700) &&
           hostfs::createFolders(joinHost(folder, QStringLiteral("info")), 0700);
}

Trash::Outcome deletePermanently(const QString& path)
{
    return hostfs::removeTree(path) ? Trash::Outcome::Deleted : Trash::Outcome::Failed;
}

QString deletionDate(Timestamp now)
{
    const DateTimeParts p = DecodeTimestamp(now);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
    return QString::fromLatin1(text);
}

}  // namespace

Trash::Trash(QString homeTrashFolder, uint uid, std::function<Timestamp()> now)
    : homeTrash_(std::move(homeTrashFolder)), uid_(uid), now_(std::move(now)),
      volumeSizeBytes_([](const QString& path) { return hostfs::diskSpace(path).totalBytes; })
{
}

Trash Trash::forCurrentUser()
{
    return Trash(homeTrashFolderFromEnvironment(), ::geteuid(), [] { return SystemClock().now(); });
}

QString Trash::homeTrashFolderFromEnvironment()
{
    // The variables' bytes, decoded as every host name is.
    const QString dataHome = hostfs::decodeName(qgetenv("XDG_DATA_HOME"));
    if (dataHome.startsWith(Slash))
        return joinHost(dataHome, QStringLiteral("Trash"));
    QString home = hostfs::decodeName(qgetenv("HOME"));
    if (home.isEmpty()) {
        if (const passwd* user = ::getpwuid(::geteuid()))
            home = hostfs::decodeName(QByteArray(user->pw_dir));
    }
    return joinHost(home, QStringLiteral(".local/share/Trash"));
}

QString Trash::trashFolderFor(const QString& canonicalHostPath, QString* topdir) const
{
    // The volume is that of the item's folder: an item that is itself a
    // mount point cannot be moved anyway.
    const QString itemMount = mountPointOf(parentOf(canonicalHostPath));
    if (!homeTrash_.isEmpty() && itemMount == mountPointOf(hostfs::canonicalPath(homeTrash_))) {
        const bool ok = hostfs::createFolders(joinHost(homeTrash_, QStringLiteral("files")), 0700) &&
                        hostfs::createFolders(joinHost(homeTrash_, QStringLiteral("info")), 0700);
        return ok ? hostfs::canonicalPath(homeTrash_) : QString();
    }
    if (topdir != nullptr)
        *topdir = itemMount;
    const QString uid = QString::number(uid_);
    const QString adminTrash = joinHost(itemMount, QStringLiteral(".Trash"));
    struct stat st;
    if (::lstat(hostfs::encodeName(adminTrash).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
        (st.st_mode & S_ISVTX) && usableUserTrash(joinHost(adminTrash, uid), uid_))
        return joinHost(adminTrash, uid);
    const QString ownTrash = joinHost(itemMount, QStringLiteral(".Trash-") + uid);
    if (usableUserTrash(ownTrash, uid_))
        return ownTrash;
    return QString();
}

Trash::Outcome Trash::remove(const QString& hostPath) const
{
    QString given = hostPath;
    while (given.size() > 1 && given.endsWith(Slash))
        given.chop(1);
    struct stat st;
    if (given.isEmpty() || ::lstat(hostfs::encodeName(given).constData(), &st) != 0)
        return !given.isEmpty() && errno == ENOENT ? Outcome::Missing : Outcome::Failed;

    // The item itself, not what a final link points to; its folder resolved
    // by the kernel, so ".." and links above it mean what they mean on disk.
    const qsizetype cut = given.lastIndexOf(Slash);
    const QString name = given.mid(cut + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return Outcome::Failed;
    const QString folder = cut < 0 ? QStringLiteral(".") : cut == 0 ? QStringLiteral("/") : given.left(cut);
    const QString item = joinHost(hostfs::canonicalPath(folder), name);

    const qint64 volumeBytes = volumeSizeBytes_ ? volumeSizeBytes_(item) : 0;
    qint64 total = 0;
    if (volumeBytes > 0 && sizeExceeds(hostfs::encodeName(item), volumeBytes / 10, total))
        return deletePermanently(item);

    QString topdir;
    const QString trash = trashFolderFor(item, &topdir);
    if (trash.isEmpty())
        return deletePermanently(item);

    // Path= is absolute in the home trash and relative to the volume's top
    // in a volume's own trash, so the volume may be mounted elsewhere later.
    QString recordedPath = item;
    if (!topdir.isEmpty())
        recordedPath = topdir == QLatin1String("/") ? item.mid(1) : item.mid(topdir.size() + 1);
    const QByteArray info = QByteArrayLiteral("[Trash Info]\nPath=") +
                            hostfs::encodeName(recordedPath).toPercentEncoding(QByteArrayLiteral("/")) +
                            QByteArrayLiteral("\nDeletionDate=") + deletionDate(now_()).toLatin1() + '\n';

    for (int attempt = 1; attempt < 10000; ++attempt) {
        const QString trashedName = attempt == 1 ? name : name + QLatin1Char('.') + QString::number(attempt);
        const QString infoPath = trash + QStringLiteral("/info/") + trashedName + QStringLiteral(".trashinfo");
        const QString filesPath = trash + QStringLiteral("/files/") + trashedName;
        struct stat existing;
        if (::lstat(hostfs::encodeName(filesPath).constData(), &existing) == 0)
            continue;
        // The info file is made first and exclusively: it reserves the name.
        const int fd = ::open(hostfs::encodeName(infoPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return deletePermanently(item);
        }
        const bool written = ::write(fd, info.constData(), size_t(info.size())) == info.size();
        ::close(fd);
        if (written && hostfs::rename(item, filesPath))
            return Outcome::Trashed;
        const int error = errno;
        ::unlink(hostfs::encodeName(infoPath).constData());
        if (!written || error == EXDEV)
            return deletePermanently(item);
        if (error == EEXIST)
            continue;
        return Outcome::Failed;
    }
    return Outcome::Failed;
}

// ---------------------------------------------------------------- looking into trashes

namespace {

// A folder that is really there and the user's: never a link, never someone else's.
bool isOwnFolder(const QString& path, uint uid)
{
    struct stat st;
    return ::lstat(hostfs::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid;
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Path= is percent-encoded bytes; a stray "%" makes the file unreadable to us.
std::optional<QByteArray> percentDecoded(const QByteArray& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])))
            return std::nullopt;
    }
    const QByteArray bytes = QByteArray::fromPercentEncoding(text);
    if (bytes.isEmpty() || bytes.contains('\0'))
        return std::nullopt;
    return bytes;
}

// "YYYY-MM-DDThh:mm:ss" (local time) as seconds on the local calendar.
std::optional<qint64> deletionSeconds(const QByteArray& text)
{
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':')
        return std::nullopt;
    auto number = [&](int from, int length, int& out) {
        out = 0;
        for (int i = from; i < from + length; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    int year, month, day, hour, minute, second;
    Timestamp date = 0;
    if (!number(0, 4, year) || !number(5, 2, month) || !number(8, 2, day) || !number(11, 2, hour) ||
        !number(14, 2, minute) || !number(17, 2, second) || hour > 23 || minute > 59 || second > 60 ||
        !TryEncodeDate(year, month, day, date))
        return std::nullopt;
    return qint64(date) * 86400 + hour * 3600 + minute * 60 + second;
}

constexpr qint64 InfoFileLimitBytes = 64 * 1024;

// Reads an info file: a regular file, small, reached without following a link.
std::optional<QByteArray> readInfoFile(const QByteArray& path, qint64& modifiedNs)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > InfoFileLimitBytes) {
        ::close(fd);
        return std::nullopt;
    }
    modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    QByteArray bytes(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype total = 0;
    while (total < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + total, size_t(bytes.size() - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += n;
    }
    ::close(fd);
    if (total > InfoFileLimitBytes)
        return std::nullopt;
    bytes.truncate(total);
    return bytes;
}

// The [Trash Info] group's Path= and DeletionDate=, each exactly once.
bool parseInfo(const QByteArray& text, QByteArray& path, QByteArray& date)
{
    bool inGroup = false;
    bool sawGroup = false;
    int paths = 0;
    int dates = 0;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            inGroup = line == "[Trash Info]";
            if (inGroup && sawGroup)
                return false;
            sawGroup = sawGroup || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            return false;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Path") {
            path = value;
            ++paths;
        } else if (key == "DeletionDate") {
            date = value;
            ++dates;
        }
    }
    return paths == 1 && dates == 1;
}

bool isItemName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") && !name.contains(Slash);
}

}  // namespace

std::vector<Trash::Location> Trash::existingLocationsFor(const QStringList& canonicalHostPaths) const
{
    std::vector<Location> found;
    QStringList seen;
    auto add = [&](const QString& folder, const QString& topdir) {
        const QString canonical = hostfs::canonicalPath(folder);
        if (seen.contains(canonical))
            return;
        seen << canonical;
        found.push_back({folder, topdir});
    };
    QString homeMount;
    if (!homeTrash_.isEmpty()) {
        const QString home = hostfs::canonicalPath(homeTrash_);
        homeMount = mountPointOf(home);
        if (hostfs::isFolder(home))
            add(homeTrash_, QString());
    }
    const QString uid = QString::number(uid_);
    for (const QString& path : canonicalHostPaths) {
        const QString mount = mountPointOf(parentOf(path));
        if (mount == homeMount)
            continue;  // remove() uses the home trash for that volume
        const QString adminTrash = joinHost(mount, QStringLiteral(".Trash"));
        struct stat st;
        if (::lstat(hostfs::encodeName(adminTrash).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
            (st.st_mode & S_ISVTX) && isOwnFolder(joinHost(adminTrash, uid), uid_))
            add(joinHost(adminTrash, uid), mount);
        const QString ownTrash = joinHost(mount, QStringLiteral(".Trash-") + uid);
        if (isOwnFolder(ownTrash, uid_))
            add(ownTrash, mount);
    }
    return found;
}

QStringList Trash::existingTrashFoldersFor(const QStringList& canonicalHostPaths) const
{
    QStringList folders;
    for (const Location& location : existingLocationsFor(canonicalHostPaths))
        folders << location.folder;
    return folders;
}

std::vector<Trash::Item> Trash::items(const QStringList& canonicalHostPaths) const
{
    std::vector<Item> found;
    const QByteArray suffix = QByteArrayLiteral(".trashinfo");
    for (const Location& location : existingLocationsFor(canonicalHostPaths)) {
        const QByteArray infoFolder = hostfs::encodeName(location.folder) + "/info";
        DIR* dir = ::opendir(infoFolder.constData());
        if (dir == nullptr)
            continue;
        std::vector<QByteArray> names;
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray fileName(entry->d_name);
            if (fileName.endsWith(suffix))
                names.push_back(fileName);
        }
        ::closedir(dir);
        for (const QByteArray& fileName : names) {
            Item item;
            item.trashFolder = location.folder;
            item.name = hostfs::decodeName(fileName.left(fileName.size() - suffix.size()));
            if (!isItemName(item.name))
                continue;
            const auto text = readInfoFile(infoFolder + '/' + fileName, item.infoModifiedNs);
            QByteArray pathText;
            QByteArray dateText;
            if (!text || !parseInfo(*text, pathText, dateText))
                continue;
            const auto path = percentDecoded(pathText);
            const auto seconds = deletionSeconds(dateText);
            if (!path || !seconds)
                continue;
            // Absolute in the home trash; relative to the volume's top in a
            // volume's trash (where other programs may write it absolute).
            if (path->startsWith('/'))
                item.originalPath = hostfs::decodeName(*path);
            else if (!location.topdir.isEmpty())
                item.originalPath = joinHost(location.topdir, hostfs::decodeName(*path));
            else
                continue;
            item.deletionSeconds = *seconds;
            struct stat st;
            const QByteArray entry = hostfs::encodeName(location.folder + QStringLiteral("/files/") + item.name);
            if (::lstat(entry.constData(), &st) != 0)
                continue;
            found.push_back(std::move(item));
        }
    }
    return found;
}

bool Trash::erase(const Item& item) const
{
    if (item.trashFolder.isEmpty() || !isItemName(item.name))
        return false;
    const QString entry = item.trashFolder + QStringLiteral("/files/") + item.name;
    if (!hostfs::removeTree(entry))
        return false;
    struct stat st;
    if (::lstat(hostfs::encodeName(entry).constData(), &st) == 0)
        return false;
    const QByteArray info = hostfs::encodeName(item.trashFolder + QStringLiteral("/info/") + item.name +
                                               QStringLiteral(".trashinfo"));
    return ::unlink(info.constData()) == 0 || errno == ENOENT;
}

}  // namespace vz
