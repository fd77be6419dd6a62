#include "cameras/CamObject.h"

#include "cameras/Outcome.h"
#include "state/AppState.h"
#include "state/MainView.h"
#include "archive/ArchiveLayout.h"
#include "archive/StorageLimits.h"
#include "log/Log.h"
#include "util/Utils.h"

#include <exception>
#include <utility>

namespace {

// A failing step is logged and the handling goes on with the next one.
void LogStepError(AppState &state, const QString &detail)
{
    WriteLog(state, QStringLiteral("Ein Fehler wurde verursacht!\r\n  >\"") + detail + QLatin1Char('"'));
}

QString OutcomeText(qint16 iError)
{
    switch (iError) {
    case -1: return QStringLiteral(": Fehler beim erneuten Versuch!");
    case -2: return QStringLiteral(": Ziel konnte nicht gefunden werden!");
    case -3: return QStringLiteral(": Allgemeiner Verbindungsfehler!");
    case -4: return QStringLiteral(": Fehler beim Kopieren!");
    case -7: return QStringLiteral(": Zeitüberschreitung!");
    case -8: return QStringLiteral(": WATCHDOG Zeitüberschreitung!");
    default: return QString();
    }
}

} // namespace

void CamObject::CHCallBack(const QByteArray &byData, qint16 iError)
{
    AppState &state = mState;
    MainView &view = state.View();

    state.SpaceMeter.TransferEnded(mCamWindowTicket);
    mCamWindowTicket = 0;   // a second report of the same transfer counts no more

    // Removed from the list while its transfer ran: its number now belongs to another
    // camera, so the outcome is dropped rather than filed there.
    if (mCamNo == 0) {
        mCamIsBusy = false;
        return;
    }

    // What the TLS layer found during this transfer, said once.
    const TlsPeer::Findings tls = mTlsPeer->take();
    if (!tls.pinnedNow.isEmpty()) {
        WriteLog(state, QStringLiteral("Zertifikat von ") + mCamName + QStringLiteral(" gemerkt: ") + tls.pinnedNow);
        view.SettingsChanged();
    }

    mLastOutcome = OutcomeWords(byData, iError, tls);
    const int httpStatus = iError == -6 ? HttpStatusOf(byData) : 0;

    const QString redirect = std::exchange(mRedirectRefused, QString());
    if (!redirect.isEmpty())
        WriteLog(state, mCamName + QStringLiteral(": ") + redirect);

    view.SetStatusText(1, mCamName + QStringLiteral(": Speichere Bild..."));
    const qsizetype n = byData.size();
    std::optional<ImageMarks> marks;   // found by the change test, kept for the next one

    const bool tlsAnswer = iError == -6 && IsTlsRecord(byData);
    if (tlsAnswer) {
        view.SetStatusText(1, mCamName + QStringLiteral(": Fehler!"));
        WriteLog(state, mCamName + QStringLiteral(": Die Kamera antwortet verschlüsselt, die Adresse braucht https://!"));
    } else if (n < 1 || (iError != 0 && iError != -6)) {
        view.SetStatusText(1, mCamName + QStringLiteral(": Fehler!"));
        // Nothing at all came back: a camera that accepts and closes at once.
        QString text = n < 1 && (iError == 0 || iError == -5 || iError == -6)
            ? QStringLiteral(": Keine Daten empfangen!") : OutcomeText(iError);
        if (!tls.refused.isEmpty()) {
            text = QStringLiteral(": Zertifikat hat sich geändert, kein Bild gespeichert! Gemerkt: ") + mTlsPeer->pinned
                + QStringLiteral(", jetzt: ") + tls.refused;
        } else if (!tls.failure.isEmpty() && iError != -8) {
            text = QStringLiteral(": ") + tls.failure + QLatin1Char('!');
        }
        if (!text.isEmpty())
            WriteLog(state, mCamName + text);
    } else if (!IsNewImage(byData, &marks)) {
        view.SetStatusText(1, mCamName + QStringLiteral(": Bild ist unverändert!"));
        mLastOutcome = QStringLiteral("Bild ist unverändert");
    } else {
        // Folder and file name take the same instant: the moment of saving.
        state.CurrentTime = state.platform.clock->now();
        const bool broken = iError == -6;
        const ImagePath target = ImagePathFor(state.ArchivePath, mCamNo, mCamName, state.CurrentTime, broken);
        const bool knownFolder = target.folder == mLastFolder;
        if (!knownFolder)
            EnsureFolder(state, target.folder);   // a failure shows in the write below
        if (broken && httpStatus != 0 && httpStatus != 200) {
            // A wrong password or path says so instead of hiding behind a broken image.
            WriteLog(state, mCamName + QStringLiteral(": ") + mLastOutcome + QLatin1Char('!'));
        } else if (broken) {
            WriteLog(state, mCamName
                         + QStringLiteral(": Es wurde eine ungültige oder unvollständige Bilddatei zurückgeliefert!"));
        }
        // Written beside its name and then published whole without replacing anything: an
        // interrupted save or a full disk never leaves a truncated image, and the hour that
        // repeats when the clock goes back keeps both images (the second one with "-2").
        QString path;
        QString writeError;
        bool saved = state.platform.fileSystem->publishFile(target.path(), byData, &path, &writeError);
        if (!saved && knownFolder) {
            // Deleted or moved behind our back since the last image.
            EnsureFolder(state, target.folder);
            saved = state.platform.fileSystem->publishFile(target.path(), byData, &path, &writeError);
        }
        mLastFolder = saved ? target.folder : QString();
        if (!saved) {
            // Nothing was saved: not reported as saved, not counted, not the last image.
            LogStepError(state, writeError.isEmpty() ? target.path() : writeError);
            view.SetStatusText(1, mCamName + QStringLiteral(": Fehler!"));
            mLastOutcome = QStringLiteral("Bild konnte nicht gespeichert werden");
        } else {
            view.SetStatusText(1, mCamName + QStringLiteral(": Bild wurde gespeichert!"));
            state.SpaceMeter.CollectBytes(n);
            if (!broken) {
                if (mCamNo == state.SelectedCam) {
                    QString showError;
                    if (!view.ShowLastImage(path, path.mid(path.lastIndexOf(PathSeparator()) + 1), &showError))
                        LogStepError(state, showError.isEmpty() ? path : showError);
                }
                mCamLastPic = path;
                mLastSavedTime = state.CurrentTime;
                RememberLastPic(byData, marks);
            }
        }
    }

    // End of every transfer, whatever happened above.
    mCamIsBusy = false;

    if (state.SpaceMeter.ResultDue()) {
        const qint32 estimate = state.SpaceMeter.EstimateSpace();
        qint32 kb = 0;
        RoundToInt32(double(estimate) / 1024.0, kb);
        WriteLog(state, TrimBlank(kb) + QStringLiteral(" KB werden ca. pro Stunde benötigt"));
        if (state.SpaceMeter.EstimateSpace() == 0) {
            // Unchecking the box runs the recording switch, which logs its own line first.
            view.SetRecordingChecked(false);
            WriteLog(state, QStringLiteral("Aufnahme gestoppt! Innerhalb ") + TrimBlank(state.SpaceMeter.HighestInterval())
                         + QStringLiteral(" Sekunden wurden insgesamt 0 Bytes übertragen."));
        }
    }

    if (state.LimitCheckRunning)
        CheckFreeSpace(state);
    else
        CheckStorageLimits(state);
}
