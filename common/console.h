#pragma once
// The command line and the console as each system has them:
// console_unix.cpp for Linux (and other POSIX systems), console_win.cpp for
// Windows; the build takes one of the two.

#include <QString>
#include <QStringList>

#include <cstdio>

namespace zuk::platform {

// The program's arguments (without the program itself) as Unicode text,
// before any application object exists: the mode they name decides which
// application class is made.
QStringList arguments(int argc, char **argv);

// Prints text on standard output or standard error: UTF-8 bytes into a file
// or a pipe, the same bytes on every system; a Windows console is given the
// text itself, so that Russian reads right whatever its code page.
// False when the reader went away (a closed pipe).
bool print(std::FILE *to, const QString &text);

// Whether standard error is a terminal (the progress line is drawn there).
bool stderrIsTerminal();

// A reader of standard output that goes away must not end the program
// before it has saved: SIGPIPE ignored on POSIX, where it would; a write
// into a closed pipe then only fails (as it does on Windows anyway).
void ignoreClosedOutput();

// Lets Qt's platform without a display (offscreen, for kalvet --export)
// draw with the system's fonts: fontconfig's on Linux, the Fonts folder of
// Windows there (Qt would look for a folder of its own). Before the
// application object is made.
void useSystemFontsOffscreen();

}  // namespace zuk::platform
