#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for. Arguments it does not know are left to Qt.
struct CommandLineRequest
{
    // Printed on the terminal (standard error when exitCode is not 0); then the program ends.
    QString answer;
    // -1: the program starts.
    int exitCode = -1;
    // "--config DIR": the folder of the settings file and the log files, absolute; empty
    // for the usual folders.
    QString configFolder;
};

// Exit code of a command line the program does not understand.
constexpr int ExitUsage = 2;

// A relative folder is taken from workingFolder.
CommandLineRequest ParseCommandLine(const QStringList &arguments, const QString &workingFolder);

// Called first thing by main: prints the answer, if any.
CommandLineRequest HandleCommandLine(int argc, char *argv[]);
