#include "common/start_up.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <gtest/gtest.h>

using namespace zuk;

TEST(StartUp, QtTextsInRussianWhateverTheLocaleAndCommandLineMistakesInRussian)
{
    static int argc = 1;
    static char name[] = "test_common";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
    // Russian under the C locale too, the file dialog's type column included,
    // where this Qt has its own catalogues (Debian's qt6-translations-l10n).
    if (QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ru.qm"))) {
        const QLocale before;
        QLocale::setDefault(QLocale::c());
        EXPECT_EQ(installQtTranslations({QStringLiteral("qtbase"), QStringLiteral("no-such-catalog")}), 1);
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
        EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Перейти к:"));
        EXPECT_EQ(QCoreApplication::translate("QAbstractFileIconProvider", "Folder", "All other platforms"),
                  QStringLiteral("Папка"));
        for (QTranslator *t : QCoreApplication::instance()->findChildren<QTranslator *>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
        QLocale::setDefault(before);
    }

    QCommandLineParser parser;
    parser.addOption(QCommandLineOption(QStringLiteral("dir"), QString(), QStringLiteral("FOLDER")));
    parser.addOption(QCommandLineOption(QStringLiteral("help")));
    const std::pair<QStringList, QString> cases[] = {
        {{"--dir"}, "нет значения у --dir"},
        {{"--help=x"}, "лишнее значение у --help"},
        {{"--nope"}, "неизвестный аргумент: --nope"},
        {{"-q"}, "неизвестный аргумент: -q"},
    };
    for (const auto &[args, text] : cases) {
        EXPECT_FALSE(parser.parse(QStringList{"kalvet"} + args));
        EXPECT_EQ(commandLineError(parser), text) << args.join(' ').toStdString();
    }
}

// The Windows packages ship Qt's catalogues of both programs in
// translations\ beside them (qt.conf points Qt there); scripts/package-windows
// --check runs this test from the installed folder with
// ZUK_QT_CATALOGUES_BESIDE set. Elsewhere the test above covers the loading.
TEST(StartUp, QtCataloguesOfBothProgramsLoadFromTheInstalledFolder)
{
    if (!qEnvironmentVariableIsSet("ZUK_QT_CATALOGUES_BESIDE"))
        GTEST_SKIP() << "only in the installed Windows folder (package-windows --check)";
    static int argc = 1;
    static char name[] = "test_common";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
    EXPECT_EQ(QLibraryInfo::path(QLibraryInfo::TranslationsPath),
              QCoreApplication::applicationDirPath() + QStringLiteral("/translations"));
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(installQtTranslations({QStringLiteral("qtbase"), QStringLiteral("qtserialport")}), 2);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Перейти к:"));
    EXPECT_EQ(QCoreApplication::translate("QSerialPort", "Permission error while locking the device"),
              QStringLiteral("Ошибка доступа в процессе блокировки устройства"));
}
