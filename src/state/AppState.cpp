#include "state/AppState.h"

#include "state/MainView.h"
#include "fetch/CopyHelper.h"
#include "util/Utils.h"

namespace {

class SilentView final : public MainView
{
public:
    void SetStatusText(int, const QString &) override {}
    bool ShowLastImage(const QString &, const QString &, QString *) override { return true; }
    void SetRecordingChecked(bool) override {}
};

} // namespace

AppState::AppState(Platform services)
    : platform(std::move(services))
{
}

AppState::~AppState()
{
    // Cameras first, then the engines, as the program releases them at its end.
    Cams.RemoveAll();
    CopyHelpers.clear();
    RetiredHelpers.clear();
}

MainView &AppState::View()
{
    static SilentView silent;   // stateless, so sharing it between states is harmless
    return mView ? *mView : silent;
}

void AppState::SetView(MainView *view)
{
    mView = view;
}

QString AppState::BuildVersionText()
{
    return TrimBlank(BILDFANG_VERSION_MAJOR) + QLatin1Char('.') + TrimBlank(BILDFANG_VERSION_MINOR)
        + QLatin1Char('.') + TrimBlank(BILDFANG_VERSION_PATCH);
}
