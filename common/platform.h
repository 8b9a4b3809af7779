#pragma once
// What the programs need of the operating system, behind one interface:
// platform_unix.cpp implements it for Linux (and other POSIX systems),
// platform_win.cpp for Windows; the build takes one of the two. Everything
// else is the same code on both systems.

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <Qt>

#include <cstdio>
#include <functional>
#include <memory>

class QFileDevice;
class QObject;

namespace zuk::platform {

// ---- the command line and the console ----

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

// Lets Qt's platform without a display (offscreen, for kalvet --export)
// draw with the system's fonts: fontconfig's on Linux, the Fonts folder of
// Windows there (Qt would look for a folder of its own). Before the
// application object is made.
void useSystemFontsOffscreen();

// ---- the stop signals ----

// Installs the stop handlers once (SIGINT, SIGTERM, SIGHUP on POSIX; Ctrl+C,
// Ctrl+Break and closing the console on Windows). The handler only records
// the signal; the handlers stay for the rest of the program, so no signal
// ends it while it writes a file. Returns what a loop waits on: the read end
// of a non-blocking pipe on POSIX, -1 on Windows (use watchStopSignals).
int installStopSignals();
// Reads whatever the handler wrote into the pipe (POSIX).
void drainStopSignals();
// The first signal that came (SIGINT for Ctrl+C and Ctrl+Break, SIGHUP for
// a closed console), 0 when none came.
int caughtStopSignal();
// How many signals came so far.
int stopSignalCount();
// Calls onSignal from the Qt event loop after each stop signal, for as long
// as the returned object lives.
std::unique_ptr<QObject> watchStopSignals(std::function<void()> onSignal);

// ---- files ----

// A file opened for reading that is a regular file; opened without
// blocking (a FIFO would wait for a writer for ever) and judged by what was
// opened, not by the name.
class SourceFile {
public:
    enum class Opened { Ok, Failed, NotRegular };
    SourceFile();
    ~SourceFile();
    SourceFile(const SourceFile &) = delete;
    SourceFile &operator=(const SourceFile &) = delete;

    // *cause says why on Failed.
    Opened open(const QString &path, QString *cause);
    qint64 size() const;
    // Reads up to n bytes, fewer only at the end of the file; -1 and *cause
    // when reading fails.
    qint64 read(char *to, qint64 n, QString *cause);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Makes the written contents of an open, flushed file durable.
bool syncToDisk(QFileDevice &file, QString *cause);
// Makes the renames in a folder durable (where the rename itself is not).
void syncFolder(const QString &folder);
// Puts `from` in the place of `to` in one step, replacing a file there.
bool renameReplacing(const QString &from, const QString &to, QString *cause);
// Gives `from` the name `to` only when no file has that name; *taken says
// whether that was why it failed.
bool renameNoReplace(const QString &from, const QString &to, bool *taken, QString *cause);
// The real path of an existing folder (links, "..", "." resolved); empty
// when there is no such folder.
QString realFolder(const QString &folder);
// Follows path through its chain of symbolic links to the entry at its end,
// which is no link (and may not exist). False on a loop of links.
bool followLinks(const QString &path, QString *end);
// Whether two existing paths are one file under two names (a hard link).
bool sameFile(const QString &a, const QString &b);
// How the file system compares names.
Qt::CaseSensitivity fileNameCase();

// ---- the serial line and the settings ----

// The port used when none is named: the first serial port of the system.
QString defaultPortName();
// The name by which a port is chosen and shown, from what Qt lists of it.
QString listedPortName(const QString &portName, const QString &systemLocation);
// A port name as typed, in the form the system's port list uses ("com3",
// "\\.\COM12" on Windows become COM3, COM12: the ports COM1 to COM256);
// anything else unchanged.
QString normalPortName(const QString &typed);

// Where the programs keep their settings (the remembered folder, port and
// choices): INI files under ~/.config on POSIX, the registry under
// HKEY_CURRENT_USER\Software on Windows. A test that gives the settings a
// folder of their own (QSettings::setPath for the INI format) is followed on
// every system once it has called useSettingsFilesForTests.
QSettings::Format settingsFormat();
void useSettingsFilesForTests();

}  // namespace zuk::platform
