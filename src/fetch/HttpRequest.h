#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// A camera URL taken apart for one GET. Only "://" is required; the scheme is never looked at.
struct UrlParts
{
    QString userInfo;   // between "://" and the first "@", verbatim
    QString auth;       // Base64 of userInfo; empty without it
    QString host;
    qint32 port = 0;    // 80 when none or below 1
    QString path;       // always begins with "/"
};

// No value when the URL has no "://", the port number does not fit 32 bits, the user-info
// holds a character that cannot go out as one byte, or the host or path holds a control
// character (it would add lines to the request). On a port that does not fit, taken receives
// what was taken apart before it: user-info and host, port 0.
std::optional<UrlParts> ParseUrlParts(const QString &strSource, UrlParts *taken = nullptr);

// The request sent once the socket is connected: GET, Accept, Host, Connection: close and,
// with user-info, Authorization: Basic, each line ended by CR LF, then an empty line.
QByteArray BuildRequest(const UrlParts &url);

// Characters 0-255 become one byte each; anything above goes out as UTF-8.
QByteArray ToWireBytes(const QString &text);
