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
