#pragma once
// Which folder a program works on.
//
// A program started from its own folder (the folder holds its files, e.g.
// zuk.txt next to zuk_2) works there. An installed program, whose folder
// holds none of its files (/usr/bin), works on the folder remembered from
// the last time; the first time a window program asks for one and the
// headless zuk_2 takes the current folder. A folder given on the command line
// always wins and is remembered for the next time.
//
// The remembered folder lives in QSettings, user scope, organisation "zuk",
// application = the program's name, key "folder": on Linux
// ~/.config/zuk/<program>.ini, on Windows the registry key
// HKEY_CURRENT_USER\Software\zuk\<program>.

#include <QSettings>
#include <QString>

namespace zuk {

struct ProgramFolder {
    enum class Source {
        Given,       // --dir; remembered
        Program,     // the program's own folder holds its files
        Remembered,  // the folder remembered from the last time
        Current,     // headless, nothing remembered: the current folder
        Ask,         // window program, nothing remembered: ask the user
    };
    Source source = Source::Ask;
    QString folder;  // absolute; empty for Ask
};

struct ProgramFolderQuery {
    QString program;     // "zuk_2", "kalvet": names the settings
    QString given;       // --dir, empty when not given
    QString programDir;  // the folder that holds the program
    QString marker;      // a file of the program's that marks its own folder
    bool window = true;  // a window program asks; the headless one does not
    QString currentDir;  // for the headless program
};

ProgramFolder resolveProgramFolder(const ProgramFolderQuery &query);

// The remembered folder of the program; empty when none is remembered or it
// no longer exists.
QString rememberedProgramFolder(const QString &program);
// The settings of a program (also the port zuk_2 remembers).
QSettings programSettings(const QString &program);
void rememberProgramFolder(const QString &program, const QString &folder);

namespace platform {

// Where the programs keep their settings (the remembered folder, port and
// choices): INI files under ~/.config on POSIX, the registry under
// HKEY_CURRENT_USER\Software on Windows; program_folder_unix.cpp and
// program_folder_win.cpp, the build takes one. A test that gives the
// settings a folder of their own (QSettings::setPath for the INI format) is
// followed on every system once it has called useSettingsFilesForTests.
QSettings::Format settingsFormat();
void useSettingsFilesForTests();

}  // namespace platform

}  // namespace zuk
