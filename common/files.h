#pragma once
// Files of the installation on disk: what the programs load (regular files of
// a sane size only, opened without blocking), how they replace files (new
// contents complete on disk first, old files kept until the new ones are in
// place; through a symbolic link the file it points to; never a read-only
// one), the copy kept of a damaged file, the temporaries a killed program
// left behind, and which files belong to an installation.
//
// Texts for the user are Russian and name the file and the real cause.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

namespace zuk {

// No file of the installation comes near this size; a larger one is refused.
constexpr qint64 kMaxLoadBytes = 4 * 1024 * 1024;

// Loads a regular file of at most kMaxLoadBytes, opened
// without blocking; a folder, device, FIFO or larger file is refused. The
// bytes are read into *out, using its storage again when it is large enough;
// after a failure *out is empty.
bool readFileBytes(const QString &path, QByteArray *out, QString *error);
// Replaces the file only once the new contents are completely on disk; on a
// failure the earlier file stays whole.
bool saveFileAtomically(const QString &path, const QByteArray &bytes, QString *error);
// Writes several files so that afterwards either all of them hold the new
// contents or all keep the old ones: the new contents go to disk first, and
// when putting one in place fails, those already replaced are restored.
// A path that is a symbolic link writes the file it points to, beside it
// (saveTarget, common/files.h); a file that has no write permission bit
// (readOnlyFileText) is refused before anything is written.
bool saveFilesTogether(const std::vector<std::pair<QString, QByteArray>> &files, QString *error);

// The file that a save of path writes: path itself, or, when path is a
// symbolic link, the file at the end of its chain of links (a relative link
// counts from the link's folder), which need not exist yet; the link stays a
// link. Empty, with *error (when given) in Russian, when the chain cannot be
// followed: a loop of links, or a link into a folder that does not exist.
QString saveTarget(const QString &path, QString *error);

// When the file at path (after links) exists and has no write permission bit
// for anybody, that is the user made it read-only: a Russian text naming it
// ("файл … доступен только для чтения …"); empty when it may be replaced.
// Judged by the mode bits, not by access(), so that it holds for root too.
QString readOnlyFileText(const QString &path);

// The files the programs read or write in the folder of an installation.
const QStringList &installationFileNames();

// A folder of the installation that a program keeps to itself (zuk_2's
// history/, transfer/history.h): every file in it is the installation's.
// what says in Russian what such a file is.
struct OwnFolder {
    QString name;
    QString what;
};

// When path (which need not exist) is, once links, "..", "." and a relative
// start are resolved, one of the installationFileNames() in folder, or a
// copy NAME.bak-... or a temporary NAME.tmp-XXXXXX of one: what it is, in
// Russian ("файл установки zuk.txt", "копия файла zuk.txt", "временный файл
// записи zuk.txt"), or any file in one of ownFolders of folder: its what.
// Empty for any other file. For the options that name a file to write
// (--report), which must never replace one of them.
QString installationFileAt(const QString &folder, const QString &path, const std::vector<OwnFolder> &ownFolders = {});

// The file a path names, existing or not: links followed (a dangling one to
// where it points), the real path of its folder and its name; the absolute
// path cleaned as text when the folder does not exist. Two paths name the
// same file when their real file paths are equal.
QString realFilePath(const QString &path);
bool sameRealFile(const QString &a, const QString &b);

// Temporaries of a save are named after their file: "zuk.txt.tmp-Ab3xYz".
// Removes, in folder, the regular files named NAME.tmp-XXXXXX (six letters
// or digits) for the given names that were last changed before startedAt, that
// is the leftovers of a run that was killed while saving. For a name that is
// a symbolic link the temporaries beside the file it points to (saveTarget)
// go as well. Returns how many were removed.
int removeLeftoverTemporaries(const QString &folder, const QStringList &names, const QDateTime &startedAt);

// Keeps a copy of the file at path (after links: beside the file itself) as
// PATH.bak-YYYYMMDD-HHMMSS (with -2, -3, ... when that name is taken: a copy
// is never overwritten), written completely before it gets its name.
// *copyPath is the copy's path.
bool keepCopyBeside(const QString &path, QString *copyPath, QString *error);

// Writes bytes completely into a new file named STEM EXTENSION, or, when a
// file of that name exists, STEM-2 EXTENSION, STEM-3 EXTENSION, ...: an
// existing file is never overwritten. *savedPath is the name it got.
bool saveUnderFreeName(const QString &stem, const QString &extension, const QByteArray &bytes, QString *savedPath,
                       QString *error);

// For tests: makes one step of the next saves fail for the file named
// fileName (its name without folder), as a full disk or a failing rename
// would. clearSaveFault() ends it.
enum class SaveStep { Write, Flush, Rename };
void injectSaveFault(SaveStep step, const QString &fileName);
void clearSaveFault();

}  // namespace zuk
