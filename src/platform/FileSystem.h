#pragma once

#include "platform/FileStamp.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// Every file and folder operation of the program. Paths use the native separator.
class FileSystem
{
public:
    virtual ~FileSystem() = default;

    virtual bool folderExists(const QString &path) const = 0;
    virtual bool fileExists(const QString &path) const = 0;
    // Full paths of the subfolders, in name order (ordinal); symbolic links are not folders here.
    virtual QStringList subFolders(const QString &path) const = 0;
    virtual int subFolderCount(const QString &path) const = 0;
    // Names (not paths) of the regular files in the folder, in no particular order; links and
    // special files are left out. Cheap enough for folders of thousands of images.
    virtual QStringList fileNames(const QString &path) const = 0;
    virtual int fileCount(const QString &path) const = 0;
    // Creates one folder whose parent exists.
    virtual bool createFolder(const QString &path) = 0;
    // Deletes the folder with everything in it, read-only files included; never follows links.
    virtual bool deleteFolder(const QString &path, QString *error = nullptr) = 0;
    virtual bool deleteFile(const QString &path) = 0;
    // -1 when there is no such file.
    virtual qint64 fileLength(const QString &path) const = 0;
    virtual bool readFile(const QString &path, QByteArray &data) const = 0;
    // Replaces the file atomically (temporary file, then rename), synced before it counts.
    virtual bool writeFile(const QString &path, const QByteArray &data, QString *error = nullptr) = 0;
    // Publishes a new file whole without ever replacing one: written beside it first, then
    // given the name path, or, when that is taken, the name with "-2", "-3", ... before the
    // extension. savedPath receives the name used. Durability follows shortly, off this thread.
    virtual bool publishFile(const QString &path, const QByteArray &data, QString *savedPath,
                             QString *error = nullptr) = 0;
    virtual bool appendFile(const QString &path, const QByteArray &data, QString *error = nullptr) = 0;
    // The file system holding the path (nearest existing ancestor).
    virtual bool driveReady(const QString &path) const = 0;
    // Free bytes for the user on that file system; -1 when it cannot be read.
    virtual qint64 freeBytes(const QString &path) const = 0;

    // The stamp of the regular file at path (links followed); no value when there is none or
    // it cannot be looked at. Without an implementation no stamp is known and callers read.
    virtual std::optional<FileStamp> fileStamp(const QString &path) const
    {
        Q_UNUSED(path);
        return std::nullopt;
    }
};
