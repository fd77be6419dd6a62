#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// A camera URL taken apart for one GET. Only "://" is required; "https" (in any case) asks for
// TLS and port 443 by default, every other scheme is plain HTTP on port 80 by default.
//
// Credentials in the URL: the capture cycle writes user and password each with exactly these
// characters as "%" and two upper-case hex digits of the character's code: "%", "@", ":", "/",
// and every character from 0x00 to 0x20 and from 0x7F to 0xFF; everything else, characters
// above 0xFF included, stays as typed. Here the user-info alone is decoded: "%" and two hex
// digits (either case) become the character of that code 0-255, any other "%" stays as it is.
// So the Authorization line carries the typed bytes exactly and credentials without "%" give
// the bytes they always gave. Credentials with a character above 0xFF go out as UTF-8.
struct UrlParts
{
    QString userInfo;   // between "://" and the first "@", percent-decoded
    QString user;       // userInfo up to its first ":", decoded apart from the password
    QString password;   // after that ":", decoded; empty without one
    QString auth;       // Base64 of userInfo's CredentialBytes; empty without it
    QString host;
    qint32 port = 0;    // 80 (443 with TLS) when none or below 1
    bool tls = false;
    QString path;       // always begins with "/"
};

// No value when the URL has no "://", the port number does not fit 32 bits, or the host or
// path holds a control character (it would add lines to the request). On a port that does not
// fit, taken receives what was taken apart before it: user-info and host, port 0.
std::optional<UrlParts> ParseUrlParts(const QString &strSource, UrlParts *taken = nullptr);

// The request sent once the socket is connected: GET, Accept, Host, Connection: close and,
// with user-info, Authorization: Basic, each line ended by CR LF, then an empty line.
// A non-empty authorization value (a Digest answer) takes the Basic line's place; without
// offerBasic no Basic line goes out at all.
QByteArray BuildRequest(const UrlParts &url, const QByteArray &authorization = QByteArray(), bool offerBasic = true);

// Credentials as bytes: one byte per character while all are 0-255 and utf8 is false (what
// every camera got before UTF-8 was asked for), otherwise UTF-8.
QByteArray CredentialBytes(const QString &text, bool utf8 = false);

// The path as it goes into the request line: blanks and characters above 0x7E percent-encoded
// as UTF-8, everything else as typed, "%XX" included. Servers refuse raw blanks and bytes there.
QByteArray RequestTarget(const QString &path);

// "%" and two hex digits become the character of that code; see the credentials above.
QString PercentDecode(const QString &text);

// Characters 0-255 become one byte each; anything above goes out as UTF-8.
QByteArray ToWireBytes(const QString &text);

// What a 301, 302, 303, 307 or 308 with this Location leads to from url, after followed
// redirects of this transfer. Followed: a path on the same authority, or an http(s) URL to the
// same host (any port, path, either scheme) without user-info of its own; url's user-info is
// kept as typed, so the credentials go again exactly. OtherHost: anything else that names a
// place. Unusable: a control character, which must not reach a request line, or a URL that
// stops being one with the new path.
struct Redirect
{
    enum class Verdict { Follow, OtherHost, TooMany, Unusable };
    Verdict verdict = Verdict::Unusable;
    QString target;   // only with Follow
};
Redirect NextRedirect(const QString &url, const QString &location, int followed, int limit);
