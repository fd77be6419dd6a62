#pragma once

#include <QByteArray>
#include <QtGlobal>

// Whatever receives a transfer engine's one completion report per transfer.
class CopyHelperParent
{
public:
    virtual ~CopyHelperParent() = default;
    virtual void CHCallBack(const QByteArray &byData, qint16 iError) = 0;
};
