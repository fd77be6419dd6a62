#include "platform/QtServices.h"

#include <QCoreApplication>
#include <QProcess>
#include <cstdio>
#include <cstdlib>

QDateTime QtClock::now() const
{
    return QDateTime::currentDateTime();
}

void QtEvents::processPendingEvents()
{
    QCoreApplication::processEvents();
}

bool QtLauncher::startDetached(const QString &commandLine)
{
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return false;
    const QString program = arguments.takeFirst();
    return QProcess::startDetached(program, arguments);
}

QString QtProgramInfo::programFolder() const
{
    return QCoreApplication::applicationDirPath();
}

void QtProgramInfo::exitNow(int code)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(code);
}

void SilentDialogs::messageBox(const QString &, const QString &, Icon)
{
}
