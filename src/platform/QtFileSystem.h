#pragma once

#include "platform/FileSystem.h"

#include <memory>

#include <unistd.h>

class DiskSyncWorker;

// The real file system through QDir, QFile, QSaveFile and POSIX calls where Qt's are too
// heavy for every image (free space) or cannot refuse to replace a file (publishing).
class QtFileSystem : public FileSystem
{
public:
    QtFileSystem();
    ~QtFileSystem() override;

    bool folderExists(const QString &path) const override;
    bool fileExists(const QString &path) const override;
    QStringList subFolders(const QString &path) const override;
    int subFolderCount(const QString &path) const override;
    QStringList fileNames(const QString &path) const override;
    int fileCount(const QString &path) const override;
    bool createFolder(const QString &path) override;
    bool deleteFolder(const QString &path, QString *error = nullptr) override;
    bool deleteFile(const QString &path) override;
    qint64 fileLength(const QString &path) const override;
    bool readFile(const QString &path, QByteArray &data) const override;
    bool writeFile(const QString &path, const QByteArray &data, QString *error = nullptr) override;
    bool publishFile(const QString &path, const QByteArray &data, QString *savedPath,
                     QString *error = nullptr) override;
    bool appendFile(const QString &path, const QByteArray &data, QString *error = nullptr) override;
    bool driveReady(const QString &path) const override;
    qint64 freeBytes(const QString &path) const override;
    std::optional<FileStamp> fileStamp(const QString &path) const override;

private:
    std::unique_ptr<DiskSyncWorker> mSync;   // started with the first published file
    quint64 mTempCounter = 0;
    const qint64 mPid = ::getpid();
};
