#include "cameras/CamObject.h"

// Placeholder until the outcome handling lands: frees the camera for the next cycle.
void CamObject::CHCallBack(const QByteArray &, qint16)
{
    mCamIsBusy = false;
}
