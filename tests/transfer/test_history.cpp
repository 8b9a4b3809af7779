// The images kept in history/: their names, their order and the pruning.

#include "transfer/history.h"

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

TEST(History, PruningKeepsTheNewestAndLeavesOtherFiles)
{
    QTemporaryDir dir;
    const QDateTime when(QDate(2026, 12, 9), QTime(23, 59, 59));
    QString path, error;
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(history::keep(dir.path(), "x", when.addSecs(i), &path, &error));   // across midnight
    QFile note(QDir(history::folderOf(dir.path())).filePath("notes.txt"));
    ASSERT_TRUE(note.open(QIODevice::WriteOnly));
    note.close();
    EXPECT_EQ(history::prune(dir.path(), 2, &error), 2);
    EXPECT_EQ(names(dir.path()), (QStringList{"zuk-20261210-000002.txt", "zuk-20261210-000001.txt"}));
    EXPECT_EQ(history::prune(dir.path(), 0, &error), 1);   // the newest always stays
    EXPECT_EQ(names(dir.path()), QStringList{"zuk-20261210-000002.txt"});
    EXPECT_TRUE(note.exists());
    // An image kept under a clock set back sorts oldest, and still stays.
    ASSERT_TRUE(history::keep(dir.path(), "y", when.addDays(-1), &path, &error));
    QStringList removed;
    EXPECT_EQ(history::prune(dir.path(), 1, &error, path, &removed), 1);
    EXPECT_EQ(removed, QStringList{"zuk-20261210-000002.txt"});
    EXPECT_EQ(names(dir.path()), QStringList{"zuk-20261208-235959.txt"});
}
