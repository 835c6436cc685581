#include "TerminationSignals.h"
#include "settings/AppPaths.h"
#include "ui/QtPrompter.h"
#include "ui/frmMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
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
