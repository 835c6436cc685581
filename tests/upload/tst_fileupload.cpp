#include "FakeCorvane.h"
#include "TempDir.h"
#include "TestMain.h"
#include "upload/HttpClient.h"
#include "upload/HttpFileUpload.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using Fault = FakeCorvane::Fault;
using Reply = FakeCorvane::Reply;
Q_DECLARE_METATYPE(FakeCorvane::Reply)

namespace {

const QString Password = QStringLiteral("s3cret pässword");
const QByteArray Contacts = "<CALL:5>Q9XYZ <EOR>\r\n<CALL:4>K1AB <EOR>\r\n";

// A manual upload of `file` in a throw-away directory holding "log.adi", to a fake service.
struct Rig
{
    explicit Rig(const QString& file = QStringLiteral("log.adi"))
    {
        if (!fake.listen())
            qFatal("fake service did not start");
        dir.write(QStringLiteral("log.adi"), Contacts);
        upload.setHost(fake.baseUrl());
        upload.setPath(QStringLiteral("/putlogs.php"));
        upload.AddField(QStringLiteral("email"), QStringLiteral("op@example.org"));
        upload.AddField(QStringLiteral("password"), Password);
        upload.AddField(QStringLiteral("callsign"), QStringLiteral("Q9XYZ"));
        upload.AddFile(QStringLiteral("file"), dir.file(file));
    }

    TempDir dir;
    FakeCorvane fake;
    HttpClient http;
    HttpFileUpload upload{http, dir.path()};
    QSignalSpy finished{&upload, &HttpFileUpload::finished};
};

} // namespace

class TestHttpFileUpload : public QObject
{
    Q_OBJECT

private slots:
    void bodyIsWhatQHttpMultiPartSent();
    void sendsTheFieldsThenTheFileAsItWasAtStart();
    void endsOnceWhateverTheOutcome_data();
    void endsOnceWhateverTheOutcome();
};

void TestHttpFileUpload::bodyIsWhatQHttpMultiPartSent()
{
    const QByteArray sent = "--B\r\nContent-Disposition: form-data; name=\"email\"\r\n\r\nop@example.org\r\n"
                            "--B\r\nContent-Disposition: form-data; name=\"a%22%0D%0A\"\r\n\r\n\xC3\xA4\r\n"
                            "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"log.adi\"\r\n"
                            "Content-Type: application/octet-stream\r\n\r\n" +
                            Contacts + "\r\n--B--\r\n";
    QCOMPARE(multipartFormData({{"email", "op@example.org", {}},
                                {QStringLiteral("a\"\r\n"), QStringLiteral("ä").toUtf8(), {}},
                                {"file", Contacts, "log.adi"}},
                               "B"),
             sent);
}

void TestHttpFileUpload::sendsTheFieldsThenTheFileAsItWasAtStart()
{
    Rig rig;
    rig.fake.setReply(QStringLiteral("/putlogs.php"), {200, "Received 2 QSOs"});
    QVERIFY(rig.upload.Start());
    QFile log(rig.dir.file(QStringLiteral("log.adi"))); // the logger keeps writing while the upload runs
    QVERIFY(log.open(QIODevice::Append));
    log.write("<CALL:4>W1AW <EOR>\r\n");
    log.close();
    QVERIFY(rig.finished.wait());

    const FakeCorvane::Request& request = rig.fake.requests().first();
    QCOMPARE(request.target, QStringLiteral("/putlogs.php"));
    const QByteArray boundary = request.header("Content-Type").split('"').value(1);
    QCOMPARE(request.header("Content-Type"), "multipart/form-data; boundary=\"" + boundary + '"');
    QVERIFY2(boundary.startsWith("boundary_.oOo._") && boundary.size() == 47, boundary);
    QCOMPARE(request.body, multipartFormData({{"email", "op@example.org", {}},
                                              {"password", Password.toUtf8(), {}},
                                              {"callsign", "Q9XYZ", {}},
                                              {"file", Contacts, "log.adi"}},
                                             boundary));

    // The record of the exchange never holds the password.
    QVERIFY(rig.upload.SaveLog(QStringLiteral("DebugLog.txt")));
    const QString saved = QString::fromUtf8(rig.dir.read(QStringLiteral("DebugLog.txt")));
    QVERIFY(!saved.contains(Password));
    for (const QString& line : {QStringLiteral("POST /putlogs.php HTTP/1.1"),
                                QStringLiteral("password: ********"), QStringLiteral("callsign: Q9XYZ"),
                                QStringLiteral("HTTP/1.1 200 OK"), QStringLiteral("Received 2 QSOs"),
                                "Content-Type: " + QString::fromLatin1(request.header("Content-Type"))})
        QVERIFY2(saved.contains(line + QStringLiteral("\r\n")), qPrintable(line));
}

void TestHttpFileUpload::endsOnceWhateverTheOutcome_data()
{
    // clang-format off
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("completed");
    QTest::addColumn<QString>("statusText");

    QTest::newRow("accepted") << Reply{200, "Received 2 QSOs"} << "log.adi" << true << "HTTP status 200 OK";
    QTest::newRow("refused") << Reply{500, "Database down"} << "log.adi" << true
                             << "HTTP status 500 Internal Server Error";
    // The time-out is a stall limit.
    QTest::newRow("stalled") << Reply{200, {}, 0ms, Fault::NeverAnswer} << "log.adi" << false
                              << "No progress with the server for 200 ms; the transfer was stopped";
    QTest::newRow("missing file") << Reply{} << "gone.adi" << false << "Cannot read";
    // clang-format on
}

void TestHttpFileUpload::endsOnceWhateverTheOutcome()
{
    QFETCH(Reply, reply);
    QFETCH(QString, file);
    QFETCH(bool, completed);
    QFETCH(QString, statusText);

    Rig rig(file);
    rig.fake.setReply(QStringLiteral("/putlogs.php"), reply);
    rig.upload.setTimeout(200ms);
    const bool started = rig.upload.Start();
    QCOMPARE(started, file == QLatin1String("log.adi"));
    QCOMPARE(rig.finished.count(), 0); // never from inside Start(): the caller connects after it
    QVERIFY(rig.finished.wait());
    QCoreApplication::processEvents();
    QCOMPARE(rig.finished.count(), 1);

    QCOMPARE(rig.upload.Completed(), completed);
    QVERIFY2(rig.upload.StatusText().startsWith(statusText), qPrintable(rig.upload.StatusText()));
    if (completed) {
        QCOMPARE(rig.upload.StatusCode(), reply.status);
        QCOMPARE(rig.upload.ResponseBody(), reply.body);
    }
    QCOMPARE(rig.fake.requests().size(), int(started));
    QTRY_COMPARE(rig.fake.openRequests(), 0); // a stalled request is given up, not left hanging
}

TARVEX_TEST(TestHttpFileUpload)
#include "tst_fileupload.moc"
