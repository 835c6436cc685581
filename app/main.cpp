#include "BuildInfo.h"
#include "TerminationSignals.h"
#include "UploadCommand.h"
#include "settings/AppPaths.h"
#include "settings/InstanceLock.h"
#include "settings/LoginSource.h"
#include "station/Station.h"
#include "status/EventReport.h"
#include "status/StatusModel.h"
#include "ui/KeyboardStyle.h"
#include "ui/QtPrompter.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QDateTime>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <optional>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct Options
{
    bool headless = false;
    QString dataDir;
    QString upload; // a file to upload, then end
    bool force = false;
    bool deleteAfterUpload = false;
    int receiveBuffer = ContactCapture::DefaultReceiveBuffer;
};

QString versionNumber()
{
    return versionText().trimmed();
}

// Our options answer or are taken before any display is needed; every other
// argument is left to Qt (-platform and friends). Returns an exit status
// when the program is done already.
std::optional<int> readCommandLine(int argc, char* argv[], Options& options)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const auto value = [&](qsizetype& i, const QString& name) -> std::optional<QString> {
        if (arguments[i].startsWith(name + QLatin1Char('=')))
            return arguments[i].mid(name.size() + 1);
        if (arguments[i] == name && i + 1 < arguments.size())
            return arguments[++i];
        return std::nullopt;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--version")) {
            std::printf("Tarvex %s\n", qPrintable(versionNumber()));
            return 0;
        }
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            std::printf("Usage: tarvex [--headless] [--data-dir DIR] [--receive-buffer BYTES]\n"
                        "       tarvex --upload FILE [--force] [--delete-after-upload] [--data-dir DIR]\n"
                        "\n"
                        "Tarvex %s receives the contacts your contest logger broadcasts over UDP and\n"
                        "uploads them to the Corvane online log as they are logged.\n"
                        "\n"
                        "  --headless              Run without a window: messages go to standard error,\n"
                        "                          one line per event to standard output. Without a\n"
                        "                          display Tarvex does this by itself.\n"
                        "  --data-dir DIR          Keep settings, outbox and logs in DIR.\n"
                        "  --receive-buffer BYTES  UDP receive buffer to ask for (default 4 MiB).\n"
                        "  --upload FILE           Upload an ADIF file with the data folder's login, print\n"
                        "                          the service's reply and end: 0 when it answered 200, 1\n"
                        "                          another status, 2 a file or setting not usable, 4 no\n"
                        "                          answer. Works beside a running Tarvex.\n"
                        "  --force                 Upload a file that holds no <EOR> too.\n"
                        "  --delete-after-upload   Then delete it, if the service took it and the file\n"
                        "                          still holds exactly what was sent.\n"
                        "  -h, --help              Show this help and exit.\n"
                        "  --version               Show the version and exit.\n"
                        "\n"
                        "Settings live in Tarvex.ini in the data folder: next to the program, or\n"
                        "~/.local/share/Tarvex for an installed copy; see 'man tarvex'.\n",
                        qPrintable(versionNumber()));
            return 0;
        }
        if (argument == QLatin1String("--headless")) {
            options.headless = true;
        } else if (argument == QLatin1String("--force")) {
            options.force = true;
        } else if (argument == QLatin1String("--delete-after-upload")) {
            options.deleteAfterUpload = true;
        } else if (argument.startsWith(QLatin1String("--upload"))) {
            const std::optional<QString> file = value(i, QStringLiteral("--upload"));
            if (!file || file->isEmpty()) {
                std::fprintf(stderr, "tarvex: --upload needs a file\n");
                return 2;
            }
            options.upload = *file;
        } else if (argument.startsWith(QLatin1String("--data-dir"))) {
            const std::optional<QString> dir = value(i, QStringLiteral("--data-dir"));
            if (!dir || dir->isEmpty()) {
                std::fprintf(stderr, "tarvex: --data-dir needs a folder\n");
                return 2;
            }
            options.dataDir = *dir;
        } else if (argument.startsWith(QLatin1String("--receive-buffer"))) {
            const std::optional<QString> bytes = value(i, QStringLiteral("--receive-buffer"));
            bool ok = false;
            const int size = bytes ? bytes->toInt(&ok) : 0;
            if (!ok || size < 4096) {
                std::fprintf(stderr, "tarvex: --receive-buffer takes a number of bytes, 4096 or more\n");
                return 2;
            }
            options.receiveBuffer = size;
        }
    }
    return std::nullopt;
}

bool canConnect(const QByteArray& path, bool abstract)
{
    sockaddr_un address{};
    const qsizetype at = abstract ? 1 : 0;
    if (path.size() + at >= qsizetype(sizeof address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    std::copy(path.cbegin(), path.cend(), address.sun_path + at);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address),
                                         socklen_t(offsetof(sockaddr_un, sun_path) + at + path.size())) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// Which display a window would open on, or why there is none: a service on a
// machine without one must never wait on a box nobody can answer.
std::optional<QString> unusableDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform == "offscreen" || platform == "minimal")
        return QString();
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    const QByteArray x11 = qgetenv("DISPLAY");
    if (wayland.isEmpty() && x11.isEmpty())
        return QString();
    if (!wayland.isEmpty() && canConnect(wayland.startsWith('/') ? wayland : qgetenv("XDG_RUNTIME_DIR") + '/' + wayland, false))
        return std::nullopt;
    if (!x11.isEmpty()) {
        const QByteArray host = x11.left(x11.indexOf(':'));
        const QByteArray number = x11.mid(x11.indexOf(':') + 1);
        const QByteArray socket = "/tmp/.X11-unix/X" + number.left(number.indexOf('.') < 0 ? number.size() : number.indexOf('.'));
        // A remote display (ssh forwarding) is Qt's to try.
        if ((!host.isEmpty() && host != "unix") || canConnect(socket, false) || canConnect(socket, true))
            return std::nullopt;
    }
    return QStringLiteral("The display %1 cannot be opened")
        .arg(QString::fromLocal8Bit(x11.isEmpty() ? wayland : x11));
}

// The waits of a run, shortened by the end-to-end tests so they need not sit
// out real pauses: TARVEX_INTERVALS="rebind=100,pause=50,longest=200".
Station::Timings timingsFromEnvironment()
{
    Station::Timings timings;
    const std::pair<const char*, std::chrono::milliseconds*> names[] = {
        {"rebind", &timings.rebind},       {"sync", &timings.outboxSync},         {"retry", &timings.diskRetry},
        {"pause", &timings.firstPause},    {"longest", &timings.longestPause},    {"timeout", &timings.requestTimeout},
        {"grace", &timings.exitGrace}};
    for (const QString& item : qEnvironmentVariable("TARVEX_INTERVALS").split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const qint64 value = item.section(QLatin1Char('='), 1).toLongLong(&ok);
        for (const auto& [name, field] : names) {
            if (ok && value > 0 && item.section(QLatin1Char('='), 0, 0).trimmed() == QLatin1String(name))
                *field = std::chrono::milliseconds(value);
        }
    }
    return timings;
}

void printLine(std::FILE* out, const QString& line)
{
    std::fprintf(out, "%s\n", qPrintable(line));
    std::fflush(out);
}

QString stamped(const QString& text)
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + text;
}

} // namespace

int main(int argc, char* argv[])
{
    Options options;
    if (const std::optional<int> exitCode = readCommandLine(argc, argv, options))
        return *exitCode;
    if (!options.upload.isEmpty()) {
        QCoreApplication app(argc, argv);
        return uploadCommand(AppPaths::forRunningProgram(options.dataDir), options.upload, options.force,
                             options.deleteAfterUpload);
    }
    installTerminationSignals();

    std::optional<QString> noDisplay = options.headless ? QString() : unusableDisplay();
    if (noDisplay && !options.headless)
        printLine(stderr, (noDisplay->isEmpty() ? QStringLiteral("No display found") : *noDisplay) +
                              QStringLiteral(": Tarvex runs headless (no window). Messages appear here, events on "
                                             "standard output; Ctrl-C stops it."));
    // Headless needs no platform plugin at all.
    std::unique_ptr<QCoreApplication> app;
    if (noDisplay)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tarvex"));

    const AppPaths paths = AppPaths::forRunningProgram(options.dataDir);
    InstanceLock lock(paths.lockFile());
    QString holder;
    QString lockNote;
    if (!lock.acquire(&holder, &lockNote)) {
        const QString text = InstanceLock::alreadyRunning(paths.directory(), holder);
        if (noDisplay)
            printLine(stderr, QString(text).replace(QLatin1String("\r\n"), QLatin1String(" ")));
        else
            QtPrompter().message(nullptr, text, QString(), Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
        return InstanceLock::AlreadyRunningExitCode;
    }
    if (!lockNote.isEmpty())
        std::fprintf(stderr, "tarvex: %s\n", qPrintable(lockNote));

    Station station(paths, timingsFromEnvironment(), options.receiveBuffer);
    station.start();
    onTerminationSignal([] { QCoreApplication::quit(); });

    std::unique_ptr<EventReport> report;
    std::unique_ptr<QtPrompter> prompter;
    std::unique_ptr<frmMain> window;
    if (noDisplay) {
        report = std::make_unique<EventReport>(station.status(), [](const QString& line) { printLine(stdout, line); });
        report->startUp(paths.directory());
        QObject::connect(&station.status(), &StatusModel::bindFailed, [](quint16, const QString& reason) {
            printLine(stderr, stamped(QStringLiteral("Failure: Error occured: ") + reason));
        });
        station.login().watch(paths.directory());
    } else {
        QApplication::setStyle(new KeyboardStyle);
        prompter = std::make_unique<QtPrompter>();
        window = std::make_unique<frmMain>(station, *prompter);
        window->Form_Load();
        window->show();
    }
    const int status = QCoreApplication::exec();
    window.reset();
    // Uploads that land while the station stops are news too.
    const QStringList left = station.stop();
    if (report)
        report->flush();
    for (const QString& line : left)
        printLine(stderr, line);
    return status;
}
