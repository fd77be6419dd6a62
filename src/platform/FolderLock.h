#pragma once

#include <QString>

// A lock file that tells which process works in a folder. The kernel holds the lock (flock),
// so it ends with its process however that ends, and a file left behind by a process that is
// gone is simply taken over. Where the file system has no locks, the process id in the file
// decides: a process of that id on this machine still holds it.
class FolderLock
{
public:
    explicit FolderLock(QString filePath);
    ~FolderLock();
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

    // True when this process holds the lock now. False when another process holds it
    // (holder() names it) or the lock file cannot be made (error() says why).
    bool tryLock();
    // Removes the lock file; a no-op unless held.
    void unlock();
    bool isLocked() const { return mFd >= 0; }
    const QString &filePath() const { return mPath; }

    // "Prozess 1234", with " auf <host>" when the holder runs on another machine.
    const QString &holder() const { return mHolder; }
    const QString &error() const { return mError; }

private:
    bool takeOverByProcessId(int iFd);

    QString mPath;
    QString mHolder;
    QString mError;
    int mFd = -1;
};
