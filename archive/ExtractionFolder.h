#pragma once
// The folders below the extraction folder that entries are written into.
// Existing folders are used only when they are real folders: a symbolic link
// met on the way would carry the file somewhere else, so it is refused.
// Calling thread only.

#include <QSet>
#include <QString>
#include <QStringList>

namespace vz {

class ExtractionFolder {
public:
    enum class Status { Ok, Link, CreateFailed };

    explicit ExtractionFolder(QString baseHostFolder) : base_(std::move(baseHostFolder)) {}

    const QString& base() const { return base_; }
    // Makes sure every folder of `components` exists below the base; sets
    // `hostPath` to the deepest one.
    Status ensure(const QStringList& components, QString& hostPath);
    // True when something (a file, a folder, a link, even a dangling one) has this path.
    static bool occupied(const QString& hostPath);

private:
    QString base_;
    QSet<QString> known_;
};

}  // namespace vz
