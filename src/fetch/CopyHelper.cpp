#include "fetch/CopyHelper.h"

#include <algorithm>
#include <cstdlib>

namespace {

const QString ProgramTitle = QStringLiteral("Bildfang");
const QString MustEnd = QStringLiteral("\r\nDas Programm muß beendet werden!");

// The value of the first header line called name (lower case); empty when there is none.
QString headerValue(QByteArrayView headerBlock, QByteArrayView name)
{
    for (const QByteArray &line : headerBlock.toByteArray().split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name)
            return QString::fromLatin1(line.mid(colon + 1).trimmed());
    }
    return QString();
}

} // namespace

CopyHelper::CopyHelper(Platform &platform, QSet<QString> &timerNames)
    : mPlatform(platform)
{
    // Names of engines discarded earlier stay taken, so a number is never used twice in a run.
    // There is no upper limit: 255 cameras, added and removed at will, all get an engine.
    for (int n = 1;; ++n) {
        mName = QStringLiteral("CopyHelper") + QString::number(n);
        const QString timerName = mName + QStringLiteral("_Timer");
        if (!timerNames.contains(timerName)) {
            timerNames.insert(timerName);
            break;
        }
    }
    mWatchdog.setObjectName(mName + QStringLiteral("_Timer"));

    if (!mPlatform.sockets)
        fatal(QStringLiteral("WinSock- Objekte konnten nicht angelegt werden!"));
    mWinsockControl = mPlatform.sockets->create();
    if (!mWinsockControl)
        fatal(QStringLiteral("WinSock- Objekte konnten nicht angelegt werden!"));

    mRetries = 0;
    mBusy = false;
    mWatchdog.setInterval(1000);
    mWatchdog.stop();
    mWatchdog.callOnTimeout([this] { mWatchdog_Timer(); });
    attachSocket();
}

CopyHelper::~CopyHelper()
{
    *mAlive = false;
    mWatchdog.stop();
    if (mWinsockControl)
        mWinsockControl->close();
    mWinsockControl.reset();
}

void CopyHelper::fatal(const QString &firstLine)
{
    if (mPlatform.dialogs)
        mPlatform.dialogs->messageBox(ProgramTitle, firstLine + MustEnd, Dialogs::Icon::None);
    if (mPlatform.program)
        mPlatform.program->exitNow(1);
    std::abort();   // exitNow never comes back
}

void CopyHelper::attachSocket()
{
    TcpSocket::Handlers handlers;
    handlers.connected = [this] { mWinsockControl_Connect(); };
    handlers.sendComplete = [this] { mWinsockControl_SendComplete(); };
    handlers.dataArrival = [this](qint64 bytesTotal) { mWinsockControl_DataArrival(bytesTotal); };
    handlers.closed = [this] { mWinsockControl_Close(); };
    handlers.error = [this](int number) { mWinsockControl_Error(number); };
    mWinsockControl->setHandlers(std::move(handlers));
}

std::unique_ptr<TcpSocket> CopyHelper::newSocket(bool tls)
{
    std::unique_ptr<TcpSocket> plain = mPlatform.sockets ? mPlatform.sockets->create() : nullptr;
    if (!tls || !plain)
        return plain;
    return std::make_unique<TlsSocket>(std::move(plain), mPlatform.sockets->tlsContext());
}

// The old socket may be the one whose event is running: it is kept until the next change.
void CopyHelper::useSocket(std::unique_ptr<TcpSocket> socket, bool tls)
{
    mRetiredSocket = std::move(mWinsockControl);
    if (mRetiredSocket)
        mRetiredSocket->close();
    mWinsockControl = std::move(socket);
    mTlsSocket = tls ? static_cast<TlsSocket *>(mWinsockControl.get()) : nullptr;
    attachSocket();
}

void CopyHelper::Parent(std::shared_ptr<CopyHelperParent> objParent)
{
    mParent = std::move(objParent);
}

void CopyHelper::DataType(int vType)
{
    if (vType >= 0 && vType <= 255)
        mDataType = static_cast<quint8>(vType);
}

quint8 CopyHelper::Task() const { return mTask; }
void CopyHelper::Task(quint8 value) { mTask = value; }
quint8 CopyHelper::Step() const { return mStep; }
void CopyHelper::Step(quint8 value) { mStep = value; }

bool CopyHelper::isBusy() const
{
    return mWinsockControl && mWinsockControl->state() != TcpSocket::Closed;
}

bool CopyHelper::isReady() const
{
    return !mBusy;
}

QString CopyHelper::getName() const
{
    return mName;
}

QString CopyHelper::getStatus() const
{
    switch (mWinsockControl ? mWinsockControl->state() : TcpSocket::Closed) {
    case TcpSocket::Closed:
        // A failed TLS connection says why until the next one.
        if (mTlsSocket && !mTlsSocket->failure().isEmpty())
            return QStringLiteral("Nicht aktiv - ") + mTlsSocket->failure();
        return QStringLiteral("Nicht aktiv");
    case TcpSocket::Open: return QStringLiteral("Offen");
    case TcpSocket::Listening: return QStringLiteral("Warte auf Verbindung...");
    case TcpSocket::ConnectionPending: return QStringLiteral("Verbindung anstehend");
    case TcpSocket::ResolvingHost: return QStringLiteral("Hostname wird aufgelöst...");
    case TcpSocket::HostResolved: return QStringLiteral("Host name wurde aufgelöst");
    case TcpSocket::Connecting: return QStringLiteral("Verbinden...");
    case TcpSocket::Connected:
        return mStatusText.isEmpty() ? QStringLiteral("Verbunden") : mStatusText;
    case TcpSocket::Closing: return QStringLiteral("Verbindung wird geschlossen...");
    case TcpSocket::Error: return QStringLiteral("Fehler!");
    default: return QStringLiteral("Unbekannter Zustand");
    }
}

QString CopyHelper::getReport() const
{
    return mUrl.host + QLatin1Char(':') + QString::number(mUrl.port) + QStringLiteral(": ") + getStatus();
}

bool CopyHelper::Dispatch(const QString &strSource)
{
    // A running transfer keeps its fields; nobody dispatches to a busy engine anyway.
    if (isBusy())
        return false;

    mURL = strSource;
    mUrl = UrlParts();
    mResponse.reset();
    // A refused port leaves the host taken apart so far for getReport.
    const std::optional<UrlParts> parsed = ParseUrlParts(strSource, &mUrl);
    if (!parsed)
        return false;
    mUrl = *parsed;

    mAuthorization.clear();
    mSentDigestNonce.clear();
    mOfferBasic = true;
    if (mParent && !mUrl.userInfo.isEmpty()) {
        DigestSession &session = mParent->mDigestSession;
        if (session.origin == digestOrigin()) {
            ++session.nc;
            const bool utf8 = session.challenge.utf8;
            mAuthorization = DigestAuthorization(session.challenge, CredentialBytes(mUrl.user, utf8),
                CredentialBytes(mUrl.password, utf8), "GET", RequestTarget(mUrl.path), session.nc,
                session.sessCnonce.isEmpty() ? NewDigestCnonce() : session.sessCnonce);
            mSentDigestNonce = session.challenge.nonce;
        } else if (mParent->mDigestOnly) {
            mOfferBasic = false;   // its challenge comes first
        } else if (mParent->mBasicUtf8) {
            mAuthorization = "Basic " + CredentialBytes(mUrl.userInfo, true).toBase64();
        }
    }

    ++mRetries;
    ++mTransferSerial;
    mBusy = true;
    mResult = 0;
    mStatusText.clear();
    mWatchdogTicks = 0;
    mWatchdog.start();
    if (mTransferState != TransferState::Retrying)
        setTransferState(TransferState::Connecting);

    // The scheme picks the socket; an engine serves HTTP and HTTPS cameras alike.
    if (mUrl.tls != (mTlsSocket != nullptr)) {
        if (std::unique_ptr<TcpSocket> socket = newSocket(mUrl.tls))
            useSocket(std::move(socket), mUrl.tls);
    }
    if (mTlsSocket)
        mTlsSocket->setPeer(mParent ? mParent->mTlsPeer : nullptr);

    // A refusal here leaves the watchdog to end the attempt.
    if (!mWinsockControl->setRemotePort(mUrl.port))
        return false;
    if (!mWinsockControl->connectToHost(mUrl.host))
        return false;
    return true;
}

void CopyHelper::setTransferState(TransferState state)
{
    mTransferState = state;
}

void CopyHelper::report(qint16 iError)
{
    mAskedAgain = false;
    mStaleAsked = false;
    mRedirects = 0;
    // The parent may be replaced inside its own callback; it lives until the call returns.
    const std::shared_ptr<CopyHelperParent> parent = mParent;
    if (!parent)
        return;
    const quint64 serial = mTransferSerial;
    parent->CHCallBack(mData, iError);
    // 255 cameras would otherwise keep an image each between their transfers.
    if (serial == mTransferSerial && !parent->wantsEarlierAnswer())
        mData = QByteArray();
}

void CopyHelper::mWinsockControl_Connect()
{
    mStatusText = QStringLiteral("Verbunden - Anfrage senden...");
    setTransferState(TransferState::Requesting);
    mWinsockControl->send(BuildRequest(mUrl, mAuthorization, mOfferBasic));
}

void CopyHelper::mWinsockControl_SendComplete()
{
    mStatusText = QStringLiteral("Verbunden - Auf Antwort warten...");
    setTransferState(TransferState::Waiting);
}

void CopyHelper::mWinsockControl_DataArrival(qint64 bytesTotal)
{
    mStatusText = QStringLiteral("Verbunden - Daten empfangen...(") + QString::number(bytesTotal)
        + QStringLiteral(" bytes)");
    QByteArray text;
    if (!mWinsockControl->getData(text, bytesTotal)) {
        mWinsockControl_Error(-3);
        return;
    }
    mWatchdogTicks = 0;
    if (text.isEmpty()) {
        mWinsockControl_Error(-5);
        return;
    }
    setTransferState(TransferState::Receiving);
    if (!mResponse.feed(text))
        endTooLarge();
}

// An answer past the bound ends as a general connection failure, without a retry.
void CopyHelper::endTooLarge()
{
    mWatchdogTicks = 0;
    mWinsockControl->close();
    mWatchdog.stop();
    mResponse.reset();
    mBusy = false;
    mResult = -3;
    mRetries = 0;
    setTransferState(TransferState::Idle);
    report(mResult);
}

QByteArray CopyHelper::ExtractBody()
{
    mResponse.finish();
    bool noImage = false;
    QByteArray body = mResponse.takeBody(mDataType, noImage);
    if (noImage && mResult == 0)
        mResult = -6;
    return body;
}

void CopyHelper::mWinsockControl_Close()
{
    mWatchdogTicks = 0;
    mWatchdog.stop();
    mWinsockControl->close();
    if (answerDigestChallenge() || followRedirect())
        return;
    mData = ExtractBody();   // cut from the response in place, not copied
    mResponse.reset();
    mRetries = 0;
    mBusy = false;
    setTransferState(TransferState::Idle);
    report(mResult);
}

QString CopyHelper::digestOrigin() const
{
    return mUrl.host + QLatin1Char('\n') + QString::number(mUrl.port) + QLatin1Char('\n') + mUrl.userInfo;
}

// A 401 with a Digest challenge we can answer, and no Basic offered (or the camera is known to
// want Digest): ask again on a new connection inside this transfer. The same for Basic when the
// request carried no Basic line, or bytes that UTF-8 asked for would change. False leaves
// the answer to be reported as always.
bool CopyHelper::answerDigestChallenge()
{
    if (!mParent || mUrl.userInfo.isEmpty() || !IsUnauthorized(mResponse.headerBlock()))
        return false;
    DigestSession &session = mParent->mDigestSession;
    const AuthChallenges offered = ParseAuthChallenges(mResponse.headerBlock());
    if (!offered.digest || (offered.basic && !mParent->mDigestOnly)) {
        if (session.origin == digestOrigin())
            session = DigestSession();   // the camera no longer wants Digest from us
        if (!offered.digest)
            mParent->mDigestOnly = false;
        if (!offered.basic || mAskedAgain)
            return false;
        if (!mOfferBasic || !mSentDigestNonce.isEmpty())
            return askAgain();   // Basic again, now that the camera asks for it
        const bool latin1Sent = mAuthorization.isEmpty() && CredentialBytes(mUrl.userInfo) != mUrl.userInfo.toUtf8();
        if (!offered.basicUtf8 || !latin1Sent)
            return false;
        mParent->mBasicUtf8 = true;
        return askAgain();
    }
    const DigestChallenge challenge = *offered.digest;
    // One Digest answer per transfer: a wrong password must not cost two failed logins where
    // every 401 brings a fresh nonce. Only a stale nonce earns one more.
    if (!mSentDigestNonce.isEmpty() ? !challenge.stale || mStaleAsked : mAskedAgain)
        return false;
    if (!mSentDigestNonce.isEmpty())
        mStaleAsked = true;
    using A = DigestChallenge::Algorithm;
    const bool sess = challenge.algorithm == A::Md5Sess || challenge.algorithm == A::Sha256Sess;
    DigestSession fresh{digestOrigin(), challenge, 0, sess ? NewDigestCnonce() : QByteArray()};
    if (DigestAuthorization(challenge, CredentialBytes(mUrl.user, challenge.utf8), QByteArray(), "GET", QByteArray(), 1, "-").isEmpty())
        return false;
    session = std::move(fresh);
    mParent->mDigestOnly = true;
    return askAgain();
}

bool CopyHelper::askAgain()
{
    mAskedAgain = true;
    mRetries = 0;
    if (!Dispatch(mURL)) {
        mRetries = 0;
        setTransferState(TransferState::Idle);
        report(-1);
    }
    return true;
}

// A 301, 302, 303, 307 or 308 to the same host (any scheme of the two, port and path) is
// asked for inside this transfer, with the same credentials. Any other, and one past
// MaxRedirects, is reported as the answer it is; false leaves it to that.
bool CopyHelper::followRedirect()
{
    const QByteArrayView head = mResponse.headerBlock();
    const qsizetype space = head.indexOf(' ');
    const int status = head.startsWith("HTTP/") && space > 0
        ? head.sliced(space + 1, std::min<qsizetype>(3, head.size() - space - 1)).toByteArray().toInt()
        : 0;
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308)
        return false;
    const QString location = headerValue(head, "location");
    if (location.isEmpty())
        return false;

    const Redirect next = NextRedirect(mURL, location, mRedirects, MaxRedirects);
    if (next.verdict != Redirect::Verdict::Follow) {
        if (mParent && next.verdict == Redirect::Verdict::OtherHost)
            mParent->mRedirectRefused = QStringLiteral("Weiterleitung auf einen anderen Rechner nicht gefolgt: ") + location;
        else if (mParent && next.verdict == Redirect::Verdict::TooMany)
            mParent->mRedirectRefused = QStringLiteral("Zu viele Weiterleitungen, zuletzt auf: ") + location;
        return false;
    }
    ++mRedirects;
    mRetries = 0;
    mAskedAgain = false;   // the new place may ask for credentials once more
    mStaleAsked = false;
    if (!Dispatch(next.target)) {
        mRetries = 0;
        setTransferState(TransferState::Idle);
        report(-1);
    }
    return true;
}

void CopyHelper::mWinsockControl_Error(int Number)
{
    mWatchdogTicks = 0;
    mWinsockControl->close();
    mBusy = false;
    if (Number == 11001 || Number == 11002)
        mResult = -2;
    if (Number == 10053 || Number == 10060)
        mResult = -7;

    if (mResult == 0 && mRetries < 2) {
        setTransferState(TransferState::Retrying);
        if (!Dispatch(mURL)) {
            mRetries = 0;
            setTransferState(TransferState::Idle);
            report(-1);
        }
        return;
    }

    mWatchdog.stop();
    if (mResult == 0)
        mResult = -3;
    if (Number == 10054 || Number == 10055 || Number == 40026)
        mResult = -4;
    if (Number == -3)
        mResult = -3;
    if (Number == -5)
        mResult = -5;
    mResponse.reset();
    mRetries = 0;
    setTransferState(TransferState::Idle);
    report(mResult);
}

void CopyHelper::mWatchdog_Timer()
{
    ++mWatchdogTicks;
    if (mWatchdogTicks < WatchdogLimit)
        return;

    mWatchdog.stop();
    mWatchdogTicks = 0;
    // Dropping the socket drops the connection; a fresh one takes its place.
    std::unique_ptr<TcpSocket> fresh = newSocket(mTlsSocket != nullptr);
    if (fresh) {
        useSocket(std::move(fresh), mTlsSocket != nullptr);
    } else {
        mWinsockControl->close();
    }
    mResponse.reset();
    mResult = -8;
    // Set before the callback, so that a transfer the callback starts gets its own retry.
    mRetries = 0;
    setTransferState(TransferState::Idle);

    const std::weak_ptr<bool> alive = mAlive;
    const quint64 serial = mTransferSerial;
    report(mResult);
    // The callback may have started the next transfer on this engine, or discarded it.
    if (alive.expired() || serial != mTransferSerial)
        return;
    mBusy = false;
}
