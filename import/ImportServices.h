#pragma once
// What the import run works with. The window owns every one of these; the run
// reaches them only through these references.

#include "archive/ArchiveComponent.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/RecycleBin.h"
#include "platform/RunLog.h"
#include "platform/RunFrame.h"
#include "platform/RunSettings.h"
#include "platform/SiblingProgram.h"
#include "platform/UserDialogs.h"
#include "web/AntiFreeze.h"
#include "web/HttpClient.h"

#include <QString>

namespace vz {

struct ImportServices {
    const FileSystem& fileSystem;
    RunFrame& frame;
    UserDialogs& dialogs;
    SiblingProgram& sibling;
    const Clock& clock;
    RunSettings& settings;
    HttpClient& http;
    AntiFreeze& antiFreeze;
    RecycleBin& recycleBin;  // the program's own folders go to the trash through it
    RunLog& log;             // VireoReplicador.log
    ArchiveComponent& archive;  // the window's own, with the extraction options set
    QString title;              // caption of the run's messages
};

// A plain message box of the run: its text, the title as caption, OK.
inline void ShowRunMessage(const ImportServices& services, const QString& text)
{
    ShowMessage(services.dialogs, services.title, text);
}

}  // namespace vz
