#include "config/Settings.h"

#include "state/AppState.h"
#include "archive/ArchiveLayout.h"
#include "state/SettingsView.h"
#include "log/Log.h"
#include "util/TextCodec.h"
#include "util/Utils.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>
#include <QLocale>
#include <QStringView>
#include <memory>
#include <utility>

namespace {

const QLatin1String CrLf("\r\n");
const QLatin1String Header("*** INI file of Bildfang. Do NOT edit ***");
// Marks a file whose values are escaped; no earlier version wrote it, so their files read
// exactly as they always did.
const QLatin1String EscapedHeader("*** INI file of Bildfang, values escaped. Do NOT edit ***");

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

// The name as QStringView::compare without case sees it: each code point case-folded,
// a lone surrogate kept as it is.
QString FoldedName(QStringView name)
{
    QString key;
    key.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c < 0x80) {
            key += QChar(c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c);
            continue;
        }
        char32_t point = c;
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name[i + 1].isLowSurrogate())
            point = QChar::surrogateToUcs4(c, name[++i].unicode());
        const char32_t folded = QChar::isSurrogate(point) ? point : QChar::toCaseFolded(point);
        if (QChar::requiresSurrogates(folded)) {
            key += QChar(QChar::highSurrogate(folded));
            key += QChar(QChar::lowSurrogate(folded));
        } else {
            key += QChar(char16_t(folded));
        }
    }
    return key;
}

QString EscapeValue(QString value)
{
    return value.replace(QLatin1Char('&'), QLatin1String("&amp;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('>'), QLatin1String("&gt;"));
}

QString UnescapeValue(const QString &value)
{
    if (!value.contains(QLatin1Char('&')))
        return value;
    static const std::pair<QLatin1String, QChar> entities[] = {
        {QLatin1String("&amp;"), QLatin1Char('&')},
        {QLatin1String("&lt;"), QLatin1Char('<')},
        {QLatin1String("&gt;"), QLatin1Char('>')},
    };
    QString out;
    out.reserve(value.size());
    const QStringView view(value);
    for (qsizetype i = 0; i < view.size(); ++i) {
        bool replaced = false;
        for (const auto &[entity, character] : entities) {
            if (view.sliced(i).startsWith(entity)) {
                out += character;
                i += entity.size() - 1;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            out += view[i];
    }
    return out;
}

using SettingLines = QList<std::pair<QString, QString>>;

QString JoinLines(const SettingLines &lines, bool escaped)
{
    QString text = (escaped ? EscapedHeader : Header) + CrLf;
    for (const auto &[name, value] : lines) {
        text += QLatin1Char('<') + name + QLatin1Char('>') + (escaped ? EscapeValue(value) : value)
            + QLatin1String("</") + name + QLatin1Char('>') + CrLf;
    }
    return text;
}

// True when the text, as ApplySettings reads it, gives back every value the lines hold and
// nothing for the names that were read but not written.
bool ReadsBack(const QString &text, const SettingLines &lines, const QStringList &alsoRead)
{
    QHash<QString, QString> expected;
    for (const QString &name : alsoRead)
        expected.insert(name, QString());
    for (const auto &[name, value] : lines)
        expected.insert(name, value);   // a name written twice reads as its last value
    const SettingsTags tags(text);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (tags.value(it.key()) != it.value())
            return false;
    }
    return true;
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

SettingsTags::SettingsTags(const QString &text)
    : mText(text)
{
    // ReadTag's walk once for all names. Only "<" whose tag text holds no further "<" are
    // looked at: any other tag text cannot equal a name without "<". Those tag texts do not
    // overlap, so the whole walk reads every character a bounded number of times.
    const QStringView view(mText);
    const qsizetype length = view.size();
    qsizetype close = 0;   // 0-based position of the next ">", -1: none left
    for (qsizetype open = view.indexOf(QLatin1Char('<')); open >= 0 && open + 1 <= length - 2;) {
        const qsizetype next = view.indexOf(QLatin1Char('<'), open + 1);
        if (close != -1 && close <= open)
            close = view.indexOf(QLatin1Char('>'), open + 1);
        const qsizetype tagEnd = close == -1 ? length : close;
        if (next < 0 || next >= tagEnd) {
            const bool closing = view[open + 1] == QLatin1Char('/');
            const QStringView tagText = view.sliced(open + 1, tagEnd - open - 1);
            Pair *pair = nullptr;
            if (!closing) {
                pair = &mPairs[FoldedName(tagText)];
                pair->start = tagEnd + 2;   // ReadTag's n + length(candidate) + 2, 1-based
            } else {
                // A closing tag before any opening one can never complete a pair: later
                // openings start behind it.
                const auto it = mPairs.find(FoldedName(tagText.sliced(1)));
                if (it != mPairs.end()) {
                    pair = &*it;
                    pair->end = open;   // n - 1, 1-based
                }
            }
            if (pair && pair->start > 0 && pair->start < length && pair->end > 0 && pair->start <= pair->end) {
                pair->from = pair->start - 1;
                pair->size = pair->end - pair->start + 1;
                pair->start = 0;
                pair->end = 0;
            }
        }
        open = next;
    }

    mEscaped = view.startsWith(EscapedHeader)
        && (length == EscapedHeader.size() || view[EscapedHeader.size()] == QLatin1Char('\r')
            || view[EscapedHeader.size()] == QLatin1Char('\n'));
}

QString SettingsTags::tag(const QString &name) const
{
    const auto it = mPairs.constFind(FoldedName(name));
    if (it == mPairs.cend() || it->size < 0)
        return QString();
    return mText.mid(it->from, it->size);
}

QString SettingsTags::value(const QString &name) const
{
    return mEscaped ? UnescapeValue(tag(name)) : tag(name);
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

namespace {

QString AuthTagText(const CamObject &cam)
{
    QStringList words;
    if (cam.mDigestOnly)
        words << QStringLiteral("DIGEST");
    if (cam.mBasicUtf8)
        words << QStringLiteral("UTF-8");
    return words.join(QLatin1Char(' '));
}

} // namespace

QString BuildSettingsText(AppState &state, const SettingsView &view)
{
    SettingLines lines;
    const auto Line = [&lines](const QString &name, const QString &value) { lines.append({name, value}); };
    // Names that are read even when no line was written for them.
    QStringList alsoRead = {QStringLiteral("LIMIT_OPT")};

    Line(QStringLiteral("ARCHIVE"), state.ArchivePath);
    Line(QStringLiteral("CAM_COUNT"), TrimBlank(state.CamCount));
    for (int i = 1; i <= state.CamCount; ++i) {
        const QString prefix = CamFolderName(i);
        for (const char *field : {"_NAME", "_SOCKET", "_PATH", "_USER", "_PWD", "_RATE", "_AUTH", "_CERT"})
            alsoRead.append(prefix + QLatin1String(field));
        // A record that cannot be read is skipped; the other lines are still written.
        const std::shared_ptr<CamObject> cam = state.Cams.Item(i);
        if (!cam)
            continue;
        Line(prefix + QLatin1String("_NAME"), cam->mCamName);
        Line(prefix + QLatin1String("_SOCKET"), cam->mCamSocket);
        Line(prefix + QLatin1String("_PATH"), cam->mCamImagePath);
        Line(prefix + QLatin1String("_USER"), cam->mCamUser);
        Line(prefix + QLatin1String("_PWD"), cam->mCamPassword);
        Line(prefix + QLatin1String("_RATE"), TrimBlank(cam->mCamUpdaterate));
        // What the camera's challenges taught; older versions skip the tag.
        const QString auth = AuthTagText(*cam);
        if (!auth.isEmpty())
            Line(prefix + QLatin1String("_AUTH"), auth);
        // Only with a pinned certificate, so files without one stay as they were.
        if (!cam->mTlsPeer->pinned.isEmpty())
            Line(prefix + QLatin1String("_CERT"), cam->mTlsPeer->pinned);
    }
    Line(QStringLiteral("LASTCAM"), TrimBlank(state.SelectedCam));
    if (state.SpaceLimitOn)
        Line(QStringLiteral("LIMIT_OPT"), QStringLiteral("P"));
    if (state.TimeLimitOn)
        Line(QStringLiteral("LIMIT_OPT"), QStringLiteral("Z"));
    Line(QStringLiteral("LIMIT_SPACE"), TrimBlank(state.SpaceLimitMB));
    Line(QStringLiteral("LIMIT_TIME"), TrimBlank(state.TimeLimitValue));
    Line(QStringLiteral("LIMIT_UNIT"), state.TimeLimitUnit);
    Line(QStringLiteral("LOG_CLEAR"), SettingsBoolText(state.LogAutoClear));
    Line(QStringLiteral("LOG_SAVE"), SettingsBoolText(state.LogAutoSave));
    Line(QStringLiteral("RECORD"), SettingsBoolText(state.Recording));
    Line(QStringLiteral("WINDOW_LEFT"), TrimBlank(view.WindowLeft()));
    Line(QStringLiteral("WINDOW_STATE"), TrimBlank(view.WindowState()));
    Line(QStringLiteral("WINDOW_TOP"), TrimBlank(view.WindowTop()));

    const QString plain = JoinLines(lines, false);
    if (ReadsBack(plain, lines, alsoRead))
        return plain;
    return JoinLines(lines, true);
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
    const SettingsTags tags(text);

    qint16 count = 1;
    if (!TextToInt16(tags.value(QStringLiteral("CAM_COUNT")), count) || count < 1)
        count = 1;   // 0, negative and unreadable counts all mean the one default camera

    qint16 added = 0;
    for (int i = 1; i <= count; ++i) {
        auto cam = std::make_shared<CamObject>(state);
        const QString prefix = CamFolderName(i);
        cam->mCamName = tags.value(prefix + QLatin1String("_NAME"));
        cam->mCamSocket = tags.value(prefix + QLatin1String("_SOCKET"));
        cam->mCamImagePath = tags.value(prefix + QLatin1String("_PATH"));
        cam->mCamUser = tags.value(prefix + QLatin1String("_USER"));
        cam->mCamPassword = tags.value(prefix + QLatin1String("_PWD"));
        qint16 rate = 0;
        if (!LeadingInt16(tags.value(prefix + QLatin1String("_RATE")), rate))
            rate = 0;   // beyond 16 bits reads like text without a number
        cam->mCamUpdaterate = rate;
        const QStringList auth = tags.value(prefix + QLatin1String("_AUTH")).split(QLatin1Char(' '));
        cam->mDigestOnly = auth.contains(QLatin1String("DIGEST"));
        cam->mBasicUtf8 = auth.contains(QLatin1String("UTF-8"));
        cam->mTlsPeer->pinned = tags.value(prefix + QLatin1String("_CERT")).trimmed();
        // The collection holds at most 255 cameras; a longer list is cut there.
        if (!state.Cams.Add(cam))
            break;
        ++added;
    }
    state.CamCount = added > 0 ? added : qint16(1);

    view.SetSpeicherortText(tags.value(QStringLiteral("ARCHIVE")));
    const QString archive = view.SpeicherortText();
    if (!archive.isEmpty())
        state.ArchivePath = AddBackslash(archive);

    qint16 selected = 0;
    if (!LeadingInt16(tags.value(QStringLiteral("LASTCAM")), selected) || selected < 1
        || selected > state.CamCount) {
        error = true;
        selected = 1;
    }
    state.SelectedCam = selected;

    const QString option = tags.value(QStringLiteral("LIMIT_OPT")).toUpper();
    if (option == QLatin1String("P"))
        view.ClickPlatzlimit();
    else if (option == QLatin1String("Z"))
        view.ClickZeitlimit();
    else
        error = true;

    // The unit comes before the age, so that the age box sees the right unit.
    view.SetEinheitText(tags.value(QStringLiteral("LIMIT_UNIT")));
    state.TimeLimitUnit = view.EinheitText();
    if (state.TimeLimitUnit != QLatin1String("Tage") && state.TimeLimitUnit != QLatin1String("h")) {
        error = true;
        view.SetEinheitText(QStringLiteral("h"));
        state.TimeLimitUnit = QStringLiteral("h");
    }

    view.SetSpeicherlimitText(tags.value(QStringLiteral("LIMIT_SPACE")));
    if (view.SpeicherlimitText().isEmpty())
        view.SetSpeicherlimitText(QStringLiteral("100"));

    view.SetZeitlimitText(tags.value(QStringLiteral("LIMIT_TIME")));

    switch (StrictBool(tags.value(QStringLiteral("LOG_CLEAR")))) {
    case Tristate::Off: view.SetLogAutoLeerenChecked(false); break;
    case Tristate::On: view.SetLogAutoLeerenChecked(true); break;
    case Tristate::Unknown: break;
    }
    switch (LooseBool(tags.value(QStringLiteral("LOG_SAVE")))) {
    case Tristate::Off: view.SetLogAutoSichernChecked(false); break;
    case Tristate::On: view.SetLogAutoSichernChecked(true); break;
    case Tristate::Unknown: break;
    }
    switch (LooseBool(tags.value(QStringLiteral("RECORD")))) {
    case Tristate::Off: view.SetRecordingChecked(false); break;
    case Tristate::On: view.SetRecordingChecked(true); break;
    case Tristate::Unknown: break;
    }

    qint16 value = 0;
    TryParseInt16(tags.value(QStringLiteral("WINDOW_LEFT")), value);
    view.SetWindowLeft(value);
    TryParseInt16(tags.value(QStringLiteral("WINDOW_TOP")), value);
    view.SetWindowTop(value);
    TryParseInt16(tags.value(QStringLiteral("WINDOW_STATE")), value);
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
