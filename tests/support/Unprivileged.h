#pragma once

#include <QCoreApplication>
#include <QTest>
#include <unistd.h>

// Root may read, write and delete anything, so a case that depends on permissions would pass
// as root without testing anything. It skips there instead; ctest runs its executable a second
// time as nobody (the "_nobody" entry of an UNPRIVILEGED test).
#define SKIP_AS_ROOT()                                                                            \
    do {                                                                                          \
        if (::geteuid() == 0)                                                                     \
            QSKIP(("needs an unprivileged user; runs as nobody in "                               \
                   + QCoreApplication::applicationName().toUtf8() + "_nobody").constData());      \
    } while (false)
