#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

// HTTP Digest authentication for cameras that refuse Basic: MD5, MD5-sess, SHA-256 and
// SHA-256-sess, with qop "auth" or without qop. Not auth-int, not userhash.
struct DigestChallenge
{
    enum class Algorithm { Md5, Md5Sess, Sha256, Sha256Sess };
    Algorithm algorithm = Algorithm::Md5;
    QByteArray realm;
    QByteArray nonce;
    QByteArray opaque;
    bool hasOpaque = false;
    bool qopAuth = false;   // answer with qop=auth, nc and cnonce
    bool stale = false;
    bool utf8 = false;      // charset="UTF-8": user and password go into the hash as UTF-8
};

// What a 401 answer's WWW-Authenticate lines offer.
struct AuthChallenges
{
    bool basic = false;                      // a Basic challenge among them
    bool basicUtf8 = false;                  // and it says charset="UTF-8"
    std::optional<DigestChallenge> digest;   // the first Digest challenge we can answer
};

// True when the status line of the header block says 401.
bool IsUnauthorized(QByteArrayView headerBlock);

// A malformed WWW-Authenticate line offers nothing that can be answered.
AuthChallenges ParseAuthChallenges(QByteArrayView headerBlock);

// The value of the Authorization line, "Digest username=..."; empty when the user name or the
// uri cannot go into a header (a control character).
QByteArray DigestAuthorization(const DigestChallenge &challenge, const QByteArray &user,
                               const QByteArray &password, QByteArrayView method, const QByteArray &uri,
                               quint32 nc, const QByteArray &cnonce);

// A fresh client nonce.
QByteArray NewDigestCnonce();

// The challenge a camera last answered, so that its next fetches answer at once with nc
// counting up. It holds for the host, port and credentials it came for only.
struct DigestSession
{
    QString origin;
    DigestChallenge challenge;
    quint32 nc = 0;
    QByteArray sessCnonce;   // the -sess algorithms keep one client nonce per challenge
};
