#include "app/Startup.h"

#include "state/AppState.h"
#include "config/Settings.h"
#include "log/Log.h"
#include "platform/FolderLock.h"
#include "util/TextCodec.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QMetaObject>
#include <QPointer>
#include <QTranslator>
#include <QtGlobal>
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

bool LoadGermanQtTexts(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
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

bool PutOffShutdownDuringLimitCheck(AppState &state, QObject *context, std::function<void()> shutdown)
{
    if (!state.LimitCheckRunning)
        return false;
    if (!state.ShutdownRequested) {
        state.ShutdownRequested = true;
        // Queued: the check runs inside an engine's report, which the shutdown releases.
        state.ShutdownAfterCheck = [guard = QPointer<QObject>(context), shutdown = std::move(shutdown)] {
            if (guard)
                QMetaObject::invokeMethod(guard, shutdown, Qt::QueuedConnection);
        };
    }
    return true;
}

void AppendLogFileAtEnd(AppState &state)
{
    QString error;
    if (AppendLogFile(state, &error))
        return;
    const QByteArray reason = EncodeTextFile(error.isEmpty() ? state.LogFileName : error);
    std::fprintf(stderr, "Bildfang: Logdatei kann nicht geschrieben werden (%s)\n", reason.constData());
    const QByteArray lines = EncodeTextFile(state.txtLog.unsaved + state.txtLog.text());
    std::fwrite(lines.constData(), 1, size_t(lines.size()), stderr);
    std::fflush(stderr);
}
