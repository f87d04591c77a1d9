// The archive component unpacking whatever it is given, volume sets
// included, through its public interface as the import drives it: on a
// Wine-style prefix whose drive C: holds the volumes (C:\in\), the
// destination (C:\dest\), the component's temporary folder (C:\tmp\) and a
// folder outside the destination that a link in it points to. Nothing
// outside the destination changes (the volumes stay as they were, the
// temporary folder is empty again, nothing reaches the folder the link
// points to); no link is made; a test writes nothing at all; and an
// extraction that reports no error has written every file entry with its
// recorded size and CRC (checked for archives whose names are plain).
//
// Input: one byte of options, then the volumes, first to last, separated
// by "VZ-NEXT-VOLUME" (one piece: a single archive).
//   bit 0: without the stored folders     bit 4: two engine threads
//   bit 1: without overwriting            bit 5: numbered volume names
//   bit 2: test only                      bit 6: questions answered No
//   bit 3: the destination holds files, a folder and the link beforehand

#include "archive/ArchiveComponent.h"
#include "archive/VolumeNaming.h"
#include "fuzz/ByteReader.h"
#include "fuzz/FolderTree.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/ScratchFolder.h"
#include "platform/DriveMap.h"
#include "platform/EventPump.h"
#include "platform/FileSystem.h"

#include <QByteArrayList>
#include <QHash>
#include <QSet>
#include <fcntl.h>
#include <map>
#include <unistd.h>
#include <zlib.h>

using namespace vz;

namespace {

const QByteArray VolumeSeparator = "VZ-NEXT-VOLUME";
constexpr int MaxVolumes = 8;

// Answers every box at once: OK, or Yes/No to a question as the input says.
class AnsweringDialogs final : public UserDialogs {
public:
    bool answerNo = false;
    int messages = 0;

    DialogButton showMessage(const MessageRequest& request) override
    {
        ++messages;
        const DialogButton choice = answerNo ? ButtonNo : ButtonYes;
        if (request.buttons & choice)
            return choice;
        for (DialogButton b : {ButtonOk, ButtonCancel, ButtonNo, ButtonYes})
            if (request.buttons & b)
                return b;
        return ButtonOk;
    }
    QString inputText(const QString&, const QString&, const QString& initialText) override { return initialText; }
    std::optional<QString> openFile(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const FileDialogRequest&) override { return std::nullopt; }
};

// The prefix, made once: dosdevices/c: -> drive_c.
struct Prefix {
    fuzz::ScratchFolder root;
    QString driveC = root.file(QStringLiteral("drive_c"));
    DriveMap map = [this] {
        FUZZ_CHECK(hostfs::createFolders(root.file(QStringLiteral("dosdevices"))) && hostfs::createFolders(driveC),
                   "cannot make the prefix");
        FUZZ_CHECK(::symlink("../drive_c", hostfs::encodeName(root.file(QStringLiteral("dosdevices/c:"))).constData()) == 0,
                   "cannot link drive C:");
        return DriveMap::fromPrefix(root.path());
    }();
    FileSystem fs{map};
};

void writeRaw(const QString& path, const QByteArray& bytes)
{
    const int fd = ::open(hostfs::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size(),
               "cannot write a file of the set-up");
    ::close(fd);
}

void emptyFolder(const QString& path)
{
    FUZZ_CHECK(hostfs::removeTree(path), "cannot empty drive C:");
    FUZZ_CHECK(hostfs::createFolders(path), "cannot make drive C:");
}

bool plainName(const QString& name)
{
    if (name.isEmpty() || name.size() > 200)
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' ||
                        u == '-' || u == '.' || u == '/';
        if (!ok)
            return false;
    }
    for (const QString& part : name.split(QLatin1Char('/'))) {
        if (part == QLatin1String(".") || part == QLatin1String("..") || part.startsWith(QLatin1Char('.')))
            return false;
    }
    return !name.startsWith(QLatin1Char('/')) && !name.contains(QLatin1String("//"));
}

// Where each file entry must be when every name is plain and no two land on
// one place (or one file on another's folder); nothing when the archive
// does not allow the check.
std::optional<std::map<QByteArray, const CentralRecord*>> expectedFiles(const std::vector<DirectoryEntry>& entries,
                                                                         bool dirNames)
{
    std::map<QByteArray, const CentralRecord*> files;
    QSet<QString> folders, fileKeys;
    // Names are matched without regard to case on the disk: one spelling each.
    QHash<QString, QString> spelling;
    const auto spelled = [&spelling](const QString& path) {
        const auto it = spelling.constFind(path.toLower());
        if (it != spelling.constEnd())
            return *it == path;
        spelling.insert(path.toLower(), path);
        return true;
    };
    for (const DirectoryEntry& e : entries) {
        if (!plainName(e.name))
            return std::nullopt;
        QString name = e.name;
        if (e.isFolder()) {
            name.chop(1);
            if (name.isEmpty() || name.endsWith(QLatin1Char('/')))
                return std::nullopt;
            if (dirNames) {
                folders.insert(name.toLower());
                const QStringList parts = name.split(QLatin1Char('/'));
                for (qsizetype i = 1; i <= parts.size(); ++i)
                    if (!spelled(parts.mid(0, i).join(QLatin1Char('/'))))
                        return std::nullopt;
            }
            continue;
        }
        if (!dirNames)
            name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
        const QStringList parts = name.split(QLatin1Char('/'));
        for (qsizetype i = 1; i <= parts.size(); ++i) {
            const QString path = parts.mid(0, i).join(QLatin1Char('/'));
            if (i < parts.size())
                folders.insert(path.toLower());
            if (!spelled(path))
                return std::nullopt;
        }
        if (fileKeys.contains(name.toLower()))
            return std::nullopt;
        fileKeys.insert(name.toLower());
        files[name.toUtf8()] = &e.record;
    }
    for (const QString& key : fileKeys)
        if (folders.contains(key))
            return std::nullopt;
    return files;
}

std::map<QByteArray, fuzz::FolderNode> without(const std::map<QByteArray, fuzz::FolderNode>& tree,
                                               const QByteArray& folder)
{
    std::map<QByteArray, fuzz::FolderNode> out;
    for (const auto& [path, node] : tree)
        if (path != folder && !path.startsWith(QByteArray(folder).append('/')))
            out[path] = node;
    return out;
}

bool sameTree(const std::map<QByteArray, fuzz::FolderNode>& a, const std::map<QByteArray, fuzz::FolderNode>& b)
{
    if (a.size() != b.size())
        return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
        if (i->first != j->first || i->second.kind != j->second.kind || i->second.content != j->second.content)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Prefix prefix;
    fuzz::ByteReader in(data, size);
    const uint8_t options = in.byte();
    const bool dirNames = !(options & 0x01), overwrite = !(options & 0x02), testOnly = options & 0x04;
    const bool filledBefore = options & 0x08, numbered = options & 0x20;
    QByteArrayList volumes;
    const QByteArray rest = in.rest();
    for (qsizetype from = 0;;) {
        const qsizetype at = rest.indexOf(VolumeSeparator, from);
        if (at < 0 || volumes.size() == MaxVolumes - 1) {
            volumes << rest.mid(from);
            break;
        }
        volumes << rest.mid(from, at - from);
        from = at + VolumeSeparator.size();
    }

    emptyFolder(prefix.driveC);
    const QString C = prefix.driveC;
    for (const char* folder : {"in", "dest", "tmp", "outside"})
        FUZZ_CHECK(hostfs::createFolders(C + QLatin1Char('/') + QLatin1String(folder)), "cannot make a folder");
    writeRaw(C + QStringLiteral("/outside/keep.txt"), "outside the destination");
    const QString archive = C + QStringLiteral("/in/1A2B.zip");
    for (qsizetype i = 0; i < volumes.size(); ++i) {
        const bool last = i == volumes.size() - 1;
        const QString path = last ? archive
                                  : numbered ? VolumeNaming::NumberedName(archive, int(i))
                                             : VolumeNaming::SpanName(archive, int(i));
        writeRaw(path, volumes[i]);
    }
    if (filledBefore) {
        writeRaw(C + QStringLiteral("/dest/a.txt"), "there before");
        FUZZ_CHECK(hostfs::createFolders(C + QStringLiteral("/dest/sub")), "cannot make a folder");
        writeRaw(C + QStringLiteral("/dest/sub/b.txt"), "there before too");
        FUZZ_CHECK(::symlink("../outside", hostfs::encodeName(C + QStringLiteral("/dest/lnk")).constData()) == 0,
                   "cannot make the link");
    }
    const QByteArray hostC = hostfs::encodeName(C);
    const auto before = fuzz::FolderTree::Read(hostC);

    AnsweringDialogs dialogs;
    dialogs.answerNo = options & 0x40;
    NoEventPump pump;
    int result = 0;
    std::vector<DirectoryEntry> entries;
    {
        ArchiveComponent component(prefix.fs, dialogs, pump, QStringLiteral("Vireo Zuvavivevo"));
        component.ExtractOptions = (dirNames ? ExtractDirNames : 0u) | (overwrite ? ExtractOverwrite : 0u) |
                                   ExtractForceDirs | (testOnly ? ExtractTest : 0u);
        component.AddOptions = AddDirNames | AddRecurseDirs;
        component.EngineThreads = (options & 0x10) ? 2 : 1;
        component.TempDir = QStringLiteral("C:\\tmp\\");
        component.ExtractBaseDir = QStringLiteral("C:\\dest\\");
        component.SetArchiveFileName(QStringLiteral("C:\\in\\1A2B.zip"));
        result = component.Extract();
        entries = component.Entries();
        FUZZ_CHECK(!component.Busy(), "the component stays busy after Extract");
    }

    const auto after = fuzz::FolderTree::Read(hostC);
    FUZZ_CHECK(sameTree(without(before, "dest"), without(after, "dest")),
               "the extraction changed something outside its destination");
    if (testOnly)
        FUZZ_CHECK(sameTree(before, after), "a test wrote into the destination");
    for (const auto& [path, node] : after) {
        if (node.kind == fuzz::FolderNode::Link)
            FUZZ_CHECK(filledBefore && path == "dest/lnk", "the extraction made a link");
        FUZZ_CHECK(node.kind == fuzz::FolderNode::File || node.kind == fuzz::FolderNode::Folder ||
                       node.kind == fuzz::FolderNode::Link,
                   "the extraction made something that is neither file nor folder");
    }
    if (result != 0 || testOnly || filledBefore)
        return 0;

    // No error reported: every file entry is there, whole.
    const auto expected = expectedFiles(entries, dirNames);
    if (!expected)
        return 0;
    for (const auto& [name, record] : *expected) {
        const auto it = after.find(QByteArray("dest/").append(name));
        FUZZ_CHECK(it != after.end() && it->second.kind == fuzz::FolderNode::File,
                   "an extraction without error left out a file entry");
        const QByteArray& content = it->second.content;
        FUZZ_CHECK(quint64(content.size()) == record->uncompressedSize,
                   "an extraction without error wrote a file of another size than recorded");
        const auto crc = quint32(::crc32(0, reinterpret_cast<const Bytef*>(content.constData()), uInt(content.size())));
        FUZZ_CHECK(crc == record->crc32, "an extraction without error wrote a file whose CRC is not the recorded one");
    }
    return 0;
}
