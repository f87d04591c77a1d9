#pragma once
// Temporary files the program writes beside the file they will become (or
// replace): ".~vz" + 8 letters or digits + ".tmp". The name is recognisable,
// so that what an interrupted run left behind can be found and removed by the
// next one, and never the station's own files.

#include "platform/HostFile.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <sys/types.h>

namespace vz::hostfs {

inline constexpr int TemporaryRandomChars = 8;

// True for a name (not a path) of the form above.
bool isTemporaryName(QStringView name);
bool isTemporaryName(const char* name);

// Creates a new, empty temporary file (O_EXCL, with mode less the umask) in
// the folder and opens it for reading and writing, locked without sharing
// for as long as it is open; *hostPath receives its path. A file that is not
// open (errno in errorNumber()) when none could be made. 0666 gives a file
// the mode a newly created one gets, for files that become one in place.
HostFile createTemporaryFile(const QString& hostFolder, QString* hostPath, mode_t mode = 0600);

// Removes the temporary files of this program that nobody holds open (the
// leftovers of a run that ended midway) directly in the folder, and in its
// real subfolders (never through a link) when recursive. Returns how many
// were removed.
int removeTemporaryFiles(const QString& hostFolder, bool recursive);

}  // namespace vz::hostfs

namespace vz::detail {
// The same as createTemporaryFile on encoded paths: the descriptor, or -1
// with errno set. *path receives the file's path.
int createTemporaryIn(const QByteArray& folder, QByteArray* path, mode_t mode = 0600);
}  // namespace vz::detail
