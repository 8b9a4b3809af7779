// kalvet: the configuration editor of the smart home controllers.
//   kalvet [--dir FOLDER]
//   kalvet --export FILE [--dir FOLDER]
//   kalvet --diff FILE_A FILE_B [--dir FOLDER]
// Every file of the installation lies in FOLDER. Without --dir: the folder
// that holds the program when opis_0.ini lies there, else the folder
// remembered from the last time, else the one the user picks (remembered;
// --export and --diff take the current folder instead of asking).
#include "common/about.h"
#include "common/console.h"
#include "common/program_folder.h"
#include "common/start_up.h"
#include "editor/core/installation_view.h"
#include "editor/core/editor_options.h"
#include "editor/window/editor_window.h"
#include "editor/window/export_file.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>

namespace {

void printLine(FILE *to, const QString &line)
{
    zuk::platform::print(to, line + QLatin1Char('\n'));
}

// The sample installation that comes with the programs: where the install
// rules put it beside the program, or, in the build tree, the source's.
QString sampleInstallation()
{
    const QString bin = QCoreApplication::applicationDirPath();
    QStringList candidates{QDir(bin).filePath(QStringLiteral(KALVET_SAMPLE_FROM_BIN))};
    if (QFileInfo(bin).canonicalFilePath() == QFileInfo(QStringLiteral(KALVET_BUILD_BIN_DIR)).canonicalFilePath())
        candidates << QStringLiteral(KALVET_SOURCE_SAMPLE);
    for (const QString &folder : candidates)
        if (QFileInfo::exists(QDir(folder).filePath(QStringLiteral("opis_0.ini"))))
            return QDir::cleanPath(folder);
    return {};
}

// The folder of --export and --diff; empty (and told) when it is not there.
// A --dir given here is not remembered: these runs leave the window's
// choice of folder as it is.
QString headlessFolder(const kalvet::KalvetOptions &options, const char *mode)
{
    const QString folder =
        !options.dir.isEmpty()
            ? QDir(options.dir).absolutePath()
            : zuk::resolveProgramFolder({QStringLiteral("kalvet"), QString(), QCoreApplication::applicationDirPath(),
                                         QStringLiteral("opis_0.ini"), false, QDir::currentPath()})
                  .folder;
    if (!QFileInfo(folder).isDir()) {
        printLine(stderr, QStringLiteral("kalvet: %1: папка %2 не найдена")
                              .arg(QLatin1String(mode), QDir::toNativeSeparators(folder)));
        return {};
    }
    return folder;
}

// What kept the installation from loading whole, on standard error.
bool tellProblems(const kalvet::DisplayCopy &copy, const char *mode)
{
    if (copy.problems().isEmpty())
        return false;
    printLine(stderr, QStringLiteral("kalvet: %1: папка установки %2 прочитана не полностью:")
                          .arg(QLatin1String(mode), QDir::toNativeSeparators(copy.form().folder())));
    for (const QString &problem : copy.problems())
        printLine(stderr, problem);
    return true;
}

int runExport(const kalvet::KalvetOptions &options)
{
    const QString folder = headlessFolder(options, "--export");
    if (folder.isEmpty())
        return 2;
    kalvet::DisplayCopy copy(folder);
    if (tellProblems(copy, "--export"))
        return 2;
    const kalvet::InstallationView view = copy.installation();
    if (tellProblems(copy, "--export"))   // a side file found short on the way
        return 2;
    QString error;
    if (!kalvet::writeInstallationFile(view, QDir(QDir::currentPath()).absoluteFilePath(options.exportFile), &error)) {
        printLine(stderr, QStringLiteral("kalvet: --export: %1").arg(error));
        return 2;
    }
    return 0;
}

int runDiff(const kalvet::KalvetOptions &options)
{
    const QString folder = headlessFolder(options, "--diff");
    if (folder.isEmpty())
        return 2;
    zuk::RegisterImage a{}, b{};
    for (const auto &[path, image] : {std::pair{options.diffA, &a}, std::pair{options.diffB, &b}}) {
        const zuk::ImageLoadResult loaded = zuk::loadImageFile(path, *image);
        if (!loaded.ok) {
            printLine(stderr, QStringLiteral("kalvet: --diff: файл %1 загружен не полностью: %2")
                                  .arg(QDir::toNativeSeparators(path), loaded.failure));
            return 2;
        }
    }
    kalvet::DisplayCopy copy(folder);
    if (tellProblems(copy, "--diff"))
        return 2;
    const QStringList lines = kalvet::differenceLines(copy, a, b);
    if (tellProblems(copy, "--diff"))
        return 2;
    for (const QString &line : lines)
        printLine(stdout, line);
    return lines.size() > 1 ? 1 : 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    const QStringList args = zuk::platform::arguments(argc, argv);

    // The command line is read before the window system is touched, so that
    // --help and mistakes are answered without a display.
    kalvet::KalvetOptions options;
    QString error;
    if (!kalvet::parseKalvetOptions(args, &options, &error)) {
        printLine(stderr, QStringLiteral("kalvet: %1").arg(error));
        return 2;
    }
    using Mode = kalvet::KalvetOptions::Mode;
    if (options.mode == Mode::Help) {
        zuk::platform::print(stdout, kalvet::kalvetUsage());
        return 0;
    }
    if (options.mode == Mode::Version) {
        printLine(stdout, zuk::versionLine(QStringLiteral("kalvet")));
        return 0;
    }
    if (options.mode == Mode::Export) {
        // A PDF is drawn without a display: the offscreen platform, set here
        // so that nobody has to set QT_QPA_PLATFORM.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        zuk::platform::useSystemFontsOffscreen();
        QGuiApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("kalvet"));
        return runExport(options);
    }
    if (options.mode == Mode::Diff) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("kalvet"));
        return runDiff(options);
    }

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvet"));
    // File dialogs and standard buttons in the user's language.
    zuk::installQtTranslations();

    const zuk::ProgramFolder chosen = zuk::resolveProgramFolder(
        {QStringLiteral("kalvet"), options.dir, QCoreApplication::applicationDirPath(), QStringLiteral("opis_0.ini"),
         true, QDir::currentPath()});
    QString folder = chosen.folder;
    if (chosen.source == zuk::ProgramFolder::Source::Ask) {
        folder = QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Папка установки умного дома"),
                                                   QDir::homePath());
        if (folder.isEmpty()) {
            printLine(stderr, QStringLiteral("kalvet: папка установки не выбрана"));
            return 1;
        }
        zuk::rememberProgramFolder(QStringLiteral("kalvet"), folder);
    }

    if (!QFileInfo(folder).isDir()) {
        // One clear word instead of a message for every file the folder lacks.
        const QString text = QStringLiteral("папка %1 не найдена").arg(QDir::toNativeSeparators(folder));
        printLine(stderr, QStringLiteral("kalvet: %1").arg(text));
        QMessageBox::critical(nullptr, QStringLiteral("kalvet"), text, QMessageBox::Ok);
        return 2;
    }

    kalvet::EditorWindow window(folder);
    window.setSampleInstallation(sampleInstallation());
    window.start();
    window.show();
    return app.exec();
}
