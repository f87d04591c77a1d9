#include "archive/ArchiveMessages.h"

#include <QHash>

namespace vz::ArchiveMessage {

namespace {

const QHash<int, QString>& texts()
{
    static const QHash<int, QString> table = {
        {UserAbort, QStringLiteral("User Abort")},
        {UserCanceled, QStringLiteral("User canceled operation")},
        {CallbackException, QStringLiteral("Callback exception")},
        {NoMemory, QStringLiteral("No memory")},
        {InvalidStructure, QStringLiteral("Invalid structure")},
        {FatalError, QStringLiteral("Fatal error")},
        {PasswordFailed, QStringLiteral("Password failed!")},
        {PasswordCancelled, QStringLiteral("Password cancelled!")},
        {InvalidZipStructure, QStringLiteral("Invalid zip structure!")},
        {NoCentralDirectory, QStringLiteral("No Central directory!")},
        {UnexpectedEnd, QStringLiteral("Unexpected end of Zip file!")},
        {PrematureEnd, QStringLiteral("Premature end of file!")},
        {ErrorOpeningZip, QStringLiteral("Error opening Zip file!")},
        {MultiPartNotSupported, QStringLiteral("Multi-part Zips not supported!")},
        {FileNotFound, QStringLiteral("File not found!")},
        {InternalLogicError, QStringLiteral("Internal logic error!")},
        {NothingToDo, QStringLiteral("Nothing to do!")},
        {BadOptions, QStringLiteral("Bad Options specified!")},
        {TemporaryFileFailure, QStringLiteral("Temporary file failure!")},
        {FileNotFoundOrNoPermission, QStringLiteral("File not found or no permission!")},
        {ErrorReadingFile, QStringLiteral("Error reading file!")},
        {ErrorCreatingFile, QStringLiteral("Error creating file!")},
        {ErrorWritingFile, QStringLiteral("Error writing file!")},
        {ErrorSeeking, QStringLiteral("Error seeking in file!")},
        {MissingOrEmptyZip, QStringLiteral("Missing or empty zip file!")},
        {InvalidCharacters, QStringLiteral("Invalid characters in filename!")},
        {ErrorPrefix, QStringLiteral("Error ")},
        {NothingFound, QStringLiteral("Nothing found")},
        {WarningPrefix, QStringLiteral("Warning: ")},
        {DeleteFailed, QStringLiteral("Delete failed")},
        {CouldNotImportSymbol, QStringLiteral("Fatal Error - could not import symbol!")},
        {SkippingPrefix, QStringLiteral("Skipping: ")},
        {FileLocked, QStringLiteral("File locked")},
        {AccessDenied, QStringLiteral("Access denied")},
        {DuplicateName, QStringLiteral("Duplicate internal name")},
        {NoZipFile, QStringLiteral("Error - no zip file specified!")},
        {NoFilesToZip, QStringLiteral("Error - no files to zip!")},
        {DestinationMustExist, QStringLiteral("Destination directory '%s' must exist!")},
        {CannotWriteTo, QStringLiteral("Cannot write to %s")},
        {TempFileNotCreated, QStringLiteral("Temporary file could not be created")},
        {InputFileMissing, QStringLiteral("Input file does not exist")},
        {WriteError, QStringLiteral("Write error in output file")},
        {LocalHeaderWriteError, QStringLiteral("Error while writing a local header")},
        {CentralHeaderWriteError, QStringLiteral("Error while writing a central header")},
        {EndWriteError, QStringLiteral("Error while writing the End Of Central Directory")},
        {CopyError, QStringLiteral("Error copying compressed data")},
        {FileChanged, QStringLiteral("File changed")},
        {InternalError, QStringLiteral("Internal error")},
        {FatalDllError, QStringLiteral("Fatal Error in DLL: abort exception")},
        {NotEnoughSpace, QStringLiteral("This disk has not enough free space available")},
        {CreateOutputFailed, QStringLiteral("Creation of output file failed")},
        {ConfirmOverwrite, QStringLiteral("There is already a file %s\nDo you want to overwrite this file")},
        {LastPartLeft, QStringLiteral("Last part left as : %s")},
        {ZipNotOpened, QStringLiteral("Zip file could not be opened")},
        {NotValidZip, QStringLiteral("This archive is not a valid Zip archive")},
        {EndReadError, QStringLiteral("Error while reading the End Of Central Directory")},
        {CentralReadError, QStringLiteral("Error while reading a central header")},
        {CentralSignatureWrong, QStringLiteral("A central header signature is wrong")},
        {LocalReadError, QStringLiteral("Error while reading a local header")},
        {NamesDiffer, QStringLiteral("Local and Central names different : %s")},
        {SeekError, QStringLiteral("Seek error in input file")},
        {ReadError, QStringLiteral("Error reading file")},
        {ExtractDirMustExist, QStringLiteral("Extract directory '%s' must exist")},
        {ZipStructureWarning, QStringLiteral("Warning - Error in zip structure!")},
        {CommentReadError, QStringLiteral("Error while reading a file comment")},
        {UnsafeName, QStringLiteral("Unsafe file name in archive: %s")},
        {CrcError, QStringLiteral("CRC error in %s")},
        {Busy, QStringLiteral("Busy, please wait")},
        {OverlappingEntries, QStringLiteral("Overlapping entries in archive: %s")},
    };
    return table;
}

}  // namespace

QString Text(int id)
{
    const auto& table = texts();
    const auto it = table.find(id);
    if (it == table.end())
        return QStringLiteral("Resource missing for ") + QString::number(id);
    return it.value();
}

QString Text(int id, const QString& argument)
{
    QString text = Text(id);
    const qsizetype at = text.indexOf(QLatin1String("%s"));
    if (at >= 0)
        text.replace(at, 2, argument);
    return text;
}

QString ShownName(const QString& name)
{
    constexpr qsizetype kShownChars = 512;
    if (name.size() <= kShownChars)
        return name;
    return name.left(kShownChars / 2) + QStringLiteral("...") + name.right(kShownChars / 2);
}

bool NeverShown(int id)
{
    return id == UserAbort || id == UserCanceled || id == CommentReadError || id == ZipStructureWarning;
}

}  // namespace vz::ArchiveMessage
