#pragma once
// What the archive tests share: running the real ZIP tools, reading whole
// trees for byte-for-byte comparison, and a component on a Wine-style prefix
// whose drive C: is a temporary folder.

#include "archive/ArchiveComponent.h"
#include "archive/CentralRecord.h"
#include "platform/EventPump.h"
#include "platform/FileSystem.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempPrefix.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <ostream>
#include <vector>

// Readable values in test failures.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << "[\n  " << list.join(QStringLiteral("\n  ")).toStdString() << "\n]";
}

namespace vz::test {

struct ToolResult {
    int exitCode = -1;
    QString output;  // standard output and error together
};

// Runs a program (from PATH) and waits for it.
ToolResult runTool(const QString& program, const QStringList& arguments, const QString& workingFolder = QString());
// Runs a Python script with the arguments.
ToolResult runPython(const QString& script, const QStringList& arguments = {});

// Every file below root: relative path -> content. Hidden files too unless told.
std::map<QString, QByteArray> readTree(const QString& root, bool includeHidden = true);
// Relative paths of every file below root.
QStringList listFiles(const QString& root);
// Deterministic bytes: incompressible, or text that deflates well.
QByteArray randomBytes(qint64 size, quint32 seed);
QByteArray textBytes(qint64 size, quint32 seed);

// Archives written record by record, for what no tool writes on purpose:
// stored entries one after the other, then the directory and the end record.
struct CraftedArchive {
    QByteArray bytes;                    // local headers and data so far
    std::vector<CentralRecord> records;  // one per entry, as the directory will hold them

    // The record of a stored entry holding `data`, its local header at `offset`.
    static CentralRecord Stored(const QByteArray& name, const QByteArray& data, quint64 offset = 0);
    static QByteArray LocalHeaderOf(const CentralRecord& record);
    // The central directory of `records` at `offset`, and the end record after it.
    static QByteArray Directory(const std::vector<CentralRecord>& records, quint64 offset);

    CraftedArchive& add(const QByteArray& name, const QByteArray& data);
    // Adds an entry as the record says, its local header made from the record.
    CraftedArchive& addRecord(CentralRecord record, const QByteArray& data);
    QByteArray archive() const { return bytes + Directory(records, static_cast<quint64>(bytes.size())); }
};

// A component on drive C: of a temporary prefix, with scripted dialogs.
struct ComponentBench {
    TempPrefix prefix{QStringLiteral("c")};
    FileSystem fs{prefix.driveMap()};
    ScriptedDialogs dialogs;
    NoEventPump pump;

    // The host path of a path below C:\ ("Replicacao/a.txt").
    QString c(const QString& relative) const { return prefix.drive(QStringLiteral("c")) + QLatin1Char('/') + relative; }
    // A component set up as export sets it, volumes of volumeBytes.
    std::unique_ptr<ArchiveComponent> exporter(qint64 volumeBytes);
    // A component set up as import sets it.
    std::unique_ptr<ArchiveComponent> importer();
    // The same, for that archive and base folder (Windows paths).
    std::unique_ptr<ArchiveComponent> importer(const QString& archive, const QString& baseFolder);
};

}  // namespace vz::test
