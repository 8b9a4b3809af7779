#include "transfer/runs/history.h"

#include "common/files.h"
#include "transfer/runs/report.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace zuk::history {

QString folderOf(const QString &installation)
{
    return QDir(installation).filePath(QStringLiteral("history"));
}

OwnFolder ownFolder()
{
    return {QStringLiteral("history"), QStringLiteral("файл папки history (прежние образы zuk.txt)")};
}

bool parseName(const QString &name, Entry *entry)
{
    static const QRegularExpression pattern(QStringLiteral("^zuk-([0-9]{8}-[0-9]{6})(?:-([0-9]{1,3}))?\\.txt$"));
    const QRegularExpressionMatch m = pattern.match(name);
    if (!m.hasMatch())
        return false;
    const QDateTime time = QDateTime::fromString(m.captured(1), QStringLiteral("yyyyMMdd-HHmmss"));
    const QString n = m.captured(2);
    // "-1" is never given, and "-02" is no name this program makes.
    if (!time.isValid() || (!n.isEmpty() && (n.startsWith(QLatin1Char('0')) || n.toInt() < 2)))
        return false;
    const int number = n.isEmpty() ? 1 : n.toInt();
    entry->name = name;
    entry->time = time;
    entry->number = number;
    return true;
}

std::vector<Entry> entries(const QString &installation)
{
    const QDir dir(folderOf(installation));
    std::vector<Entry> out;
    for (const QString &name : dir.entryList({QStringLiteral("zuk-*.txt")}, QDir::Files)) {
        Entry e;
        if (parseName(name, &e)) {
            e.path = dir.filePath(name);
            out.push_back(e);
        }
    }
    std::sort(out.begin(), out.end(), [](const Entry &a, const Entry &b) {
        return a.time != b.time ? a.time > b.time : a.number > b.number;
    });
    return out;
}

bool keep(const QString &installation, const QByteArray &imageBytes, const QDateTime &when, QString *savedPath,
          QString *error)
{
    const QString folder = folderOf(installation);
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("не удалось создать папку %1").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    const QString stem =
        QDir(folder).filePath(QStringLiteral("zuk-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    return saveUnderFreeName(stem, QStringLiteral(".txt"), imageBytes, savedPath, error);
}

namespace {

// An image the history wrote and may remove: a regular file, writable,
// loading whole.
bool removable(const Entry &e)
{
    const QFileInfo info(e.path);
    if (info.isSymLink() || !info.isFile() || !readOnlyFileText(e.path).isEmpty())
        return false;
    RegisterImage image{};
    return loadImageFile(e.path, image).ok;
}

}  // namespace

int prune(const QString &installation, int count, QString *error, const QStringList &spares, QStringList *removedNames)
{
    std::vector<Entry> all = entries(installation);
    std::erase_if(all, [](const Entry &e) { return !removable(e); });
    QStringList spareNames;
    for (const QString &spare : spares)
        if (!spare.isEmpty())
            spareNames << QFileInfo(spare).fileName();
    auto spared = [&](const Entry &e) { return spareNames.contains(e.name); };
    QString newestKept;   // by time of keeping
    QDateTime newestTime;
    for (const Entry &e : all)
        if (const QDateTime t = QFileInfo(e.path).lastModified(); newestKept.isEmpty() || t > newestTime)
            newestKept = e.name, newestTime = t;
    int left = std::max(count, 1) - int(std::count_if(all.begin(), all.end(), spared));
    QStringList failed;
    int removed = 0;
    for (const Entry &e : all) {
        if (spared(e))
            continue;
        if (left > 0) {
            --left;
            continue;
        }
        if (e.name == all.front().name || e.name == newestKept)
            continue;
        if (QFile::remove(e.path)) {
            ++removed;
            if (removedNames)
                *removedNames << e.name;
        } else {
            failed << e.name;
        }
    }
    if (!failed.isEmpty() && error)
        *error = QStringLiteral("не удалось удалить из %1: %2")
                     .arg(QDir::toNativeSeparators(folderOf(installation)), failed.join(QStringLiteral(", ")));
    return removed;
}

int removeLeftoverTemporaries(const QString &installation, const QDateTime &startedAt)
{
    static const QRegularExpression pattern(
        QStringLiteral("^zuk-[0-9]{8}-[0-9]{6}(?:-[0-9]{1,3})?\\.txt\\.tmp-[A-Za-z0-9]{6}$"));
    int removed = 0;
    const QDir dir(folderOf(installation));
    for (const QFileInfo &info : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (info.isSymLink() || !pattern.match(info.fileName()).hasMatch() || info.lastModified() >= startedAt)
            continue;
        removed += QFile::remove(info.filePath());
    }
    return removed;
}

QString presentText(const RegisterImage &image)
{
    QStringList present;
    for (const ControllerSlot &s : controllerMap())
        if (image[s.slot][0][0] != 0)
            present << tickAddressText(s.address);
    return present.isEmpty() ? QStringLiteral("none") : present.join(QLatin1Char(','));
}

int differingBytes(const RegisterImage &a, const RegisterImage &b)
{
    return int(imageDifferences(a, b).size());
}

std::vector<Listing> listing(const QString &installation)
{
    RegisterImage current{};
    const bool currentLoaded = loadImageFile(QDir(installation).filePath(QStringLiteral("zuk.txt")), current).ok;
    std::vector<Listing> out;
    for (const Entry &e : entries(installation)) {
        Listing l;
        l.entry = e;
        RegisterImage kept{};
        l.loaded = loadImageFile(e.path, kept).ok;
        if (l.loaded) {
            l.present = presentText(kept);
            if (currentLoaded)
                l.differences = differingBytes(kept, current);
        }
        out.push_back(l);
    }
    return out;
}

QString listingLine(const Listing &l)
{
    return QStringLiteral("%1\t%2\t%3")
        .arg(l.entry.name, l.loaded ? l.present : QStringLiteral("?"),
             l.differences < 0 ? QStringLiteral("?") : QString::number(l.differences));
}

}  // namespace zuk::history
