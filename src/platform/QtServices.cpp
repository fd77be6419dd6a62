#include "platform/QtServices.h"

#include "platform/ShellWords.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <unistd.h>

QDateTime QtClock::now() const
{
    return QDateTime::currentDateTime();
}

void QtEvents::processPendingEvents()
{
    QCoreApplication::processEvents();
}

QString ProgramBehindEnv(const QStringList &words)
{
    if (words.isEmpty() || QFileInfo(words.first()).fileName() != QLatin1String("env"))
        return {};
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString &word = words.at(i);
        if (word == QLatin1String("-S") || word.startsWith(QLatin1String("--split-string")))
            return {};   // a command line of its own: left to env
        if (word == QLatin1String("-u") || word == QLatin1String("--unset") || word == QLatin1String("-C")
            || word == QLatin1String("--chdir"))
            ++i;
        else if (!word.startsWith(QLatin1Char('-')) && !word.contains(QLatin1Char('=')))
            return word;
    }
    return {};
}

bool QtLauncher::startDetached(const QString &commandLine)
{
    QStringList arguments = SplitShellWords(commandLine);
    if (arguments.isEmpty() || arguments.first().isEmpty()) {
        mLastError = QStringLiteral("Kein Programm angegeben.");
        return false;
    }
    // env starts fine whether or not the program it runs exists; only then can another
    // program be tried.
    const QString wrapped = ProgramBehindEnv(arguments);
    if (!wrapped.isEmpty() && QStandardPaths::findExecutable(wrapped).isEmpty()) {
        mLastError = QStringLiteral("Programm nicht gefunden: ") + wrapped;
        return false;
    }
    QProcess process;
    process.setProgram(arguments.takeFirst());
    process.setArguments(arguments);
    const bool started = process.startDetached();
    mLastError = started ? QString() : process.errorString();
    return started;
}

QString QtLauncher::findProgram(const QString &name) const
{
    return QStandardPaths::findExecutable(name);
}

DataFolders ChooseDataFolders(const QString &programFolder, bool besideProgram,
                              const std::function<QString(const char *)> &env)
{
    if (besideProgram)
        return {programFolder, programFolder};
    const auto base = [&env](const char *variable, const char *fallback) {
        const QString value = env(variable);
        // Relative values are invalid and to be ignored.
        const QString root = QDir::isAbsolutePath(value) ? value : env("HOME") + QLatin1Char('/') + QLatin1String(fallback);
        return QDir::cleanPath(root + QStringLiteral("/bildfang"));
    };
    return {base("XDG_CONFIG_HOME", ".config"), base("XDG_STATE_HOME", ".local/state")};
}

bool KeepsDataBesideProgram(const QString &programFolder)
{
    const bool installed = QFileInfo::exists(programFolder + QStringLiteral("/../share/applications/bildfang.desktop"));
    return !installed && ::access(QFile::encodeName(programFolder).constData(), W_OK) == 0;
}

QtProgramInfo::QtProgramInfo(QString configFolder)
    : mConfigFolder(std::move(configFolder))
{
}

QString QtProgramInfo::programFolder() const
{
    return QCoreApplication::applicationDirPath();
}

const DataFolders &QtProgramInfo::folders() const
{
    if (mFolders.settings.isEmpty()) {
        const QString program = programFolder();
        mFolders = !mConfigFolder.isEmpty()
            ? DataFolders{mConfigFolder, mConfigFolder}
            : ChooseDataFolders(program, KeepsDataBesideProgram(program),
                                [](const char *name) { return qEnvironmentVariable(name); });
        QDir().mkpath(mFolders.settings);
        QDir().mkpath(mFolders.logs);
    }
    return mFolders;
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
