#include "BuildInfo.h"
#include "TerminationSignals.h"
#include "settings/AppPaths.h"
#include "ui/QtPrompter.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace {

// --help and --version answer before any display is needed; every other
// argument is left to Qt (-platform and friends). Settings live in Tarvex.ini.
std::optional<int> answerCommandLine(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString version = QStringLiteral("%1.%2.%3")
                                .arg(BuildInfo::VersionMajor)
                                .arg(BuildInfo::VersionMinor)
                                .arg(BuildInfo::VersionRevision);
    if (arguments.contains(QStringLiteral("--version"))) {
        std::printf("Tarvex %s\n", qPrintable(version));
        return 0;
    }
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::printf("Usage: tarvex [--help] [--version]\n"
                    "\n"
                    "Tarvex %s receives the contacts your contest logger broadcasts over UDP and\n"
                    "uploads them to the Corvane online log as they are logged.\n"
                    "\n"
                    "  -h, --help   Show this help and exit.\n"
                    "  --version    Show the version and exit.\n"
                    "\n"
                    "Settings live in Tarvex.ini, next to the program or in ~/.local/share/Tarvex;\n"
                    "see 'man tarvex'.\n",
                    qPrintable(version));
        return 0;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[])
{
    if (const std::optional<int> exitCode = answerCommandLine(argc, argv))
        return *exitCode;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvex"));

    const AppPaths paths = AppPaths::forRunningProgram();
    QtPrompter prompter;
    frmMain window(paths, prompter);
    window.Form_Load();
    onTerminationSignal([&window] { window.close(); });
    window.show();
    return app.exec();
}
