#pragma once
// The export and import runs attached to the main window: the HTTP client
// with its anti-freeze (its work events drive the transfer display), the
// archive component import extracts with, the packaging and delivery state
// kept between exports, the trash and the log the runs use, and the two drivers behind the start buttons and
// the tray's start items. Lives as long as the window.

#include "app/MainWindow.h"
#include "archive/ArchiveComponent.h"
#include "export/ExportDriver.h"
#include "export/PackageAndDelivery.h"
#include "import/ImportDriver.h"
#include "platform/RecycleBin.h"
#include "platform/RunLog.h"
#include "platform/SiblingProgram.h"
#include "web/AntiFreeze.h"
#include "web/HttpClient.h"

namespace vz {

class RunWiring {
public:
    // packaging: the program never sets it (tests make smaller volumes).
    RunWiring(MainWindow& window, SiblingProgram& sibling, PackagingOptions packaging = {});
    ~RunWiring();
    RunWiring(const RunWiring&) = delete;
    RunWiring& operator=(const RunWiring&) = delete;

    AntiFreeze antiFreeze;
    HttpClient httpClient;
    RecycleBin recycleBin;  // the staging mirror and the restore folder, the two newest kept
    RunLog runLog;          // VireoReplicador.log beside the settings file
    ArchiveComponent importArchive;
    PackageAndDelivery packaging;
    ExportDriver exportDriver;
    ImportDriver importDriver;

private:
    MainWindow& window_;
};

}  // namespace vz
