#pragma once

#include "cameras/CamObject.h"

#include <QString>
#include <memory>
#include <vector>

// All camera records, 1-based, each camera's mCamNo equal to its position. The list shares
// its cameras: an engine may still hold one as its parent after it was removed here.
class CamCollection
{
public:
    // mCamNo is 8 bits wide.
    static constexpr int MaxCameras = 255;

    CamCollection() = default;
    ~CamCollection();
    CamCollection(const CamCollection &) = delete;
    CamCollection &operator=(const CamCollection &) = delete;

    // iPos <= 0 appends (the key is then ignored), 1..Count inserts before the camera at iPos,
    // a larger iPos appends. False when refused: no camera, the list is full, or the key is
    // in use (keys compare without regard to case).
    bool Add(std::shared_ptr<CamObject> oCam, const QString &vKey = QString(), qint16 iPos = 0);
    qint16 Count() const;
    // The camera at a 1-based position, or under a key; null when there is none.
    std::shared_ptr<CamObject> Item(int vKey) const;
    std::shared_ptr<CamObject> Item(const QString &vKey) const;
    // Removes the camera at iPos when iPos <= Count and renumbers. False for a position below 1.
    bool Remove(qint16 iPos);
    void RemoveAll();

private:
    struct Entry
    {
        std::shared_ptr<CamObject> cam;
        QString key;   // empty: none
    };

    void RenumberCams();
    int IndexOfKey(const QString &key) const;

    std::vector<Entry> mCol;
};
