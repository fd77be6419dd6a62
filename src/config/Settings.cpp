#include "config/Settings.h"

#include "app/AppState.h"
#include "archive/ArchiveLayout.h"
#include "config/SettingsView.h"
#include "log/Log.h"
#include "util/TextCodec.h"
#include "util/Utils.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringView>
#include <memory>

namespace {

const QLatin1String CrLf("\r\n");

bool SameName(QStringView candidate, QStringView name)
{
    return candidate.compare(name, Qt::CaseInsensitive) == 0;
}

// The number at the start of the text, rounded half to even; false when it does not fit.
bool LeadingInt16(const QString &text, qint16 &value)
{
    return RoundToInt16(LeadingNumber(text), value);
}

// LOG_SAVE and RECORD: "0"/"1" or the words for false/true in any case.
enum class Tristate { Unknown, Off, On };

Tristate LooseBool(const QString &value)
{
    const QString upper = value.toUpper();
    if (value == QLatin1String("0") || upper == QLatin1String("FALSCH") || upper == QLatin1String("FALSE"))
        return Tristate::Off;
    if (value == QLatin1String("1") || upper == QLatin1String("WAHR") || upper == QLatin1String("TRUE"))
        return Tristate::On;
    return Tristate::Unknown;
}

// LOG_CLEAR: the same forms, but with exact case.
Tristate StrictBool(const QString &value)
{
    if (value == QLatin1String("0") || value == QLatin1String("Falsch") || value == QLatin1String("False"))
        return Tristate::Off;
    if (value == QLatin1String("1") || value == QLatin1String("Wahr") || value == QLatin1String("True"))
        return Tristate::On;
    return Tristate::Unknown;
}

void Line(QString &text, const QString &name, const QString &value)
{
    text += QLatin1Char('<') + name + QLatin1Char('>') + value + QLatin1String("</") + name
        + QLatin1Char('>') + CrLf;
}

} // namespace

QString ReadTag(const QString &text, const QString &name)
{
    // Positions below are 1-based, as the file format describes them.
    const qsizetype length = text.size();
    const QStringView view(text);
    qsizetype start = 0;
    qsizetype end = 0;
    QString result;
    qsizetype nextClose = 0;   // 1-based position of the next ">" found so far, 0: search

    for (qsizetype n = view.indexOf(QLatin1Char('<')) + 1; n >= 1 && n <= length - 2;
         n = view.indexOf(QLatin1Char('<'), n) + 1) {
        // The tag runs from n + 1 up to the next ">", or to the end of the text.
        if (nextClose != -1 && nextClose <= n) {
            const qsizetype found = view.indexOf(QLatin1Char('>'), n);
            nextClose = found < 0 ? -1 : found + 1;
        }
        const qsizetype candidateEnd = nextClose == -1 ? length + 1 : nextClose;
        const QStringView candidate = view.mid(n, candidateEnd - n - 1);

        if (view[n] != QLatin1Char('/')) {
            if (SameName(candidate, name))
                start = n + candidate.size() + 2;
        } else if (SameName(candidate.mid(1), name)) {
            end = n - 1;
        }

        if (start > 0 && start < length && end > 0 && start <= end) {
            result = text.mid(start - 1, end - start + 1);
            start = 0;
            end = 0;
        }
    }
    return result;
}

bool TryParseInt16(const QString &text, qint16 &value)
{
    qint16 parsed = 0;
    if (TextToInt16(text, parsed)) {
        value = parsed;
        return true;
    }
    value = 0;
    return false;
}

QString SettingsFileNameFor(const QString &programFolder)
{
    return AddBackslash(programFolder) + QLatin1String("Bildfang.ini");
}

QString SettingsBoolText(bool value)
{
    if (QLocale().language() == QLocale::German)
        return value ? QStringLiteral("Wahr") : QStringLiteral("Falsch");
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

QString BuildSettingsText(AppState &state, const SettingsView &view)
{
    QString text;
    text += QLatin1String("*** INI file of Bildfang. Do NOT edit ***") + CrLf;
    Line(text, QStringLiteral("ARCHIVE"), state.ArchivePath);
    Line(text, QStringLiteral("CAM_COUNT"), TrimBlank(state.CamCount));
    for (int i = 1; i <= state.CamCount; ++i) {
        // A record that cannot be read is skipped; the other lines are still written.
        const std::shared_ptr<CamObject> cam = state.Cams.Item(i);
        if (!cam)
            continue;
        const QString prefix = CamFolderName(i);
        Line(text, prefix + QLatin1String("_NAME"), cam->mCamName);
        Line(text, prefix + QLatin1String("_SOCKET"), cam->mCamSocket);
        Line(text, prefix + QLatin1String("_PATH"), cam->mCamImagePath);
        Line(text, prefix + QLatin1String("_USER"), cam->mCamUser);
        Line(text, prefix + QLatin1String("_PWD"), cam->mCamPassword);
        Line(text, prefix + QLatin1String("_RATE"), TrimBlank(cam->mCamUpdaterate));
    }
    Line(text, QStringLiteral("LASTCAM"), TrimBlank(state.SelectedCam));
    if (state.SpaceLimitOn)
        Line(text, QStringLiteral("LIMIT_OPT"), QStringLiteral("P"));
    if (state.TimeLimitOn)
        Line(text, QStringLiteral("LIMIT_OPT"), QStringLiteral("Z"));
    Line(text, QStringLiteral("LIMIT_SPACE"), TrimBlank(state.SpaceLimitMB));
    Line(text, QStringLiteral("LIMIT_TIME"), TrimBlank(state.TimeLimitValue));
    Line(text, QStringLiteral("LIMIT_UNIT"), state.TimeLimitUnit);
    Line(text, QStringLiteral("LOG_CLEAR"), SettingsBoolText(state.LogAutoClear));
    Line(text, QStringLiteral("LOG_SAVE"), SettingsBoolText(state.LogAutoSave));
    Line(text, QStringLiteral("RECORD"), SettingsBoolText(state.Recording));
    Line(text, QStringLiteral("WINDOW_LEFT"), TrimBlank(view.WindowLeft()));
    Line(text, QStringLiteral("WINDOW_STATE"), TrimBlank(view.WindowState()));
    Line(text, QStringLiteral("WINDOW_TOP"), TrimBlank(view.WindowTop()));
    return text;
}

bool SaveSettings(AppState &state, const SettingsView &view, QString *error)
{
    const QString &path = state.SettingsFileName;
    const QByteArray data = EncodeTextFile(BuildSettingsText(state, view));

    // A new file starts out empty and owner-only: the replacement takes over the old file's
    // permissions, so the passwords are never readable by others, not even for a moment.
    const bool existed = QFile::exists(path);
    if (!existed) {
        QFile placeholder(path);
        if (placeholder.open(QIODevice::WriteOnly))
            placeholder.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }

    // The file is replaced through a temporary file, so a crash or a full disk leaves the
    // old settings in place rather than none. A read-only file is replaced all the same.
    bool written = state.platform.fileSystem->writeFile(path, data, error);
    if (!written && QFile::exists(path) && !QFileInfo(path).isWritable()) {
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        written = state.platform.fileSystem->writeFile(path, data, error);
    }
    if (!written) {
        if (!existed)
            QFile::remove(path);   // no empty file where there was none
        return false;
    }

    // It holds the camera passwords in plain text: owner only.
    if (!QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner)) {
        if (error)
            *error = QStringLiteral("Die Zugriffsrechte von \"%1\" lassen sich nicht setzen.").arg(path);
        return false;
    }
    return true;
}

bool ApplySettings(AppState &state, SettingsView &view, const QString &text)
{
    bool error = false;

    qint16 count = 1;
    if (!TextToInt16(ReadTag(text, QStringLiteral("CAM_COUNT")), count) || count < 1)
        count = 1;   // 0, negative and unreadable counts all mean the one default camera

    qint16 added = 0;
    for (int i = 1; i <= count; ++i) {
        auto cam = std::make_shared<CamObject>(state);
        const QString prefix = CamFolderName(i);
        cam->mCamName = ReadTag(text, prefix + QLatin1String("_NAME"));
        cam->mCamSocket = ReadTag(text, prefix + QLatin1String("_SOCKET"));
        cam->mCamImagePath = ReadTag(text, prefix + QLatin1String("_PATH"));
        cam->mCamUser = ReadTag(text, prefix + QLatin1String("_USER"));
        cam->mCamPassword = ReadTag(text, prefix + QLatin1String("_PWD"));
        qint16 rate = 0;
        if (!LeadingInt16(ReadTag(text, prefix + QLatin1String("_RATE")), rate))
            rate = 0;   // beyond 16 bits reads like text without a number
        cam->mCamUpdaterate = rate;
        // The collection holds at most 255 cameras; a longer list is cut there.
        if (!state.Cams.Add(cam))
            break;
        ++added;
    }
    state.CamCount = added > 0 ? added : qint16(1);

    view.SetSpeicherortText(ReadTag(text, QStringLiteral("ARCHIVE")));
    const QString archive = view.SpeicherortText();
    if (!archive.isEmpty())
        state.ArchivePath = AddBackslash(archive);

    qint16 selected = 0;
    if (!LeadingInt16(ReadTag(text, QStringLiteral("LASTCAM")), selected) || selected < 1
        || selected > state.CamCount) {
        error = true;
        selected = 1;
    }
    state.SelectedCam = selected;

    const QString option = ReadTag(text, QStringLiteral("LIMIT_OPT")).toUpper();
    if (option == QLatin1String("P"))
        view.ClickPlatzlimit();
    else if (option == QLatin1String("Z"))
        view.ClickZeitlimit();
    else
        error = true;

    // The unit comes before the age, so that the age box sees the right unit.
    view.SetEinheitText(ReadTag(text, QStringLiteral("LIMIT_UNIT")));
    state.TimeLimitUnit = view.EinheitText();
    if (state.TimeLimitUnit != QLatin1String("Tage") && state.TimeLimitUnit != QLatin1String("h")) {
        error = true;
        view.SetEinheitText(QStringLiteral("h"));
        state.TimeLimitUnit = QStringLiteral("h");
    }

    view.SetSpeicherlimitText(ReadTag(text, QStringLiteral("LIMIT_SPACE")));
    if (view.SpeicherlimitText().isEmpty())
        view.SetSpeicherlimitText(QStringLiteral("100"));

    view.SetZeitlimitText(ReadTag(text, QStringLiteral("LIMIT_TIME")));

    switch (StrictBool(ReadTag(text, QStringLiteral("LOG_CLEAR")))) {
    case Tristate::Off: view.SetLogAutoLeerenChecked(false); break;
    case Tristate::On: view.SetLogAutoLeerenChecked(true); break;
    case Tristate::Unknown: break;
    }
    switch (LooseBool(ReadTag(text, QStringLiteral("LOG_SAVE")))) {
    case Tristate::Off: view.SetLogAutoSichernChecked(false); break;
    case Tristate::On: view.SetLogAutoSichernChecked(true); break;
    case Tristate::Unknown: break;
    }
    switch (LooseBool(ReadTag(text, QStringLiteral("RECORD")))) {
    case Tristate::Off: view.SetRecordingChecked(false); break;
    case Tristate::On: view.SetRecordingChecked(true); break;
    case Tristate::Unknown: break;
    }

    qint16 value = 0;
    TryParseInt16(ReadTag(text, QStringLiteral("WINDOW_LEFT")), value);
    view.SetWindowLeft(value);
    TryParseInt16(ReadTag(text, QStringLiteral("WINDOW_TOP")), value);
    view.SetWindowTop(value);
    TryParseInt16(ReadTag(text, QStringLiteral("WINDOW_STATE")), value);
    if (value < 0 || value > 2)
        value = 0;   // only normal, minimized and maximized exist
    view.SetWindowState(value);

    return error;
}

SettingsLoad LoadSettings(AppState &state, SettingsView &view)
{
    SettingsLoad load;
    FileSystem &files = *state.platform.fileSystem;
    if (!files.fileExists(state.SettingsFileName))
        return load;
    load.fileFound = true;
    QByteArray bytes;
    if (!files.readFile(state.SettingsFileName, bytes))
        bytes.clear();
    load.error = ApplySettings(state, view, DecodeTextFile(bytes));
    return load;
}

void ApplyDefaultSettings(AppState &state, SettingsView &view)
{
    WriteLog(state, QStringLiteral("Keine INI Datei vorhanden. Benutze Vorgaben."));
    state.CamCount = 1;
    state.SpaceLimitOn = false;
    state.TimeLimitOn = true;
    state.TimeLimitValue = 24;
    view.SetEinheitText(QStringLiteral("h"));
    state.TimeLimitUnit = QStringLiteral("h");
    state.SelectedCam = 1;
}
