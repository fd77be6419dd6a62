#pragma once

#include "cameras/CamAddress.h"   // CameraUrl, EscapeUrlCredential

#include <QString>

class AppState;
class CamObject;

// One tick of MainTimer: counts every camera's seconds, hands each due camera to the
// first idle engine, counts the tick for the volume estimate and moves the log file
// name to today's date.
void MainTimer_Timer(AppState &state);
