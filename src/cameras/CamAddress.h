#pragma once

#include <QString>

class CamObject;

// A camera's address as the address box and the settings file hold it: "host[:port]" for
// plain HTTP, or "https://host[:port]" for TLS.
struct CamAddress
{
    bool tls = false;
    QString hostPort;   // the address without its scheme
};

CamAddress SplitCamSocket(const QString &socket);

// The address box's text as "Aktivieren" keeps it: "http:" and every "/" are removed as
// always, but a leading "https:" (any case) stays, as "https://".
QString NormalizeCamSocket(const QString &text);

// For the camera editor: the pinned certificate's fingerprint, empty when none is pinned;
// forgetting it lets the next connection pin anew.
QString PinnedCertificate(const CamObject &cam);
void ForgetCertificate(CamObject &cam);

// "http://" [user ":" password "@"] socket path, credentials only when both are set and
// each escaped by EscapeUrlCredential.
QString CameraUrl(const CamObject &cam);

// The user name or password as it goes into the URL: "%", "@", ":", "/" and every
// character below 0x21 or from 0x7F to 0xFF become "%" and two upper-case hex digits of its
// Latin-1 byte, so the address cannot be split inside them; Dispatch undoes it. Characters
// above 0xFF stay as they are (Dispatch refuses them, as they cannot go out as one byte).
QString EscapeUrlCredential(const QString &text);
