#include "fuzz/ScratchFolder.h"

#include "fuzz/FuzzCheck.h"
#include "platform/FileSystem.h"

#include <QByteArray>
#include <QStringList>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <unistd.h>

namespace vz::fuzz {

ScratchFolder::ScratchFolder()
{
    QByteArray name = hostfs::encodeName(hostfs::tempFolder()) + "/vz-fuzz-XXXXXX";
    FUZZ_CHECK(::mkdtemp(name.data()) != nullptr, "cannot make the scratch folder");
    path_ = hostfs::canonicalPath(hostfs::decodeName(name));
}

ScratchFolder::~ScratchFolder()
{
    hostfs::removeTree(path_);
}

void ScratchFolder::clear() const
{
    DIR* folder = ::opendir(hostfs::encodeName(path_).constData());
    FUZZ_CHECK(folder != nullptr, "cannot list the scratch folder");
    QStringList names;
    while (const dirent* entry = ::readdir(folder)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << hostfs::decodeName(name);
    }
    ::closedir(folder);
    for (const QString& name : names)
        FUZZ_CHECK(hostfs::removeTree(file(name)), "cannot empty the scratch folder");
}

}  // namespace vz::fuzz
