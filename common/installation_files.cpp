// Which files belong to an installation: its own names, their copies and
// temporaries, and the folders a program keeps wholly to itself.

#include "common/file_paths.h"
#include "common/file_system.h"
#include "common/files.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace zuk {

using file_paths::folderOf;
using file_paths::joined;
using file_paths::nameOf;
using platform::fileNameCase;
using platform::realFolder;

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

QString installationFileAt(const QString &folder, const QString &path, const std::vector<OwnFolder> &ownFolders)
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
    // A folder a program keeps to itself: all of it is the installation's.
    for (const OwnFolder &own : ownFolders) {
        QString kept = realFolder(joined(home, own.name));
        if (kept.isEmpty())
            kept = joined(home, own.name);
        if (folderOf(given).compare(kept, cs) == 0)
            return own.what;
    }
    return QString();
}

}  // namespace zuk
