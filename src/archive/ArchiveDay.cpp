#include "archive/ArchiveDay.h"

#include "archive/ArchiveLayout.h"
#include "platform/FileSystem.h"
#include "util/Utils.h"

#include <algorithm>

namespace {

const QString JpgEnding = QStringLiteral(".jpg");

int Digit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9') ? c.unicode() - '0' : -1;
}

// Two digits at position at, or -1.
int TwoDigits(const QString &text, qsizetype at)
{
    const int high = Digit(text.at(at));
    const int low = Digit(text.at(at + 1));
    return high < 0 || low < 0 ? -1 : high * 10 + low;
}

// "yyyyMMdd-hh": what every image name of that hour folder begins with.
QString NamePrefix(QDate day, int hour)
{
    return TrimBlank(day.year()) + PadNumber(day.month(), 2) + PadNumber(day.day(), 2) + QLatin1Char('-')
        + PadNumber(hour, 2);
}

bool ParseWithPrefix(const QString &name, const QString &prefix, int hour, ArchiveImage *image)
{
    // prefix, "mmss", "(", the camera name, ")", maybe "-n", ".jpg"
    const qsizetype p = prefix.size();
    if (name.size() < p + 4 + 2 + JpgEnding.size() || !name.startsWith(prefix) || !name.endsWith(JpgEnding)
        || name.at(p + 4) != QLatin1Char('('))
        return false;
    const int minute = TwoDigits(name, p);
    const int second = TwoDigits(name, p + 2);
    if (minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    const qsizetype end = name.size() - JpgEnding.size();   // just after ")" or the copy number
    int copy = 1;
    if (name.at(end - 1) != QLatin1Char(')')) {
        // ")-n" with n from 2 on, no leading zero, after the name's own ")"
        qsizetype dash = end - 1;
        while (dash > p + 5 && Digit(name.at(dash)) >= 0)
            --dash;
        const qsizetype digits = end - dash - 1;
        if (digits < 1 || digits > 6 || name.at(dash) != QLatin1Char('-') || name.at(dash - 1) != QLatin1Char(')')
            || dash - 1 <= p + 4 || name.at(dash + 1) == QLatin1Char('0'))
            return false;
        copy = name.mid(dash + 1, digits).toInt();
        if (copy < 2)
            return false;
    }
    if (image) {
        image->second = hour * 3600 + minute * 60 + second;
        image->copy = copy;
        image->fileName = name;
    }
    return true;
}

bool ImageBefore(const ArchiveImage &a, const ArchiveImage &b)
{
    if (a.second != b.second)
        return a.second < b.second;
    if (a.copy != b.copy)
        return a.copy < b.copy;
    return a.fileName < b.fileName;
}

QString LastPart(const QString &path)
{
    return path.mid(path.lastIndexOf(PathSeparator()) + 1);
}

QString DayFolder(const QString &archivePath, int camNo, QDate day)
{
    const QChar sep = PathSeparator();
    return archivePath + CamFolderName(camNo) + sep + TrimBlank(day.year()) + sep + PadNumber(day.month(), 2) + sep
        + PadNumber(day.day(), 2);
}

// The hours 0..23 of the day folder's hour folders, ascending.
QList<int> HourFolders(const FileSystem &fs, const QString &dayFolder)
{
    QList<int> hours;
    for (const QString &sub : fs.subFolders(dayFolder)) {
        const QString name = LastPart(sub);
        if (IsArchiveFolderName(4, name) && name.toInt() < 24)
            hours.append(name.toInt());
    }
    return hours;
}

bool DayHasImages(const FileSystem &fs, const QString &dayFolder, QDate day)
{
    for (const int hour : HourFolders(fs, dayFolder)) {
        const QString prefix = NamePrefix(day, hour);
        const QStringList names = fs.fileNames(dayFolder + PathSeparator() + PadNumber(hour, 2));
        if (std::any_of(names.begin(), names.end(),
                        [&](const QString &name) { return ParseWithPrefix(name, prefix, hour, nullptr); }))
            return true;
    }
    return false;
}

// Subfolder names of the shape of level, newest first.
QStringList NewestFirst(const FileSystem &fs, const QString &folder, int level)
{
    QStringList names;
    const QStringList subs = fs.subFolders(folder);
    for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
        const QString name = LastPart(*it);
        if (IsArchiveFolderName(level, name))
            names.append(name);
    }
    return names;
}

} // namespace

bool ParseImageName(const QString &fileName, QDate day, int hour, ArchiveImage *image)
{
    return day.isValid() && hour >= 0 && hour < 24 && ParseWithPrefix(fileName, NamePrefix(day, hour), hour, image);
}

ArchiveDay::ArchiveDay(const FileSystem &fileSystem, const QString &archivePath, int camNo, QDate day)
    : mFileSystem(&fileSystem)
    , mCamNo(camNo)
    , mDay(day)
    , mDayFolder(DayFolder(archivePath, camNo, day))
{
    refresh();
}

QString ArchiveDay::hourFolder(int hour) const
{
    return mDayFolder + PathSeparator() + PadNumber(hour, 2);
}

QString ArchiveDay::path(int index) const
{
    const ArchiveImage &image = at(index);
    return hourFolder(image.hour()) + PathSeparator() + image.fileName;
}

QDateTime ArchiveDay::time(int index) const
{
    return QDateTime(mDay, QTime(0, 0).addSecs(at(index).second));
}

QList<int> ArchiveDay::hours() const
{
    QList<int> list;
    for (const ArchiveImage &image : mImages)
        if (list.isEmpty() || list.last() != image.hour())
            list.append(image.hour());
    return list;
}

int ArchiveDay::firstOfHour(int hour) const
{
    const auto it = std::lower_bound(mImages.begin(), mImages.end(), hour * 3600,
                                     [](const ArchiveImage &image, int second) { return image.second < second; });
    return it != mImages.end() && it->hour() == hour ? int(it - mImages.begin()) : -1;
}

int ArchiveDay::nearest(int second) const
{
    if (mImages.empty())
        return -1;
    const auto it = std::lower_bound(mImages.begin(), mImages.end(), second,
                                     [](const ArchiveImage &image, int s) { return image.second < s; });
    const int after = int(it - mImages.begin());
    if (after == count())
        return after - 1;
    if (after == 0)
        return 0;
    // The earlier one wins a tie; of several copies of one second, the first.
    const int before = after - 1;
    if (second - at(before).second <= at(after).second - second) {
        const int s = at(before).second;
        int first = before;
        while (first > 0 && at(first - 1).second == s)
            --first;
        return first;
    }
    return after;
}

std::pair<int, int> ArchiveDay::between(int fromSecond, int toSecond) const
{
    const auto lessSecond = [](const ArchiveImage &image, int s) { return image.second < s; };
    const auto first = std::lower_bound(mImages.begin(), mImages.end(), fromSecond, lessSecond);
    const auto end = std::lower_bound(mImages.begin(), mImages.end(), toSecond + 1, lessSecond);
    return {int(first - mImages.begin()), int(end - mImages.begin()) - 1};
}

std::vector<ArchiveImage> ArchiveDay::listHour(int hour) const
{
    std::vector<ArchiveImage> images;
    if (!mFileSystem)
        return images;
    const QString prefix = NamePrefix(mDay, hour);
    const QStringList names = mFileSystem->fileNames(hourFolder(hour));
    images.reserve(size_t(names.size()));
    ArchiveImage image;
    for (const QString &name : names)
        if (ParseWithPrefix(name, prefix, hour, &image))
            images.push_back(image);
    std::sort(images.begin(), images.end(), ImageBefore);
    return images;
}

bool ArchiveDay::refresh(int hour)
{
    const auto sameNames = [](const std::vector<ArchiveImage> &a, auto first, auto last) {
        return std::equal(a.begin(), a.end(), first, last,
                          [](const ArchiveImage &x, const ArchiveImage &y) { return x.fileName == y.fileName; });
    };
    if (hour < 0) {
        std::vector<ArchiveImage> images;
        if (mFileSystem && mDay.isValid()) {
            for (const int h : HourFolders(*mFileSystem, mDayFolder)) {
                std::vector<ArchiveImage> more = listHour(h);
                images.insert(images.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
            }
        }
        const bool changed = !sameNames(images, mImages.begin(), mImages.end());
        mImages = std::move(images);
        return changed;
    }
    const auto lessSecond = [](const ArchiveImage &image, int s) { return image.second < s; };
    const auto first = std::lower_bound(mImages.begin(), mImages.end(), hour * 3600, lessSecond);
    const auto last = std::lower_bound(first, mImages.end(), (hour + 1) * 3600, lessSecond);
    std::vector<ArchiveImage> images = listHour(hour);
    if (sameNames(images, first, last))
        return false;
    const auto at = mImages.erase(first, last);
    mImages.insert(at, std::make_move_iterator(images.begin()), std::make_move_iterator(images.end()));
    return true;
}

QList<int> DaysWithImages(const FileSystem &fileSystem, const QString &archivePath, int camNo, int year, int month)
{
    QList<int> days;
    if (archivePath.isEmpty())
        return days;
    const QChar sep = PathSeparator();
    const QString monthFolder = archivePath + CamFolderName(camNo) + sep + TrimBlank(year) + sep + PadNumber(month, 2);
    const QStringList names = NewestFirst(fileSystem, monthFolder, 3);
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        const QDate day(year, month, it->toInt());
        if (day.isValid() && DayHasImages(fileSystem, monthFolder + sep + *it, day))
            days.append(day.day());
    }
    return days;
}

QDate LatestDayWithImages(const FileSystem &fileSystem, const QString &archivePath, int camNo)
{
    if (archivePath.isEmpty())
        return {};
    const QChar sep = PathSeparator();
    const QString camFolder = archivePath + CamFolderName(camNo);
    for (const QString &year : NewestFirst(fileSystem, camFolder, 1)) {
        for (const QString &month : NewestFirst(fileSystem, camFolder + sep + year, 2)) {
            const QString monthFolder = camFolder + sep + year + sep + month;
            for (const QString &day : NewestFirst(fileSystem, monthFolder, 3)) {
                const QDate date(year.toInt(), month.toInt(), day.toInt());
                if (date.isValid() && DayHasImages(fileSystem, monthFolder + sep + day, date))
                    return date;
            }
        }
    }
    return {};
}
