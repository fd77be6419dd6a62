#include "cameras/CamCollection.h"

CamCollection::~CamCollection()
{
    RemoveAll();
}

bool CamCollection::Add(std::shared_ptr<CamObject> oCam, const QString &vKey, qint16 iPos)
{
    if (!oCam || Count() >= MaxCameras)
        return false;
    if (iPos <= 0) {
        mCol.push_back({std::move(oCam), QString()});
    } else {
        if (!vKey.isEmpty() && IndexOfKey(vKey) >= 0)
            return false;
        if (iPos <= Count())
            mCol.insert(mCol.begin() + (iPos - 1), Entry{std::move(oCam), vKey});
        else
            mCol.push_back({std::move(oCam), vKey});
    }
    RenumberCams();
    return true;
}

qint16 CamCollection::Count() const
{
    return qint16(mCol.size());
}

std::shared_ptr<CamObject> CamCollection::Item(int vKey) const
{
    if (vKey < 1 || vKey > Count())
        return nullptr;
    return mCol[size_t(vKey - 1)].cam;
}

std::shared_ptr<CamObject> CamCollection::Item(const QString &vKey) const
{
    const int index = IndexOfKey(vKey);
    return index < 0 ? nullptr : mCol[size_t(index)].cam;
}

bool CamCollection::Remove(qint16 iPos)
{
    if (iPos < 1)
        return false;
    if (iPos <= Count())
        mCol.erase(mCol.begin() + (iPos - 1));
    RenumberCams();
    return true;
}

void CamCollection::RemoveAll()
{
    while (!mCol.empty())
        mCol.pop_back();
}

void CamCollection::RenumberCams()
{
    for (size_t i = 0; i < mCol.size(); ++i)
        mCol[i].cam->mCamNo = quint8(i + 1);
}

int CamCollection::IndexOfKey(const QString &key) const
{
    if (key.isEmpty())
        return -1;
    for (size_t i = 0; i < mCol.size(); ++i) {
        if (!mCol[i].key.isEmpty() && mCol[i].key.compare(key, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}
