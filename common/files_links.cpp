// Symbolic links and real paths: where a save writes, what file a path
// names, and the read-only refusal.

#include "common/file_paths.h"
#include "common/file_system.h"
#include "common/files.h"
#include "common/text_file.h"

#include <QDir>
#include <QFileDevice>
#include <QFileInfo>

namespace zuk {

namespace file_paths {

QString native(const QString &path) { return visibleText(QDir::toNativeSeparators(path), 200); }

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

}  // namespace file_paths

using file_paths::folderOf;
using file_paths::joined;
using file_paths::nameOf;
using file_paths::native;
using platform::fileNameCase;
using platform::followLinks;
using platform::realFolder;

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

}  // namespace zuk
