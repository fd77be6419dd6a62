#include "app/AppState.h"
#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "ui/MessageBoxDialogs.h"

#include <QApplication>
#include <memory>
#include <utility>

int main(int argc, char *argv[])
{
    if (const int code = HandleCommandLine(argc, argv); code >= 0)
        return code;
    QApplication app(argc, argv);
    Platform platform = Platform::real();
    platform.dialogs = std::make_shared<MessageBoxDialogs>();
    AppState state(std::move(platform));
    frmMain window(state);
    window.show();
    return app.exec();
}
