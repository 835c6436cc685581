#include "FakeCorvane.h"

#include "NumberOption.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <optional>

namespace {

// Long values are shortened so one request stays one line.
QString shown(const QString& value)
{
    constexpr qsizetype Limit = 300;
    return value.size() <= Limit ? value : value.left(Limit) + QStringLiteral("...");
}

} // namespace

// Plays the log service on loopback and prints each request it answers.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fake-corvane"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Answers /realtime.php and /putlogs.php on 127.0.0.1 as the log service would."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("Port to listen on; 0 lets the system pick."),
         QStringLiteral("N"), QStringLiteral("0")},
        {QStringLiteral("reply"), QStringLiteral("Reply body."), QStringLiteral("TEXT"),
         QStringLiteral("OK")},
        {QStringLiteral("status"), QStringLiteral("HTTP status of the reply."), QStringLiteral("N"),
         QStringLiteral("200")},
        {QStringLiteral("delay"), QStringLiteral("Milliseconds to wait before each reply."),
         QStringLiteral("MS"), QStringLiteral("0")},
    });
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const std::optional<qint64> port = numberOption(parser, QStringLiteral("port"), 0, 65535);
    const std::optional<qint64> status = numberOption(parser, QStringLiteral("status"), 100, 599);
    const std::optional<qint64> delay = numberOption(parser, QStringLiteral("delay"), 0, 3600 * 1000);
    if (!port || !status || !delay) {
        err << "fake-corvane: --port takes 0 to 65535, --status 100 to 599, --delay 0 to 3600000" << Qt::endl;
        return 2;
    }

    FakeCorvane fake;
    const FakeCorvane::Reply reply{static_cast<int>(*status), parser.value(QStringLiteral("reply")).toUtf8(),
                                   std::chrono::milliseconds(*delay)};
    fake.setReply(QStringLiteral("/realtime.php"), reply);
    fake.setReply(QStringLiteral("/putlogs.php"), reply);
    if (!fake.listen(static_cast<quint16>(*port))) {
        err << "fake-corvane: cannot listen on port " << *port << ": " << fake.errorString() << Qt::endl;
        return 1;
    }
    out << "listening on " << fake.baseUrl().toString() << Qt::endl;

    QObject::connect(&fake, &FakeCorvane::requestReceived, &app, [&out](const FakeCorvane::Request& request) {
        out << request.method << ' ' << request.path << ' ' << request.body.size() << " bytes";
        if (request.path == QLatin1String("/realtime.php")) {
            const QMap<QString, QString> fields = FakeCorvane::formFields(request.body);
            out << " callsign=" << shown(fields.value(QStringLiteral("callsign")))
                << " adif=" << shown(fields.value(QStringLiteral("adif")));
        }
        out << Qt::endl;
    });
    return app.exec();
}
