#pragma once

#include "fetch/CopyHelperParent.h"

#include <QByteArray>
#include <QString>

class AppState;

// One configured camera: its settings and its run-time state. The fields are public: start-up,
// the capture cycle, the settings and the camera editor read and write them directly.
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
    // False only when byData is the same picture as the file at mCamLastPic: the same frame
    // number when both carry the MOBOTIX marker, otherwise the same bytes. Re-reads the file
    // each time; a missing or unreadable file makes the image new.
    bool IsNewImage(const QByteArray &byData) const;

private:
    AppState &mState;
};
