#pragma once

#include <QByteArray>
#include <QString>

// Our text files: written in the system's encoding (UTF-8 here); read as UTF-8, or as
// Windows-1252 when the bytes are not valid UTF-8 (files from the Windows program).
QByteArray EncodeTextFile(const QString &text);
QString DecodeTextFile(const QByteArray &bytes);
