// The settings reader and applier on any file: the state that comes out is always one the
// program can run with, and what it writes reads back the same.
#include "FuzzSupport.h"

#include "app/AppState.h"
#include "cameras/CamObject.h"
#include "config/Settings.h"
#include "config/SettingsView.h"
#include "support/FakeSettingsView.h"
#include "util/TextCodec.h"

namespace {

struct Applied
{
    AppState state{Platform()};
    FakeSettingsView view{state};
    bool error = false;

    explicit Applied(const QString &text) { error = ApplySettings(state, view, text); }
};

void CheckRunnable(const Applied &a)
{
    const AppState &s = a.state;
    FUZZ_CHECK(s.CamCount >= 1 && s.CamCount <= 255);
    FUZZ_CHECK(s.Cams.Count() == s.CamCount);
    for (int i = 1; i <= s.CamCount; ++i)
        FUZZ_CHECK(s.Cams.Item(i) && s.Cams.Item(i)->mCamNo == i);
    FUZZ_CHECK(s.SelectedCam >= 1 && s.SelectedCam <= s.CamCount);
    FUZZ_CHECK(s.TimeLimitUnit == QLatin1String("h") || s.TimeLimitUnit == QLatin1String("Tage"));
    FUZZ_CHECK(a.view.unit == s.TimeLimitUnit);
    FUZZ_CHECK(a.view.windowState >= 0 && a.view.windowState <= 2);
    FUZZ_CHECK(!a.view.space.isEmpty());
    FUZZ_CHECK(s.ArchivePath.isEmpty() || s.ArchivePath.endsWith(QLatin1Char('/')));
}

} // namespace

BILDFANG_FUZZ_TARGET(FuzzSettings)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = DecodeTextFile(bytes);

    // The one-pass reader gives what the reader of one tag gives, for every name the file uses.
    const SettingsTags tags(text);
    QStringList names = {QStringLiteral("CAM_COUNT"), QStringLiteral("LASTCAM"), QStringLiteral("LIMIT_OPT"),
                         QStringLiteral("ARCHIVE"), QStringLiteral("WINDOW_STATE"), QStringLiteral("cam01_name")};
    for (qsizetype at = text.indexOf(QLatin1Char('<')); at >= 0 && names.size() < 40; at = text.indexOf(QLatin1Char('<'), at + 1)) {
        const qsizetype close = text.indexOf(QLatin1Char('>'), at);
        const QString name = text.mid(at + 1, close < 0 ? -1 : close - at - 1);
        if (!name.contains(QLatin1Char('<')) && !name.startsWith(QLatin1Char('/')))
            names << name;
    }
    for (const QString &name : std::as_const(names))
        FUZZ_CHECK(tags.tag(name) == ReadTag(text, name));

    Applied first(text);
    CheckRunnable(first);

    // Written and read again through the file's bytes: the same cameras and choices, whatever
    // the values hold.
    const QString written = BuildSettingsText(first.state, first.view);
    Applied second(DecodeTextFile(EncodeTextFile(written)));
    CheckRunnable(second);
    FUZZ_CHECK(!second.error || first.error);
    const AppState &a = first.state, &b = second.state;
    FUZZ_CHECK(b.CamCount == a.CamCount);
    for (int i = 1; i <= a.CamCount; ++i) {
        const CamObject &x = *a.Cams.Item(i), &y = *b.Cams.Item(i);
        FUZZ_CHECK(y.mCamName == x.mCamName);
        FUZZ_CHECK(y.mCamSocket == x.mCamSocket);
        FUZZ_CHECK(y.mCamImagePath == x.mCamImagePath);
        FUZZ_CHECK(y.mCamUser == x.mCamUser);
        FUZZ_CHECK(y.mCamPassword == x.mCamPassword);
        FUZZ_CHECK(y.mCamUpdaterate == x.mCamUpdaterate);
    }
    FUZZ_CHECK(b.ArchivePath == a.ArchivePath);
    FUZZ_CHECK(b.SelectedCam == a.SelectedCam);
    FUZZ_CHECK(b.TimeLimitUnit == a.TimeLimitUnit);
    FUZZ_CHECK(b.SpaceLimitOn == a.SpaceLimitOn && b.TimeLimitOn == a.TimeLimitOn);
    FUZZ_CHECK(b.LogAutoClear == a.LogAutoClear && b.LogAutoSave == a.LogAutoSave && b.Recording == a.Recording);
    FUZZ_CHECK(second.view.windowState == first.view.windowState);
    return 0;
}
