#pragma once
// One destination folder of a copy, on the host. Names inside it follow the
// Windows rule that the rest of the program uses: the entry with the exact
// name when it exists, else the first entry whose name matches without
// regard to case, else the name as given (new files get the source's case).
//
// The case-insensitive index of the folder is built once, on the first name
// that is missing with its exact case, so copying many files costs no folder
// scan per file. A folder that held nothing when the copy began (created by
// this object, or found empty when the first name missing from it is asked
// for) holds only what the copy put there under the source's names, so no
// name in it needs looking up at all. A name that exists with its exact case
// is taken without listing the folder.

#include <QHash>
#include <QString>
#include <optional>

namespace vz {

class DestinationFolder {
public:
    // Creates the folder with its missing parents when it does not exist. A
    // failure is not reported: the copies into it then fail one by one.
    // Nothing (no host path) stands for a path on no drive.
    explicit DestinationFolder(std::optional<QString> hostPath);

    const std::optional<QString>& hostPath() const { return host_; }
    // The host path a child called `name` is written to.
    std::optional<QString> child(const QString& name);
    // The destination folder of a subfolder called `name`: the same name
    // rule, and a folder that exists as given is looked at only once.
    DestinationFolder subfolder(const QString& name);

private:
    struct ExistingFolder {};
    DestinationFolder(QString existingFolder, ExistingFolder) : host_(std::move(existingFolder)) {}

    void buildIndex();
    bool isEmpty() const;

    std::optional<QString> host_;
    bool emptyAtStart_ = false;
    bool probed_ = false;
    bool indexed_ = false;
    QHash<QString, QString> byFoldedName_;  // case-folded name -> name as listed (first match)
};

}  // namespace vz
