#include "FakeCorvane.h"
#include "TempDir.h"
#include "upload/HttpFileUpload.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Fault = FakeCorvane::Fault;

namespace {

const QString Putlogs = QStringLiteral("/putlogs.php");
const QString Password = QStringLiteral("s3cret pässword");
const QByteArray Contacts = "<CALL:5>Q9XYZ <EOR>\r\n<CALL:4>K1AB <EOR>\r\n";

void append(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    file.write(bytes);
}

} // namespace

class TestHttpFileUpload : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sendsTheFieldsThenTheFileAsItWasAtStart();
    void endsOnceWhateverTheOutcome_data();
    void endsOnceWhateverTheOutcome();
    void saveLogHidesThePassword();
    void decodeText_data();
    void decodeText();

private:
    std::unique_ptr<HttpFileUpload> makeUpload(const QString& file);

    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<FakeCorvane> m_fake;
    std::unique_ptr<QNetworkAccessManager> m_network;
};

void TestHttpFileUpload::init()
{
    m_dir = std::make_unique<TempDir>();
    m_fake = std::make_unique<FakeCorvane>();
    QVERIFY(m_fake->listen());
    m_network = std::make_unique<QNetworkAccessManager>();
    m_dir->write(QStringLiteral("log.adi"), Contacts);
}

void TestHttpFileUpload::cleanup()
{
    m_network.reset();
    m_fake.reset();
    m_dir.reset();
}

std::unique_ptr<HttpFileUpload> TestHttpFileUpload::makeUpload(const QString& file)
{
    auto upload = std::make_unique<HttpFileUpload>(m_network.get(), m_dir->path());
    upload->setHost(m_fake->baseUrl());
    upload->setPath(Putlogs);
    upload->AddField(QStringLiteral("email"), QStringLiteral("op@example.org"));
    upload->AddField(QStringLiteral("password"), Password);
    upload->AddField(QStringLiteral("callsign"), QStringLiteral("Q9XYZ"));
    upload->AddFile(QStringLiteral("file"), m_dir->file(file));
    return upload;
}

void TestHttpFileUpload::sendsTheFieldsThenTheFileAsItWasAtStart()
{
    const auto upload = makeUpload(QStringLiteral("log.adi"));
    QSignalSpy finished(upload.get(), &HttpFileUpload::finished);
    QVERIFY(upload->Start());
    QVERIFY(upload->Busy());
    // The logger keeps writing while the upload runs.
    append(m_dir->file(QStringLiteral("log.adi")), "<CALL:4>W1AW <EOR>\r\n");
    QVERIFY(finished.wait());

    QCOMPARE(m_fake->requests().size(), 1);
    const FakeCorvane::Request& request = m_fake->requests().first();
    QCOMPARE(request.method, QStringLiteral("POST"));
    QCOMPARE(request.target, Putlogs);
    const QList<FakeCorvane::Part> parts =
        FakeCorvane::multipartParts(request.body, request.header("Content-Type"));
    QCOMPARE(parts.size(), 4);
    const QList<QByteArray> names{parts[0].name, parts[1].name, parts[2].name, parts[3].name};
    QCOMPARE(names, (QList<QByteArray>{"email", "password", "callsign", "file"}));
    QCOMPARE(parts[3].filename, QByteArray("log.adi"));
    QCOMPARE(parts[3].data, Contacts);
    QCOMPARE(upload->fileSnapshot(), Contacts);
}

void TestHttpFileUpload::endsOnceWhateverTheOutcome_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("started");
    QTest::addColumn<bool>("completed");
    QTest::addColumn<int>("statusCode");
    QTest::addColumn<QString>("statusText");

    const auto none = static_cast<int>(Fault::None);
    QTest::newRow("accepted") << "" << 200 << QByteArray("Received 2 QSOs") << none << true << true << 200
                              << "HTTP status 200 OK";
    QTest::newRow("refused") << "" << 500 << QByteArray("Database down") << none << true << true << 500
                             << "HTTP status 500 Internal Server Error";
    QTest::newRow("redirect is not followed")
        << "" << 301 << QByteArray() << none << true << true << 301 << "HTTP status 301 Moved Permanently";
    QTest::newRow("reply cut off") << "" << 200 << QByteArray("Received 2 QSOs")
                                   << static_cast<int>(Fault::CloseHalfway) << true << false << 200
                                   << "The server closed the connection before its reply was complete";
    QTest::newRow("no answer") << "" << 200 << QByteArray() << static_cast<int>(Fault::NeverAnswer) << true
                               << false << 0 << "No progress for 200 ms; the upload was stopped";
    QTest::newRow("connection refused") << "stopped" << 200 << QByteArray() << none << true << false << 0
                                        << "Could not reach the server: Connection refused";
    QTest::newRow("missing file") << "missing" << 200 << QByteArray() << none << false << false << 0
                                  << "Cannot read";
    QTest::newRow("no address") << "no host" << 200 << QByteArray() << none << false << false << 0
                                << "No usable server address";
}

void TestHttpFileUpload::endsOnceWhateverTheOutcome()
{
    QFETCH(QString, setup);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, fault);
    QFETCH(bool, started);
    QFETCH(bool, completed);
    QFETCH(int, statusCode);
    QFETCH(QString, statusText);

    m_fake->setReply(Putlogs, {status, body, 0ms, static_cast<Fault>(fault)});
    if (setup == QLatin1String("stopped"))
        m_fake->stopListening();
    const auto upload = makeUpload(setup == QLatin1String("missing") ? QStringLiteral("gone.adi")
                                                                     : QStringLiteral("log.adi"));
    if (setup == QLatin1String("no host"))
        upload->setHost(QUrl());
    upload->setTimeout(200ms);
    QSignalSpy finished(upload.get(), &HttpFileUpload::finished);

    QCOMPARE(upload->Start(), started);
    QCOMPARE(upload->Busy(), started);
    // Never from inside Start(): the caller connects and sets up after it.
    QCOMPARE(finished.count(), 0);
    QVERIFY(finished.wait());
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 1);

    QVERIFY(!upload->Busy());
    QCOMPARE(upload->Completed(), completed);
    QCOMPARE(upload->StatusCode(), statusCode);
    QVERIFY2(upload->StatusText().startsWith(statusText), qPrintable(upload->StatusText()));
    if (completed)
        QCOMPARE(upload->ResponseBody(), body);
    if (!started)
        QCOMPARE(m_fake->requests().size(), 0);
    // A stalled request is given up, not left hanging on the server.
    QTRY_COMPARE(m_fake->openRequests(), 0);
}

void TestHttpFileUpload::saveLogHidesThePassword()
{
    m_fake->setReply(Putlogs, {500, "Login refused for Q9XYZ", 0ms});
    const auto upload = makeUpload(QStringLiteral("log.adi"));
    QSignalSpy finished(upload.get(), &HttpFileUpload::finished);
    QVERIFY(upload->Start());
    QVERIFY(finished.wait());

    QVERIFY(upload->SaveLog(QStringLiteral("DebugLog.txt")));
    QVERIFY(upload->SaveLog(QStringLiteral("DebugLog.txt")));
    const QString log = QString::fromUtf8(m_dir->read(QStringLiteral("DebugLog.txt")));
    QVERIFY(!log.contains(Password));
    QVERIFY(!log.contains(QString::fromLatin1(Contacts)));
    for (const QString& line :
         {QStringLiteral("POST /putlogs.php HTTP/1.1"),
          QStringLiteral("Host: 127.0.0.1:%1").arg(m_fake->port()), QStringLiteral("password: ********"),
          QStringLiteral("callsign: Q9XYZ"),
          QStringLiteral("file: log.adi (%1 bytes, application/octet-stream)").arg(Contacts.size()),
          QStringLiteral("HTTP/1.1 500 Internal Server Error"), QStringLiteral("Login refused for Q9XYZ")})
        QCOMPARE(log.count(line + QStringLiteral("\r\n")), 2);
    // The boundary logged is the one the server saw.
    const QByteArray contentType = m_fake->requests().first().header("Content-Type");
    QVERIFY(log.contains(QStringLiteral("Content-Type: ") + QString::fromLatin1(contentType)));
}

void TestHttpFileUpload::decodeText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("charset");
    QTest::addColumn<QString>("text");

    QTest::newRow("latin-1") << QByteArray("Caf\xE9 \xB0") << "iso-8859-1" << QStringLiteral("Café °");
    QTest::newRow("name in capitals") << QByteArray("\xE9") << "ISO-8859-1" << QStringLiteral("é");
    QTest::newRow("UTF-8") << QByteArray("Caf\xC3\xA9") << "utf-8" << QStringLiteral("Café");
    QTest::newRow("UTF-8 bytes read as latin-1")
        << QByteArray("\xC3\xA9") << "iso-8859-1" << QStringLiteral("Ã©");
    QTest::newRow("unknown set keeps every byte") << QByteArray("\xE9") << "x-unknown" << QStringLiteral("é");
    QTest::newRow("nothing") << QByteArray() << "iso-8859-1" << QString();
}

void TestHttpFileUpload::decodeText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, charset);
    QFETCH(QString, text);
    QCOMPARE(HttpFileUpload::DecodeText(bytes, charset), text);
}

QTEST_GUILESS_MAIN(TestHttpFileUpload)
#include "tst_httpfileupload.moc"
