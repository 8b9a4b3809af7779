#pragma once
// Files of the installation on disk: what the programs load (regular files of
// a sane size only, opened without blocking), how they replace files (new
// contents complete on disk first, old files kept until the new ones are in
// place), the copy kept of a damaged file, and the temporaries a killed
// program left behind. readFileBytes, saveFileAtomically and
// saveFilesTogether are declared in common/text_file.h.
//
// Texts for the user are Russian and name the file and the real cause.

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace zuk {

// No file of the installation comes near this size; a larger one is refused.
constexpr qint64 kMaxLoadBytes = 4 * 1024 * 1024;

// A piece of a text fit for a message: at most `limit` characters, then "…";
// control characters are shown as \xHH (\t, \r, \n as such), so that nothing
// of a file can act on the terminal or flood a message box.
QString visibleText(const QString &text, int limit = 40);

// The Russian word for a count: one of the three forms for 1, 2..4, 5..20
// ("элемент", "элемента", "элементов").
QString russianPlural(qint64 n, const QString &one, const QString &few, const QString &many);

// Temporaries of a save are named after their file: "zuk.txt.tmp-Ab3xYz".
// Removes, in folder, the regular files named NAME.tmp-XXXXXX (six letters
// or digits) for the given names that were last changed before startedAt, that
// is the leftovers of a run that was killed while saving. Returns how many
// were removed.
int removeLeftoverTemporaries(const QString &folder, const QStringList &names, const QDateTime &startedAt);

// Keeps a copy of the file at path beside it as PATH.bak-YYYYMMDD-HHMMSS
// (with -2, -3, ... when that name is taken: a copy is never overwritten),
// written completely before it gets its name. *copyPath is the copy's path.
bool keepCopyBeside(const QString &path, QString *copyPath, QString *error);

// For tests: makes one step of the next saves fail for the file named
// fileName (its name without folder), as a full disk or a failing rename
// would. clearSaveFault() ends it.
enum class SaveStep { Write, Flush, Rename };
void injectSaveFault(SaveStep step, const QString &fileName);
void clearSaveFault();

}  // namespace zuk
