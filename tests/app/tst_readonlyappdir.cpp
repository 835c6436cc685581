#include "FakeCorvane.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#ifdef Q_OS_UNIX
#include <csignal>
#include <pwd.h>
#include <unistd.h>
#endif

// An installed copy: the program's own directory cannot be written, so its
// settings and logs go to the user's data folder instead.
class TestReadOnlyAppDir : public QObject
{
    Q_OBJECT

private slots:
    void settingsAndLogsGoToTheUserDataFolder();
};

void TestReadOnlyAppDir::settingsAndLogsGoToTheUserDataFolder()
{
#ifndef Q_OS_UNIX
    QSKIP("uses Unix permissions and SIGTERM");
#else
    // Root writes through any permission bits, so as root the program runs
    // as the unprivileged user instead.
    QStringList launcher;
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (uid == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (!nobody || setpriv.isEmpty())
            QSKIP("running as root without setpriv or a 'nobody' user: cannot make a directory read-only for "
                  "the program");
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        launcher = {setpriv, QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(gid),
                    QStringLiteral("--clear-groups"), QStringLiteral("--")};
    }

    QTemporaryDir base;
    QVERIFY(base.isValid());
    QFile::setPermissions(base.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                           QFileDevice::ExeOther);
    const QDir root(base.path());
    QVERIFY(root.mkpath(QStringLiteral("app")) && root.mkpath(QStringLiteral("home/data/Tarvex")));
    const QString program = root.filePath(QStringLiteral("app/tarvex"));
    QVERIFY(QFile::copy(QStringLiteral(TARVEX), program));
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                          QFileDevice::ExeOther | QFileDevice::ReadGroup | QFileDevice::ExeGroup;
    QVERIFY(QFile::setPermissions(root.filePath(QStringLiteral("app")), readOnly));

    FakeCorvane service;
    QVERIFY(service.listen());
    service.setReply(QStringLiteral("/realtime.php"), {500, "Internal Server Error"});
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    const quint16 port = probe.localPort();
    probe.close();

    const QString dataDir = root.filePath(QStringLiteral("home/data/Tarvex"));
    QFile ini(QDir(dataDir).filePath(QStringLiteral("Tarvex.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Settings]\r\nUDPPort=" + QByteArray::number(port) +
              "\r\nCorvaneHost=" + service.baseUrl().toString().toUtf8() + "\r\n");
    ini.close();
    for (const QString& path : {root.filePath(QStringLiteral("home")),
                                root.filePath(QStringLiteral("home/data")), dataDir, ini.fileName()})
        QCOMPARE(::chown(QFile::encodeName(path).constData(), uid, gid), 0);

    QProcess tarvex;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), root.filePath(QStringLiteral("home/data")));
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    tarvex.setProcessEnvironment(environment);
    tarvex.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    launcher << program;
    tarvex.start(launcher.takeFirst(), launcher);
    QVERIFY(tarvex.waitForStarted());

    const auto dataFile = [&](const char* name) {
        QFile file(QDir(dataDir).filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QTRY_VERIFY_WITH_TIMEOUT(dataFile("Tarvex.ini").contains("Version="), 10000);

    QUdpSocket sender;
    sender.writeDatagram("<contactinfo><call>Q9RO</call></contactinfo>", QHostAddress::LocalHost, port);
    QTRY_VERIFY_WITH_TIMEOUT(dataFile("NotUploadedQsosLog.adi").contains("<CALL:4>Q9RO "), 10000);
    QVERIFY(dataFile("ErrorLog.txt").contains("HTTP status 500 from the log service"));
    QCOMPARE(service.requests().size(), 1);

    ::kill(static_cast<pid_t>(tarvex.processId()), SIGTERM);
    QVERIFY(tarvex.waitForFinished(10000));
    QCOMPARE(tarvex.exitStatus(), QProcess::NormalExit);
    QCOMPARE(QDir(root.filePath(QStringLiteral("app"))).entryList(QDir::Files | QDir::Hidden),
             QStringList({"tarvex"}));
    // Let the clean-up remove what the program left.
    QFile::setPermissions(root.filePath(QStringLiteral("app")), readOnly | QFileDevice::WriteOwner);
#endif
}

QTEST_GUILESS_MAIN(TestReadOnlyAppDir)
#include "tst_readonlyappdir.moc"
