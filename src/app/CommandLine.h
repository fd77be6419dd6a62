#pragma once

#include <QString>
#include <QStringList>

// The terminal's answer to "--version" and "--help" (also "-h"); false for anything else, so
// that the program starts as usual.
bool CommandLineAnswer(const QStringList &arguments, QString *answer);

// Called first thing by main: prints the answer and gives the exit code, or -1 when the
// program should start its window.
int HandleCommandLine(int argc, char *argv[]);
