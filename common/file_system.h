#pragma once
// The file calls as each system has them: file_system_unix.cpp for Linux
// (and other POSIX systems), file_system_win.cpp for Windows; the build
// takes one of the two. What is done with them (loading, the atomic save,
// links, the installation's files) is common/files.h, the same everywhere.

#include <QString>
#include <Qt>

#include <memory>

class QFile;
class QFileDevice;

namespace zuk::platform {

// ---- opening ----

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

// Opens file (named path) for writing, unbuffered, made when missing and
// appended to or emptied, without ever blocking: a FIFO with no reader would
// hold the open until one came, deaf to every signal. A FIFO or a socket is
// refused, a device (/dev/null, a terminal) is written without blocking.
// *cause says why on failure.
bool openForWriting(QFile &file, const QString &path, bool append, QString *cause);

// ---- the atomic save: flushing and renaming ----

// Makes the written contents of an open, flushed file durable.
bool syncToDisk(QFileDevice &file, QString *cause);
// Makes the renames in a folder durable (where the rename itself is not).
void syncFolder(const QString &folder);
// Puts `from` in the place of `to` in one step, replacing a file there.
bool renameReplacing(const QString &from, const QString &to, QString *cause);
// Gives `from` the name `to` only when no file has that name; *taken says
// whether that was why it failed.
bool renameNoReplace(const QString &from, const QString &to, bool *taken, QString *cause);

// ---- names, links and real paths ----

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

}  // namespace zuk::platform
