#pragma once
// What the export run works with. The window owns every one of these; the run
// reaches them only through these references.

#include "db/AutomationDatabases.h"
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

struct ExportServices {
    const FileSystem& fileSystem;
    RunFrame& frame;
    UserDialogs& dialogs;
    SiblingProgram& sibling;
    const Clock& clock;
    RunSettings& settings;
    AutomationDatabases& databases;
    HttpClient& http;
    AntiFreeze& antiFreeze;
    RecycleBin& recycleBin;  // the program's own folders go to the trash through it
    RunLog& log;             // VireoReplicador.log
    QString title;  // caption of the run's messages
};

// A plain message box of the run: its text, the title as caption, OK.
inline void ShowRunMessage(const ExportServices& services, const QString& text)
{
    ShowMessage(services.dialogs, services.title, text);
}

}  // namespace vz
