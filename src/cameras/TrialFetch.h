#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

class AppState;
class CopyHelper;

// One fetch of a camera with values not yet applied, through an engine of its own: nothing
// is saved, and no camera, setting or engine of the recording is touched.
class TrialFetch
{
public:
    struct Values
    {
        QString socket, imagePath, user, password;
        QString pinned;   // the certificate to expect; empty: the first one is taken
    };
    struct Result
    {
        QByteArray image;   // the JPEG when one came whole, else empty
        QString words;      // the failure in words; empty with an image
    };

    explicit TrialFetch(AppState &state);
    ~TrialFetch();
    TrialFetch(const TrialFetch &) = delete;
    TrialFetch &operator=(const TrialFetch &) = delete;

    // done is called once when the transfer has ended, possibly before Start returns when
    // the address is refused.
    void Start(const Values &values, std::function<void(const Result &)> done);
    bool isBusy() const;

private:
    struct Receiver;
    AppState &mState;
    std::shared_ptr<Receiver> mReceiver;
    std::unique_ptr<CopyHelper> mEngine;
};
