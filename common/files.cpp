#include "common/files.h"
#include "common/platform.h"
#include "common/text_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTemporaryFile>

#include <algorithm>

namespace zuk {

namespace {

QString native(const QString &path) { return visibleText(QDir::toNativeSeparators(path), 200); }

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

// ---- symbolic links and real paths ----
// Paths are taken apart as text, never cleaned: "link/../x" means what the
// system makes of it, which cleaning would change when "link" is a link.

QString folderOf(const QString &path)
{
    const qsizetype at = QDir::fromNativeSeparators(path).lastIndexOf(u'/');
    return at < 0 ? QStringLiteral(".") : at == 0 ? QStringLiteral("/") : path.left(at);
}

QString nameOf(const QString &path)
{
    return path.mid(QDir::fromNativeSeparators(path).lastIndexOf(u'/') + 1);
}

QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

using platform::followLinks;
using platform::realFolder;

using platform::fileNameCase;

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

QString realFilePath(const QString &path)
{
    QString end = path;
    followLinks(path, &end);   // a loop of links: the path as given
    const QString folder = realFolder(folderOf(end));
    return folder.isEmpty() ? QDir::cleanPath(QFileInfo(end).absoluteFilePath()) : joined(folder, nameOf(end));
}

bool sameRealFile(const QString &a, const QString &b)
{
    return realFilePath(a).compare(realFilePath(b), fileNameCase()) == 0;
}

QString saveTarget(const QString &path, QString *error)
{
    QString end, ignored;
    if (!error)
        error = &ignored;
    if (!followLinks(path, &end)) {
        *error = QStringLiteral("не удалось записать файл %1: слишком много символических ссылок (ссылки по кругу?)")
                     .arg(native(path));
        return QString();
    }
    if (end == path)
        return path;   // no link
    const QString folder = realFolder(folderOf(end));
    if (folder.isEmpty()) {
        *error = QStringLiteral("не удалось записать файл %1: это ссылка на %2, а папка %3 не найдена")
                     .arg(native(path), native(end), native(folderOf(end)));
        return QString();
    }
    return joined(folder, nameOf(end));
}

QString readOnlyFileText(const QString &path)
{
    const QFileInfo info(path);   // the file a link points to
    constexpr QFileDevice::Permissions writeBits = QFileDevice::WriteOwner | QFileDevice::WriteGroup
                                                   | QFileDevice::WriteOther;
    if (!info.isFile() || (info.permissions() & writeBits))
        return QString();
    const QString target = saveTarget(path, nullptr);
    return QStringLiteral("файл %1%2 доступен только для чтения (права записи на него нет ни у кого)")
        .arg(native(path), target.isEmpty() || target == path ? QString()
                                                              : QStringLiteral(" (ссылка на %1)").arg(native(target)));
}

const QStringList &installationFileNames()
{
    static const QStringList names = {
        QStringLiteral("zuk.txt"),    QStringLiteral("out_in_ik.txt"), QStringLiteral("szenar.txt"),
        QStringLiteral("adres.ini"),  QStringLiteral("timer.ini"),     QStringLiteral("opis_0.ini"),
        QStringLiteral("in_0.ini"),   QStringLiteral("ff.ini"),        QStringLiteral("bisnes.ini"),
        QStringLiteral("uslov_0.ini"),
    };
    return names;
}

QString installationFileAt(const QString &folder, const QString &path)
{
    const Qt::CaseSensitivity cs = fileNameCase();
    const auto options = cs == Qt::CaseInsensitive ? QRegularExpression::CaseInsensitiveOption
                                                   : QRegularExpression::NoPatternOption;
    const QString given = realFilePath(path);
    QString home = realFolder(folder);
    if (home.isEmpty())
        home = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    for (const QString &name : installationFileNames()) {
        const QString file = joined(folder, name);
        const QString target = realFilePath(file);
        // The same file, also under another name (a hard link).
        const bool same = given.compare(target, cs) == 0 || platform::sameFile(path, file);
        if (same)
            return QStringLiteral("файл установки %1").arg(name);
        // Copies and temporaries lie beside the file a save writes: in the
        // folder, and beside the file a link points to.
        for (const QString &beside : {joined(home, name), target}) {
            if (folderOf(given).compare(folderOf(beside), cs) != 0)
                continue;
            const QString stem = QRegularExpression::escape(nameOf(beside));
            const QRegularExpression copy(QRegularExpression::anchoredPattern(stem + QStringLiteral("\\.bak-.*")), options);
            const QRegularExpression temporary(
                QRegularExpression::anchoredPattern(stem + QStringLiteral("\\.tmp-[A-Za-z0-9]{6}")), options);
            if (copy.match(nameOf(given)).hasMatch())
                return QStringLiteral("копия файла %1").arg(name);
            if (temporary.match(nameOf(given)).hasMatch())
                return QStringLiteral("временный файл записи %1").arg(name);
        }
    }
    // The folder history/ keeps earlier images of zuk.txt: all of it is the
    // installation's.
    QString history = realFolder(joined(home, QStringLiteral("history")));
    if (history.isEmpty())
        history = joined(home, QStringLiteral("history"));
    if (folderOf(given).compare(history, cs) == 0)
        return QStringLiteral("файл папки history (прежние образы zuk.txt)");
    return QString();
}

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

bool readFileBytes(const QString &path, QByteArray *out, QString *error)
{
    auto fail = [&](const QString &why) {
        out->clear();
        if (error)
            *error = QStringLiteral("не удалось открыть файл %1: %2").arg(native(path), why);
        return false;
    };
    auto notRegular = [] { return QStringLiteral("это не обычный файл (папка, устройство или канал)"); };
    auto tooLarge = [] {
        return QStringLiteral("файл больше %1 МиБ, такого файла установки не бывает").arg(kMaxLoadBytes / (1024 * 1024));
    };
    QString readError;
    platform::SourceFile file;
    switch (file.open(path, &readError)) {
    case platform::SourceFile::Opened::Failed:
        return fail(readError);
    case platform::SourceFile::Opened::NotRegular:
        return fail(notRegular());
    case platform::SourceFile::Opened::Ok:
        break;
    }
    const qint64 size = file.size();
    if (size > kMaxLoadBytes)
        return fail(tooLarge());
    auto readSome = [&](char *to, qint64 n) { return file.read(to, n, &readError); };
    // At most one byte past the limit: a file that grew while being read is
    // refused as well. The size it has now, and one byte more, is read first,
    // into the storage *out has when that is large enough; only a file that
    // grew is read on.
    const qint64 first = std::min<qint64>(size, kMaxLoadBytes) + 1;
    QByteArray &bytes = *out;
    bytes.resize(first);
    qint64 got = readSome(bytes.data(), first);
    if (got == first) {
        bytes.resize(kMaxLoadBytes + 1);
        const qint64 more = readSome(bytes.data() + got, kMaxLoadBytes + 1 - got);
        got = more < 0 ? more : got + more;
    }
    if (got < 0) {
        bytes.clear();
        if (error)
            *error = QStringLiteral("не удалось прочитать файл %1: %2").arg(native(path), readError);
        return false;
    }
    bytes.resize(got);
    if (got > kMaxLoadBytes)
        return fail(tooLarge());
    return true;
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
