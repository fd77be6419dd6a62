#include "platform/QtFileSystem.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Makes published files durable off the GUI thread: while something new was written, one
// syncfs of the file system that received it, at most once per second. Once on disk, the
// images leave the page cache: they are written once and hardly read again, and a day of
// them would otherwise push everything else out of memory. It shares nothing with the
// program but the name of the last folder written to and descriptors of the files.
class DiskSyncWorker
{
public:
    DiskSyncWorker() : mThread([this] { run(); }) {}
    ~DiskSyncWorker()
    {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mStop = true;
        }
        mWake.notify_one();
        mThread.join();
    }

    // file: a descriptor of the written file that the worker closes, or -1.
    void written(std::string folder, int file)
    {
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            if (folder != mFolder)
                mFolder = std::move(folder);
            // Bounded, so that a slow disk cannot use up the descriptors the cameras need;
            // the batch being synced still holds its descriptors and counts too.
            if (file >= 0 && mFiles.size() + mSyncing < MaxFiles) {
                mFiles.push_back(file);
                file = -1;
            }
            wake = !mDirty;
            mDirty = true;
        }
        if (file >= 0)
            ::close(file);
        if (wake)
            mWake.notify_one();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mMutex);
        for (;;) {
            mWake.wait(lock, [this] { return mDirty || mStop; });
            // A second's writes share one sync; the last one before the end gets its own.
            if (!mStop)
                mWake.wait_for(lock, std::chrono::seconds(1), [this] { return mStop; });
            if (!mDirty)
                return;
            const std::string folder = mFolder;
            std::vector<int> files;
            files.swap(mFiles);
            mSyncing = files.size();
            mDirty = false;
            const bool stop = mStop;
            lock.unlock();
            syncFileSystemOf(folder);
            // Clean pages only go; a file of another file system written meanwhile keeps its
            // dirty ones and merely starts being written out.
            for (const int file : files) {
                ::posix_fadvise(file, 0, 0, POSIX_FADV_DONTNEED);
                ::close(file);
            }
            lock.lock();
            mSyncing = 0;
            if (stop)
                return;
        }
    }

    static void syncFileSystemOf(const std::string &folder)
    {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return;   // the folder went meanwhile: the storage limit took it
        ::syncfs(fd);
        ::close(fd);
    }

    std::mutex mMutex;
    std::condition_variable mWake;
    static constexpr size_t MaxFiles = 256;
    std::string mFolder;
    std::vector<int> mFiles;
    size_t mSyncing = 0;   // descriptors of the batch the worker is syncing
    bool mDirty = false;
    bool mStop = false;
    std::thread mThread;   // last: starts when everything above is ready
};

namespace {

QString ChildPath(const QString &folder, const QString &name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

void SetError(QString *error, const QString &text)
{
    if (error && error->isEmpty())
        *error = text;
}

// A real folder: symbolic links to folders are entries, not folders, so no walk leaves its tree.
bool IsRealFolder(const QFileInfo &info)
{
    return info.isDir() && !info.isSymLink();
}

// Removes a file or a link itself. A read-only file is made writable first, as a forced
// deletion does; on this system it is the folder's permission that matters, handled below.
bool RemoveEntry(const QString &path, QString *error)
{
    QFile file(path);
    if (file.remove())
        return true;
    const QFileInfo info(path);
    if (!info.isSymLink()) {
        file.setPermissions(file.permissions() | QFile::WriteOwner);
        if (file.remove())
            return true;
    }
    SetError(error, path + QStringLiteral(": ") + file.errorString());
    return false;
}

// Deletes a real folder with its whole contents. Goes on after a failure so that as much
// as possible is freed, and reports the first failure.
bool RemoveTree(const QString &path, QString *error)
{
    // Entries of a folder without write or search permission cannot be removed; open it up
    // first, the way a forced deletion does.
    const QFile::Permissions need = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const QFile::Permissions perms = QFile::permissions(path);
    if ((perms & need) != need)
        QFile::setPermissions(path, perms | need);

    bool ok = true;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString entry = it.next();
        if (IsRealFolder(it.fileInfo()))
            ok = RemoveTree(entry, error) && ok;
        else
            ok = RemoveEntry(entry, error) && ok;
    }
    if (!QDir().rmdir(path)) {
        SetError(error, path + QStringLiteral(": ") + qt_error_string(errno));
        ok = false;
    }
    return ok;
}

// The figures of the file system holding the path, or its nearest existing ancestor for a
// folder not made yet: one statvfs call when the path exists, as it does at every check.
bool FileSystemFigures(const QString &path, struct statvfs &figures)
{
    if (path.isEmpty())
        return false;
    QByteArray p = QFile::encodeName(QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QFileInfo(path).absoluteFilePath()));
    for (;;) {
        if (::statvfs(p.constData(), &figures) == 0)
            return true;
        if ((errno != ENOENT && errno != ENOTDIR) || p == "/")
            return false;
        const qsizetype slash = p.lastIndexOf('/');
        if (slash < 0)
            return false;
        p = slash == 0 ? QByteArray("/") : p.left(slash);
    }
}

// "20060512-134507(Hof).jpg" with "-2" gives "20060512-134507(Hof)-2.jpg".
QString WithSuffix(const QString &path, int number)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const qsizetype at = dot > slash + 1 ? dot : path.size();
    return path.left(at) + QLatin1Char('-') + QString::number(number) + path.mid(at);
}

bool WriteAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, p, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += written;
        left -= written;
    }
    return true;
}

// Gives the finished temporary file the name target unless that name is taken (false with
// EEXIST then); never renames over a file. A file system without an atomic no-replace
// rename gets a hard link; one without either gets the data written anew under the name,
// created exclusively: never replacing matters more there than never showing a partial file.
bool PublishNoReplace(const QByteArray &temp, const QByteArray &target, const QByteArray &data)
{
    if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    if (::link(temp.constData(), target.constData()) == 0) {
        ::unlink(temp.constData());
        return true;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EMLINK && errno != ENOSYS)
        return false;
    const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool written = WriteAll(fd, data);
    if (::close(fd) != 0 || !written) {
        const int failure = errno;
        ::unlink(target.constData());
        errno = failure == EEXIST ? EIO : failure;
        return false;
    }
    ::unlink(temp.constData());
    return true;
}

} // namespace

QtFileSystem::QtFileSystem() = default;
QtFileSystem::~QtFileSystem() = default;

bool QtFileSystem::folderExists(const QString &path) const
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

bool QtFileSystem::fileExists(const QString &path) const
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QStringList QtFileSystem::subFolders(const QString &path) const
{
    if (path.isEmpty())
        return QStringList();
    QStringList names = QDir(path).entryList(
        QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::NoSort);
    std::sort(names.begin(), names.end());   // ordinal, so that the archive's names sort by time
    for (QString &name : names)
        name = ChildPath(path, name);
    return names;
}

int QtFileSystem::subFolderCount(const QString &path) const
{
    if (path.isEmpty())
        return 0;
    return int(QDir(path).entryList(
        QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::NoSort).size());
}

QStringList QtFileSystem::fileNames(const QString &path) const
{
    // readdir without a stat per entry: an hour folder holds thousands of images, and the
    // archive browser lists a whole day of them at once.
    QStringList names;
    if (path.isEmpty())
        return names;
    DIR *dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return names;
    const int fd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN) {   // file systems that do not say: ask
            struct stat info {};
            regular = ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
        }
        if (regular)
            names.append(QFile::decodeName(entry->d_name));
    }
    ::closedir(dir);
    return names;
}

int QtFileSystem::fileCount(const QString &path) const
{
    // Everything that is not a real folder counts as a file (links and special files too),
    // so a folder counted empty is really empty.
    if (path.isEmpty())
        return 0;
    int count = 0;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        if (!IsRealFolder(it.fileInfo()))
            ++count;
    }
    return count;
}

bool QtFileSystem::createFolder(const QString &path)
{
    return !path.isEmpty() && QDir().mkdir(path);
}

bool QtFileSystem::deleteFolder(const QString &path, QString *error)
{
    if (error)
        error->clear();
    const QFileInfo info(path);
    if (path.isEmpty() || (!info.exists() && !info.isSymLink())) {
        SetError(error, path + QStringLiteral(": ") + qt_error_string(ENOENT));
        return false;
    }
    // A link given as the folder is deleted itself; what it points to stays.
    if (info.isSymLink())
        return RemoveEntry(path, error);
    if (!info.isDir()) {
        SetError(error, path + QStringLiteral(": ") + qt_error_string(ENOTDIR));
        return false;
    }
    return RemoveTree(path, error);
}

bool QtFileSystem::deleteFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (IsRealFolder(info) || (!info.exists() && !info.isSymLink()))
        return false;
    return RemoveEntry(path, nullptr);
}

qint64 QtFileSystem::fileLength(const QString &path) const
{
    if (path.isEmpty())
        return -1;
    const QFileInfo info(path);
    if (!info.isFile())
        return -1;
    return info.size();
}

bool QtFileSystem::readFile(const QString &path, QByteArray &data) const
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    data = std::move(bytes);
    return true;
}

bool QtFileSystem::writeFile(const QString &path, const QByteArray &data, QString *error)
{
    if (error)
        error->clear();
    QSaveFile file(path);
    // In a folder where no temporary file can be made, writing in place beats not writing.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        SetError(error, file.errorString());
        return false;
    }
    // A short write sets no error; the next attempt fails and says why (disk full, too large).
    for (qint64 written = 0; written < data.size();) {
        const qint64 n = file.write(data.constData() + written, data.size() - written);
        if (n <= 0) {
            SetError(error, file.errorString());
            file.cancelWriting();
            return false;
        }
        written += n;
    }
    // The commit misses a failure of writing out the buffer: on a full disk a small file
    // would be replaced by an empty one and reported as saved.
    if (!file.flush()) {
        SetError(error, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        SetError(error, file.errorString());
        return false;
    }
    return true;
}

bool QtFileSystem::publishFile(const QString &path, const QByteArray &data, QString *savedPath, QString *error)
{
    if (error)
        error->clear();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || slash == path.size() - 1) {
        SetError(error, path + QStringLiteral(": ") + qt_error_string(EINVAL));
        return false;
    }
    const QByteArray folder = QFile::encodeName(slash == 0 ? QStringLiteral("/") : path.left(slash));

    // The temporary file lies in the hour folder, so publishing it is a rename within one
    // file system; its name never ends in .jpg, so a crash leaves no partial image.
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = folder + "/.bildfang-" + QByteArray::number(qint64(mPid)) + '-' + QByteArray::number(++mTempCounter)
            + ".tmp";
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        SetError(error, path + QStringLiteral(": ") + qt_error_string(errno));
        return false;
    }
    const bool written = WriteAll(fd, data);
    const int writeErrno = errno;
    // A second descriptor lets the sync worker drop the pages later, while this one is closed
    // here: some file systems report a failed write only at the close.
    const int kept = written ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (::close(fd) != 0 || !written) {
        SetError(error, path + QStringLiteral(": ") + qt_error_string(written ? errno : writeErrno));
        ::unlink(temp.constData());
        if (kept >= 0)
            ::close(kept);
        return false;
    }

    // No sync here: the worker makes it durable within about a second.
    for (int number = 1; number < 10000; ++number) {
        const QString candidate = number == 1 ? path : WithSuffix(path, number);
        if (PublishNoReplace(temp, QFile::encodeName(candidate), data)) {
            if (savedPath)
                *savedPath = candidate;
            if (!mSync)
                mSync = std::make_unique<DiskSyncWorker>();
            mSync->written(folder.toStdString(), kept);
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    SetError(error, path + QStringLiteral(": ") + qt_error_string(errno));
    ::unlink(temp.constData());
    if (kept >= 0)
        ::close(kept);
    return false;
}

bool QtFileSystem::appendFile(const QString &path, const QByteArray &data, QString *error)
{
    if (error)
        error->clear();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        SetError(error, file.errorString());
        return false;
    }
    if (file.write(data) != data.size() || !file.flush()) {
        SetError(error, file.errorString());
        return false;
    }
    file.close();
    return true;
}

bool QtFileSystem::driveReady(const QString &path) const
{
    struct statvfs figures {};
    return FileSystemFigures(path, figures);
}

qint64 QtFileSystem::freeBytes(const QString &path) const
{
    // Unreadable figures are -1, so callers need no second call to learn whether it is ready.
    struct statvfs figures {};
    if (!FileSystemFigures(path, figures))
        return -1;
    return qint64(figures.f_bavail) * qint64(figures.f_frsize);
}

std::optional<FileStamp> QtFileSystem::fileStamp(const QString &path) const
{
    struct stat info {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    FileStamp stamp;
    stamp.size = info.st_size;
    stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.changedNs = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    stamp.inode = info.st_ino;
    stamp.device = info.st_dev;
    return stamp;
}
