#include "platform/QtFileSystem.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>
#include <algorithm>
#include <cerrno>

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

// The path itself or its nearest existing ancestor; empty when there is none.
QString NearestExisting(const QString &path)
{
    if (path.isEmpty())
        return QString();
    QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    for (;;) {
        if (QFileInfo::exists(p))
            return p;
        const qsizetype slash = p.lastIndexOf(QLatin1Char('/'));
        if (slash < 0 || p == QLatin1String("/"))
            return QString();
        p = slash == 0 ? QStringLiteral("/") : p.left(slash);
    }
}

} // namespace

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
    if (!file.commit()) {
        SetError(error, file.errorString());
        return false;
    }
    return true;
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
    const QString existing = NearestExisting(path);
    if (existing.isEmpty())
        return false;
    const QStorageInfo storage(existing);
    return storage.isValid() && storage.isReady();
}

qint64 QtFileSystem::freeBytes(const QString &path) const
{
    const QString existing = NearestExisting(path);
    if (existing.isEmpty())
        return -1;
    const QStorageInfo storage(existing);
    if (!storage.isValid() || !storage.isReady())
        return -1;
    return storage.bytesAvailable();
}
