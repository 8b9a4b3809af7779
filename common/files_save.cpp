// The atomic save: new contents complete on disk first, old files kept
// until the new ones are in place; the never-overwritten copies, and the
// temporaries a killed program left behind.

#include "common/file_paths.h"
#include "common/file_system.h"
#include "common/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTemporaryFile>

namespace zuk {

using file_paths::folderOf;
using file_paths::joined;
using file_paths::nameOf;
using file_paths::native;

namespace {

// ---- the injected fault of the tests ----
struct Fault {
    bool active = false;
    SaveStep step = SaveStep::Write;
    QString fileName;
};
Fault &fault()
{
    static Fault f;
    return f;
}
bool faultAt(SaveStep step, const QString &path)
{
    const Fault &f = fault();
    return f.active && f.step == step && QFileInfo(path).fileName() == f.fileName;
}
const QString kInjected = QStringLiteral("сбой, заданный проверкой");

// Why a file could not be created in or written to its folder: the folder's
// state says more than the system's text.
QString writeCause(const QString &path, qint64 bytesNeeded, const QString &systemText)
{
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.exists())
        return QStringLiteral("папка %1 не найдена").arg(native(folder.filePath()));
    if (!folder.isWritable())
        return QStringLiteral("папка %1 недоступна для записи").arg(native(folder.filePath()));
    const QStorageInfo storage(folder.filePath());
    if (storage.isValid() && storage.isReadOnly())
        return QStringLiteral("диск доступен только для чтения");
    if (storage.isValid() && storage.bytesAvailable() >= 0 && storage.bytesAvailable() < bytesNeeded + 4096)
        return QStringLiteral("на диске нет места");
    return systemText;
}

// Makes the written contents of an open file durable.
bool syncFile(QFileDevice &file, const QString &target, QString *cause)
{
    if (faultAt(SaveStep::Flush, target)) {
        *cause = kInjected;
        return false;
    }
    if (!file.flush()) {
        *cause = file.errorString();
        return false;
    }
    return platform::syncToDisk(file, cause);
}

using platform::syncFolder;

// Puts `from` in the place of `to` in one step, replacing a file there.
bool renameReplacing(const QString &from, const QString &to, QString *cause)
{
    if (faultAt(SaveStep::Rename, to)) {
        *cause = kInjected;
        return false;
    }
    return platform::renameReplacing(from, to, cause);
}

// Gives `from` the name `to` only when no file has that name.
bool renameNoReplace(const QString &from, const QString &to, bool *taken, QString *cause)
{
    *taken = false;
    return platform::renameNoReplace(from, to, taken, cause);
}

// Writes bytes into a new temporary beside path, named PATH.tmp-XXXXXX,
// created exclusively under a name nobody can guess; flushed to disk and
// closed. The "tmp-" keeps it apart from a user's own PATH.backup or
// PATH.old123, which the clean-up at start must never take for one.
bool writeTemporary(const QString &path, const QByteArray &bytes, QString *tempPath, QString *error)
{
    QTemporaryFile file(path + QStringLiteral(".tmp-XXXXXX"));
    file.setAutoRemove(false);
    if (!file.open()) {
        *error = QStringLiteral("не удалось создать файл рядом с %1: %2")
                     .arg(native(path), writeCause(path, bytes.size(), file.errorString()));
        return false;
    }
    *tempPath = file.fileName();   // gives an unnamed temporary its name
    // The new file gets the old one's permissions (a temporary is private).
    const QFileInfo old(path);
    file.setPermissions(old.isFile() ? old.permissions()
                                     : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                           | QFileDevice::ReadOther);
    QString cause;
    bool ok = true;
    if (faultAt(SaveStep::Write, path) || file.write(bytes) != bytes.size()) {
        cause = faultAt(SaveStep::Write, path) ? kInjected : writeCause(path, bytes.size(), file.errorString());
        ok = false;
    } else if (!syncFile(file, path, &cause)) {
        if (cause != kInjected)
            cause = writeCause(path, bytes.size(), cause);
        ok = false;
    }
    file.close();
    if (ok && file.error() != QFileDevice::NoError) {
        cause = writeCause(path, bytes.size(), file.errorString());
        ok = false;
    }
    if (!ok) {
        QFile::remove(*tempPath);
        *error = QStringLiteral("не удалось записать файл %1: %2").arg(native(path), cause);
    }
    return ok;
}

bool existsAsEntry(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Removes the leftover temporaries of the given names in one folder.
int removeTemporariesIn(const QString &folder, const QStringList &names, const QDateTime &startedAt)
{
    QStringList patterns;
    for (const QString &name : names)
        patterns << QRegularExpression::escape(name) + QStringLiteral("\\.tmp-[A-Za-z0-9]{6}");
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(patterns.join(u'|')));
    int removed = 0;
    const QDir dir(folder);
    for (const QFileInfo &info : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (info.isSymLink() || !pattern.match(info.fileName()).hasMatch())
            continue;
        if (info.lastModified() < startedAt && QFile::remove(info.filePath()))
            ++removed;
    }
    return removed;
}

}  // namespace

int removeLeftoverTemporaries(const QString &folder, const QStringList &names, const QDateTime &startedAt)
{
    int removed = removeTemporariesIn(folder, names, startedAt);
    for (const QString &name : names) {
        const QString link = joined(folder, name);
        const QString target = QFileInfo(link).isSymLink() ? saveTarget(link, nullptr) : QString();
        if (!target.isEmpty())
            removed += removeTemporariesIn(folderOf(target), {nameOf(target)}, startedAt);
    }
    return removed;
}

bool keepCopyBeside(const QString &given, QString *copyPath, QString *error)
{
    const QString path = saveTarget(given, error);
    if (path.isEmpty())
        return false;
    QByteArray bytes;
    if (!readFileBytes(path, &bytes, error))
        return false;
    const QString stem = path + QStringLiteral(".bak-")
                         + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return saveUnderFreeName(stem, QString(), bytes, copyPath, error);
}

bool saveUnderFreeName(const QString &stem, const QString &extension, const QByteArray &bytes, QString *savedPath,
                       QString *error)
{
    QString temp;
    if (!writeTemporary(stem + extension, bytes, &temp, error))
        return false;
    for (int n = 1; n < 1000; ++n) {
        const QString name = (n == 1 ? stem : stem + QStringLiteral("-%1").arg(n)) + extension;
        bool taken = false;
        QString cause;
        if (renameNoReplace(temp, name, &taken, &cause)) {
            syncFolder(QFileInfo(name).absolutePath());
            *savedPath = name;
            return true;
        }
        if (!taken) {
            QFile::remove(temp);
            *error = QStringLiteral("не удалось сохранить копию %1: %2").arg(native(name), cause);
            return false;
        }
    }
    QFile::remove(temp);
    *error = QStringLiteral("не удалось сохранить копию %1: все имена заняты").arg(native(stem + extension));
    return false;
}

void injectSaveFault(SaveStep step, const QString &fileName)
{
    fault() = Fault{true, step, fileName};
}

void clearSaveFault()
{
    fault() = Fault{};
}

bool saveFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    return saveFilesTogether({{path, bytes}}, error);
}

// Every new file is written completely to a temporary first. Before the first
// old file is replaced, a copy of each old file that a later failure would
// have to bring back is kept beside it; the temporaries are then renamed into
// place one by one. When a rename fails, the files already replaced get their
// old contents back (a file that did not exist is removed again), so the
// folder holds either all new files or all old ones. A path that is a
// symbolic link is written where the link points (its temporary and copy
// beside that file), so the link stays a link. A file that has no write
// permission bit is a refusal before anything is written.
bool saveFilesTogether(const std::vector<std::pair<QString, QByteArray>> &files, QString *error)
{
    struct Target {
        QString path, temp, keep;
        bool existed = false;
    };
    std::vector<Target> targets(files.size());
    auto removeLeftovers = [&targets] {
        for (const Target &t : targets) {
            if (!t.temp.isEmpty())
                QFile::remove(t.temp);
            if (!t.keep.isEmpty())
                QFile::remove(t.keep);
        }
    };
    QString why;
    // Where each file goes, and whether it may be replaced, before anything is written.
    for (size_t i = 0; i < files.size(); ++i) {
        Target &t = targets[i];
        t.path = saveTarget(files[i].first, &why);
        if (t.path.isEmpty()) {
            if (error)
                *error = why;
            return false;
        }
        if (const QString readOnly = readOnlyFileText(files[i].first); !readOnly.isEmpty()) {
            if (error)
                *error = readOnly + QStringLiteral(", ничего не записано");
            return false;
        }
    }
    for (size_t i = 0; i < files.size(); ++i) {
        Target &t = targets[i];
        t.existed = existsAsEntry(t.path);
        if (!writeTemporary(t.path, files[i].second, &t.temp, &why)) {
            removeLeftovers();
            if (error)
                *error = why;
            return false;
        }
    }
    // The last file needs no copy: when its rename fails, it is still the old one.
    for (size_t i = 0; i + 1 < targets.size(); ++i) {
        Target &t = targets[i];
        if (!t.existed)
            continue;
        QByteArray old;
        if (!readFileBytes(t.path, &old, &why) || !writeTemporary(t.path, old, &t.keep, &why)) {
            removeLeftovers();
            if (error)
                *error = QStringLiteral("прежний файл не сохранён до замены, ничего не изменено: ") + why;
            return false;
        }
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        Target &t = targets[i];
        if (renameReplacing(t.temp, t.path, &why)) {
            t.temp.clear();
            continue;
        }
        bool restored = true;
        for (size_t j = 0; j < i; ++j) {
            Target &back = targets[j];
            QString ignored;
            // A copy that could not be put back stays beside its file.
            const bool ok = back.existed ? renameReplacing(back.keep, back.path, &ignored)
                                         : QFile::remove(back.path);
            if (back.existed)
                back.keep.clear();
            restored = restored && ok;
        }
        removeLeftovers();
        syncFolder(QFileInfo(t.path).absolutePath());
        if (error) {
            *error = QStringLiteral("не удалось заменить файл %1: %2").arg(native(t.path), why);
            if (i > 0)
                *error += restored ? QStringLiteral("; уже заменённые файлы восстановлены")
                                   : QStringLiteral("; восстановить уже заменённые файлы не удалось");
        }
        return false;
    }
    removeLeftovers();
    QStringList folders;
    for (const Target &t : targets)
        if (!folders.contains(QFileInfo(t.path).absolutePath()))
            folders << QFileInfo(t.path).absolutePath();
    for (const QString &folder : folders)
        syncFolder(folder);
    return true;
}

}  // namespace zuk
