#pragma once
// The archive component's messages: each has a number (the error code the
// operations return) and a fixed English text; %s stands for a name.
// Engine errors keep the engine's own numbers 1 to 35.

#include <QString>

namespace vz::ArchiveMessage {

enum Id : int {
    None = 0,
    UserAbort = 1,
    UserCanceled = 2,
    // Engine errors 3..35, in the engine's order.
    CallbackException = 3,
    NoMemory,
    InvalidStructure,
    FatalError,
    PasswordFailed,
    PasswordCancelled,
    InvalidZipStructure,
    NoCentralDirectory,
    UnexpectedEnd,
    PrematureEnd,
    ErrorOpeningZip,
    MultiPartNotSupported,
    FileNotFound,
    InternalLogicError,
    NothingToDo,
    BadOptions,
    TemporaryFileFailure,
    FileNotFoundOrNoPermission,
    ErrorReadingFile,
    ErrorCreatingFile,
    ErrorWritingFile,
    ErrorSeeking,
    MissingOrEmptyZip,
    InvalidCharacters,
    ErrorPrefix,
    NothingFound,
    WarningPrefix,
    DeleteFailed,
    CouldNotImportSymbol,
    SkippingPrefix,
    FileLocked,
    AccessDenied,
    DuplicateName = 35,

    // The component's own messages.
    NoZipFile = 100,
    NoFilesToZip,
    DestinationMustExist,
    CannotWriteTo,
    TempFileNotCreated,
    InputFileMissing,
    WriteError,
    LocalHeaderWriteError,
    CentralHeaderWriteError,
    EndWriteError,
    CopyError,
    FileChanged,
    InternalError,
    FatalDllError,
    NotEnoughSpace,
    CreateOutputFailed,
    ConfirmOverwrite,
    LastPartLeft,
    ZipNotOpened,
    NotValidZip,
    EndReadError,
    CentralReadError,
    CentralSignatureWrong,
    LocalReadError,
    NamesDiffer,
    SeekError,
    ReadError,
    ExtractDirMustExist,
    ZipStructureWarning,
    CommentReadError,
    UnsafeName,
    CrcError,
    Busy,
    OverlappingEntries,
};

// A failure as an operation step returns it: the message and its %s argument.
struct Failure {
    int id = None;
    QString argument;
    explicit operator bool() const { return id != None; }
};

// The text of a message, "%s" not yet filled; "Resource missing for N" when unknown.
QString Text(int id);
// The text with its first "%s" replaced by `argument`.
QString Text(int id, const QString& argument);
// An entry name as a message shows it: one of tens of kilobytes (a hostile
// archive's) is cut in the middle.
QString ShownName(const QString& name);
// Messages that are recorded as the operation's code but never shown.
bool NeverShown(int id);

}  // namespace vz::ArchiveMessage
