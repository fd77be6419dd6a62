#pragma once

#include "fetch/DigestAuth.h"
#include "platform/TlsSocket.h"

#include <QByteArray>
#include <QtGlobal>
#include <memory>

// Whatever receives a transfer engine's one completion report per transfer.
class CopyHelperParent
{
public:
    virtual ~CopyHelperParent() = default;
    virtual void CHCallBack(const QByteArray &byData, qint16 iError) = 0;
    // False when the bytes of a failure report are of no use to this receiver: the engine
    // then lets go of an answer once reported instead of keeping it for the next failure.
    virtual bool wantsEarlierAnswer() const { return true; }

    // Kept with the camera, since an engine serves whichever camera is due.
    DigestSession mDigestSession;
    // Learnt from the camera's challenges and kept in its settings record: it answered with
    // Digest, so the password never goes out as Basic to it; its Basic challenge asked for UTF-8.
    bool mDigestOnly = false;
    bool mBasicUtf8 = false;
    // The pinned certificate and the session to resume; shared with the socket while it connects.
    std::shared_ptr<TlsPeer> mTlsPeer = std::make_shared<TlsPeer>();
    // Why the engine did not follow a redirect of the last transfer, in German; empty: it did
    // or there was none. Taken by the report.
    QString mRedirectRefused;
};
