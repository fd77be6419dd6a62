#pragma once

#include <QString>

class AppState;
struct Platform;

// The programs the main window and the About window start: the image viewer, the text
// editor for the log file and the web browser. Everything is started through the platform's
// launcher; failures the user must hear of become message boxes.

// Double click on imgLetztesBild: the selected camera's last image in the viewer found at
// start-up. Nothing happens without a last image; a missing viewer, a vanished file and a
// failed start each get a warning titled "Bildfang - Fehler".
void ViewLastImage(AppState &state, const QString &viewerProgram, const QString &viewerArguments);
// The same for any image of the archive, with the same messages; nothing without a path.
void ViewImage(AppState &state, const QString &viewerProgram, const QString &viewerArguments, const QString &imagePath);

// The command template with every "%1" replaced by target: bare where the template has it
// bare, so that it falls apart at its blanks, and escaped where the template quotes it, so
// that the program gets exactly the target.
QString FillPlaceholder(const QString &commandTemplate, const QString &target);

// The viewer's command line: the program, then the filled argument template.
QString ViewerCommandLine(const QString &viewerProgram, const QString &viewerArguments, const QString &imagePath);

// Starts command by its words with target in place of "%1" (as its last word without one),
// else xdg-open with target. When neither starts, a warning titled "Bildfang - Fehler" says
// failure and why.
bool StartForTarget(Platform &platform, const QString &command, const QString &target, const QString &failure);

// btLogDatei: the day's log file in the desktop's text editor, else through xdg-open; its
// path passed as one argument whatever it holds. The editor starts even when the file does
// not exist yet.
bool OpenLogFile(AppState &state);

// The home page: the installed README as a file URL (share/doc/bildfang beside the
// program's bin folder), else the README beside a program that was not installed.
QString HomePageAddress(const Platform &platform);

// BT_Homepage: the browser's command (as Associations gives it) with the address, else
// xdg-open.
bool OpenHomePage(Platform &platform, const QString &browserCommand, const QString &address);

// TX_About: version, two credit lines and the start time in the locale's standard format.
QString AboutText(const AppState &state);
