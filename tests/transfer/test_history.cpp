// The images kept in history/: their names, their order and the pruning.

#include "transfer/runs/history.h"
#include "transfer/runs/report.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zuk;

namespace {

QStringList names(const QString &installation)
{
    QStringList out;
    for (const history::Entry &e : history::entries(installation))
        out << e.name;
    return out;
}

}  // namespace

TEST(History, ImagesOfOneSecondGetNumbersAndNoneIsOverwritten)
{
    QTemporaryDir dir;
    const QDateTime when(QDate(2026, 12, 9), QTime(13, 50, 1));
    QString path, error;
    for (const char *bytes : {"a", "b", "c"})
        ASSERT_TRUE(history::keep(dir.path(), bytes, when, &path, &error)) << error.toStdString();
    ASSERT_TRUE(history::keep(dir.path(), "older", when.addSecs(-1), &path, &error));
    ASSERT_TRUE(history::keep(dir.path(), "newer", when.addSecs(1), &path, &error));
    EXPECT_EQ(QFileInfo(path).fileName(), "zuk-20261209-135002.txt");
    // Newest first: within one second the highest number; -10 after -9.
    for (int n = 4; n <= 10; ++n)
        ASSERT_TRUE(history::keep(dir.path(), "more", when, &path, &error));
    const QStringList all = names(dir.path());
    ASSERT_EQ(all.size(), 12);
    EXPECT_EQ(all.mid(0, 3), (QStringList{"zuk-20261209-135002.txt", "zuk-20261209-135001-10.txt",
                                          "zuk-20261209-135001-9.txt"}));
    EXPECT_EQ(all.mid(9), (QStringList{"zuk-20261209-135001-2.txt", "zuk-20261209-135001.txt",
                                       "zuk-20261209-135000.txt"}));
    QFile b(QDir(history::folderOf(dir.path())).filePath("zuk-20261209-135001-2.txt"));
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    EXPECT_EQ(b.readAll(), "b");
    // Names this program never makes are no images of the history.
    history::Entry e;
    for (const char *other : {"zuk-20261209-135001-1.txt", "zuk-20261209-135001-02.txt", "zuk-20261309-135001.txt",
                              "zuk.txt", "zuk-20261209-135001.txt.tmp-AbC123"})
        EXPECT_FALSE(history::parseName(other, &e)) << other;
}

TEST(History, PruningRemovesOnlyItsOwnOlderImagesAndCleansTemporaries)
{
    QTemporaryDir dir;
    const QByteArray image = imageFileBytes(RegisterImage{});
    const QDateTime when(QDate(2026, 12, 9), QTime(23, 59, 59));
    QString path, error;
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(history::keep(dir.path(), image, when.addSecs(i), &path, &error));   // across midnight
    // What the history did not write, or the user protects, is never removed:
    // another file, a file named like an image that is none, a read-only image.
    const QDir folder(history::folderOf(dir.path()));
    auto put = [&](const char *name, const QByteArray &bytes) {
        QFile f(folder.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    put("notes.txt", image);
    put("zuk-20261201-000000.txt", QByteArray(5 << 20, 'x'));
    put("zuk-20261202-000000.txt", image);
    QFile::setPermissions(folder.filePath("zuk-20261202-000000.txt"), QFile::ReadOwner | QFile::ReadGroup);
    EXPECT_EQ(history::prune(dir.path(), 2, &error), 2);
    EXPECT_EQ(names(dir.path()), (QStringList{"zuk-20261210-000002.txt", "zuk-20261210-000001.txt",
                                              "zuk-20261202-000000.txt", "zuk-20261201-000000.txt"}));
    EXPECT_EQ(history::prune(dir.path(), 0, &error), 1);   // the newest always stays
    EXPECT_TRUE(folder.exists("notes.txt"));
    // An image kept under a clock set back sorts oldest and stays; so does
    // the newest by name, even with --keep 1.
    ASSERT_TRUE(history::keep(dir.path(), image, when.addDays(-1), &path, &error));
    QStringList removed;
    EXPECT_EQ(history::prune(dir.path(), 1, &error, {path}, &removed), 0);
    EXPECT_EQ(names(dir.path()), (QStringList{"zuk-20261210-000002.txt", "zuk-20261208-235959.txt",
                                              "zuk-20261202-000000.txt", "zuk-20261201-000000.txt"}));
    // A keep killed midway left its temporary: gone at the next start, and
    // nothing else is.
    put("zuk-20261210-000003.txt.tmp-AbC123", image);
    put("notes.txt.tmp-AbC123", image);
    EXPECT_EQ(history::removeLeftoverTemporaries(dir.path(), QDateTime::currentDateTime().addSecs(5)), 1);
    EXPECT_FALSE(folder.exists("zuk-20261210-000003.txt.tmp-AbC123"));
    EXPECT_TRUE(folder.exists("notes.txt.tmp-AbC123"));
}

// --report and --trace never write into history/, however the path is spelt;
// beside it they may.
TEST(History, ItsFolderIsRefusedToTheOptionsThatWriteAFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("history") && QDir(dir.path()).mkpath("sub"));
    for (const char *name : {"history/report.json", "sub/../history/trace.txt"}) {
        const QString why = reportFileRefusal(dir.filePath(name), dir.path());
        EXPECT_TRUE(why.startsWith("это файл папки history (прежние образы zuk.txt)")) << why.toStdString();
    }
    EXPECT_EQ(reportFileRefusal(dir.filePath("report.json"), dir.path()), "");
}
