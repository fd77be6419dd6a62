#include "app/TerminationSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The one thing a signal handler may reach: the write end of the pair. Set once while the
// handlers are installed; a process has only one set of signal handlers anyway.
volatile sig_atomic_t writeFd = -1;

const int handledSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void OnTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (writeFd >= 0) {
        const ssize_t written = ::write(writeFd, &byte, 1);
        (void)written;
    }
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, mFds) != 0)
        return;
    // A full pair must never block the handler; the signals already written are enough.
    ::fcntl(mFds[0], F_SETFL, ::fcntl(mFds[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(mFds[1], F_SETFL, ::fcntl(mFds[1], F_GETFL) | O_NONBLOCK);
    writeFd = mFds[1];

    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : handledSignals)
        ::sigaction(s, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    if (mFds[0] < 0)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int s : handledSignals)
        ::sigaction(s, &action, nullptr);
    writeFd = -1;
    delete mNotifier;
    ::close(mFds[0]);
    ::close(mFds[1]);
}

void TerminationSignals::start()
{
    if (mFds[0] < 0 || mNotifier)
        return;
    mNotifier = new QSocketNotifier(mFds[0], QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, &TerminationSignals::readSignals);
}

void TerminationSignals::readSignals()
{
    unsigned char bytes[16];
    const ssize_t n = ::read(mFds[0], bytes, sizeof bytes);
    if (n > 0)
        emit terminationRequested(bytes[0]);
}
