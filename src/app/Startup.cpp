#include "app/Startup.h"

#include "state/AppState.h"
#include "config/Settings.h"
#include "log/Log.h"
#include "util/TextCodec.h"

#include <QtGlobal>
#include <cstdio>

void UseOffscreenWithoutDisplay()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

bool ProtectUnreadableSettings(AppState &state)
{
    FileSystem &files = *state.platform.fileSystem;
    const QString &path = state.SettingsFileName;
    QByteArray bytes;
    const bool unreadable = files.folderExists(path) || (files.fileExists(path) && !files.readFile(path, bytes));
    if (!unreadable)
        return false;
    state.SettingsFileProtected = true;
    WriteLog(state, QStringLiteral("INI Datei kann nicht gelesen werden und wird nicht überschrieben!\r\n  >\"")
                        + path + QLatin1Char('"'));
    return true;
}

bool SaveSettingsLogged(AppState &state, const SettingsView &view)
{
    if (state.SettingsFileProtected)
        return false;
    QString error;
    if (SaveSettings(state, view, &error)) {
        state.SettingsSaveError.clear();
        return true;
    }
    if (error.isEmpty())
        error = state.SettingsFileName;
    if (error != state.SettingsSaveError) {
        state.SettingsSaveError = error;
        WriteLog(state, ErrorLogText(error));
    }
    return false;
}

void AppendLogFileAtEnd(AppState &state)
{
    QString error;
    if (AppendLogFile(state, &error))
        return;
    const QByteArray reason = EncodeTextFile(error.isEmpty() ? state.LogFileName : error);
    std::fprintf(stderr, "Bildfang: Logdatei kann nicht geschrieben werden (%s)\n", reason.constData());
    const QByteArray lines = EncodeTextFile(state.txtLog.text());
    std::fwrite(lines.constData(), 1, size_t(lines.size()), stderr);
    std::fflush(stderr);
}
