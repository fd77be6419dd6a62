#include "app/CaptureCycle.h"

#include "state/AppState.h"
#include "cameras/CamAddress.h"
#include "cameras/Engines.h"
#include "cameras/CamObject.h"
#include "fetch/CopyHelper.h"
#include "log/Log.h"

#include <limits>

namespace {

// Hands the camera to the first idle engine. A refused URL ends the search at once.
void ServeCamera(AppState &state, const std::shared_ptr<CamObject> &cam)
{
    const QString url = CameraUrl(*cam);
    const int engines = static_cast<int>(state.CopyHelpers.size());
    bool started = false;
    for (int j = 1; !started && j <= state.CamCount && j <= engines; ++j) {
        CopyHelper &engine = *state.CopyHelpers[j - 1];
        if (engine.isBusy())
            continue;
        engine.Parent(cam);
        engine.DataType(1);
        started = engine.Dispatch(url);
        if (started) {
            cam->mCamIsBusy = true;
            cam->mCamWindowTicket = state.SpaceMeter.TransferStarted();
        } else {
            WriteLog(state, QStringLiteral("URL von ") + cam->mCamName + QStringLiteral(" ungültig"));
            break;
        }
    }
    // Also when no idle engine was found: the camera waits a whole interval again.
    cam->mCamTickCounter = 0;
}

} // namespace

void MainTimer_Timer(AppState &state)
{
    ReleaseRetiredEngines(state);

    const qint16 n = state.CamCount;
    for (int i = 1; i <= n; ++i) {
        const std::shared_ptr<CamObject> cam = state.Cams.Item(i);
        if (!cam || cam->mCamUpdaterate == -1)
            continue;
        // A camera busy for more than nine hours stops counting at the top of the range
        // instead of wrapping to a negative count that would keep it from ever being due.
        if (cam->mCamTickCounter < std::numeric_limits<qint16>::max())
            ++cam->mCamTickCounter;
        if (cam->mCamTickCounter >= cam->mCamUpdaterate && !cam->mCamIsBusy)
            ServeCamera(state, cam);
    }

    state.SpaceMeter.CountCycles();

    state.CurrentTime = state.platform.clock->now();
    state.LogFileName = LogFileNameFor(state.platform.program->logFolder(), state.CurrentTime);
}
