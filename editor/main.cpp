// kalvet: the configuration editor of the smart home controllers.
//   kalvet [--dir FOLDER]
// Every file of the installation lies in FOLDER. Without --dir: the folder
// that holds the program when opis_0.ini lies there, else the folder
// remembered from the last time, else the one the user picks (remembered).
#include "common/program_folder.h"
#include "common/start_up.h"
#include "editor/window/editor_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    // "-dir d" is taken as "--dir d", not as the letters d, i, r.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral("Программа настройки контроллеров умного дома"));
    parser.addHelpOption();
    const QCommandLineOption dirOption(
        QStringList{QStringLiteral("dir")},
        QStringLiteral("Папка установки с файлами zuk.txt, out_in_ik.txt, szenar.txt и *.ini "
                       "(по умолчанию папка программы, если в ней есть opis_0.ini, иначе папка "
                       "прошлого запуска; указанная папка запоминается). Папки нет: сообщение "
                       "«папка … не найдена» и код завершения 2."),
        QStringLiteral("FOLDER"));
    parser.addOption(dirOption);
    // The command line is read before the window system is touched, so that
    // --help and mistakes are answered without a display.
    if (!parser.parse(args)) {
        std::fprintf(stderr, "kalvet: %s\n", zuk::commandLineError(parser).toUtf8().constData());
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        QString help = parser.helpText();
        help.replace(QStringLiteral("<executable_name>"), QStringLiteral("kalvet"));
        std::fputs(help.toUtf8().constData(), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "kalvet: лишний аргумент: %s (kalvet --help: описание параметров)\n",
                     parser.positionalArguments().first().toUtf8().constData());
        return 2;
    }

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvet"));
    // File dialogs and standard buttons in the user's language.
    zuk::installQtTranslations();

    const zuk::ProgramFolder chosen = zuk::resolveProgramFolder(
        {QStringLiteral("kalvet"), parser.value(dirOption), QCoreApplication::applicationDirPath(),
         QStringLiteral("opis_0.ini"), true, QDir::currentPath()});
    QString folder = chosen.folder;
    if (chosen.source == zuk::ProgramFolder::Source::Ask) {
        folder = QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Папка установки умного дома"),
                                                   QDir::homePath());
        if (folder.isEmpty()) {
            std::fputs("kalvet: папка установки не выбрана\n", stderr);
            return 1;
        }
        zuk::rememberProgramFolder(QStringLiteral("kalvet"), folder);
    }

    if (!QFileInfo(folder).isDir()) {
        // One clear word instead of a message for every file the folder lacks.
        const QString text = QStringLiteral("папка %1 не найдена").arg(QDir::toNativeSeparators(folder));
        std::fprintf(stderr, "kalvet: %s\n", text.toUtf8().constData());
        QMessageBox::critical(nullptr, QStringLiteral("kalvet"), text, QMessageBox::Ok);
        return 2;
    }

    kalvet::EditorWindow window(folder);
    window.start();
    window.show();
    return app.exec();
}
