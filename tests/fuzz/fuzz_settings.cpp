// The settings reader and applier on any file: the state that comes out is always one the
// program can run with, and what it writes reads back the same.
#include "FuzzSupport.h"

#include "state/AppState.h"
#include "cameras/CamObject.h"
#include "config/Settings.h"
#include "state/SettingsView.h"
#include "support/FakeSettingsView.h"
#include "util/TextCodec.h"

#include <tuple>

namespace {

struct Applied
{
    AppState state{Platform()};
    FakeSettingsView view{state};
    bool error;

    explicit Applied(const QString &text) : error(ApplySettings(state, view, text)) {}
};

void CheckRunnable(const Applied &a)
{
    const AppState &s = a.state;
    FUZZ_CHECK(s.CamCount >= 1 && s.CamCount <= 255 && s.Cams.Count() == s.CamCount);
    for (int i = 1; i <= s.CamCount; ++i)
        FUZZ_CHECK(s.Cams.Item(i) && s.Cams.Item(i)->mCamNo == i);
    FUZZ_CHECK(s.SelectedCam >= 1 && s.SelectedCam <= s.CamCount);
    FUZZ_CHECK((s.TimeLimitUnit == QLatin1String("h") || s.TimeLimitUnit == QLatin1String("Tage")) && a.view.unit == s.TimeLimitUnit);
    FUZZ_CHECK(a.view.windowState >= 0 && a.view.windowState <= 2 && !a.view.space.isEmpty());
    FUZZ_CHECK(s.ArchivePath.isEmpty() || s.ArchivePath.endsWith(QLatin1Char('/')));
}

// What a write and a read again must keep, whatever the values hold.
auto Kept(const Applied &a)
{
    const AppState &s = a.state;
    QList<std::tuple<QString, QString, QString, QString, QString, qint16>> cams;
    for (int i = 1; i <= s.CamCount; ++i) {
        const CamObject &c = *s.Cams.Item(i);
        cams.append({c.mCamName, c.mCamSocket, c.mCamImagePath, c.mCamUser, c.mCamPassword, c.mCamUpdaterate});
    }
    return std::tuple(cams, s.ArchivePath, s.SelectedCam, s.TimeLimitUnit, s.SpaceLimitOn, s.TimeLimitOn, s.LogAutoClear,
                      s.LogAutoSave, s.Recording, a.view.windowState);
}

} // namespace

BILDFANG_FUZZ_TARGET(FuzzSettings)
{
    const QString text = DecodeTextFile(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));

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

    // Written and read again through the file's bytes.
    Applied first(text);
    CheckRunnable(first);
    Applied second(DecodeTextFile(EncodeTextFile(BuildSettingsText(first.state, first.view))));
    CheckRunnable(second);
    FUZZ_CHECK((!second.error || first.error) && Kept(second) == Kept(first));
    return 0;
}
