#include "state/AppState.h"
#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "app/TerminationSignals.h"
#include "platform/FolderLock.h"
#include "platform/QtServices.h"
#include "ui/MessageBoxDialogs.h"

#include <QApplication>
#include <QIcon>
#include <memory>
#include <utility>

int main(int argc, char *argv[])
{
    const CommandLineRequest request = HandleCommandLine(argc, argv);
    if (request.exitCode >= 0)
        return request.exitCode;
    // Caught from here on; one arriving during the start-up is handled after it.
    TerminationSignals terminations;
    UseOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    LoadGermanQtTexts(app);
    QGuiApplication::setDesktopFileName(QStringLiteral("bildfang"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/bildfang/bildfang.png")));
    Platform platform = Platform::real();
    platform.dialogs = std::make_shared<MessageBoxDialogs>();
    platform.program = std::make_shared<QtProgramInfo>(request.configFolder);

    // One instance per folder of settings and logs; held until the process ends.
    const QString dataFolder = platform.program->settingsFolder();
    FolderLock folderLock(FolderLockFileName(dataFolder));
    if (const QString refusal = LockDataFolder(folderLock, dataFolder); !refusal.isEmpty()) {
        platform.dialogs->messageBox(QStringLiteral("Bildfang"), refusal, Dialogs::Icon::Critical);
        return ExitFolderInUse;
    }
    AppState state(std::move(platform));
    frmMain window(state);

    // A termination signal ends the program as "Beenden" does. A close put off until the
    // storage check has ended must not be overtaken by leaving the event loop.
    QObject::connect(&terminations, &TerminationSignals::terminationRequested, &window, [&window, &app] {
        if (window.close())
            app.quit();
    });

    window.Form_Load();
    window.show();
    terminations.start();
    return app.exec();
}
