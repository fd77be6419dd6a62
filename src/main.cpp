#include "app/AppState.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "app/TerminationSignals.h"
#include "ui/MessageBoxDialogs.h"

#include <QApplication>
#include <memory>
#include <utility>

int main(int argc, char *argv[])
{
    UseOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    Platform platform = Platform::real();
    platform.dialogs = std::make_shared<MessageBoxDialogs>();
    AppState state(std::move(platform));
    frmMain window(state);

    // A termination signal ends the program as "Beenden" does.
    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::terminationRequested, &window, [&window, &app] {
        window.close();
        app.quit();
    });

    window.Form_Load();
    window.show();
    return app.exec();
}
