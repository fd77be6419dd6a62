#include "cameras/TrialFetch.h"

#include "state/AppState.h"
#include "cameras/CamAddress.h"
#include "cameras/CamObject.h"
#include "cameras/Outcome.h"
#include "fetch/CopyHelper.h"

struct TrialFetch::Receiver : CopyHelperParent
{
    std::function<void(const Result &)> done;

    void CHCallBack(const QByteArray &byData, qint16 iError) override
    {
        Result result;
        result.words = OutcomeWords(byData, iError, mTlsPeer->take());
        if (result.words.isEmpty())
            result.image = byData;
        // Called once; done may start the next trial.
        if (auto call = std::exchange(done, nullptr))
            call(result);
    }
};

TrialFetch::TrialFetch(AppState &state)
    : mState(state)
{
}

TrialFetch::~TrialFetch() = default;

void TrialFetch::Start(const Values &values, std::function<void(const Result &)> done)
{
    if (!mEngine)
        mEngine = std::make_unique<CopyHelper>(mState.platform, mState.TimerNames);
    mReceiver = std::make_shared<Receiver>();
    mReceiver->mTlsPeer->pinned = values.pinned;
    mReceiver->done = std::move(done);

    // The address as the recording would build it from these values.
    CamObject cam(mState);
    cam.mCamSocket = values.socket;
    cam.mCamImagePath = values.imagePath;
    cam.mCamUser = values.user;
    cam.mCamPassword = values.password;
    mEngine->Parent(mReceiver);
    mEngine->DataType(1);
    if (!mEngine->Dispatch(CameraUrl(cam))) {
        if (auto call = std::exchange(mReceiver->done, nullptr))
            call(Result{QByteArray(), QStringLiteral("Adresse ungültig")});
    }
}

bool TrialFetch::isBusy() const
{
    return mEngine && mEngine->isBusy();
}
