#pragma once

#include "platform/TlsSocket.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// A TLS record where an HTTP answer belongs: an HTTPS camera asked over plain HTTP.
bool IsTlsRecord(const QByteArray &response);

// The status code of an HTTP status line at the start of response, 0 when there is none.
int HttpStatusOf(const QByteArray &response);

// A transfer's outcome in words, as the overview and "Testen" show it: byData and iError as
// the engine reports them (for a response without an image byData is the whole response, so
// its status line tells what the camera said), tls what the TLS layer found meanwhile.
// Empty for an image that came whole.
QString OutcomeWords(const QByteArray &byData, qint16 iError, const TlsPeer::Findings &tls);
