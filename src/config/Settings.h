#pragma once

#include <QHash>
#include <QString>
#include <QtGlobal>

class AppState;
class SettingsView;

// The settings file "Bildfang.ini" beside the program: a header line, then one
// "<NAME>value</NAME>" line per value, CR LF after every line.

// The value between the last complete pair of <name> and </name> (names in any case),
// line breaks and other tags included; the empty text when there is none. Positions are
// not limited to 16 bits: a longer file is read whole.
QString ReadTag(const QString &text, const QString &name);

// All tags of a settings text taken apart in one pass, with the values ReadTag gives: the
// last complete pair of each name wins, names in any case. A file written with the escaped
// header (see BuildSettingsText) has "&amp;", "&lt;" and "&gt;" in its values undone.
class SettingsTags
{
public:
    explicit SettingsTags(const QString &text);

    // ReadTag(text, name), for every name that holds no "<".
    QString tag(const QString &name) const;
    // The stored value: tag(name), unescaped when the file was written escaped.
    QString value(const QString &name) const;
    bool escaped() const { return mEscaped; }

private:
    struct Pair
    {
        qsizetype start = 0;   // ReadTag's 1-based positions of the pair being read
        qsizetype end = 0;
        qsizetype from = 0;    // the last complete value, 0-based
        qsizetype size = -1;   // -1: none
    };
    QString mText;
    QHash<QString, Pair> mPairs;   // by case-folded name
    bool mEscaped = false;
};

// The whole text as a 16-bit integer; false, and value 0, when it is not one.
bool TryParseInt16(const QString &text, qint16 &value);

// AddBackslash(program folder) + "Bildfang.ini".
QString SettingsFileNameFor(const QString &programFolder);

// "Wahr"/"Falsch" when the locale's language is German, "True"/"False" otherwise.
QString SettingsBoolText(bool value);

// The whole file text from the present state, in the fixed line order. Values go in as they
// are, as always; only when a value would then read back as something else (it holds a
// complete tag pair) is the file written with another header line and "&", "<" and ">"
// in all values escaped, so every file the earlier versions wrote still reads the same.
QString BuildSettingsText(AppState &state, const SettingsView &view);

// Replaces SettingsFileName atomically with the present settings and leaves it readable
// by its owner only (it holds camera passwords). False, with the reason, when the file
// could not be written.
bool SaveSettings(AppState &state, const SettingsView &view, QString *error = nullptr);

// Applies a settings text to a state whose camera list is still empty: appends the camera
// records and sets the controls of view, whose handling sets the shared values. Returns
// the error flag: true when LASTCAM, LIMIT_OPT or LIMIT_UNIT was missing or wrong, and
// start-up is to log "Fehler in INI Datei!".
bool ApplySettings(AppState &state, SettingsView &view, const QString &text);

struct SettingsLoad
{
    bool fileFound = false;   // false: nothing applied, start-up uses the defaults
    bool error = false;       // the error flag of ApplySettings
};

// Reads SettingsFileName whole (UTF-8, or Windows-1252 from the Windows program) and
// applies it when the file exists. A file that exists but cannot be read is applied as
// an empty text, so its fallbacks and the error flag apply instead of the defaults.
SettingsLoad LoadSettings(AppState &state, SettingsView &view);

// Start-up without a settings file: logs "Keine INI Datei vorhanden. Benutze Vorgaben."
// and sets one camera count, the age limit of 24 hours and camera 1 selected. The
// camera record itself is created by the start-up's camera list step.
void ApplyDefaultSettings(AppState &state, SettingsView &view);
