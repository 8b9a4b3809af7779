#pragma once
// What the programs say about themselves: the line of --version, the text of
// the window's "О программе", and where the user manual lies.

#include <QString>

namespace zuk {

// "zuk_2 1.0.0 (сборка 24b57e9 RelWithDebInfo), Qt 6.4.2"; the Qt named is
// the one the program runs with.
QString versionLine(const QString &program);

// The text of the About box (rich text): the program's title, its version and
// build, the Qt it was built with and runs with, and the licences, Qt's
// LGPL notice among them.
QString aboutText(const QString &program, const QString &title);

// The manual's first page: installed beside the program
// (../share/doc/smarthome-tools/manual, or manual/ in the program's own
// folder on Windows), else the one in the source tree of a build. Empty
// when there is none.
QString manualIndex();

}  // namespace zuk
