#include "app/Startup.h"

#include "state/AppState.h"
#include "config/Settings.h"
#include "fetch/CopyHelper.h"
#include "log/Log.h"
#include "platform/FolderLock.h"
#include "util/TextCodec.h"

#include <QtGlobal>
#include <algorithm>
#include <cstdio>

void UseOffscreenWithoutDisplay()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

QString FolderLockFileName(const QString &folder)
{
    return folder + QStringLiteral("/Bildfang.lock");
}

QString LockDataFolder(FolderLock &lock, const QString &folder)
{
    if (lock.tryLock() || lock.holder().isEmpty())
        return QString();
    return QStringLiteral("Der Ordner \"%1\" wird schon von einer laufenden Bildfang-Instanz benutzt (%2).\n"
                          "Jede weitere Instanz braucht ihren eigenen Ordner: bildfang --config ORDNER")
        .arg(folder, lock.holder());
}

QString ErrorLogText(const QString &detail)
{
    return QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"") + detail + QLatin1Char('"');
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

void AddEngine(AppState &state)
{
    state.CopyHelpers.push_back(std::make_unique<CopyHelper>(state.platform, state.TimerNames));
}

void RemoveLastEngine(AppState &state)
{
    if (state.CopyHelpers.empty())
        return;
    std::unique_ptr<CopyHelper> engine = std::move(state.CopyHelpers.back());
    state.CopyHelpers.pop_back();
    if (engine->isBusy())
        state.RetiredHelpers.push_back(std::move(engine));
}

void ReleaseRetiredEngines(AppState &state)
{
    if (state.LimitCheckRunning)
        return;
    auto &retired = state.RetiredHelpers;
    retired.erase(std::remove_if(retired.begin(), retired.end(), [](const auto &e) { return !e->isBusy(); }),
                  retired.end());
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

bool SaveAndClearLog(AppState &state)
{
    QString error;
    if (!AppendLogFile(state, &error)) {
        WriteLog(state, ErrorLogText(error.isEmpty() ? state.LogFileName : error));
        return false;
    }
    LogLeeren(state);
    return true;
}
