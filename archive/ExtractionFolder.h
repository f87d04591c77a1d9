#pragma once
// The folders below the extraction folder that entries are written into.
// Existing folders are used only when they are real folders: a symbolic link
// met on the way would carry the file somewhere else, so it is refused.
// Every folder on the way is looked at before the first one is made, so an
// entry that is refused leaves no folder behind. Calling thread only.

#include <QSet>
#include <QString>
#include <QStringList>

namespace vz {

class ExtractionFolder {
public:
    enum class Status {
        Ok,
        Link,          // a symbolic link on the way: the name is unsafe
        Clash,         // a file where a folder must go (or a folder where the file must), or
                       // a name this file system cannot hold: only this entry is left out
        CreateFailed,  // a folder could not be made (no space, no permission): nothing more can be
    };

    explicit ExtractionFolder(QString baseHostFolder) : base_(std::move(baseHostFolder)) {}

    const QString& base() const { return base_; }
    // Makes sure every folder of `components` exists below the base; sets
    // `hostPath` to the deepest one. With a file name, that file's place
    // must not be taken by a folder either.
    Status ensure(const QStringList& components, QString& hostPath, const QString& fileName = QString());
    // True when something (a file, a folder, a link, even a dangling one) has this path.
    static bool occupied(const QString& hostPath);
    // True for what an error (errno) of making or naming a file says about
    // that one name only: too long, not valid here, or taken by something
    // of the other kind. Any other error concerns every file alike.
    static bool isNameError(int errorNumber);

private:
    QString base_;
    QSet<QString> known_;
};

}  // namespace vz
