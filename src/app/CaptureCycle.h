#pragma once

#include <QString>

class AppState;
class CamObject;

// One tick of MainTimer: counts every camera's seconds, hands each due camera to the
// first idle engine, counts the tick for the volume estimate and moves the log file
// name to today's date.
void MainTimer_Timer(AppState &state);

// "http://" [user ":" password "@"] socket path, credentials only when both are set and
// each escaped by EscapeUrlCredential.
QString CameraUrl(const CamObject &cam);

// The user name or password as it goes into the URL: "%", "@", ":", "/" and every
// character below 0x21 or from 0x7F to 0xFF become "%" and two upper-case hex digits of its
// Latin-1 byte, so the address cannot be split inside them; Dispatch undoes it. Characters
// above 0xFF stay as they are (Dispatch refuses them, as they cannot go out as one byte).
QString EscapeUrlCredential(const QString &text);
