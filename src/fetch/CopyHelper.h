#pragma once

#include "fetch/CopyHelperParent.h"
#include "fetch/HttpRequest.h"
#include "fetch/ResponseDecoder.h"
#include "platform/Platform.h"
#include "platform/TlsSocket.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QTimer>
#include <memory>

// The transfer engine: one TCP socket, one watchdog, one HTTP GET at a time, and exactly one
// CHCallBack to its Parent per transfer. At most one automatic retry; the watchdog ends a
// transfer after 30 ticks without activity. A camera that answers 401 with a Digest challenge
// (and offers no Basic) is asked once more inside the same transfer, and answered with Digest at
// once from then on; a wrong password costs one Digest answer per transfer. A Basic challenge
// that asks for UTF-8 gets one more try with UTF-8 credentials.
class CopyHelper
{
public:
    // What the transfer is doing. Every change goes through setTransferState.
    enum class TransferState { Idle, Connecting, Requesting, Waiting, Receiving, Retrying };

    static constexpr int WatchdogLimit = 30;
    static constexpr int MaxRedirects = 3;

    // timerNames is the run's register of watchdog names CopyHelper1_Timer, CopyHelper2_Timer, ...
    // A creation failure shows a message box and ends the program at once.
    CopyHelper(Platform &platform, QSet<QString> &timerNames);
    ~CopyHelper();
    CopyHelper(const CopyHelper &) = delete;
    CopyHelper &operator=(const CopyHelper &) = delete;

    void Parent(std::shared_ptr<CopyHelperParent> objParent);
    // Whom the last transfer served; null before the first.
    const CopyHelperParent *parent() const { return mParent.get(); }
    void DataType(int vType);
    quint8 Task() const;
    void Task(quint8 value);
    quint8 Step() const;
    void Step(quint8 value);

    bool isBusy() const;
    bool isReady() const;
    QString getName() const;
    QString getStatus() const;
    QString getReport() const;
    bool Dispatch(const QString &strSource);

    // The watchdog's 1000 ms tick; tests call it directly.
    void mWatchdog_Timer();

    TransferState transferState() const { return mTransferState; }
    bool watchdogRunning() const { return mWatchdog.isActive(); }
    int watchdogTicks() const { return mWatchdogTicks; }

private:
    void mWinsockControl_Connect();
    void mWinsockControl_SendComplete();
    void mWinsockControl_DataArrival(qint64 bytesTotal);
    void mWinsockControl_Close();
    void mWinsockControl_Error(int Number);

    void attachSocket();
    // A plain socket, or TLS over one; null when the factory gives none.
    std::unique_ptr<TcpSocket> newSocket(bool tls);
    void useSocket(std::unique_ptr<TcpSocket> socket, bool tls);
    QString digestOrigin() const;
    bool answerDigestChallenge();
    bool askAgain();
    bool followRedirect();
    QByteArray ExtractBody();
    void setTransferState(TransferState state);
    void report(qint16 iError);
    [[noreturn]] void fatal(const QString &firstLine);
    void endTooLarge();

    Platform &mPlatform;
    QString mName;
    std::shared_ptr<CopyHelperParent> mParent;
    quint8 mDataType = 0;
    quint8 mTask = 0;
    quint8 mStep = 0;
    QTimer mWatchdog;
    std::unique_ptr<TcpSocket> mWinsockControl;
    TlsSocket *mTlsSocket = nullptr;             // mWinsockControl when it speaks TLS
    std::unique_ptr<TcpSocket> mRetiredSocket;   // replaced inside its own event; goes at the next change
    qint16 mWatchdogTicks = 0;
    bool mBusy = false;
    qint16 mRetries = 0;
    qint16 mResult = 0;
    QString mStatusText;
    ResponseDecoder mResponse;
    QByteArray mData;
    QString mURL;
    UrlParts mUrl;
    QByteArray mAuthorization;      // a Digest answer or UTF-8 Basic in place of the Basic line; usually empty
    QByteArray mSentDigestNonce;    // the nonce of the Digest answer sent; empty without one
    bool mOfferBasic = true;        // false for a camera known to want Digest, until it challenges
    bool mAskedAgain = false;       // this transfer already asked again after a 401
    bool mStaleAsked = false;       // and once more for a stale nonce
    int mRedirects = 0;             // redirects this transfer followed
    TransferState mTransferState = TransferState::Idle;
    quint64 mTransferSerial = 0;    // bumped by every start, so a callback's own start is seen
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};
