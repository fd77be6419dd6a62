#pragma once

#include <QtGlobal>

// What tells one state of a file from another without reading it: a file replaced, rewritten,
// truncated or given other permissions gets another stamp.
struct FileStamp
{
    qint64 size = -1;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;   // status change: also moves when the times are set back by hand
    quint64 inode = 0;
    quint64 device = 0;

    friend bool operator==(const FileStamp &, const FileStamp &) = default;
};
