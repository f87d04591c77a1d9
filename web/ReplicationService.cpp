#include "web/ReplicationService.h"

#include "web/MultipartFormBody.h"

namespace vz {

ReplicationService::ReplicationService(HttpClient& client, const Clock& clock, QString baseUrl, QString clientGuid)
    : client_(client), clock_(clock), baseUrl_(std::move(baseUrl)), clientGuid_(std::move(clientGuid)) {}

QString ReplicationService::UploadUrl() const { return baseUrl_ + QStringLiteral("Upload.aspx?guid=") + clientGuid_; }

QString ReplicationService::DownloadUrl() const {
    return baseUrl_ + QStringLiteral("Replicacao/") + clientGuid_ + QStringLiteral(".zip");
}

QString ReplicationService::RemovalUrl() const { return baseUrl_ + QStringLiteral("Remover.aspx?guid=") + clientGuid_; }

QString ReplicationService::Upload(const QString& archiveWindowsPath, const FileSystem& fs) {
    MultipartFormBody body(clock_);
    body.AddFile(UploadFieldName, archiveWindowsPath, fs, UploadPartContentType);
    return client_.PostMultipart(UploadUrl(), body);
}

QString ReplicationService::Upload(const QString& archiveWindowsPath, const QString& archiveHostPath) {
    MultipartFormBody body(clock_);
    body.AddFile(UploadFieldName, archiveWindowsPath, archiveHostPath, UploadPartContentType);
    return client_.PostMultipart(UploadUrl(), body);
}

void ReplicationService::Download(QByteArray& buffer) { client_.Get(DownloadUrl(), buffer); }

void ReplicationService::Download(ResponseBody& body) { client_.Get(DownloadUrl(), body); }

QString ReplicationService::Remove() { return client_.GetText(RemovalUrl()); }

bool ReplicationService::UploadAccepted(const QString& responseText) {
    return responseText.toUpper() == QLatin1String("TRUE");
}

bool ReplicationService::NoArchiveOnServer(const Error& error) {
    return error.message().toUpper().contains(QLatin1String("404 NOT FOUND"));
}

}  // namespace vz
