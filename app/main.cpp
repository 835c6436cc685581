#include "settings/AppPaths.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QTextStream>

// Until the window exists: prepare the settings file and say where it is.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tarvex"));

    const AppPaths paths = AppPaths::forRunningProgram();
    const Settings settings(paths.settingsFile(), paths.debugLog());
    settings.CheckforInIfile();
    QTextStream(stdout) << "Tarvex keeps its settings in " << paths.settingsFile() << Qt::endl;
    return 0;
}
