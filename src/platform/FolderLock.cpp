#include "platform/FolderLock.h"

#include <QFile>
#include <QSysInfo>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

struct Content
{
    qint64 pid = 0;
    QString host;
};

Content ReadContent(int iFd)
{
    char buffer[512];
    const ssize_t n = ::pread(iFd, buffer, sizeof buffer, 0);
    const QList<QByteArray> lines = QByteArray(buffer, n > 0 ? int(n) : 0).split('\n');
    Content content;
    content.pid = lines.value(0).trimmed().toLongLong();
    content.host = QString::fromUtf8(lines.value(1).trimmed());
    return content;
}

bool WriteContent(int iFd)
{
    const QByteArray text = QByteArray::number(qint64(::getpid())) + '\n' + QSysInfo::machineHostName().toUtf8() + '\n';
    return ::ftruncate(iFd, 0) == 0 && ::pwrite(iFd, text.constData(), size_t(text.size()), 0) == text.size();
}

QString Describe(const Content &content)
{
    QString text = QStringLiteral("Prozess %1").arg(content.pid);
    if (!content.host.isEmpty() && content.host != QSysInfo::machineHostName())
        text += QStringLiteral(" auf ") + content.host;
    return text;
}

bool SameFile(int iFd, const QByteArray &path)
{
    struct stat opened = {}, named = {};
    return ::fstat(iFd, &opened) == 0 && ::stat(path.constData(), &named) == 0 && opened.st_dev == named.st_dev
        && opened.st_ino == named.st_ino;
}

} // namespace

FolderLock::FolderLock(QString filePath)
    : mPath(std::move(filePath))
{
}

FolderLock::~FolderLock()
{
    unlock();
}

bool FolderLock::tryLock()
{
    if (isLocked())
        return true;
    mHolder.clear();
    mError.clear();
    const QByteArray path = QFile::encodeName(mPath);
    // A holder that ends between our open and our lock removes the file we opened: then
    // the name may already belong to a newer file, so we start over.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            mError = mPath + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int reason = errno;
            if (reason == ENOLCK || reason == EOPNOTSUPP || reason == ENOSYS) {
                if (takeOverByProcessId(fd))
                    return true;
            } else if (reason == EWOULDBLOCK) {
                mHolder = Describe(ReadContent(fd));
            } else {
                mError = mPath + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(reason));
            }
            ::close(fd);
            return false;
        }
        if (!SameFile(fd, path)) {
            ::close(fd);
            continue;
        }
        if (!WriteContent(fd)) {
            mError = mPath + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            return false;
        }
        mFd = fd;
        return true;
    }
    mError = mPath + QStringLiteral(": wechselt ständig");
    return false;
}

bool FolderLock::takeOverByProcessId(int iFd)
{
    const Content content = ReadContent(iFd);
    const bool otherHost = !content.host.isEmpty() && content.host != QSysInfo::machineHostName();
    const bool alive = content.pid > 0 && content.pid != ::getpid()
        && (otherHost || ::kill(pid_t(content.pid), 0) == 0 || errno == EPERM);
    if (alive) {
        mHolder = Describe(content);
        return false;
    }
    if (!WriteContent(iFd)) {
        mError = mPath + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    mFd = iFd;
    return true;
}

void FolderLock::unlock()
{
    if (!isLocked())
        return;
    // Removed while still held, so whoever opened it meanwhile sees that the name moved on.
    ::unlink(QFile::encodeName(mPath).constData());
    ::close(mFd);
    mFd = -1;
}
