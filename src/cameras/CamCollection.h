#pragma once

#include "cameras/CamObject.h"

#include <QString>
#include <memory>
#include <vector>

// All camera records, 1-based, each camera's mCamNo equal to its position (placeholder).
class CamCollection
{
public:
    static constexpr int MaxCameras = 255;

    // False when refused: the list is full or the key is in use.
    bool Add(std::shared_ptr<CamObject> oCam, const QString &vKey = QString(), qint16 iPos = 0);
    qint16 Count() const;
    std::shared_ptr<CamObject> Item(int vKey) const;
    std::shared_ptr<CamObject> Item(const QString &vKey) const;
    // False for a position below 1.
    bool Remove(qint16 iPos);
    void RemoveAll();
};
