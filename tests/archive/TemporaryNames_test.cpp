// The extraction expands each entry into a temporary file beside its target
// (".~vz" + 8 random letters or digits + ".tmp") and renames it into place
// once checked. An entry named like one of those files could take the place
// of another entry's temporary file while that one is being written. Here
// the random letters come from a counter instead of chance, so an archive
// can name exactly the temporary file the extraction makes for the next
// entry: what a hostile archive could otherwise only hit by luck.

#include "archive/ArchiveMessages.h"
#include "archive/CompressionEngine.h"
#include "tests/archive/ArchiveTestKit.h"

#include <QDir>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {
std::atomic<long> gNameCalls{-1};  // -1: chance as usual
}

// Replaces the C library's function for this test program (the platform
// library draws the letters of temporary names from it): with the counter
// set, name k (counted from 0) is k written with the alphabet's letters,
// "AAAAAAAA", "AAAAAAAB", ...
extern "C" uint32_t arc4random_uniform(uint32_t upperBound) noexcept
{
    const long call = gNameCalls.load() < 0 ? -1 : gNameCalls.fetch_add(1);
    if (call < 0) {
        using Real = uint32_t (*)(uint32_t);
        static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "arc4random_uniform"));
        return real(upperBound);
    }
    unsigned long value = static_cast<unsigned long>(call / 8);
    for (long digit = 7 - call % 8; digit > 0; --digit)
        value /= upperBound;
    return static_cast<uint32_t>(value % upperBound);
}

namespace {

class Recorder final : public EngineCallbacks {
public:
    QString archive, extractFolder;
    QStringList messages;

    int ItemStarted(const QString&, qint64) override { return 0; }
    int BytesDone(qint64) override { return 0; }
    int ItemEnded() override { return 0; }
    int TotalCount(qint64) override { return 0; }
    int TotalBytes(qint64) override { return 0; }
    int Message(int, const QString& text) override
    {
        messages << text;
        return 0;
    }
    int EntrySkipped(const QString&, SkipReason) override { return 0; }
    QString Argument(EngineArgument kind, int) override
    {
        return kind == EngineArgument::ArchivePath ? archive
               : kind == EngineArgument::ExtractFolder ? extractFolder
                                                       : QString();
    }
    int IncludeSpecCount() override { return 0; }
};

}  // namespace

TEST(TemporaryNames, AnEntryNamedLikeATemporaryFileNeverTakesAnotherFilesPlace)
{
    TempDir dir;
    Recorder r;
    // ".~vzAAAAAAAB.tmp" is the temporary file of the second file expanded.
    r.archive = writeFile(dir.file(QStringLiteral("names.zip")),
                          CraftedArchive()
                              .add(".~vzAAAAAAAB.tmp", "AAAA")
                              .add("y", "BBBB")
                              .add("z", "CCCC")
                              .add("sub/.~VZabcdefgh.TMP", "DDDD")  // the same on a case-blind disk
                              .add("sub/w", "EEEE")
                              .archive());
    r.extractFolder = dir.file(QStringLiteral("out"));
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        r.messages.clear();
        QDir(r.extractFolder).removeRecursively();
        QDir().mkpath(r.extractFolder);
        gNameCalls = 0;
        const int processed = CompressionEngine().Exec(
            [] {
                EngineCommand command;
                command.kind = EngineCommand::Extract;
                command.options = EngineOption::Always | EngineOption::ExtractFiles | EngineOption::ExtractDirNames |
                                  EngineOption::ExtractOverwrite;
                command.threads = 3;
                return command;
            }(),
            r);
        // Three files were made, with the counter's names (8 letters each).
        EXPECT_EQ(gNameCalls.exchange(-1), 24);
        EXPECT_EQ(processed, 3);
        EXPECT_EQ(r.messages, (QStringList{QStringLiteral("Unsafe file name in archive: .~vzAAAAAAAB.tmp"),
                                           QStringLiteral("Unsafe file name in archive: sub/.~VZabcdefgh.TMP")}));
        EXPECT_EQ(readTree(r.extractFolder), (std::map<QString, QByteArray>{{QStringLiteral("y"), "BBBB"},
                                                                            {QStringLiteral("z"), "CCCC"},
                                                                            {QStringLiteral("sub/w"), "EEEE"}}));
    }
}
