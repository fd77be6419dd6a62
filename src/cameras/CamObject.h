#pragma once

#include "fetch/CopyHelperParent.h"

#include <QByteArray>
#include <QString>

class AppState;

// One configured camera: its settings and its run-time state (placeholder declaration).
class CamObject : public CopyHelperParent
{
public:
    explicit CamObject(AppState &state);

    QString mCamName = QStringLiteral("CAM");
    quint8 mCamNo = 0;
    QString mCamSocket;
    QString mCamImagePath;
    QString mCamUser;
    QString mCamPassword;
    qint16 mCamUpdaterate = -1;
    qint16 mCamTickCounter = 0;
    bool mCamIsBusy = false;
    QString mCamLastPic;

    // The outcome of a transfer; lives in CHCallBack.cpp.
    void CHCallBack(const QByteArray &byData, qint16 iError) override;
    bool IsNewImage(const QByteArray &byData) const;

private:
    AppState &mState;
};
