#include "common/program_folder.h"
#include "common/program_folder.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zuk;
using Source = ProgramFolder::Source;

namespace {

// A private settings location, an installed program's folder (no files of its
// own, like /usr/bin), a program folder holding its marker file and a house
// folder to be remembered.
class ProgramFolderTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsDir.isValid());
        ASSERT_TRUE(root.isValid());
        platform::useSettingsFilesForTests();
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        for (const char *name : {"bin", "own", "house", "cwd"})
            ASSERT_TRUE(QDir(root.path()).mkpath(QLatin1String(name)));
        QFile marker(path("own/zuk.txt"));
        ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    }

    QString path(const char *name) const { return QDir(root.path()).filePath(QLatin1String(name)); }

    ProgramFolder resolve(const char *programDir, bool window, const QString &given = {}) const
    {
        return resolveProgramFolder({QStringLiteral("zuk_2"), given, path(programDir), QStringLiteral("zuk.txt"),
                                     window, path("cwd")});
    }

    QTemporaryDir settingsDir, root;
};

}  // namespace

TEST_F(ProgramFolderTest, ProgramFolderWithItsFilesKeepsTheOldRule)
{
    rememberProgramFolder(QStringLiteral("zuk_2"), path("house"));
    for (bool window : {true, false}) {
        const ProgramFolder f = resolve("own", window);
        EXPECT_EQ(f.source, Source::Program);
        EXPECT_EQ(f.folder, path("own"));
    }
    // Starting from the program folder does not replace what is remembered.
    EXPECT_EQ(rememberedProgramFolder(QStringLiteral("zuk_2")), path("house"));
}

TEST_F(ProgramFolderTest, InstalledProgramFirstAsksOrTakesTheCurrentFolderAndRemembersNothing)
{
    ProgramFolder f = resolve("bin", true);
    EXPECT_EQ(f.source, Source::Ask);
    EXPECT_TRUE(f.folder.isEmpty());
    f = resolve("bin", false);
    EXPECT_EQ(f.source, Source::Current);
    EXPECT_EQ(f.folder, path("cwd"));
    EXPECT_TRUE(rememberedProgramFolder(QStringLiteral("zuk_2")).isEmpty());
}

TEST_F(ProgramFolderTest, InstalledProgramUsesTheRememberedFolderWhileItExists)
{
    rememberProgramFolder(QStringLiteral("zuk_2"), path("house"));
    for (bool window : {true, false}) {
        const ProgramFolder f = resolve("bin", window);
        EXPECT_EQ(f.source, Source::Remembered);
        EXPECT_EQ(f.folder, path("house"));
    }
    // Each program remembers its own folder.
    EXPECT_TRUE(rememberedProgramFolder(QStringLiteral("kalvet")).isEmpty());

    ASSERT_TRUE(QDir(path("house")).removeRecursively());
    EXPECT_EQ(resolve("bin", true).source, Source::Ask);
    EXPECT_EQ(resolve("bin", false).source, Source::Current);
}

TEST_F(ProgramFolderTest, GivenFolderWinsAndIsRememberedAbsolute)
{
    // Given relative to the current folder of the process (on the same
    // drive: the temporary folder may lie on another one than the current).
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(path("cwd")));
    const QString relative = QDir::current().relativeFilePath(path("house"));
    ASSERT_TRUE(QDir::isRelativePath(relative));
    const ProgramFolder f = resolve("own", true, relative);
    QDir::setCurrent(before);
    EXPECT_EQ(f.source, Source::Given);
    EXPECT_EQ(f.folder, path("house"));

    const ProgramFolder next = resolve("bin", false);
    EXPECT_EQ(next.source, Source::Remembered);
    EXPECT_EQ(next.folder, path("house"));
    // The setting survives in the file, where the next process finds it.
    QSettings file(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zuk"), QStringLiteral("zuk_2"));
    EXPECT_EQ(file.value(QStringLiteral("folder")).toString(), path("house"));
    EXPECT_TRUE(file.fileName().startsWith(settingsDir.path())) << file.fileName().toStdString();
}
