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

// The viewer's command line: every "%1" of the template becomes the image's path, bare
// where the template has it bare, so that it falls apart at its blanks, and escaped where
// the template quotes it, so that the viewer gets exactly the path.
QString ViewerCommandLine(const QString &viewerProgram, const QString &viewerArguments, const QString &imagePath);

// btLogDatei: the day's log file in the desktop's text editor (xdg-open when none is known),
// its path passed as one argument whatever it holds. The editor starts even when the file
// does not exist yet.
bool OpenLogFile(AppState &state);

// The browser's command from its open command line: quotes and percent signs removed, the
// options from the first word that begins with "-" on dropped, trimmed, in double quotes.
// Empty when nothing is left.
QString BrowserCommandFrom(const QString &openCommand);

// The home page: the installed README as a file URL (share/doc/bildfang beside the
// program's bin folder), else the README beside the program or in the source tree.
QString HomePageAddress(const Platform &platform);

// BT_Homepage: the browser with the address; xdg-open without a browser.
bool OpenHomePage(Platform &platform, const QString &browserCommand, const QString &address);

// TX_About: version, two credit lines and the start time in the locale's standard format.
QString AboutText(const AppState &state);
