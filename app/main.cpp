#include "BuildInfo.h"
#include "TerminationSignals.h"
#include "capture/ContactCapture.h"
#include "settings/AppPaths.h"
#include "settings/InstanceLock.h"
#include "status/EventReport.h"
#include "ui/HeadlessPrompter.h"
#include "ui/KeyboardStyle.h"
#include "ui/QtPrompter.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

struct Options
{
    bool headless = false;
    QString dataDir;
    int receiveBuffer = ContactCapture::DefaultReceiveBuffer;
};

QString versionNumber()
{
    return QStringLiteral("%1.%2.%3")
        .arg(BuildInfo::VersionMajor)
        .arg(BuildInfo::VersionMinor)
        .arg(BuildInfo::VersionRevision);
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
                        "\n"
                        "Tarvex %s receives the contacts your contest logger broadcasts over UDP and\n"
                        "uploads them to the Corvane online log as they are logged.\n"
                        "\n"
                        "  --headless              Run without a window: messages go to standard error,\n"
                        "                          one line per event to standard output. Without a\n"
                        "                          display Tarvex does this by itself.\n"
                        "  --data-dir DIR          Keep settings, outbox and logs in DIR.\n"
                        "  --receive-buffer BYTES  UDP receive buffer to ask for (default 4 MiB).\n"
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

// Without a display the program falls back to Qt's offscreen platform by
// itself, rather than ending with "could not connect to display".
void choosePlatform(bool headless)
{
    if (headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return;
    }
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "wayland;xcb;offscreen");
    else
        qputenv("QT_QPA_PLATFORM", "xcb;offscreen");
}

// The offscreen platform warns about window hints nobody can see; headless,
// standard error is for messages the operator should read.
void quietOffscreenNoise(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1String("does not support propagateSizeHints")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

// The waits of a run, shortened by the end-to-end tests so they need not sit
// out real pauses: TARVEX_INTERVALS="rebind=100,pause=50,longest=200".
frmMain::Timings timingsFromEnvironment()
{
    frmMain::Timings timings;
    const QString given = qEnvironmentVariable("TARVEX_INTERVALS");
    for (const QString& item : given.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = item.section(QLatin1Char('='), 0, 0).trimmed();
        bool ok = false;
        const std::chrono::milliseconds value(item.section(QLatin1Char('='), 1).toLongLong(&ok));
        if (!ok || value.count() <= 0)
            continue;
        if (name == QLatin1String("rebind"))
            timings.rebind = value;
        else if (name == QLatin1String("sync"))
            timings.outboxSync = value;
        else if (name == QLatin1String("retry"))
            timings.diskRetry = value;
        else if (name == QLatin1String("pause"))
            timings.firstPause = value;
        else if (name == QLatin1String("longest"))
            timings.longestPause = value;
        else if (name == QLatin1String("timeout"))
            timings.requestTimeout = value;
    }
    return timings;
}

void printLine(const QString& line)
{
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    Options options;
    if (const std::optional<int> exitCode = readCommandLine(argc, argv, options))
        return *exitCode;

    installTerminationSignals();
    choosePlatform(options.headless);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvex"));
    QApplication::setStyle(new KeyboardStyle);

    // Headless is the offscreen platform, whoever chose it.
    const bool headless = QGuiApplication::platformName() == QLatin1String("offscreen");
    if (headless && !options.headless)
        std::fprintf(stderr,
                     "No display found: Tarvex runs headless (no window). Messages appear here, events "
                     "on standard output; Ctrl-C stops it.\n");
    if (headless) {
        // Nobody sees a blinking cursor here; it would only wake the process.
        QApplication::setCursorFlashTime(0);
        qInstallMessageHandler(quietOffscreenNoise);
    }
    std::unique_ptr<Prompter> prompter;
    if (headless)
        prompter = std::make_unique<HeadlessPrompter>();
    else
        prompter = std::make_unique<QtPrompter>();

    const AppPaths paths = AppPaths::forRunningProgram(options.dataDir);
    InstanceLock lock(paths.lockFile());
    QString holder;
    QString lockNote;
    if (!lock.acquire(&holder, &lockNote)) {
        prompter->message(nullptr, InstanceLock::alreadyRunning(paths.directory(), holder), QString(),
                          Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
        return InstanceLock::AlreadyRunningExitCode;
    }
    if (!lockNote.isEmpty())
        std::fprintf(stderr, "tarvex: %s\n", qPrintable(lockNote));

    frmMain window(paths, *prompter);
    window.setHeadless(headless);
    window.setReceiveBufferSize(options.receiveBuffer);
    window.setTimings(timingsFromEnvironment());
    onTerminationSignal([&window] {
        window.closeForSignal();
        QApplication::quit(); // a window never shown does not end the event loop by closing
    });
    std::unique_ptr<EventReport> report;
    if (headless) {
        report = std::make_unique<EventReport>(printLine);
        report->attach(window.status(), window.pipeline());
    }
    window.Form_Load();
    // Headless, nobody sees the window: showing it would only lay it out and
    // paint it, up to ten times a second.
    if (!headless)
        window.show();
    const int status = app.exec();
    if (report)
        report->flush();
    return status;
}
