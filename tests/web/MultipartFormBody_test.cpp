#include "tests/support/TempPrefix.h"
#include "tests/web/ScriptedServer.h"
#include "tests/web/WebTestSupport.h"
#include "tools/replication-service/MultipartReader.h"
#include "platform/Errors.h"
#include "web/MultipartFormBody.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

// 26 August 2012, 10:15:30.123 local time.
Timestamp boundaryTime() {
    return EncodeTimestamp(DateTimeParts{2012, 8, 26, 10, 15, 30, 123});
}

// The expected body, built by hand.
QByteArray referenceBody(const QByteArray& path, const QByteArray& content) {
    const QByteArray boundary = "--------082612101530123";
    return "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"arquivo\"; filename=\"" + path +
           "\"\r\n" + "Content-Type: multipart/form-data\r\n" + "Content-Transfer-Encoding: binary\r\n" + "\r\n" +
           content + "\r\n" + "--" + boundary + "--\r\n";
}

QByteArray readAll(MultipartFormBody& body, qint64 blockBytes) {
    QByteArray out;
    QByteArray block(blockBytes, '\0');
    body.Rewind();
    for (qint64 n; (n = body.Read(block.data(), blockBytes)) > 0;) out.append(block.constData(), n);
    return out;
}

class MultipartFormBodyTest : public ::testing::Test {
protected:
    ManualClock clock{boundaryTime()};
    TempDir dir;
};

TEST_F(MultipartFormBodyTest, BytesMatchTheFormAndDoNotDependOnTheReadSize) {
    QByteArray content;
    for (int i = 0; i < 100000; ++i) content += char(i * 7 + i / 251);
    // Something that looks like a line end and a boundary inside the file.
    content.insert(5000, "\r\n----------082612101530");
    const QString host = writeFile(dir.file(QStringLiteral("a.zip")), content);
    const QString windowsPath = QStringLiteral("C:\\Vireo\\{3F2504E0-4F89}.zip");

    MultipartFormBody body(clock);
    EXPECT_EQ(body.Boundary(), QStringLiteral("--------082612101530123"));
    EXPECT_EQ(body.ContentType(), QStringLiteral("multipart/form-data; boundary=--------082612101530123"));
    body.AddFile(QStringLiteral("arquivo"), windowsPath, host, QStringLiteral("multipart/form-data"));
    EXPECT_EQ(body.Length(), 191 + windowsPath.size() + content.size());
    EXPECT_EQ(body.Size(), body.Length() - 29);

    const QByteArray expected = referenceBody(windowsPath.toLatin1(), content);
    EXPECT_EQ(readAll(body, 1 << 20), expected);
    EXPECT_EQ(body.Position(), expected.size());
    EXPECT_EQ(readAll(body, 1), expected);  // after a rewind, in 1-byte reads
    EXPECT_EQ(readAll(body, 32768), expected);
    char more;
    EXPECT_EQ(body.Read(&more, 1), 0);

    // The service's streaming parser reads it back fed in odd pieces.
    MultipartReader reader("--------082612101530123");
    QByteArray name, fileName, data;
    int ends = 0;
    reader.OnPartBegin = [&](const HttpHeaders& h) {
        name = MultipartReader::DispositionParameter(h.Value("Content-Disposition"), "name");
        fileName = MultipartReader::DispositionParameter(h.Value("Content-Disposition"), "filename");
    };
    reader.OnPartData = [&](const char* d, qint64 n) { data.append(d, n); };
    reader.OnPartEnd = [&] { ++ends; };
    for (qsizetype i = 0; i < expected.size(); i += 997) ASSERT_TRUE(reader.Feed(expected.constData() + i, std::min<qsizetype>(997, expected.size() - i)));
    EXPECT_TRUE(reader.Finished());
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(name, "arquivo");
    EXPECT_EQ(fileName, windowsPath.toLatin1());
    EXPECT_EQ(data, content);
}

TEST_F(MultipartFormBodyTest, PythonsFormParserAgrees) {
    const QByteArray content = "PK\x03\x04 some archive bytes \r\n with line ends\r\n";
    const QString host = writeFile(dir.file(QStringLiteral("b.zip")), content);
    MultipartFormBody body(clock);
    // Python's form parser would take a part typed "multipart/form-data" (the
    // program's) for a nested form; the bytes around it are the same.
    body.AddFile(QStringLiteral("arquivo"), QStringLiteral("D:\\Backups\\b.zip"), host, QStringLiteral("application/zip"));
    const QString bodyFile = writeFile(dir.file(QStringLiteral("body.bin")), readAll(body, 7));

    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-W"), QStringLiteral("ignore::DeprecationWarning"), QStringLiteral("-c"), QStringLiteral(R"(
import cgi, io, sys
raw = open(sys.argv[1], 'rb').read()
form = cgi.FieldStorage(fp=io.BytesIO(raw), environ={'REQUEST_METHOD': 'POST',
    'CONTENT_TYPE': sys.argv[2], 'CONTENT_LENGTH': str(len(raw))})
assert len(form.list) == 1, form.list
part = form['arquivo']
# cgi reads the file name as the form sends it, backslashes included.
sys.stdout.write(part.name + '|' + part.filename + '|' + part.type + '|' + part.headers['Content-Transfer-Encoding'] + '|')
sys.stdout.flush()
sys.stdout.buffer.write(part.value)
)"),
                  bodyFile, body.ContentType()});
    ASSERT_TRUE(python.waitForFinished(60000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().constData();
    EXPECT_EQ(python.readAllStandardOutput().toStdString(),
              QByteArray("arquivo|D:\\Backups\\b.zip|application/zip|binary|" + content)
                  .toStdString());
}

TEST_F(MultipartFormBodyTest, EmptyFileQuotesInPathAndSameMillisecond) {
    const QString host = writeFile(dir.file(QStringLiteral("empty.zip")), QByteArray());
    const QString path = QStringLiteral("C:\\a \"quoted\" name.zip");
    MultipartFormBody body(clock);
    body.AddFile(QStringLiteral("arquivo"), path, host, QStringLiteral("multipart/form-data"));
    EXPECT_EQ(body.Length(), 191 + path.size());
    EXPECT_EQ(readAll(body, 4096), referenceBody(path.toLatin1(), QByteArray()));

    MultipartFormBody twin(clock);
    EXPECT_EQ(twin.Boundary(), body.Boundary());
    clock.advanceMs(1);
    EXPECT_EQ(MultipartFormBody(clock).Boundary(), QStringLiteral("--------082612101530124"));
}

TEST_F(MultipartFormBodyTest, FilesAreOpenedAtOnceWithWritersLockedOut) {
    const QString host = writeFile(dir.file(QStringLiteral("locked.zip")), "bytes");
    {
        MultipartFormBody body(clock);
        body.AddFile(QStringLiteral("arquivo"), QStringLiteral("C:\\locked.zip"), host, QStringLiteral("multipart/form-data"));
        // A writer that wants the file to itself is refused, and so is one
        // that would replace it; readers are welcome.
        EXPECT_FALSE(HostFile::openReadWrite(host, ShareMode::None).isOpen());
        EXPECT_FALSE(HostFile::create(host, ShareMode::None).isOpen());
        EXPECT_TRUE(HostFile::openRead(host, ShareMode::DenyWrite).isOpen());
    }
    EXPECT_EQ(readFile(host), "bytes");
    EXPECT_TRUE(HostFile::openReadWrite(host, ShareMode::None).isOpen());

    MultipartFormBody body(clock);
    try {
        body.AddFile(QStringLiteral("arquivo"), QStringLiteral("C:\\missing.zip"), dir.file(QStringLiteral("missing.zip")),
                     QStringLiteral("multipart/form-data"));
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Cannot open file \"C:\\missing.zip\"."))) << e.what();
    }
    EXPECT_EQ(body.Length(), 29);  // no part was added

    // Through a drive map: the part names the Windows path, the host file is read.
    TempPrefix prefix;
    writeFile(prefix.drive(QStringLiteral("c")) + QStringLiteral("/Arquivos/x.zip"), "mapped");
    FileSystem fs(prefix.driveMap());
    MultipartFormBody mapped(clock);
    mapped.AddFile(QStringLiteral("arquivo"), QStringLiteral("C:\\Arquivos\\x.zip"), fs, QStringLiteral("multipart/form-data"));
    EXPECT_EQ(readAll(mapped, 100), referenceBody("C:\\Arquivos\\x.zip", "mapped"));
}

TEST_F(MultipartFormBodyTest, AFileThatChangesSizeMakesTheUploadFail) {
    ClientFixture fixture;
    ScriptedServer server;
    const QString host = writeFile(dir.file(QStringLiteral("changing.zip")), QByteArray(100000, 'c'));

    const auto uploadError = [&](MultipartFormBody& body) {
        server.AddConnection({ReadRequest()});
        try {
            fixture.client.PostMultipart(server.url(QStringLiteral("/up")), body);
        } catch (const Error& e) {
            return e.message();
        }
        return QStringLiteral("no error");
    };

    MultipartFormBody shrinking(clock);
    shrinking.AddFile(QStringLiteral("arquivo"), QStringLiteral("C:\\changing.zip"), host, QStringLiteral("multipart/form-data"));
    ASSERT_TRUE(QFile::resize(host, 50000));
    EXPECT_EQ(uploadError(shrinking), QStringLiteral("No data to read."));

    // A file that grew would be cut off inside the announced length: refused.
    MultipartFormBody growing(clock);
    growing.AddFile(QStringLiteral("arquivo"), QStringLiteral("C:\\changing.zip"), host, QStringLiteral("multipart/form-data"));
    ASSERT_TRUE(QFile::resize(host, 60000));
    EXPECT_EQ(uploadError(growing), QStringLiteral("The file \"C:\\changing.zip\" changed while it was being sent."));
    EXPECT_FALSE(fixture.client.Connected());
}

}  // namespace
