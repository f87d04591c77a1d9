// The settings-file reader and writer on any file: reading never fails on
// its bytes and answers the same before and after load(); a write of one
// key reads back as written, leaves every other key's value as it was,
// changes exactly the line of that key (or adds it, or adds its section at
// the end) and leaves no other file beside the settings file.
//
// Input: a first line "SECTION<tab>KEY<tab>VALUE" naming what to read and
// write (the names are written only with their letters, digits and "_"),
// then the file's bytes.

#include "fuzz/ByteReader.h"
#include "fuzz/FolderTree.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/ScratchFolder.h"
#include "platform/Cp1252.h"
#include "platform/FileSystem.h"
#include "platform/ProfileFile.h"

#include <QByteArrayList>
#include <QString>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace vz;

namespace {

// The file's lines as the reader splits them: at LF, one CR before it dropped,
// no line for the end of a last line end.
QByteArrayList linesOf(const QByteArray& bytes)
{
    QByteArrayList lines = bytes.split('\n');
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Every section and key name the file shows: "[name]" lines, "key=" lines.
std::vector<std::pair<QString, QString>> pairsIn(const QByteArrayList& lines)
{
    std::vector<std::pair<QString, QString>> pairs;
    QString section;
    for (const QByteArray& raw : lines) {
        const QString line = DecodeCp1252(raw);
        const QString t = line.trimmed();
        if (t.startsWith(QLatin1Char('['))) {
            const qsizetype close = t.indexOf(QLatin1Char(']'));
            section = (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0 && pairs.size() < 64)
            pairs.emplace_back(section, line.left(eq).trimmed());
    }
    return pairs;
}

QByteArray keepOnly(const QByteArray& text, const char* extra)
{
    QByteArray out;
    for (const char c : text) {
        const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (word || (c != 0 && std::strchr(extra, c)))
            out += c;
    }
    return out;
}

void writeRaw(const QString& path, const QByteArray& bytes)
{
    const int fd = ::open(hostfs::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0, "cannot write the settings file to read");
    FUZZ_CHECK(::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size(), "cannot write the settings file");
    ::close(fd);
}

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::ScratchFolder scratch;
    scratch.clear();
    fuzz::ByteReader in(data, size);
    const QByteArrayList query = in.until('\n').split('\t');
    const QByteArray bytes = in.rest();
    const QString path = scratch.file(QStringLiteral("VireoReplicador.ini"));
    writeRaw(path, bytes);

    // Any names: read with and without load().
    const QString anySection = DecodeCp1252(query.value(0));
    const QString anyKey = DecodeCp1252(query.value(1));
    ProfileFile file(path);
    const QString unloaded = file.readString(anySection, anyKey);
    FUZZ_CHECK(file.load() == ProfileFile::LoadStatus::Loaded, "a plain file does not load");
    FUZZ_CHECK(file.readString(anySection, anyKey) == unloaded, "load() changed what a key reads");
    FUZZ_CHECK(unloaded.size() <= 2047, "a value longer than 2047 characters");

    const QByteArrayList before = linesOf(bytes);
    const auto pairs = pairsIn(before);
    std::vector<QString> valuesBefore;
    for (const auto& [section, key] : pairs)
        valuesBefore.push_back(file.readString(section, key));

    QByteArray section = keepOnly(query.value(0), "");
    QByteArray key = keepOnly(query.value(1), "");
    const QByteArray value = keepOnly(query.value(2), " .-:\\").trimmed().left(2047);
    if (section.isEmpty())
        section = "SERVIDOR";
    if (key.isEmpty())
        key = "PASTA_SISTEMA";
    const QString s = QString::fromLatin1(section), k = QString::fromLatin1(key), v = QString::fromLatin1(value);
    FUZZ_CHECK(file.writeString(s, k, v), "a writable settings file was not written");
    FUZZ_CHECK(file.readString(s, k) == v, "the loaded text does not hold what was written");

    ProfileFile again(path);
    FUZZ_CHECK(again.load() == ProfileFile::LoadStatus::Loaded, "the written file does not load");
    FUZZ_CHECK(again.readString(s, k) == v, "the written value does not read back");
    for (size_t i = 0; i < pairs.size(); ++i) {
        const auto& [otherSection, otherKey] = pairs[i];
        if (sameName(otherSection, s) && sameName(otherKey, k))
            continue;
        FUZZ_CHECK(again.readString(otherSection, otherKey) == valuesBefore[i], "a write changed another key's value");
    }

    // Line by line: the key's line replaced or added, or its section added at the end.
    const auto tree = fuzz::FolderTree::Read(hostfs::encodeName(scratch.path()));
    FUZZ_CHECK(tree.size() == 1 && tree.count("VireoReplicador.ini"), "a write left another file beside the settings");
    const QByteArray written = tree.at("VireoReplicador.ini").content;
    FUZZ_CHECK(written.isEmpty() || written.endsWith("\r\n"), "a written file without its last line end");
    const QByteArrayList after = linesOf(written);
    const QByteArray entry = key + '=' + value;
    qsizetype first = 0;
    while (first < before.size() && first < after.size() && before[first] == after[first])
        ++first;
    if (after == before) {
        FUZZ_CHECK(before.contains(entry), "the write changed no line");
        return 0;
    }
    FUZZ_CHECK(first < after.size(), "the write dropped lines");
    if (after.size() == before.size() + 2 && first == before.size()) {
        FUZZ_CHECK(after[first] == '[' + section + ']' && after[first + 1] == entry, "a new section not as written");
    } else {
        const qsizetype added = after.size() - before.size();
        FUZZ_CHECK(added == 0 || added == 1, "a write changed the number of lines by more than the key's");
        FUZZ_CHECK(after[first] == entry, "the changed line is not the key's");
        for (qsizetype i = first + 1; i < after.size(); ++i)
            FUZZ_CHECK(after[i] == before[i - added], "a write changed a line besides the key's");
    }
    return 0;
}
