#pragma once

#include <functional>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// A file system that refuses to grow files, for this process while it lives: a write past
// bytes fails with EFBIG instead of raising SIGXFSZ.
struct FileSizeLimit
{
    rlimit before{};
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);

    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &before);
        const rlimit limit{bytes, before.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &before), std::signal(SIGXFSZ, handler); }
};

// Runs work in a child process that is killed outright (SIGKILL: no clean-up of any kind) at
// the write that would grow a file past bytes. True when it died exactly there.
inline bool KilledAtFileSize(rlim_t bytes, const std::function<void()> &work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const FileSizeLimit limit(bytes);
        std::signal(SIGXFSZ, [](int) { ::raise(SIGKILL); });
        work();
        ::_exit(0);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}
