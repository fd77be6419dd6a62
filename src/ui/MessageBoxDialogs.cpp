#include "ui/MessageBoxDialogs.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>

namespace {

QMessageBox::Icon ToBoxIcon(Dialogs::Icon icon)
{
    switch (icon) {
    case Dialogs::Icon::Information:
        return QMessageBox::Information;
    case Dialogs::Icon::Warning:
        return QMessageBox::Warning;
    case Dialogs::Icon::Critical:
        return QMessageBox::Critical;
    case Dialogs::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

void MessageBoxDialogs::messageBox(const QString &title, const QString &text, Icon icon)
{
    // Without a screen nobody can press OK; the message goes to the terminal instead, so a
    // recorder started that way neither hides it nor waits for a click that never comes.
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(title), qUtf8Printable(text));
        std::fflush(stderr);
        return;
    }
    QMessageBox box(ToBoxIcon(icon), title, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}
