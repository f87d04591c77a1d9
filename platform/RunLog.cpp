#include "platform/RunLog.h"

#include "platform/FileSystem.h"
#include "platform/Timestamp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vz {

namespace {

QString timeText(Timestamp value)
{
    const DateTimeParts p = DecodeTimestamp(value);
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(p.year, 4, 10, QLatin1Char('0'))
        .arg(p.month, 2, 10, QLatin1Char('0'))
        .arg(p.day, 2, 10, QLatin1Char('0'))
        .arg(p.hour, 2, 10, QLatin1Char('0'))
        .arg(p.minute, 2, 10, QLatin1Char('0'))
        .arg(p.second, 2, 10, QLatin1Char('0'));
}

bool appendAll(int fd, const QByteArray& bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

}  // namespace

RunLog::RunLog(QString hostPath, const Clock& clock) : hostPath_(std::move(hostPath)), clock_(clock) {}

QString RunLog::FailureLine(const CopyFailure& failure, bool nameDestination)
{
    const QString& path = nameDestination ? failure.destination : failure.source;
    const QString what = failure.modified ? QStringLiteral("não copiado: ") : QStringLiteral("pasta não lida: ");
    return what + path + QStringLiteral(" (") + CopyFailureReason(failure.errorNumber) + QLatin1Char(')');
}

QStringList RunLog::FailureLines(const std::vector<CopyFailure>& failures, bool nameDestination)
{
    QStringList lines;
    lines.reserve(qsizetype(failures.size()));
    for (const CopyFailure& failure : failures)
        lines << FailureLine(failure, nameDestination);
    return lines;
}

QStringList RunLog::TrashLines(const QStringList& notDeleted)
{
    QStringList lines;
    for (const QString& item : notDeleted)
        lines << QStringLiteral("não apagado da lixeira: ") + item;
    return lines;
}

bool RunLog::Write(const QString& runLine, const QStringList& detailLines)
{
    if (hostPath_.isEmpty())
        return false;
    try {
        const QString stamp = timeText(clock_.now());
        QString text = stamp + QStringLiteral("  ") + runLine + QStringLiteral("\r\n");
        for (const QString& line : detailLines)
            text += stamp + QStringLiteral("    ") + line + QStringLiteral("\r\n");
        QByteArray bytes = text.toUtf8();
        // One run never fills the log alone: its list is cut short, said so.
        if (bytes.size() > RotateAtBytes / 2) {
            bytes.truncate(RotateAtBytes / 2);
            bytes += "\r\n(lista cortada)\r\n";
        }
        const QByteArray path = hostfs::encodeName(hostPath_);
        struct stat st;
        if (::stat(path.constData(), &st) == 0 && st.st_size + bytes.size() > RotateAtBytes)
            ::rename(path.constData(), QByteArray(path + ".1").constData());
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0)
            return false;
        const bool ok = appendAll(fd, bytes);
        return (::close(fd) == 0) && ok;
    } catch (...) {
        return false;
    }
}

}  // namespace vz
