#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <vector>

class FileSystem;

// One saved image of a day, as its name and folder tell it.
struct ArchiveImage
{
    int second = 0;     // time of day from the file name, seconds since midnight
    int copy = 1;       // 1, or n of a "-n" name given when the name was taken
    QString fileName;
    int hour() const { return second / 3600; }
};

// The images one camera saved on one day, read from the archive tree in time order. Only
// what has the archive's shape counts: hour folders 00 to 23 holding images named
// yyyyMMdd-hhmmss(name).jpg or ...(name)-n.jpg with the folder's own date and hour. Kept
// answers, foreign files and folders are passed over; missing hours are simply absent. It
// only reads: the storage limit may delete hours meanwhile, and refresh() catches up.
class ArchiveDay
{
public:
    ArchiveDay() = default;
    // Lists the day at once.
    ArchiveDay(const FileSystem &fileSystem, const QString &archivePath, int camNo, QDate day);

    int camNo() const { return mCamNo; }
    QDate day() const { return mDay; }
    bool isEmpty() const { return mImages.empty(); }
    int count() const { return int(mImages.size()); }
    const std::vector<ArchiveImage> &images() const { return mImages; }
    const ArchiveImage &at(int index) const { return mImages[size_t(index)]; }
    QString dayFolder() const { return mDayFolder; }
    QString hourFolder(int hour) const;
    QString path(int index) const;
    QDateTime time(int index) const;

    // The hours that hold images, ascending, and the index of each one's first image.
    QList<int> hours() const;
    int firstOfHour(int hour) const;   // -1 when the hour holds none

    // The index of the image nearest to second (the earlier one on a tie); -1 when empty.
    int nearest(int second) const;
    // Indexes [first, last] of the images saved from fromSecond to toSecond, both included;
    // first > last when none.
    std::pair<int, int> between(int fromSecond, int toSecond) const;

    // Lists one hour anew (the whole day when hour is -1). True when anything changed.
    bool refresh(int hour = -1);

private:
    std::vector<ArchiveImage> listHour(int hour) const;

    const FileSystem *mFileSystem = nullptr;
    int mCamNo = 0;
    QDate mDay;
    QString mDayFolder;   // without a separator at the end
    std::vector<ArchiveImage> mImages;
};

// Reads an image's name as the archive gives it for that day and hour: its time of day and
// copy number; false for anything else (kept answers, temporary files, other dates).
bool ParseImageName(const QString &fileName, QDate day, int hour, ArchiveImage *image);

// The days of a month on which the camera saved images (the calendar's marks), ascending.
QList<int> DaysWithImages(const FileSystem &fileSystem, const QString &archivePath, int camNo, int year, int month);

// The newest day on which the camera saved images; invalid when there is none.
QDate LatestDayWithImages(const FileSystem &fileSystem, const QString &archivePath, int camNo);
