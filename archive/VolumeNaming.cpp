#include "archive/VolumeNaming.h"

namespace vz {

namespace {
qsizetype extensionDot(const QString& path)
{
    const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? dot : -1;
}
}  // namespace

QString VolumeNaming::Base(const QString& archivePath)
{
    const qsizetype dot = extensionDot(archivePath);
    return dot < 0 ? archivePath : archivePath.left(dot);
}

QString VolumeNaming::Extension(const QString& archivePath)
{
    const qsizetype dot = extensionDot(archivePath);
    return dot < 0 ? QString() : archivePath.mid(dot);
}

QString VolumeNaming::SpanName(const QString& archivePath, int index)
{
    return Base(archivePath) + QStringLiteral(".z") + QStringLiteral("%1").arg(index + 1, 2, 10, QLatin1Char('0'));
}

QString VolumeNaming::NumberedName(const QString& archivePath, int index)
{
    const QString base = Base(archivePath);
    const qsizetype slash = std::max(base.lastIndexOf(QLatin1Char('/')), base.lastIndexOf(QLatin1Char('\\')));
    const qsizetype keep = std::max<qsizetype>(slash + 1, base.size() - 3);
    return base.left(keep) + QStringLiteral("%1").arg(index + 1, 3, 10, QLatin1Char('0')) + Extension(archivePath);
}

}  // namespace vz
