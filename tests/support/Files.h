#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>

// A file's bytes; empty when it cannot be read.
inline QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes a file whole, its folders made first.
inline bool WriteAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).path()) && f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}
