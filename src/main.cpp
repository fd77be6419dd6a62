#include "app/AppState.h"
#include "app/MainWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    AppState state(Platform::real());
    frmMain window(state);
    window.show();
    return app.exec();
}
