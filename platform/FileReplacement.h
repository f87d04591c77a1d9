#pragma once
// A file written as a whole, never in place: the checks Windows makes before
// it opens a target for writing come first (a folder, a read-only file, a
// file another program holds, the source itself under another name), then
// the new bytes go to a temporary file beside the target (platform/
// TemporaryFiles.h) that replaces it by a rename only once it is complete.
// Until then the old file stays byte for byte; a failure removes what was
// written and leaves the old file as it was. Internal to platform/.

#include <QByteArray>

#include <sys/stat.h>

namespace vz::detail {

class FileReplacement {
public:
    enum class NewFile {
        ThroughTemporary,  // a file that does not exist yet appears complete or not at all
        InPlace,           // written under its own name and removed on failure (a crash may leave a part)
    };

    FileReplacement() = default;
    ~FileReplacement();  // abandons what was not committed
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Checks the target and opens the file to write; false with errno set
    // when the target cannot be replaced. `source`, when given, is the file
    // being copied: the target being that very file is a sharing violation.
    // A final symbolic link is followed: the file it names is replaced and
    // the link stays.
    bool open(const QByteArray& targetPath, const struct stat* source, NewFile newFile);

    int fd() const { return fd_; }
    bool existed() const { return existed_; }
    mode_t oldMode() const { return old_.st_mode; }  // of the file replaced, when it existed
    const QByteArray& targetPath() const { return target_; }

    // Makes the written file the target (fsync first when durable); false
    // with errno set, and then nothing of it is left.
    bool commit(bool durable);
    // Removes what was written; the old target stays.
    void abandon();

private:
    bool prepareTarget(const QByteArray& path, const struct stat* source);
    // Creates target_ itself, new, held while written; false with EEXIST when it is there.
    bool createInPlace();

    QByteArray target_;     // the file that is replaced (a link's target)
    QByteArray written_;    // the temporary file, or the target itself when written in place
    int fd_ = -1;           // open on written_
    int holdFd_ = -1;       // the old target, locked without sharing until the rename
    bool existed_ = false;
    bool inPlace_ = false;
    struct stat old_ {};
};

}  // namespace vz::detail
