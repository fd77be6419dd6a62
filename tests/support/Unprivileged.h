#pragma once

#include <QCoreApplication>
#include <QTest>
#include <unistd.h>

// Root may read, write and delete anything: a permission case would test nothing as root. It
// skips there; ctest runs the executable again as nobody (the "_nobody" entry).
#define SKIP_AS_ROOT()                                                                            \
    do {                                                                                          \
        if (::geteuid() == 0)                                                                     \
            QSKIP(("needs an unprivileged user; runs as nobody in "                               \
                   + QCoreApplication::applicationName().toUtf8() + "_nobody").constData());      \
    } while (false)
