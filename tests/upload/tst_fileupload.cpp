#include "FakeCorvane.h"
#include "TempDir.h"
#include "TestMain.h"
#include "upload/HttpFileUpload.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>

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
    QNetworkAccessManager network;
    HttpFileUpload upload{&network, dir.path()};
    QSignalSpy finished{&upload, &HttpFileUpload::finished};
};

// A transfer that keeps going slowly: progress every 40 ms for a third of a
// second, then the service's "OK".
class TrickleReply final : public QNetworkReply
{
public:
    explicit TrickleReply(QObject* parent) : QNetworkReply(parent)
    {
        setOpenMode(QIODevice::ReadOnly);
        auto* clock = new QTimer(this);
        connect(clock, &QTimer::timeout, this, [this, clock] {
            if (++m_step <= 8) {
                emit uploadProgress(m_step * 100, 800);
                return;
            }
            clock->stop();
            setAttribute(QNetworkRequest::HttpStatusCodeAttribute, 200);
            m_body = "OK";
            emit readyRead();
            setFinished(true);
            emit finished();
        });
        clock->start(40);
    }
    void abort() override
    {
        setError(OperationCanceledError, QStringLiteral("aborted"));
        setFinished(true);
        emit finished();
    }
    qint64 bytesAvailable() const override { return m_body.size() + QNetworkReply::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 size) override
    {
        const qint64 taken = std::min<qint64>(size, m_body.size());
        std::copy_n(m_body.constData(), taken, data);
        m_body.remove(0, taken);
        return taken;
    }

private:
    int m_step = 0;
    QByteArray m_body;
};

class TrickleNetwork final : public QNetworkAccessManager
{
protected:
    QNetworkReply* createRequest(Operation, const QNetworkRequest&, QIODevice*) override
    {
        return new TrickleReply(this);
    }
};

} // namespace

class TestHttpFileUpload : public QObject
{
    Q_OBJECT

private slots:
    void sendsTheFieldsThenTheFileAsItWasAtStart();
    void endsOnceWhateverTheOutcome_data();
    void endsOnceWhateverTheOutcome();
    void unknownCharacterSetsKeepEveryByte();
    void aSlowTransferThatProgressesIsNotStalled();
};

void TestHttpFileUpload::aSlowTransferThatProgressesIsNotStalled()
{
    TempDir dir;
    dir.write(QStringLiteral("log.adi"), Contacts);
    TrickleNetwork network;
    HttpFileUpload upload(&network, dir.path());
    upload.setHost(QUrl(QStringLiteral("http://127.0.0.1:9")));
    upload.setPath(QStringLiteral("/putlogs.php"));
    upload.AddFile(QStringLiteral("file"), dir.file(QStringLiteral("log.adi")));
    upload.setTimeout(100ms); // far shorter than the whole transfer, longer than its quiet spells
    QSignalSpy finished(&upload, &HttpFileUpload::finished);
    QVERIFY(upload.Start());
    QVERIFY(finished.wait());
    QVERIFY2(upload.Completed(), qPrintable(upload.StatusText()));
    QCOMPARE(upload.StatusCode(), 200);
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
    const QList<FakeCorvane::Part> parts =
        FakeCorvane::multipartParts(request.body, request.header("Content-Type"));
    QCOMPARE(parts.size(), 4);
    const QList<QByteArray> names{parts[0].name, parts[1].name, parts[2].name, parts[3].name};
    QCOMPARE(names, (QList<QByteArray>{"email", "password", "callsign", "file"}));
    QCOMPARE(parts[1].data, Password.toUtf8());
    QCOMPARE(parts[3].filename, QByteArray("log.adi"));
    QCOMPARE(parts[3].contentType, QByteArray("application/octet-stream"));
    QCOMPARE(parts[3].data, Contacts);

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
    QTest::addColumn<Reply>("reply"); // status 0: nobody listening
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("completed");
    QTest::addColumn<QString>("statusText");

    QTest::newRow("accepted") << Reply{200, "Received 2 QSOs"} << "log.adi" << true << "HTTP status 200 OK";
    QTest::newRow("refused") << Reply{500, "Database down"} << "log.adi" << true
                             << "HTTP status 500 Internal Server Error";
    QTest::newRow("reply cut off")
        << Reply{200, "Received 2 QSOs", 0ms, Fault::CloseHalfway} << "log.adi" << false
        << "The server closed the connection before its reply was complete";
    QTest::newRow("time-out") << Reply{200, {}, 0ms, Fault::NeverAnswer} << "log.adi" << false
                              << "No progress for 200 ms; the upload was stopped";
    QTest::newRow("connection refused") << Reply{0, {}} << "log.adi" << false
                                        << "Could not reach the server: Connection refused";
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
    if (reply.status == 0)
        rig.fake.stopListening();
    rig.upload.setTimeout(200ms);
    const bool started = rig.upload.Start();
    QCOMPARE(started, file == QLatin1String("log.adi"));
    QCOMPARE(rig.upload.Busy(), started);
    QCOMPARE(rig.finished.count(), 0); // never from inside Start(): the caller connects after it
    QVERIFY(rig.finished.wait());
    QCoreApplication::processEvents();
    QCOMPARE(rig.finished.count(), 1);

    QVERIFY(!rig.upload.Busy());
    QCOMPARE(rig.upload.Completed(), completed);
    QVERIFY2(rig.upload.StatusText().startsWith(statusText), qPrintable(rig.upload.StatusText()));
    if (completed) {
        QCOMPARE(rig.upload.StatusCode(), reply.status);
        QCOMPARE(rig.upload.ResponseBody(), reply.body);
    }
    QCOMPARE(rig.fake.requests().size(), int(started && reply.status != 0));
    QTRY_COMPARE(rig.fake.openRequests(), 0); // a stalled request is given up, not left hanging
}

void TestHttpFileUpload::unknownCharacterSetsKeepEveryByte()
{
    QCOMPARE(HttpFileUpload::DecodeText("Caf\xE9 \xB0", QStringLiteral("ISO-8859-1")),
             QStringLiteral("Café °"));
    QCOMPARE(HttpFileUpload::DecodeText("Caf\xC3\xA9", QStringLiteral("utf-8")), QStringLiteral("Café"));
    QCOMPARE(HttpFileUpload::DecodeText("\xE9", QStringLiteral("x-unknown")), QStringLiteral("é"));
}

TARVEX_TEST(TestHttpFileUpload)
#include "tst_fileupload.moc"
