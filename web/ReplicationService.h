#pragma once
// The three exchanges with the replication web service: the upload of the
// archive after an export, its download before an import and the removal
// of the server's copy after an import. The installation is named only by
// its client identifier, put into the URLs unchanged.

#include "platform/Clock.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "web/HttpClient.h"

#include <QByteArray>
#include <QString>

namespace vz {

class ReplicationService {
public:
    // baseUrl: "http://" or "https://" + host[:port] + "/Zuvavivevo/".
    ReplicationService(HttpClient& client, const Clock& clock, QString baseUrl, QString clientGuid);

    QString UploadUrl() const;    // BaseUrl + "Upload.aspx?guid=" + ClientGuid
    QString DownloadUrl() const;  // BaseUrl + "Replicacao/" + ClientGuid + ".zip"
    QString RemovalUrl() const;   // BaseUrl + "Remover.aspx?guid=" + ClientGuid

    // Posts the archive as the form's file part "arquivo"; the part names
    // the file by its Windows path. Returns the response body. Raises the
    // client's errors, and vz::Error when the file cannot be opened.
    QString Upload(const QString& archiveWindowsPath, const FileSystem& fs);
    // The same for a file given by its host path.
    QString Upload(const QString& archiveWindowsPath, const QString& archiveHostPath);
    // Appends the server's archive to buffer.
    void Download(QByteArray& buffer);
    // Hands the server's archive to `body` as it arrives.
    void Download(ResponseBody& body);
    // Asks the server to delete its copy; returns the (unused) response text.
    QString Remove();

    // The service took the upload: the body is "TRUE" in any letter case,
    // with nothing around it.
    static bool UploadAccepted(const QString& responseText);
    // The download's error says the server holds no archive.
    static bool NoArchiveOnServer(const Error& error);

    static inline const QString UploadFieldName = QStringLiteral("arquivo");
    static inline const QString UploadPartContentType = QStringLiteral("multipart/form-data");

private:
    HttpClient& client_;
    const Clock& clock_;
    QString baseUrl_;
    QString clientGuid_;
};

}  // namespace vz
